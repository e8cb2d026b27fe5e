#include "gui/layouts/keyboardinput.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include "core/virtualkeys.h"
#include "gui/common/qtkeyboardlayouts.h"

namespace lentar::gui {

namespace {

// XKB modifier bits of the native modifier mask on X11 and Wayland.
constexpr quint32 kXkbLockMask = 1u << 1;
// Qt's native modifier bits on Windows.
constexpr quint32 kWindowsCapsLock = 0x100;
// X11 and Wayland number keys from the Linux input codes up by 8.
constexpr quint32 kXkbKeycodeOffset = 8;

const KeyboardPlatform* gOverride = nullptr;

}  // namespace

KeyboardPlatform::KeyboardPlatform()
    : native_(NativeOfPlatformName(QGuiApplication::platformName())),
      layouts_(std::make_shared<QtKeyboardLayoutSource>()) {}

KeyboardPlatform::KeyboardPlatform(Native native, std::function<uint16_t()> language,
                                   std::shared_ptr<const KeyboardLayoutSource> layouts)
    : native_(native), language_(std::move(language)), layouts_(std::move(layouts)) {
  if (!layouts_) layouts_ = std::make_shared<QtKeyboardLayoutSource>();
}

KeyboardPlatform::Native KeyboardPlatform::NativeOfPlatformName(const QString& name) {
  if (name == QLatin1String("xcb") || name.startsWith(QLatin1String("wayland"))) return Native::Xkb;
  if (name == QLatin1String("windows")) return Native::Windows;
  return Native::None;
}

int KeyboardPlatform::VirtualKey(const QKeyEvent& event) const {
  switch (native_) {
    case Native::Windows:
      if (event.nativeVirtualKey() > 0 && event.nativeVirtualKey() < 256) {
        return static_cast<int>(event.nativeVirtualKey());
      }
      break;
    case Native::Xkb:
      if (event.nativeScanCode() > kXkbKeycodeOffset) {
        // The keypad's digit keys type digits with Num Lock on, nothing without.
        const bool numLock = !event.text().isEmpty();
        if (const int vk = VirtualKeyOfEvdevCode(
                static_cast<int>(event.nativeScanCode() - kXkbKeycodeOffset), numLock)) {
          return vk;
        }
      }
      break;
    case Native::None:
      break;
  }
  return VirtualKeyOfQtKey(event.key(), event.modifiers() & Qt::KeypadModifier);
}

std::optional<bool> KeyboardPlatform::CapsLockOf(const QKeyEvent& event) const {
  switch (native_) {
    case Native::Xkb:
      return (event.nativeModifiers() & kXkbLockMask) != 0;
    case Native::Windows:
      return (event.nativeModifiers() & kWindowsCapsLock) != 0;
    case Native::None:
      break;
  }
  return std::nullopt;
}

uint16_t KeyboardPlatform::ActiveLanguage() const {
  return language_ ? language_() : ActiveLanguageId();
}

const KeyboardPlatform& Keyboard() {
  if (gOverride) return *gOverride;
  static const KeyboardPlatform platform;
  return platform;
}

KeyboardPlatformScope::KeyboardPlatformScope(KeyboardPlatform platform)
    : platform_(std::move(platform)), previous_(gOverride) {
  gOverride = &platform_;
}

KeyboardPlatformScope::~KeyboardPlatformScope() { gOverride = previous_; }

int VirtualKeyOfQtKey(int key, bool keypad) {
  if (keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return 0x60 + (key - Qt::Key_0);
    switch (key) {
      case Qt::Key_Asterisk: return 0x6A;
      case Qt::Key_Plus: return 0x6B;
      case Qt::Key_Minus: return 0x6D;
      case Qt::Key_Period:
      case Qt::Key_Comma: return 0x6E;
      case Qt::Key_Slash: return 0x6F;
      default: break;
    }
  }
  // Latin letters, digits and the space share their codes with the keys.
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) ||
      key == Qt::Key_Space) {
    return key;
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
  switch (key) {
    // The shifted digits of the US layout name their digit keys.
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_ParenRight: return '0';
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period:
    case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash:
    case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return 0xDE;
    case Qt::Key_Backspace: return kVkBack;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return kVkTab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return kVkReturn;
    case Qt::Key_Shift: return kVkShift;
    case Qt::Key_Control: return kVkControl;
    case Qt::Key_Alt: return kVkMenu;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return kVkCapital;
    case Qt::Key_Escape: return kVkEscape;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Meta: return 0x5B;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    default: return 0;
  }
}

bool UpperCaseState::Upper(const KeyboardPlatform& platform, const QKeyEvent& event) {
  const bool shift = event.modifiers() & Qt::ShiftModifier;
  if (const std::optional<bool> caps = platform.CapsLockOf(event)) {
    capsLock_ = *caps;
  } else if (event.text().size() == 1) {
    // A cased letter shows the state: typed upper-case without Shift, or
    // lower-case with it, means Caps Lock is on.
    const QChar c = event.text()[0];
    if (c.isLetter() && c.toUpper() != c.toLower()) capsLock_ = c.isUpper() != shift;
  }
  return shift != capsLock_;
}

}  // namespace lentar::gui
