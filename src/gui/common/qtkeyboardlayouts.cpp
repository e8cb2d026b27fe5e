#include "gui/common/qtkeyboardlayouts.h"

#include <QGuiApplication>
#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif
#include <cstdlib>
#include <string>

#include <QGuiApplication>
#include <QInputMethod>
#include <QStringList>
#include <algorithm>
#include <array>

#include "core/textutil.h"

namespace lentar::gui {

namespace {

struct LanguageEntry {
  QLocale::Language language;
  QLocale::Territory territory;  // AnyTerritory: the language's default id
  uint16_t id;
};

// Windows language identifiers: primary language in the low 10 bits, the
// sub-language above (1 = the language's main country).
constexpr std::array kLanguages{
    LanguageEntry{QLocale::English, QLocale::UnitedKingdom, 0x0809},
    LanguageEntry{QLocale::English, QLocale::AnyTerritory, 0x0409},
    LanguageEntry{QLocale::Russian, QLocale::AnyTerritory, 0x0419},
    LanguageEntry{QLocale::Ukrainian, QLocale::AnyTerritory, 0x0422},
    LanguageEntry{QLocale::Belarusian, QLocale::AnyTerritory, 0x0423},
    LanguageEntry{QLocale::Kazakh, QLocale::AnyTerritory, 0x043F},
    LanguageEntry{QLocale::Kyrgyz, QLocale::AnyTerritory, 0x0440},
    LanguageEntry{QLocale::Uzbek, QLocale::AnyTerritory, 0x0443},
    LanguageEntry{QLocale::Tatar, QLocale::AnyTerritory, 0x0444},
    LanguageEntry{QLocale::Bashkir, QLocale::AnyTerritory, 0x046D},
    LanguageEntry{QLocale::Mongolian, QLocale::AnyTerritory, 0x0450},
    LanguageEntry{QLocale::Tajik, QLocale::AnyTerritory, 0x0428},
    LanguageEntry{QLocale::Azerbaijani, QLocale::AnyTerritory, 0x042C},
    LanguageEntry{QLocale::Georgian, QLocale::AnyTerritory, 0x0437},
    LanguageEntry{QLocale::Armenian, QLocale::AnyTerritory, 0x042B},
    LanguageEntry{QLocale::Bulgarian, QLocale::AnyTerritory, 0x0402},
    LanguageEntry{QLocale::Serbian, QLocale::AnyTerritory, 0x0C1A},
    LanguageEntry{QLocale::Macedonian, QLocale::AnyTerritory, 0x042F},
    LanguageEntry{QLocale::German, QLocale::AnyTerritory, 0x0407},
    LanguageEntry{QLocale::French, QLocale::AnyTerritory, 0x040C},
    LanguageEntry{QLocale::Spanish, QLocale::AnyTerritory, 0x0C0A},
    LanguageEntry{QLocale::Italian, QLocale::AnyTerritory, 0x0410},
    LanguageEntry{QLocale::Polish, QLocale::AnyTerritory, 0x0415},
    LanguageEntry{QLocale::Czech, QLocale::AnyTerritory, 0x0405},
    LanguageEntry{QLocale::Slovak, QLocale::AnyTerritory, 0x041B},
    LanguageEntry{QLocale::Lithuanian, QLocale::AnyTerritory, 0x0427},
    LanguageEntry{QLocale::Latvian, QLocale::AnyTerritory, 0x0426},
    LanguageEntry{QLocale::Estonian, QLocale::AnyTerritory, 0x0425},
    LanguageEntry{QLocale::Finnish, QLocale::AnyTerritory, 0x040B},
    LanguageEntry{QLocale::Turkish, QLocale::AnyTerritory, 0x041F},
    LanguageEntry{QLocale::Romanian, QLocale::AnyTerritory, 0x0418},
    LanguageEntry{QLocale::Hungarian, QLocale::AnyTerritory, 0x040E},
    LanguageEntry{QLocale::Dutch, QLocale::AnyTerritory, 0x0413},
    LanguageEntry{QLocale::Portuguese, QLocale::AnyTerritory, 0x0816},
    LanguageEntry{QLocale::Greek, QLocale::AnyTerritory, 0x0408},
    LanguageEntry{QLocale::Hebrew, QLocale::AnyTerritory, 0x040D},
    LanguageEntry{QLocale::Arabic, QLocale::AnyTerritory, 0x0401},
    LanguageEntry{QLocale::Chinese, QLocale::AnyTerritory, 0x0804},
    LanguageEntry{QLocale::Japanese, QLocale::AnyTerritory, 0x0411},
    LanguageEntry{QLocale::Korean, QLocale::AnyTerritory, 0x0412},
};

// The layouts of the X server's keyboard configuration ("us,ru"), as
// setxkbmap leaves them on the root window (_XKB_RULES_NAMES: rules, model,
// layouts, variants, options); empty without an X server.
std::string XkbLayouts() {
#if QT_CONFIG(xcb)
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c) return {};
  static constexpr char kName[] = "_XKB_RULES_NAMES";
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), nullptr);
  if (!atom) return {};
  const xcb_atom_t names = atom->atom;
  std::free(atom);
  if (names == XCB_ATOM_NONE) return {};
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  if (!screen) return {};
  xcb_get_property_reply_t* property = xcb_get_property_reply(
      c, xcb_get_property(c, 0, screen->root, names, XCB_ATOM_STRING, 0, 1024), nullptr);
  if (!property) return {};
  const auto* bytes = static_cast<const char*>(xcb_get_property_value(property));
  const std::string value(bytes, static_cast<size_t>(xcb_get_property_value_length(property)));
  std::free(property);
  // The third of the zero-separated fields.
  size_t at = 0;
  for (int field = 0; field < 2 && at != std::string::npos; ++field) {
    at = value.find('\0', at);
    if (at != std::string::npos) ++at;
  }
  if (at == std::string::npos || at >= value.size()) return {};
  return value.substr(at, value.find('\0', at) - at);
#else
  return {};
#endif
}

void AddOnce(std::vector<KeyboardLayout>& layouts, std::optional<uint16_t> id) {
  if (!id) return;
  const bool known = std::any_of(layouts.begin(), layouts.end(),
                                 [&](const KeyboardLayout& l) { return l.languageId == *id; });
  if (!known) layouts.push_back({std::string(), *id});
}

}  // namespace

std::optional<uint16_t> LanguageIdOf(const QLocale& locale) {
  for (const LanguageEntry& e : kLanguages) {
    if (e.language != locale.language()) continue;
    if (e.territory == QLocale::AnyTerritory || e.territory == locale.territory()) return e.id;
  }
  return std::nullopt;
}

uint16_t ActiveLanguageId() {
  if (QInputMethod* im = QGuiApplication::inputMethod()) {
    if (auto id = LanguageIdOf(im->locale())) return *id;
  }
  return LanguageIdOf(QLocale::system()).value_or(0x0409);
}

std::vector<KeyboardLayout> QtKeyboardLayoutSource::InstalledLayouts() const {
  std::vector<KeyboardLayout> layouts;
  if (QInputMethod* im = QGuiApplication::inputMethod()) AddOnce(layouts, LanguageIdOf(im->locale()));
  for (uint16_t id : XkbLayoutLanguageIds(XkbLayouts())) AddOnce(layouts, id);
  AddOnce(layouts, LanguageIdOf(QLocale::system()));
  for (const QString& name : QLocale::system().uiLanguages()) AddOnce(layouts, LanguageIdOf(QLocale(name)));
  AddOnce(layouts, uint16_t{0x0409});
  return layouts;
}

std::string QtKeyboardLayoutSource::SystemLanguageName(uint16_t id) const {
  // The interface is Russian, so the Russian names come first; other
  // languages take Qt's own name where the code page can spell it.
  std::string name = BuiltInLanguageName(id);
  if (!name.empty()) return name;
  for (const LanguageEntry& e : kLanguages) {
    if (e.id != id) continue;
    QString native = QLocale(e.language).nativeLanguageName();
    if (!native.isEmpty()) native[0] = native[0].toUpper();
    const std::string cp1251 = Utf8ToCp1251(native.toStdString());
    if (!native.isEmpty() && cp1251.find('?') == std::string::npos) return cp1251;
    return QLocale::languageToString(e.language).toStdString();
  }
  return {};
}

}  // namespace lentar::gui
