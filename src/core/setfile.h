// Set files and the recent-files list.
//
// A set file holds exactly the bytes of the set text: Windows-1251 with CR LF
// line ends, no header, no byte-order mark, no terminator; an empty set is a
// file of 0 bytes. Nothing is converted either way.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/settings.h"

namespace lentar {

// The largest set file read: far above anything a board holds (a set text
// with its tags compiles to at most 64 KiB), so only a wrong file, an endless
// device or a damaged disk reaches it.
inline constexpr size_t kMaxSetFileSize = size_t{4} << 20;

// Reads every byte of the file into text. On failure (also a file larger
// than kMaxSetFileSize) returns false and leaves text unchanged.
bool LoadSetFile(const std::string& path, std::string& text);
// Replaces the file with text (atomically: temporary file and rename). An
// empty text gives a 0-byte file. On failure the old file stays whole.
bool SaveSetFile(const std::string& path, std::string_view text);

// The texts the windows show for a failed open or save (Windows-1251):
// "Не могу открыть файл " + path and "Не могу сохранить файл " + path.
std::string OpenFailedMessage(std::string_view path);
std::string SaveFailedMessage(std::string_view path);

// Puts name (blanks trimmed, letter case kept) at the top of the recent list.
// An entry equal to it ignoring case and blanks moves up from its place;
// otherwise the last entry drops out. An empty name does nothing.
void AddRecent(std::array<std::string, 10>& history, std::string_view name);
// Same on settings.ProjHistory.
void AddRecent(TSettings& settings, std::string_view name);

}  // namespace lentar
