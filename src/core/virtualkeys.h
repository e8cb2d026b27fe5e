// Windows virtual-key codes of the physical keys.
//
// Layout correction files store the virtual-key code that Windows reports for
// a key. For letters and digits (and the punctuation keys) that code belongs
// to the key's place on the keyboard, not to the character the active layout
// puts there: the key right of Caps Lock is 65 ("A") under the Russian layout
// as under the US one. Other systems report the physical key by its Linux
// input event code (X11 and Wayland add 8 to it); this table gives the code
// that key has on Windows, so that a file made on Windows works everywhere.
#pragma once

namespace lentar {

// Some virtual-key codes by name.
inline constexpr int kVkBack = 8;
inline constexpr int kVkTab = 9;
inline constexpr int kVkReturn = 13;
inline constexpr int kVkShift = 16;
inline constexpr int kVkControl = 17;
inline constexpr int kVkMenu = 18;  // Alt
inline constexpr int kVkCapital = 20;
inline constexpr int kVkEscape = 27;
inline constexpr int kVkSpace = 32;

// The virtual-key code of a key given by its Linux input event code (KEY_A is
// 30); 0 for a code without one. numLock chooses between the digits and the
// cursor keys of the numeric keypad.
int VirtualKeyOfEvdevCode(int code, bool numLock = true);

}  // namespace lentar
