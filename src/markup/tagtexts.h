// Tag texts written by the tag insertion dialogs, and the small rules the
// dialogs share: reading a tag's items, the effect page of a tag name, the
// PAR width recommendation from the font in force. Plain logic, no windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lentar {

class TTabFont;

// The numbers of a tag's items: TagArgs split at "," and each item read with
// TextToInt; always `count` values, the missing ones 0.
std::vector<int64_t> ReadTagItems(std::string_view args, size_t count = 32);

// Pages of the effect dialog.
enum class EffectPage { Pause = 0, Blink = 1, Frame = 2, Speed = 3, Inversion = 4, Visual = 5 };
// The page that edits a tag of this (upper-cased) name: BLINK, FRAME/JMP, SPD,
// INV, EFF; any other name opens the pause page.
EffectPage EffectPageOfTag(std::string_view tagName);

// Visual effect types 2 and 3 (the slides) carry a fragment size.
inline bool EffectHasFragment(int type) { return type == 2 || type == 3; }

std::string PauseTagText(int duration);
std::string BlinkTagText(int duration, int mask);
// "{[Jmp:d,s]}" when jump, else "{[Frame:d,s]}"; s is 1 when stop.
std::string FrameTagText(bool jump, int duration, bool stop);
std::string SpeedTagText(int speed);
std::string InversionTagText(bool on);
// Five items for the slides (types 2 and 3), four otherwise.
std::string EffectTagText(int type, int duration, int pause, int reduction, int fragment);
std::string ParameterTagText(int kind, int width);
// "{[BCol:v]}" for the background, else "{[FCol:v]}".
std::string ColorTagText(bool background, int value);
std::string FontTagText(int number);
// "&#" code ";".
std::string SymbolEntity(int code);

// Number of live value kinds of the PAR tag (0..7).
inline constexpr int kParameterKindCount = 8;
// The digit 0..9 whose glyph has the most column bytes (the lowest wins a
// tie); '0' without a font (every digit then counts alike).
char WidestDigit(const TTabFont* font);
// The widest text a value of this kind shows, built from digit; "" for an
// unknown kind.
std::string ParameterSample(int kind, char digit);
// Columns to reserve for a value of this kind in font: the sample's TextBytes
// divided by the font's height in bytes, plus 2. Without a font: 2.
int RecommendedParameterWidth(int kind, const TTabFont* font);

}  // namespace lentar
