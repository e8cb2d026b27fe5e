// Keyboard layout list and language names over a platform source.
#include "core/keyboard.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "core/textutil.h"

namespace lentar {

namespace {

struct LanguageEntry {
  uint16_t id;
  const char8_t* russian;  // UTF-8 here, Windows-1251 when returned
  const char* english;
};

// Common input languages, ordered by id for binary search.
constexpr std::array<LanguageEntry, 42> kLanguages = {{
    {0x0401, u8"Арабский", "Arabic"},
    {0x0402, u8"Болгарский", "Bulgarian"},
    {0x0405, u8"Чешский", "Czech"},
    {0x0407, u8"Немецкий", "German"},
    {0x0408, u8"Греческий", "Greek"},
    {0x0409, u8"Английский (США)", "English (United States)"},
    {0x040B, u8"Финский", "Finnish"},
    {0x040C, u8"Французский", "French"},
    {0x040D, u8"Иврит", "Hebrew"},
    {0x040E, u8"Венгерский", "Hungarian"},
    {0x0410, u8"Итальянский", "Italian"},
    {0x0411, u8"Японский", "Japanese"},
    {0x0412, u8"Корейский", "Korean"},
    {0x0413, u8"Нидерландский", "Dutch"},
    {0x0415, u8"Польский", "Polish"},
    {0x0418, u8"Румынский", "Romanian"},
    {0x0419, u8"Русский", "Russian"},
    {0x041A, u8"Хорватский", "Croatian"},
    {0x041B, u8"Словацкий", "Slovak"},
    {0x041D, u8"Шведский", "Swedish"},
    {0x041F, u8"Турецкий", "Turkish"},
    {0x0422, u8"Украинский", "Ukrainian"},
    {0x0423, u8"Белорусский", "Belarusian"},
    {0x0424, u8"Словенский", "Slovenian"},
    {0x0425, u8"Эстонский", "Estonian"},
    {0x0426, u8"Латышский", "Latvian"},
    {0x0427, u8"Литовский", "Lithuanian"},
    {0x0428, u8"Таджикский", "Tajik"},
    {0x042B, u8"Армянский", "Armenian"},
    {0x042C, u8"Азербайджанский (латиница)", "Azerbaijani (Latin)"},
    {0x042F, u8"Македонский", "Macedonian"},
    {0x0437, u8"Грузинский", "Georgian"},
    {0x043F, u8"Казахский", "Kazakh"},
    {0x0440, u8"Киргизский", "Kyrgyz"},
    {0x0442, u8"Туркменский", "Turkmen"},
    {0x0443, u8"Узбекский (латиница)", "Uzbek (Latin)"},
    {0x0444, u8"Татарский", "Tatar"},
    {0x0804, u8"Китайский (КНР)", "Chinese (PRC)"},
    {0x0809, u8"Английский (Великобритания)", "English (United Kingdom)"},
    {0x082C, u8"Азербайджанский (кириллица)", "Azerbaijani (Cyrillic)"},
    {0x0843, u8"Узбекский (кириллица)", "Uzbek (Cyrillic)"},
    {0x0C1A, u8"Сербский (кириллица)", "Serbian (Cyrillic)"},
}};

static_assert(std::is_sorted(kLanguages.begin(), kLanguages.end(),
                             [](const LanguageEntry& a, const LanguageEntry& b) { return a.id < b.id; }));

const LanguageEntry* FindLanguage(uint16_t id) {
  auto it = std::lower_bound(kLanguages.begin(), kLanguages.end(), id,
                             [](const LanguageEntry& e, uint16_t v) { return e.id < v; });
  return (it != kLanguages.end() && it->id == id) ? &*it : nullptr;
}

}  // namespace

std::vector<KeyboardLayout> KeyboardLayoutList(const KeyboardLayoutSource& source) {
  std::vector<KeyboardLayout> layouts = source.InstalledLayouts();
  if (layouts.size() > kMaxKeyboardLayouts) layouts.resize(kMaxKeyboardLayouts);
  for (KeyboardLayout& layout : layouts)
    if (layout.languageName.empty()) layout.languageName = LanguageName(source, layout.languageId);
  return layouts;
}

std::string LanguageName(const KeyboardLayoutSource& source, uint16_t id) {
  std::string name = source.SystemLanguageName(id);
  return name.empty() ? LanguageIdText(id) : name;
}

std::string LanguageIdText(uint16_t id) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", unsigned(id));
  return buf;
}

std::string BuiltInLanguageName(uint16_t id) {
  const LanguageEntry* e = FindLanguage(id);
  if (e == nullptr) return {};
  return Utf8ToCp1251(reinterpret_cast<const char*>(e->russian));
}

std::string BuiltInLanguageNameEnglish(uint16_t id) {
  const LanguageEntry* e = FindLanguage(id);
  return e == nullptr ? std::string() : std::string(e->english);
}

std::vector<uint16_t> XkbLayoutLanguageIds(std::string_view layouts) {
  // XKB names layouts by country (mostly) or language code.
  static constexpr struct {
    std::string_view layout;
    uint16_t id;
  } kLayouts[] = {
      {"us", 0x0409}, {"gb", 0x0809}, {"ru", 0x0419}, {"ua", 0x0422}, {"by", 0x0423},
      {"kz", 0x043F}, {"kg", 0x0440}, {"uz", 0x0443}, {"rs", 0x0C1A}, {"mk", 0x042F},
      {"de", 0x0407}, {"fr", 0x040C}, {"es", 0x0C0A}, {"it", 0x0410}, {"pl", 0x0415},
      {"cz", 0x0405}, {"sk", 0x041B}, {"lt", 0x0427}, {"lv", 0x0426}, {"ee", 0x0425},
      {"fi", 0x040B}, {"tr", 0x041F}, {"ro", 0x0418}, {"hu", 0x040E}, {"nl", 0x0413},
      {"pt", 0x0816}, {"gr", 0x0408}, {"il", 0x040D}, {"ara", 0x0401}, {"cn", 0x0804},
      {"jp", 0x0411}, {"kr", 0x0412},
  };
  std::vector<uint16_t> ids;
  size_t start = 0;
  while (start <= layouts.size()) {
    size_t end = layouts.find(',', start);
    if (end == std::string_view::npos) end = layouts.size();
    std::string_view name = layouts.substr(start, end - start);
    name = name.substr(0, name.find('('));
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    for (const auto& l : kLayouts) {
      if (l.layout != name) continue;
      if (std::find(ids.begin(), ids.end(), l.id) == ids.end()) ids.push_back(l.id);
      break;
    }
    start = end + 1;
  }
  return ids;
}

}  // namespace lentar
