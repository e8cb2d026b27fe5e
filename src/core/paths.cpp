#include "core/paths.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace lentar {

namespace fs = std::filesystem;

namespace {

std::string& ProgramFolderStore() {
  static std::string folder;
  return folder;
}

bool IsSeparator(char c) { return c == kPathSeparator; }

// Wildcard match of a file name against a mask: "*" any run of bytes, "?" any
// one byte, letters compared without case as the Windows file system does.
bool MatchesMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*" || mask == "*") return true;
  size_t n = 0, m = 0;
  size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() &&
        (mask[m] == '?' || UpperChar(static_cast<unsigned char>(mask[m])) ==
                               UpperChar(static_cast<unsigned char>(name[n])))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

// ---- The file system edge ----------------------------------------------------

std::filesystem::path NativePath(std::string_view path) {
#ifdef _WIN32
  return fs::path(AnsiToWide(path));
#else
  return fs::path(Cp1251ToUtf8(path));
#endif
}

std::string FromNativePath(const std::filesystem::path& path) {
#ifdef _WIN32
  return WideToAnsi(path.u16string());
#else
  return Utf8ToCp1251(path.string());
#endif
}

std::string FromNativeArgument(const char* argument) {
  if (!argument) return {};
#ifdef _WIN32
  return std::string(argument);  // already in the ANSI code page
#else
  return Utf8ToCp1251(argument);
#endif
}

// ---- Program and data folders ---------------------------------------------

void InitProgramFolder(const char* argv0) {
  std::string folder;
  std::error_code ec;
#ifdef _WIN32
  char buffer[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length > 0 && length < sizeof buffer) folder = FilePathOf(std::string(buffer, length));
#elif defined(__linux__)
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && !exe.empty()) folder = FromNativePath(exe.parent_path());
#endif
  if (folder.empty() && argv0 && *argv0) {
    const fs::path exe = fs::absolute(fs::path(argv0), ec);
    if (!ec) folder = FromNativePath(exe.lexically_normal().parent_path());
  }
  if (folder.empty()) {
    const fs::path cwd = fs::current_path(ec);
    if (!ec) folder = FromNativePath(cwd);
  }
  SetProgramFolder(std::move(folder));
}

const std::string& ProgramFolder() { return ProgramFolderStore(); }

void SetProgramFolder(std::string folder) { ProgramFolderStore() = IncludeSlash(folder); }

// ---- Path texts -----------------------------------------------------------

std::string FilePathOf(std::string_view path) {
  const size_t pos = path.find_last_of(kPathSeparator);
  if (pos == std::string_view::npos) return {};
  return std::string(path.substr(0, pos + 1));
}

std::string FileNameOf(std::string_view path) {
  const size_t pos = path.find_last_of(kPathSeparator);
  if (pos == std::string_view::npos) return std::string(path);
  return std::string(path.substr(pos + 1));
}

std::string ChangeExtension(std::string_view path, std::string_view ext) {
  const size_t dot = path.find_last_of('.');
  const size_t sep = path.find_last_of(kPathSeparator);
  std::string result(path);
  if (dot != std::string_view::npos && (sep == std::string_view::npos || dot > sep)) {
    result.erase(dot);
  }
  result.append(ext);
  return result;
}

std::string IncludeSlash(std::string_view path) {
  std::string result(path);
  if (!result.empty() && !IsSeparator(result.back())) result.push_back(kPathSeparator);
  return result;
}

std::string ExcludeSlash(std::string_view path) {
  std::string result(path);
  if (result.size() >= 2 && IsSeparator(result.back())) result.pop_back();
  return result;
}

bool IsWellFormedPath(std::string_view text) {
  if (text.empty()) return false;
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool inRange = (c >= 0x20 && c <= 0x7F) || c >= 0xC0;
    if (!inRange) return false;
    switch (c) {
      case '"':
      case '*':
      case '<':
      case '>':
      case '?':
        return false;
      case '/':
        // A slash is the separator on Linux and banned on Windows.
        if (kPathSeparator != '/') return false;
        break;
      default:
        break;
    }
  }
  if (text[0] == ' ' || text[0] == '.') return false;

  // A "." may not touch a separator on its right, nor a separator a "." on its
  // right; remember the last "." that no separator follows (the extension).
  std::ptrdiff_t lastDot = -1;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    const char c = text[i];
    const char next = text[i + 1];
    if (c == '.') {
      if (IsSeparator(next)) return false;
      lastDot = static_cast<std::ptrdiff_t>(i);
    } else if (IsSeparator(c)) {
      if (next == '.') return false;
      lastDot = -1;
    }
  }

  // A colon only as the drive letter's, and the extension's dot after it.
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    if (text.find(':', colon + 1) != std::string_view::npos) return false;
    if (colon != 1 || text.size() <= 2) return false;
    if (lastDot >= 0 && lastDot < static_cast<std::ptrdiff_t>(colon) + 2) return false;
  }

  if (IsSeparator(text.back())) return false;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (IsSeparator(text[i]) && IsSeparator(text[i + 1])) return false;
  }
  return true;
}

std::string ReplacePrefix(std::string_view from, std::string_view value, std::string_view to,
                          bool withSlash) {
  const std::string prefix = ExcludeSlash(from);
  const size_t n = prefix.size();
  std::string result(value);
  if (n > 0 && value.size() >= n && (value.size() == n || IsSeparator(value[n])) &&
      UpperCase(value.substr(0, n)) == UpperCase(prefix)) {
    std::string_view rest = value.substr(n);
    if (!rest.empty() && IsSeparator(rest.front())) rest.remove_prefix(1);
    result = IncludeSlash(to) + ExcludeSlash(rest);
  }
  return withSlash ? IncludeSlash(result) : ExcludeSlash(result);
}

std::string FromProgramRelative(std::string_view value, bool withSlash) {
  const size_t n = kProgramPathMarker.size();
  if (kPathSeparator != '\\' && value.size() > n && value[n] == '\\' &&
      UpperCase(value.substr(0, n)) == kProgramPathMarker) {
    // Written by the Windows build: turn its separators into ours.
    std::string converted(value);
    std::replace(converted.begin() + static_cast<std::ptrdiff_t>(n), converted.end(), '\\',
                 kPathSeparator);
    return ReplacePrefix(kProgramPathMarker, converted, ProgramFolder(), withSlash);
  }
  return ReplacePrefix(kProgramPathMarker, value, ProgramFolder(), withSlash);
}

std::string ToProgramRelative(std::string_view value, bool withSlash) {
  return ReplacePrefix(ProgramFolder(), value, kProgramPathMarker, withSlash);
}

// ---- File system ----------------------------------------------------------

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return fs::is_directory(NativePath(path), ec);
}

bool EnsureFolder(const std::string& path) {
  if (path.empty()) return false;
  if (FolderExists(path)) return true;
  std::error_code ec;
  fs::create_directories(NativePath(path), ec);
  return FolderExists(path);
}

bool RemoveFile(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const fs::path p = NativePath(path);
  const fs::file_status status = fs::symlink_status(p, ec);
  if (ec || !fs::exists(status) || fs::is_directory(status)) return false;
  if (!fs::is_symlink(status)) {
    // A read-only file would refuse deletion on Windows; make it plain first.
    fs::permissions(p, fs::perms::owner_write, fs::perm_options::add, ec);
  }
  return fs::remove(p, ec) && !ec;
}

void ListFiles(const std::string& folder, std::string_view mask, StringList& list, bool withFolder,
               bool clearFirst) {
  if (clearFirst) list.clear();
  const std::string base = IncludeSlash(folder);
  std::error_code ec;
  fs::directory_iterator it(NativePath(base.empty() ? std::string(".") : base), ec);
  if (ec) return;
  StringList found;
  const fs::directory_iterator end;
  while (it != end) {
    std::error_code typeError;
    if (!it->is_directory(typeError)) {
      const std::string name = FromNativePath(it->path().filename());
      if (MatchesMask(name, mask)) found.push_back(name);
    }
    it.increment(ec);
    if (ec) break;
  }
  std::sort(found.begin(), found.end());
  for (const std::string& name : found) list.push_back(withFolder ? base + name : name);
}

}  // namespace lentar
