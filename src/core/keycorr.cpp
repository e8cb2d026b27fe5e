// Layout correction rules and their files.
#include "core/keycorr.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/atomicfile.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/textutil.h"

namespace lentar {

namespace {

constexpr std::string_view kSettingsSection = "Settings";
constexpr std::string_view kKeysSection = "Keys";
constexpr std::string_view kKeyParams = "KeyParams";

// The i of every "KeyParams<i>" key of the Keys section, in ascending order,
// each once. Entries that KeyCount names but the file lacks read as empty and
// are skipped, so only these need reading: a damaged KeyCount of two thousand
// million, or one entry numbered so, costs nothing.
std::vector<int64_t> KeyParamsIndexes(const IniFile& ini) {
  std::vector<int64_t> indexes;
  for (const IniFile::Section& section : ini.Sections()) {
    if (UpperCase(section.name) != UpperCase(kKeysSection)) continue;
    for (const auto& [key, value] : section.entries) {
      if (key.size() <= kKeyParams.size() ||
          UpperCase(key.substr(0, kKeyParams.size())) != UpperCase(kKeyParams)) {
        continue;
      }
      // The INI reader looks keys up by name: "KeyParams1" only, not "KeyParams01".
      const std::string digits = key.substr(kKeyParams.size());
      if (digits[0] == '0' || digits.size() > 10 ||
          !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        continue;
      }
      indexes.push_back(std::stoll(digits));
    }
  }
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  return indexes;
}

}  // namespace

// ---- TReplaceCharList -----------------------------------------------------------

TReplaceChar* TReplaceCharList::AddRule() { return Add(std::make_unique<TReplaceChar>()); }

int TReplaceCharList::FindByKey(int32_t keyCode, int upper) const {
  for (const auto& rule : items_) {
    if (rule->KeyCode == keyCode && (rule->ShiftState == kShiftAny || rule->ShiftState == upper)) {
      return rule->CharCode;
    }
  }
  return 0;
}

int TReplaceCharList::FindByUnicode(char16_t unit) const {
  if (unit == 0) return 0;
  for (const auto& rule : items_) {
    if (rule->Unicode == unit) return rule->CharCode;
  }
  return 0;
}

void TReplaceCharList::Assign(const TReplaceCharList& source) {
  if (&source == this) return;
  ClearItems();
  LangID = source.LangID;
  for (const auto& rule : source) Add(std::make_unique<TReplaceChar>(*rule));
}

bool TReplaceCharList::LoadFromText(std::string_view bytes) {
  ClearItems();
  IniFile ini;
  ini.Parse(bytes);
  LangID = ini.ReadInteger(kSettingsSection, "LangID", 0);
  const int64_t count = ini.ReadInteger(kSettingsSection, "KeyCount", 0);
  for (const int64_t i : KeyParamsIndexes(ini)) {
    if (i > count) break;
    const std::string text =
        ini.ReadString(kKeysSection, std::string(kKeyParams) + std::to_string(i), "");
    std::array<int32_t, 4> values{};  // key, byte, shift, unicode
    TextToIntArray(text, values.data(), 3);
    if (values[0] == 0 && values[1] == 0) continue;
    TReplaceChar* rule = AddRule();
    rule->KeyCode = values[0];
    rule->CharCode = values[1];
    rule->ShiftState = values[2];
    rule->Unicode = static_cast<uint16_t>(values[3]);
  }
  if (LangID == 0) {
    ClearItems();
    return false;
  }
  return true;
}

bool TReplaceCharList::LoadFromFile(const std::string& path) {
  std::string bytes;
  // A missing file reads as empty; a table is a few kilobytes.
  if (ReadFileCapped(path, size_t{1} << 20, bytes) == ReadOutcome::TooLarge) return false;
  if (!LoadFromText(bytes)) return false;
  FileName = path;
  return true;
}

std::string TReplaceCharList::ToText() const {
  std::string out = "[Settings]\r\n";
  out += "LangID=" + std::to_string(LangID) + "\r\n";
  out += "KeyCount=" + std::to_string(Count()) + "\r\n";
  out += "\r\n[Keys]\r\n";
  int i = 0;
  for (const auto& rule : items_) {
    const int32_t values[4] = {rule->KeyCode, rule->CharCode, rule->ShiftState, rule->Unicode};
    out += std::string(kKeyParams) + std::to_string(++i) + "=" + IntArrayToText(values, 3) + "\r\n";
  }
  out += "\r\n";
  return out;
}

bool TReplaceCharList::SaveToFile(const std::string& path) {
  if (!WriteFileAtomically(path, ToText())) return false;
  FileName = path;
  return true;
}

// ---- TReplaceDefines ------------------------------------------------------------

bool TReplaceDefines::LoadFolder(const std::string& folder) {
  ClearItems();
  if (!FolderExists(folder)) return false;
  StringList files;
  ListFiles(IncludeSlash(folder), "*.lng", files, true, true);
  for (const std::string& file : files) {
    TReplaceCharList* list = AddList();
    if (!list->LoadFromFile(file)) RemoveItem(list);
  }
  return true;
}

TReplaceCharList* TReplaceDefines::AddList() { return Add(std::make_unique<TReplaceCharList>()); }

const TReplaceCharList* TReplaceDefines::ListOf(uint16_t languageId) const {
  for (const auto& list : items_) {
    if (list->LangID == languageId) return list.get();
  }
  return nullptr;
}

int TReplaceDefines::FindChar(uint16_t languageId, int32_t keyCode, int upper) const {
  const TReplaceCharList* list = ListOf(languageId);
  return list ? list->FindByKey(keyCode, upper) : 0;
}

std::string TReplaceDefines::RecodeText(uint16_t languageId, std::u16string_view text) const {
  if (Empty()) return WideToAnsi(text);
  const TReplaceCharList* list = Count() == 1 ? ItemAt(0) : ListOf(languageId);
  if (!list) list = ItemAt(0);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    // A damaged file may hold a value beyond a byte: its low byte counts, as
    // it always has.
    const int byte = list->FindByUnicode(unit) & 0xFF;
    if (byte > 0) {
      out += static_cast<char>(byte);
      continue;
    }
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    out += WideToAnsi(text.substr(i, pair ? 2 : 1));
    if (pair) ++i;
  }
  return out;
}

}  // namespace lentar
