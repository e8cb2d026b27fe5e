// Scratch folders and a simulated full disk for the file tests of the core.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/atomicfile.h"

namespace lentar::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the test. Path() ends with a separator.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lentar-test-XXXXXX").string();
    if (char* made = ::mkdtemp(pattern.data())) path_ = std::string(made) + "/";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

inline std::string FileBytes(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

// While alive, no file of this process may grow beyond `bytes`: writes past it
// fail with EFBIG, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = SIG_DFL;
};

// Number of entries in a folder (to prove that no temporary file was left).
inline int FileCount(const std::string& folder) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++n;
  }
  return n;
}

}  // namespace lentar::testing
