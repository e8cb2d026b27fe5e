#include "core/ini.h"

#include <algorithm>

#include "core/atomicfile.h"
#include "core/textutil.h"

namespace lentar {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperChar(static_cast<unsigned char>(a[i])) != UpperChar(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string WithoutLineBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

}  // namespace

void IniFile::Parse(std::string_view bytes) {
  sections_.clear();
  // A UTF-8 byte-order mark left by a text editor would hide the first header.
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);

  Section* current = nullptr;
  while (!bytes.empty()) {
    // CR LF, LF and a lone CR all end a line, so no value ever holds a line
    // break byte: the writer drops them too, and what is read writes back
    // unchanged.
    const size_t eol = bytes.find_first_of("\r\n");
    std::string_view line = bytes.substr(0, eol);
    size_t next = eol == std::string_view::npos ? bytes.size() : eol + 1;
    if (eol != std::string_view::npos && bytes[eol] == '\r' && next < bytes.size() &&
        bytes[next] == '\n')
      ++next;
    bytes.remove_prefix(next);

    const std::string_view trimmed = TrimView(line);
    if (trimmed.empty() || trimmed.front() == ';') continue;
    if (trimmed.front() == '[') {
      const size_t close = trimmed.find(']');
      if (close == std::string_view::npos) {
        current = nullptr;  // a broken header: its keys belong nowhere
        continue;
      }
      const std::string_view name = TrimView(trimmed.substr(1, close - 1));
      current = FindSection(name);
      if (!current) {
        sections_.push_back(Section{std::string(name), {}});
        current = &sections_.back();
      }
      continue;
    }
    if (!current) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = TrimView(line.substr(0, eq));
    if (key.empty()) continue;
    // The first occurrence of a key wins, as with the Windows INI functions.
    const bool known = std::any_of(current->entries.begin(), current->entries.end(),
                                   [&](const auto& e) { return SameName(e.first, key); });
    if (!known) current->entries.emplace_back(std::string(key), std::string(line.substr(eq + 1)));
  }
}

bool IniFile::Load(const std::string& path) {
  sections_.clear();
  std::string bytes;
  if (ReadFileCapped(path, kMaxIniFileSize, bytes) != ReadOutcome::Ok) return false;
  Parse(bytes);
  return true;
}

std::string IniFile::Serialize() const {
  std::string out;
  bool first = true;
  for (const Section& s : sections_) {
    if (!first) out += "\r\n";
    first = false;
    out += '[';
    out += s.name;
    out += "]\r\n";
    for (const auto& [key, value] : s.entries) {
      out += key;
      out += '=';
      out += value;
      out += "\r\n";
    }
  }
  return out;
}

bool IniFile::Save(const std::string& path) const { return WriteFileAtomically(path, Serialize()); }

IniFile::Section* IniFile::FindSection(std::string_view name) {
  for (Section& s : sections_) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (const Section& s : sections_) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

const std::string* IniFile::FindValue(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return nullptr;
  for (const auto& e : s->entries) {
    if (SameName(e.first, key)) return &e.second;
  }
  return nullptr;
}

bool IniFile::HasSection(std::string_view section) const { return FindSection(section) != nullptr; }

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
  return FindValue(section, key) != nullptr;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  const std::string* value = FindValue(section, key);
  return value ? *value : std::string(def);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  const std::string* value = FindValue(section, key);
  if (!value) return def;
  int32_t result = 0;
  return StrictTextToInt(*value, result) ? result : def;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string sectionName = WithoutLineBreaks(section);
  const std::string keyName = WithoutLineBreaks(key);
  Section* s = FindSection(sectionName);
  if (!s) {
    sections_.push_back(Section{sectionName, {}});
    s = &sections_.back();
  }
  for (auto& e : s->entries) {
    if (SameName(e.first, keyName)) {
      e.second = WithoutLineBreaks(value);
      return;
    }
  }
  s->entries.emplace_back(keyName, WithoutLineBreaks(value));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(std::string_view section) {
  sections_.erase(std::remove_if(sections_.begin(), sections_.end(),
                                 [&](const Section& s) { return SameName(s.name, section); }),
                  sections_.end());
}

}  // namespace lentar
