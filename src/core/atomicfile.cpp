#include "core/atomicfile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
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

// Temporary files of a write that was killed before its rename: the ones
// named for this target whose writer (the process id in the name) is gone.
void RemoveStaleTemporaries(const std::string& target) {
  const std::string prefix = "." + FileNameOf(target) + ".tmp";
  std::string folder = FilePathOf(target);
  std::error_code ec;
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = name.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos) continue;
    if (rest.find_first_not_of("0123456789") != dash) continue;
    const long pid = std::strtol(rest.substr(0, dash).c_str(), nullptr, 10);
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
      ::unlink(it->path().c_str());
  }
}

// Gives the new file the owner, group and permission bits of the one it
// replaces, as far as the caller may: a file that changed hands or became
// readable by others behind the operator's back would be a surprise.
bool KeepOwnerAndMode(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);  // the group alone, where allowed
  }
  return ::fchmod(fd, old.st_mode & 07777) == 0 || errno == EPERM;
}

#endif

}  // namespace

namespace {

// Opens path for reading without ever waiting: a FIFO or socket put where a
// file belongs (lentar.ini, a layout file) would block open() and read() for
// ever, so those are refused; the descriptor is non-blocking, so a terminal
// or another device with nothing to give fails at once instead of hanging.
std::FILE* OpenForReading(const std::string& path) {
#ifdef _WIN32
  return std::fopen(NativePath(path).string().c_str(), "rb");
#else
  const int fd = ::open(NativePath(path).string().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) ||
      S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
  return f;
#endif
}

}  // namespace

ReadOutcome ReadFileCapped(const std::string& path, size_t cap, std::string& out) {
  if (path.empty()) return ReadOutcome::Failed;
  std::FILE* f = OpenForReading(path);
  if (!f) return ReadOutcome::Failed;
  std::string data;
  char buffer[65536];
  bool tooLarge = false;
  for (;;) {
    // Never more than one byte past the cap: an endless source (a device, a
    // pipe) must not fill the memory.
    const size_t want = std::min(sizeof buffer, cap + 1 - data.size());
    const size_t n = std::fread(buffer, 1, want, f);
    if (n == 0) break;
    data.append(buffer, n);
    if (data.size() > cap) {
      tooLarge = true;
      break;
    }
  }
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  if (tooLarge) return ReadOutcome::TooLarge;
  if (!ok) return ReadOutcome::Failed;
  out.swap(data);
  return ReadOutcome::Ok;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  if (path.empty()) return false;
  std::FILE* f = OpenForReading(path);
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
  if (hadOld && !S_ISREG(old.st_mode)) {  // never replace a folder or device
    errno = EISDIR;
    return false;
  }
  // A replace must refuse where writing into the file would: a
  // write-protected file stays as it is, even in a folder that allows the
  // rename.
  if (hadOld && ::access(target_.c_str(), W_OK) != 0) return false;

  RemoveStaleTemporaries(target_);
  std::string folder = FilePathOf(target_);
  if (folder.empty()) folder = ".";

  // Where the file system allows it, the new content goes into an unnamed
  // file that only gets a name once it is complete, so a write killed
  // half-way leaves nothing behind.
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  for (unsigned attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_ = TemporaryName(target_, attempt);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temp_.clear();
    return false;
  }
  if (hadOld && !KeepOwnerAndMode(fd_, old)) {
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
  if (ok && temp_.empty()) {
    // Give the unnamed file a temporary name (an unnamed file cannot be
    // renamed over another), then rename that over the target.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    ok = false;
    for (unsigned attempt = 0; attempt < 100 && !ok; ++attempt) {
      temp_ = TemporaryName(target_, attempt);
      ok = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0;
      if (!ok) {
        const bool taken = errno == EEXIST;
        temp_.clear();
        if (!taken) break;
      }
    }
  }
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
  const int error = errno;  // the caller reads why the write failed
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  errno = error;
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
