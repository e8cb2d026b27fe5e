#include "core/virtualkeys.h"

#include <array>
#include <cstddef>

namespace lentar {

namespace {

// Windows virtual-key codes of the Linux input event codes 0..127 (the
// keyboard's main block, the function keys, the keypad and the cursor keys;
// the keypad's digit keys are given with Num Lock on).
constexpr std::array<unsigned char, 128> kEvdevToVk = [] {
  std::array<unsigned char, 128> t{};
  t[1] = 27;                                               // Esc
  const char digits[] = "1234567890";                      // KEY_1 .. KEY_0
  for (int i = 0; i < 10; ++i) t[2 + i] = static_cast<unsigned char>(digits[i]);
  t[12] = 0xBD;  // - _
  t[13] = 0xBB;  // = +
  t[14] = 8;     // Backspace
  t[15] = 9;     // Tab
  const char row1[] = "QWERTYUIOP";
  for (int i = 0; i < 10; ++i) t[16 + i] = static_cast<unsigned char>(row1[i]);
  t[26] = 0xDB;  // [ {
  t[27] = 0xDD;  // ] }
  t[28] = 13;    // Enter
  t[29] = 17;    // left Ctrl
  const char row2[] = "ASDFGHJKL";
  for (int i = 0; i < 9; ++i) t[30 + i] = static_cast<unsigned char>(row2[i]);
  t[39] = 0xBA;  // ; :
  t[40] = 0xDE;  // ' "
  t[41] = 0xC0;  // ` ~
  t[42] = 16;    // left Shift
  t[43] = 0xDC;  // backslash |
  const char row3[] = "ZXCVBNM";
  for (int i = 0; i < 7; ++i) t[44 + i] = static_cast<unsigned char>(row3[i]);
  t[51] = 0xBC;  // , <
  t[52] = 0xBE;  // . >
  t[53] = 0xBF;  // / ?
  t[54] = 16;    // right Shift
  t[55] = 0x6A;  // keypad *
  t[56] = 18;    // left Alt
  t[57] = 32;    // Space
  t[58] = 20;    // Caps Lock
  for (int i = 0; i < 10; ++i) t[59 + i] = static_cast<unsigned char>(0x70 + i);  // F1..F10
  t[69] = 0x90;  // Num Lock
  t[70] = 0x91;  // Scroll Lock
  t[71] = 0x67;  // keypad 7
  t[72] = 0x68;  // keypad 8
  t[73] = 0x69;  // keypad 9
  t[74] = 0x6D;  // keypad -
  t[75] = 0x64;  // keypad 4
  t[76] = 0x65;  // keypad 5
  t[77] = 0x66;  // keypad 6
  t[78] = 0x6B;  // keypad +
  t[79] = 0x61;  // keypad 1
  t[80] = 0x62;  // keypad 2
  t[81] = 0x63;  // keypad 3
  t[82] = 0x60;  // keypad 0
  t[83] = 0x6E;  // keypad .
  t[86] = 0xE2;  // the extra key of 102-key keyboards (< > or | \)
  t[87] = 0x7A;  // F11
  t[88] = 0x7B;  // F12
  t[96] = 13;    // keypad Enter
  t[97] = 17;    // right Ctrl
  t[98] = 0x6F;  // keypad /
  t[99] = 0x2C;  // Print Screen
  t[100] = 18;   // right Alt
  t[102] = 0x24;  // Home
  t[103] = 0x26;  // Up
  t[104] = 0x21;  // Page Up
  t[105] = 0x25;  // Left
  t[106] = 0x27;  // Right
  t[107] = 0x23;  // End
  t[108] = 0x28;  // Down
  t[109] = 0x22;  // Page Down
  t[110] = 0x2D;  // Insert
  t[111] = 0x2E;  // Delete
  t[119] = 0x13;  // Pause
  t[125] = 0x5B;  // left Windows key
  t[126] = 0x5C;  // right Windows key
  t[127] = 0x5D;  // menu key
  return t;
}();

// The keypad's keys with Num Lock off: the cursor keys they double as.
int KeypadWithoutNumLock(int code) {
  switch (code) {
    case 71: return 0x24;  // Home
    case 72: return 0x26;  // Up
    case 73: return 0x21;  // Page Up
    case 75: return 0x25;  // Left
    case 76: return 0x0C;  // Clear
    case 77: return 0x27;  // Right
    case 79: return 0x23;  // End
    case 80: return 0x28;  // Down
    case 81: return 0x22;  // Page Down
    case 82: return 0x2D;  // Insert
    case 83: return 0x2E;  // Delete
    default: return 0;
  }
}

}  // namespace

int VirtualKeyOfEvdevCode(int code, bool numLock) {
  if (code < 0 || code >= static_cast<int>(kEvdevToVk.size())) return 0;
  if (!numLock) {
    if (const int vk = KeypadWithoutNumLock(code)) return vk;
  }
  return kEvdevToVk[static_cast<size_t>(code)];
}

}  // namespace lentar
