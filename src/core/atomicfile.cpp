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

#ifndef _WIN32

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  // From here on the path is the file system's own name.
  const std::string target = ResolveTarget(NativePath(path).string());

  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && !S_ISREG(old.st_mode)) return false;  // never replace a folder or device

  std::string temp;
  int fd = -1;
  for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = TemporaryName(target, attempt);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = true;
  if (hadOld) ok = ::fchmod(fd, old.st_mode & 07777) == 0 || errno == EPERM;
  ok = ok && WriteAll(fd, bytes);
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncFolderOf(target);
  return true;
}

#else

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const std::string target = ResolveTarget(path);
  std::error_code ec;
  if (fs::exists(fs::path(target), ec) && !fs::is_regular_file(fs::path(target), ec)) return false;

  std::string temp;
  std::FILE* f = nullptr;
  for (unsigned attempt = 0; attempt < 100 && !f; ++attempt) {
    temp = TemporaryName(target, attempt);
    f = std::fopen(temp.c_str(), "wbx");
  }
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = ok && std::fflush(f) == 0 && _commit(_fileno(f)) == 0;
  ok = (std::fclose(f) == 0) && ok;
  ok = ok && MoveFileExA(temp.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

#endif

}  // namespace lentar
