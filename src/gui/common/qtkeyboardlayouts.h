// Installed input languages as Qt reports them.
//
// Windows lists every installed keyboard layout; Qt on X11 and Wayland only
// tells the language of the active input method and the user's locales. The
// list is therefore: the active input language, then the system locale and
// the user's interface languages, each once, and English (US) last when it is
// not there already, since every X keyboard set-up carries a Latin layout.
// Language ids are the 16-bit Windows identifiers that correction files store.
#pragma once

#include <QLocale>
#include <optional>
#include <vector>

#include "core/keyboard.h"

namespace lentar::gui {

class QtKeyboardLayoutSource : public KeyboardLayoutSource {
 public:
  std::vector<KeyboardLayout> InstalledLayouts() const override;
  std::string SystemLanguageName(uint16_t id) const override;
};

// Windows language id of a Qt locale (primary language with the default or
// matching sub-language), or nothing for a language the table does not know.
std::optional<uint16_t> LanguageIdOf(const QLocale& locale);
// The language id of the active input method, falling back to the system locale.
uint16_t ActiveLanguageId();

}  // namespace lentar::gui
