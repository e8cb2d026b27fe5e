#include "core/filelock.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "core/paths.h"

namespace lentar {

#ifndef _WIN32

FileLock::FileLock(const std::string& path) {
  const std::string lockPath = NativePath(path).string() + ".lock";
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return;
  int rc = 0;
  while ((rc = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
  }
  held_ = rc == 0;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

#else

// Windows: the settings file lives in the user's own folder and one editor
// runs at a time; no lock is taken.
FileLock::FileLock(const std::string&) { held_ = true; }
FileLock::~FileLock() = default;

#endif

}  // namespace lentar
