// Whole-file reading and crash-safe file replacement.
//
// Files the operator cares about (lentar.ini, set files, exports) are never
// rewritten in place: the new content goes to a temporary file beside the old
// one, is flushed to the disk and then renamed over it, so a crash, a full disk
// or a failed write leaves either the old file or the new one, never a
// truncated mixture.
#pragma once

#include <string>
#include <string_view>

namespace lentar {

// Reads every byte of the file at path into out. On failure (missing file,
// folder, read error) returns false and leaves out unchanged.
bool ReadWholeFile(const std::string& path, std::string& out);

// Replaces the file at path with bytes: writes a temporary file in the same
// folder, flushes it to the disk and renames it over the old file (which keeps
// its permission bits). On any failure the temporary file is removed, the old
// file stays whole and the result is false. A symbolic link at path is followed:
// the file it points to is replaced and the link stays.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace lentar
