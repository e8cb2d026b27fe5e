// A small INI file reader and writer for lentar.ini.
//
// The file is Windows-1251 text: "[Section]" header lines and "Key=value"
// lines below them. Reading accepts CR LF and LF line ends, ignores blank lines,
// ";" comments and lines it cannot understand, and compares section and key
// names without letter case, as the Windows INI functions do. Values are kept
// byte for byte (no trimming, no quote stripping), so every value written comes
// back unchanged. Writing produces CR LF lines, sections in the order they were
// first written and keys in the order they were first set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lentar {

class IniFile {
 public:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };

  // Replaces the content with what the text holds. Never fails: lines that
  // are not understood are skipped.
  void Parse(std::string_view bytes);
  // Reads and parses the file. A missing or unreadable file, or one larger
  // than kMaxIniFileSize, leaves the content empty and returns false.
  bool Load(const std::string& path);
  static constexpr size_t kMaxIniFileSize = size_t{16} << 20;
  // The file image: CR LF lines, a blank line between sections.
  std::string Serialize() const;
  // Replaces the file at path with the image, atomically. False on failure
  // (the old file then stays whole).
  bool Save(const std::string& path) const;

  void Clear() { sections_.clear(); }
  const std::vector<Section>& Sections() const { return sections_; }

  bool HasSection(std::string_view section) const;
  bool HasKey(std::string_view section, std::string_view key) const;
  // The value of key (the first one when it appears twice), or def when the
  // key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // Whole number in standard syntax (decimal, or hexadecimal after "$" or
  // "0x", blanks around allowed); def when missing, unreadable or outside the
  // signed 32-bit range.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // "0" is false, any other number true; def when missing or unreadable.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // Sets key to value (CR and LF bytes are dropped from both: they would end
  // the line). A new key goes to the end of its section; a new section to the
  // end of the file.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  void EraseSection(std::string_view section);

 private:
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  const std::string* FindValue(std::string_view section, std::string_view key) const;

  std::vector<Section> sections_;
};

}  // namespace lentar
