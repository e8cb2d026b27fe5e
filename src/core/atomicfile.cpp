#include "core/atomicfile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/paths.h"

namespace lentar {

namespace fs = std::filesystem;

namespace {

// Where the bytes really go: a symbolic link is followed so that replacing
// the file keeps the link.
std::string ResolveTarget(const std::string& path) {
  std::error_code ec;
  if (!fs::is_symlink(fs::path(path), ec)) return path;
  fs::path real = fs::canonical(fs::path(path), ec);
  if (ec) real = fs::weakly_canonical(fs::path(path), ec);
  if (ec || real.empty()) return path;
  return real.string();
}

std::string TemporaryName(const std::string& target, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
#ifdef _WIN32
  const long pid = static_cast<long>(_getpid());
#else
  const long pid = static_cast<long>(getpid());
#endif
  return FilePathOf(target) + "." + FileNameOf(target) + ".tmp" + std::to_string(pid) + "-" +
         std::to_string(counter.fetch_add(1)) + "-" + std::to_string(attempt);
}

#ifndef _WIN32

bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

void SyncFolderOf(const std::string& target) {
  std::string folder = FilePathOf(target);
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the rename itself has already happened
  ::close(fd);
}

#endif

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& out) {
  if (path.empty()) return false;
  std::FILE* f = std::fopen(NativePath(path).string().c_str(), "rb");
  if (!f) return false;
  std::string data;
  char buffer[65536];
  for (;;) {
    const size_t n = std::fread(buffer, 1, sizeof buffer, f);
    if (n == 0) break;
    data.append(buffer, n);
  }
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  if (!ok) return false;
  out.swap(data);
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  AtomicFileWriter writer;
  return writer.Open(path) && writer.Write(bytes) && writer.Commit();
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

#ifndef _WIN32

bool AtomicFileWriter::Open(const std::string& path) {
  Discard();
  failed_ = false;
  if (path.empty()) return false;
  // From here on the path is the file system's own name.
  target_ = ResolveTarget(NativePath(path).string());

  struct stat old {};
  const bool hadOld = ::stat(target_.c_str(), &old) == 0;
  if (hadOld && !S_ISREG(old.st_mode)) return false;  // never replace a folder or device

  for (unsigned attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_ = TemporaryName(target_, attempt);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temp_.clear();
    return false;
  }
  if (hadOld && ::fchmod(fd_, old.st_mode & 07777) != 0 && errno != EPERM) {
    Discard();
    return false;
  }
  return true;
}

bool AtomicFileWriter::Write(std::string_view bytes) {
  if (fd_ < 0 || failed_) return false;
  failed_ = !WriteAll(fd_, bytes);
  return !failed_;
}

bool AtomicFileWriter::Commit() {
  if (fd_ < 0 || failed_) {
    Discard();
    return false;
  }
  bool ok = ::fsync(fd_) == 0;
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  ok = ok && ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    Discard();
    return false;
  }
  temp_.clear();
  SyncFolderOf(target_);
  return true;
}

void AtomicFileWriter::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

#else

bool AtomicFileWriter::Open(const std::string& path) {
  Discard();
  failed_ = false;
  if (path.empty()) return false;
  target_ = ResolveTarget(path);
  std::error_code ec;
  if (fs::exists(fs::path(target_), ec) && !fs::is_regular_file(fs::path(target_), ec)) return false;
  for (unsigned attempt = 0; attempt < 100 && !file_; ++attempt) {
    temp_ = TemporaryName(target_, attempt);
    file_ = std::fopen(temp_.c_str(), "wbx");
  }
  if (!file_) temp_.clear();
  return file_ != nullptr;
}

bool AtomicFileWriter::Write(std::string_view bytes) {
  if (!file_ || failed_) return false;
  failed_ = !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size();
  return !failed_;
}

bool AtomicFileWriter::Commit() {
  if (!file_ || failed_) {
    Discard();
    return false;
  }
  bool ok = std::fflush(file_) == 0 && _commit(_fileno(file_)) == 0;
  ok = (std::fclose(file_) == 0) && ok;
  file_ = nullptr;
  ok = ok && MoveFileExA(temp_.c_str(), target_.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

void AtomicFileWriter::Discard() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
}

#endif

}  // namespace lentar
