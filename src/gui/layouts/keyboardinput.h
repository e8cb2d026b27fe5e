// What the layout correction needs to know about a key press, from whatever
// platform the program runs on.
//
// Correction files come from Windows and name keys by their Windows
// virtual-key codes, languages by Windows language ids, and choose rules by
// the upper-case state (Shift XOR Caps Lock). Each platform tells these
// differently:
//  - the key: Windows reports the virtual-key code itself; X11 and Wayland
//    report the physical key (its Linux input code + 8), which maps to the
//    code that key has on Windows; elsewhere the key Qt names is mapped, which
//    is right for Latin layouts.
//  - Caps Lock: the key event's native modifier state carries it on X11
//    (the XKB lock modifier) and Wayland (the same modifier of the XKB state)
//    and on Windows. Where the platform gives no state, a letter key tells it:
//    a letter typed in the case that Shift alone does not explain means Caps
//    Lock is on; other keys go by what the last letter showed.
//  - the input language: Qt's input method locale (ActiveLanguageId), and
//    the installed ones from QtKeyboardLayoutSource.
// Tests replace the platform with one of their choice (KeyboardPlatformScope).
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/keyboard.h"

class QKeyEvent;

namespace lentar::gui {

class KeyboardPlatform {
 public:
  // How the native fields of key events are to be read.
  enum class Native {
    None,     // nothing native: Qt's key names and the letter's case
    Xkb,      // X11 and Wayland: XKB key codes (Linux input code + 8) and modifier mask
    Windows,  // virtual-key codes and Qt's Windows modifier mask
  };

  // The platform the application runs on (from Qt's platform name).
  KeyboardPlatform();
  // A chosen one; language answers the active input language and layouts
  // lists the installed ones (the real ones when empty).
  KeyboardPlatform(Native native, std::function<uint16_t()> language,
                   std::shared_ptr<const KeyboardLayoutSource> layouts = nullptr);

  static Native NativeOfPlatformName(const QString& name);
  Native NativeKind() const { return native_; }

  // The Windows virtual-key code of the pressed key; 0 when it has none.
  int VirtualKey(const QKeyEvent& event) const;
  // Caps Lock's state as the event's platform reports it; nothing when it
  // does not.
  std::optional<bool> CapsLockOf(const QKeyEvent& event) const;
  // The language id of the active input language.
  uint16_t ActiveLanguage() const;
  // The installed input languages.
  const KeyboardLayoutSource& Layouts() const { return *layouts_; }

 private:
  Native native_;
  std::function<uint16_t()> language_;
  std::shared_ptr<const KeyboardLayoutSource> layouts_;
};

// The platform in force: the real one unless a test has put another in place.
const KeyboardPlatform& Keyboard();

// Puts a platform in force while alive (tests).
class KeyboardPlatformScope {
 public:
  explicit KeyboardPlatformScope(KeyboardPlatform platform);
  ~KeyboardPlatformScope();
  KeyboardPlatformScope(const KeyboardPlatformScope&) = delete;
  KeyboardPlatformScope& operator=(const KeyboardPlatformScope&) = delete;

 private:
  KeyboardPlatform platform_;
  const KeyboardPlatform* previous_;
};

// The virtual-key code of a key Qt names (Latin letters and digits, the
// punctuation keys of the US layout, the keypad, function and editing keys);
// 0 for others.
int VirtualKeyOfQtKey(int key, bool keypad);

// The upper-case state of a key press: Shift XOR Caps Lock. Where the
// platform gives no Caps Lock state, it is learnt from letters as described
// above and kept for the following keys.
class UpperCaseState {
 public:
  bool Upper(const KeyboardPlatform& platform, const QKeyEvent& event);

 private:
  bool capsLock_ = false;
};

}  // namespace lentar::gui
