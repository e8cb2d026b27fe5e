// Installed keyboard layouts and the names of their input languages.
//
// The list of layouts comes from the windowing system, so core sees it only
// through KeyboardLayoutSource; the gui layer supplies the real source and
// tests supply a fake one. Language ids are the 16-bit Windows language
// identifiers (0x0419 = 1049 is Russian) that layout correction files store.
// All names are Windows-1251 texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lentar {

struct KeyboardLayout {
  std::string languageName;
  uint16_t languageId = 0;
  bool operator==(const KeyboardLayout&) const = default;
};

class KeyboardLayoutSource {
 public:
  virtual ~KeyboardLayoutSource() = default;
  // The installed input layouts in the system's order. Two layouts of the same
  // language are two entries. A non-empty languageName here is taken as the
  // entry's name; an empty one is filled in by LanguageName().
  virtual std::vector<KeyboardLayout> InstalledLayouts() const = 0;
  // The system's own name of a language, or empty when it does not know one.
  virtual std::string SystemLanguageName(uint16_t id) const = 0;
};

// At most this many layouts are listed, however many the system reports.
inline constexpr std::size_t kMaxKeyboardLayouts = 2048;

// One entry per installed layout, each named (see LanguageName) and carrying
// its language id.
std::vector<KeyboardLayout> KeyboardLayoutList(const KeyboardLayoutSource& source);
// The system's name of the language; when the system has none, the id as 8
// upper-case hex digits (LanguageIdText).
std::string LanguageName(const KeyboardLayoutSource& source, uint16_t id);
// The id as 8 upper-case hexadecimal digits: 0x0419 -> "00000419".
std::string LanguageIdText(uint16_t id);
// Russian name of a common input language ("Русский" for 0x0419), empty for
// ids the built-in table does not know. For sources whose platform gives no
// language names.
std::string BuiltInLanguageName(uint16_t id);
// English name of a common input language ("Russian"), empty when unknown.
std::string BuiltInLanguageNameEnglish(uint16_t id);
// The language ids of an X keyboard configuration's layout list ("us,ru",
// as setxkbmap -layout gives it; a variant in brackets is ignored), in
// order, each once; layouts of no known language are left out.
std::vector<uint16_t> XkbLayoutLanguageIds(std::string_view layouts);

}  // namespace lentar
