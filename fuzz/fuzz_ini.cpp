// Fuzzes the INI reader and the settings file reader on arbitrary bytes.
//
// Invariants checked (any violation aborts):
// - parsing never fails or reads outside the input;
// - a parsed file written out and parsed again holds the same sections, keys
//   and values, and writes out to the same bytes;
// - values written under fixed keys read back unchanged (CR and LF are dropped
//   by the writer, as they would end the line);
// - settings read from any bytes are within their legal ranges, and the file
//   written from them reads back into a record that writes the same file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/ini.h"
#include "core/paths.h"
#include "core/settings.h"

namespace {

using lentar::IniFile;

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckParsedFile(std::string_view data) {
  IniFile first;
  first.Parse(data);
  const std::string image = first.Serialize();
  IniFile second;
  second.Parse(image);
  Check(second.Serialize() == image);
  Check(second.Sections().size() == first.Sections().size());
  for (const IniFile::Section& section : first.Sections()) {
    Check(second.HasSection(section.name));
    for (const auto& [key, value] : section.entries) {
      Check(!key.empty());
      Check(value.find('\n') == std::string::npos);
      Check(second.ReadString(section.name, key, "\x01missing") == value);
      (void)first.ReadInteger(section.name, key, 0);
    }
  }
}

void CheckWrittenValues(std::string_view data) {
  std::vector<std::string> values;
  size_t start = 0;
  while (start <= data.size() && values.size() < 64) {
    const size_t end = data.find('\n', start);
    values.emplace_back(data.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  IniFile ini;
  ini.WriteString("Other", "Before", "1");
  for (size_t i = 0; i < values.size(); ++i) {
    ini.WriteString("Settings", "Key" + std::to_string(i), values[i]);
  }
  IniFile back;
  back.Parse(ini.Serialize());
  for (size_t i = 0; i < values.size(); ++i) {
    std::string expected;
    for (char c : values[i]) {
      if (c != '\r' && c != '\n') expected.push_back(c);
    }
    Check(back.ReadString("settings", "KEY" + std::to_string(i), "\x01missing") == expected);
  }
  Check(back.ReadString("Other", "Before", "") == "1");
}

void CheckSettings(std::string_view data) {
  lentar::TSettings s;
  lentar::ReadSettingsImage(s, data);
  Check(s.DispLen >= 8 && s.DispLen <= 2016);
  Check(s.DispLen * s.DefFontHeight <= 2016);
  Check(s.DefFontHeight >= 1 && s.DefFontHeight <= 4);
  Check(s.ColorChannelCount >= 1 && s.ColorChannelCount <= 8);
  Check(s.OutDataSize >= 4096 && s.OutDataSize <= 64000);
  Check(s.Speed >= 1 && s.Speed <= 5);
  Check(s.Tarif >= 0 && s.Tarif <= 100000);
  Check(s.PrintCopies >= 1 && s.PrintCopies <= 10);
  Check(s.PrinterData.size() <= lentar::kPrinterDataCapacity);
  Check(s.DefModemPass.size() <= 8);
  for (const std::string& p : s.Password) Check(p.size() <= 8);

  const std::string image = lentar::SettingsFileImage(s);
  lentar::TSettings again;
  lentar::ReadSettingsImage(again, image);
  Check(lentar::SettingsFileImage(again) == image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialised = [] {
    lentar::SetProgramFolder("/nonexistent/lentar/");
    return true;
  }();
  (void)initialised;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckParsedFile(text);
  CheckWrittenValues(text);
  CheckSettings(text);
  return 0;
}
