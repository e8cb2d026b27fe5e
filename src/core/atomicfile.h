// Whole-file reading and crash-safe file replacement.
//
// Files the operator cares about (lentar.ini, set files, exports) are never
// rewritten in place: the new content goes to a temporary file beside the old
// one, is flushed to the disk and then renamed over it, so a crash, a full disk
// or a failed write leaves either the old file or the new one, never a
// truncated mixture.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace lentar {

enum class ReadOutcome { Ok, Failed, TooLarge };
// Reads the file at path into out when it holds at most cap bytes; reading
// stops one byte past the cap (TooLarge), so an endless device or pipe is
// refused without filling the memory. A FIFO, socket or folder at path is
// never opened (Failed): reading never waits. out is unchanged unless Ok.
ReadOutcome ReadFileCapped(const std::string& path, size_t cap, std::string& out);

// Reads every byte of the file at path into out. On failure (missing file,
// folder, read error) returns false and leaves out unchanged.
bool ReadWholeFile(const std::string& path, std::string& out);

// Replaces the file at path with bytes: writes a temporary file in the same
// folder, flushes it to the disk and renames it over the old file. The new
// file keeps the old one's permission bits, and its owner and group where the
// caller may set them. A file the caller may not write is refused (errno
// EACCES), as a plain write would be, even when the folder allows the rename.
// Where the file system allows, the temporary file is unnamed until it is
// complete (O_TMPFILE), so a killed write leaves nothing; otherwise it is
// named ".NAME.tmpPID-..." and the next write to the same file removes such
// files whose writer is gone. On any failure the temporary file is removed,
// the old file stays whole, errno tells why and the result is false. A
// symbolic link at path is followed: the file it points to is replaced and the
// link stays.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

// The same replacement for content made piece by piece (an animation written
// frame after frame): Open() starts the temporary file, Write() appends to it,
// Commit() flushes it to the disk and renames it over the file at path. Until
// Commit() succeeds the old file stays as it was; a writer destroyed or failed
// before that removes its temporary file.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // False (errno telling why) when path names a folder or device, a file the
  // caller may not write, or no temporary file can be made beside it. The
  // temporary file is unnamed where the file system allows, and takes the
  // owner, group and mode of the file it will replace, as WriteFileAtomically.
  bool Open(const std::string& path);
  // False when not open or the bytes could not be written; a failed writer
  // refuses every later Write() and Commit().
  bool Write(std::string_view bytes);
  bool Commit();

 private:
  void Discard();

  std::string target_;  // the file system's name of the file replaced
  std::string temp_;     // its name; empty while the temporary file is unnamed
  bool failed_ = false;
#ifdef _WIN32
  std::FILE* file_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace lentar
