// Program folder and the path helpers.
//
// Paths are Windows-1251 texts like every other text of the program (they are
// stored so in lentar.ini and shown in messages). The file system is reached
// only through NativePath, which converts them to the platform's own file
// names (UTF-8 on Linux). Every rule below that speaks of the separator means
// the platform's own: "\" on Windows, "/" elsewhere.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/folders.h"  // which folders hold the settings, layouts and fonts
#include "core/textutil.h"

namespace lentar {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Marker that stands for the program folder in paths stored in lentar.ini.
inline constexpr std::string_view kProgramPathMarker = "%PROGPATH%";

// ---- The file system edge ----------------------------------------------------

// A Windows-1251 path as the file system names it. On Linux the bytes are
// converted to UTF-8; a name the code page cannot spell cannot be reached.
std::filesystem::path NativePath(std::string_view path);
// A file system name back as a Windows-1251 path ('?' for characters the code
// page lacks).
std::string FromNativePath(const std::filesystem::path& path);
// A command-line argument (the terminal's UTF-8 on Linux) as a Windows-1251 text.
std::string FromNativeArgument(const char* argument);

// ---- Program and data folders ---------------------------------------------

// Works out the folder of the running executable (on Linux from
// /proc/self/exe, else from argv0) and remembers it with a trailing separator.
// Every program calls this once, first thing in main().
void InitProgramFolder(const char* argv0);
// The remembered program folder, with a trailing separator (empty before
// InitProgramFolder or SetProgramFolder).
const std::string& ProgramFolder();
// Replaces the remembered program folder (tests); a separator is appended
// when missing.
void SetProgramFolder(std::string folder);

// ---- Path texts -----------------------------------------------------------

// Everything up to and including the last separator; empty when there is none.
std::string FilePathOf(std::string_view path);
// Everything after the last separator; the whole text when there is none.
std::string FileNameOf(std::string_view path);
// Replaces the extension (from a "." after the last separator on) by ext, or
// appends ext when there is none. ext includes its dot: ".bin".
std::string ChangeExtension(std::string_view path, std::string_view ext);
// Appends a separator to a non-empty path that does not end in one.
std::string IncludeSlash(std::string_view path);
// Removes a final separator from a path of two or more characters.
std::string ExcludeSlash(std::string_view path);

// Purely textual check of a file path typed or passed on the command line:
// admissible bytes only (0x20..0x7F, 0xC0..0xFF, none of " * < > ? and on
// Windows no "/"), no leading blank or ".", no "." next to a separator, at most
// one ":" and only as the drive letter's, no final or doubled separator.
bool IsWellFormedPath(std::string_view text);

// If value starts with from (ignoring letter case, final separator of from
// ignored) followed by a separator or the end, that start is replaced by to.
// The result finally gets a trailing separator when withSlash, else loses one.
std::string ReplacePrefix(std::string_view from, std::string_view value, std::string_view to,
                          bool withSlash);
// "%PROGPATH%..." to a path under the current program folder. On Linux a value
// stored on Windows ("%PROGPATH%\Fonts\a.tfa") is understood as well.
std::string FromProgramRelative(std::string_view value, bool withSlash);
// A path under the program folder to "%PROGPATH%..."; other paths unchanged.
std::string ToProgramRelative(std::string_view value, bool withSlash);

// ---- File system ----------------------------------------------------------

// True when path names an existing folder.
bool FolderExists(const std::string& path);
// Creates the folder and every missing level above it; true when the folder
// exists afterwards.
bool EnsureFolder(const std::string& path);
// Deletes an existing file (clearing a read-only mark first). True when it was
// deleted; false when it did not exist, is a folder or could not be deleted.
bool RemoveFile(const std::string& path);
// Adds the files (not folders) of folder whose names match mask ("*" any run,
// "?" any one byte, letter case ignored; "*.*" matches every name) to list, as
// folder + name when withFolder, else the bare name, sorted by name. The list
// is emptied first when clearFirst.
void ListFiles(const std::string& folder, std::string_view mask, StringList& list, bool withFolder,
               bool clearFirst);

}  // namespace lentar
