// An advisory lock that serialises the programs that read, change and write
// the same file (the editor and any number of command-line runs handing out
// GPRS versions from one lentar.ini).
//
// The lock is taken on a companion file, path + ".lock", not on the file
// itself: the file is replaced by renaming a new one over it, and a lock held
// on the old file would not keep out a program that opens the new one.
#pragma once

#include <string>

namespace lentar {

class FileLock {
 public:
  // Waits until the lock for path is free and takes it. Held() tells whether
  // that worked (the folder may not allow the lock file).
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace lentar
