// Text utilities shared by every layer.
//
// All texts are 8-bit Windows-1251 strings held in std::string, one byte per
// character. Positions are 1-based byte indexes (0 means "not found"), as the
// board's tools have always counted them. No function here throws or reports
// an error: unreadable input yields the fallback value stated per function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lentar {

using StringList = std::vector<std::string>;

// ---- Windows-1251 letters and code page conversion -------------------------

// Upper/lower case of one byte along the Windows-1251 letter pairs (Latin,
// Cyrillic А–Я/а–я, Ё/ё and the other paired letters of the code page).
// Every other byte is returned unchanged.
unsigned char UpperChar(unsigned char c);
unsigned char LowerChar(unsigned char c);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// Windows-1251 bytes to UTF-8 (every byte maps; 0x98, unassigned, becomes
// U+FFFD) and back (a code point the code page lacks becomes '?').
std::string Cp1251ToUtf8(std::string_view text);
std::string Utf8ToCp1251(std::string_view utf8);
// C++20 u8"..." literals (char8_t) to Windows-1251: how Russian texts are
// written in the sources, which are UTF-8.
inline std::string Utf8ToCp1251(const char8_t* utf8) {
  return Utf8ToCp1251(std::string_view(reinterpret_cast<const char*>(utf8)));
}
// UTF-16 text (up to the first zero unit) to Windows-1251; empty in, empty out.
// AnsiToWide maps every byte to one UTF-16 unit (0x98 to U+FFFD).
std::string WideToAnsi(std::u16string_view utf16);
std::u16string AnsiToWide(std::string_view text);

// ---- Text shaping ---------------------------------------------------------

// mode 0: lower case, 1: upper case, 2: sentence case (only "." starts a
// sentence; the first non-blank byte is always capitalised); other modes return
// the text unchanged.
std::string ChangeCase(std::string_view text, int mode);
// Removes leading and trailing spaces and tabs only.
std::string TrimBlanks(std::string_view text);
// Drops every byte below 32.
std::string StripControlChars(std::string_view text);
// First 1-based position at or after start where sub occurs; 0 when none or
// when either text is empty. A start below 1 counts as 1.
int FindFrom(std::string_view sub, std::string_view text, int start);
// Locale-style comparison: -1, 0, 1; case-insensitive unless caseSensitive.
// Byte order of Windows-1251 except that the Russian letters sort after all
// other bytes in alphabetical order (Ё right after Е) and letter case is
// folded first; hyphen and apostrophe are ordinary characters. When
// caseSensitive, texts equal but for case order lower case first.
int CompareLocale(std::string_view a, std::string_view b, bool caseSensitive);

// ---- Lists ----------------------------------------------------------------

// Splits at every occurrence of separator, trimming each item; "a,,b" gives
// three items, "a," gives "a" and "". Empty text or separator: empty list.
StringList SplitByText(std::string_view text, std::string_view separator);
// 1-based position of the first separator byte outside apostrophe quotes and
// outside round and square brackets; 0 when none.
int FindTopLevelChar(char separator, std::string_view text);
// Splits at top-level separators: "a,(b,c),'x,y'" gives a, (b,c), 'x,y'.
StringList SplitTopLevel(std::string_view text, char separator);
// Cuts the first top-level item off text. Returns the item trimmed, and text
// becomes the trimmed rest after the separator; wasLast is true when no
// separator was found (the item is then the whole text, trimmed, and text is
// left empty).
std::string TakeTopLevelItem(std::string& text, char separator, bool& wasLast);

// Reads up to highIndex+1 comma-separated integers into values[0..]; slots with
// no item keep their values; an item with an invalid byte stores 0. Returns the
// number of items stored. values must hold at least highIndex+1 slots.
int TextToIntArray(std::string_view text, int32_t* values, int highIndex);
std::string IntArrayToText(const int32_t* values, int highIndex);

struct IntRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const IntRect&) const = default;
};
IntRect TextToRect(std::string_view text);
std::string RectToText(const IntRect& r);

// ---- Numbers and bytes ----------------------------------------------------

// Tolerant whole number: trims, optional sign, decimal digits; "$", "x", "X",
// "0x", "0X" make it hexadecimal. On an invalid byte returns the value of the
// digits read before it (the minus sign not applied); 0 for empty text.
// Digits that would overflow 64 bits count as an invalid byte.
int64_t TextToInt(std::string_view text);
// Strict standard integer syntax (decimal, or hexadecimal after "$", "x", "X",
// "0x" or "0X", an optional sign; surrounding blanks allowed). Returns false
// (value untouched) on any syntax error or outside the 32-bit signed range.
bool StrictTextToInt(std::string_view text, int32_t& value);
// Trims, replaces the first "," by ".", reads a real number; 0 when unreadable.
double TextToFloat(std::string_view text);
// Fixed point with exactly `decimals` (0..30) digits after a ".": 1.5 -> "1.50".
// No thousands separators; non-finite values print as 0.
std::string FloatToText(int decimals, double value);
// Digits right to left in the given base (letters from A = 10); a byte that is
// not a digit of the base adds nothing but still takes a place. Returns 0 when a
// weight or the sum would pass 4294967295.
uint32_t ParseInBase(std::string_view text, uint32_t base);
// Two upper-case hex digits per byte.
std::string BytesToHex(const uint8_t* bytes, size_t count);
// Keeps only 0-9 and A-F, then reads min(pairs, capacity) bytes; returns count.
size_t HexToBytes(std::string_view text, uint8_t* buffer, size_t capacity);

// ---- Quoted settings texts ------------------------------------------------

// Control bytes and apostrophes as #code, the rest inside '...' runs:
// "It's" -> 'It'#39's'; the empty text -> ''.
std::string QuoteText(std::string_view text);
// Inverse of QuoteText. failed is set (and the result is what was decoded
// before the fault, or empty when validation failed) for malformed input.
std::string UnquoteText(std::string_view encoded, bool& failed);

// ---- Dates and times ------------------------------------------------------

struct TDateRec {
  int32_t day = 0;
  int32_t month = 0;
  int32_t year = 0;
  bool operator==(const TDateRec&) const = default;
};

// Month forced into 1..12, a day below 1 gives 1, otherwise the day limited
// to the month's length (Gregorian leap years).
int ClampDay(int day, int month, int year);
// Many typed shapes ("5 января 2007 г.", "05.01.07", "050107") to D.MM.YYYY;
// empty when no date can be read.
std::string NormalizeDateText(std::string_view text);
TDateRec ParseDotDate(std::string_view text);
std::string FormatDotDate(const TDateRec& d, bool padDay);
std::string FormatLongDate(const TDateRec& d);
std::string FormatClockTime(int hours, int minutes, int seconds, bool verbose, bool withSeconds);
TDateRec TodayDate();
// The computer's local date and time, read once: the one place the program
// asks the system clock for calendar time.
struct TLocalTime {
  int year = 0, month = 0, day = 0;
  int dayOfWeek = 0;  // 0 Sunday .. 6 Saturday
  int hour = 0, minute = 0, second = 0, milliseconds = 0;
};
TLocalTime LocalTimeNow();
// Days since 30 December 1899; 0 for an invalid date. Valid dates are real
// Gregorian dates of the years 1 to 9999.
int32_t DateToDays(const TDateRec& d);
// Date of a day serial; all zeros when it is outside 1.01.0001..31.12.9999.
TDateRec DaysToDate(int32_t serial);
std::string WeekdayName(int index);
// Monday 1 .. Sunday 7; 1 for an invalid date.
int WeekdayNumber(int day, int month, int year);

// ---- Matching -------------------------------------------------------------

// 100 when key occurs in candidate, otherwise the best fuzzy score of key
// against windows of candidate, in percent of key's length; 0 for an empty key.
// Bytes are compared as they are (callers upper-case first).
int MatchPercent(std::string_view key, std::string_view candidate);
// Index of the closest name in list, or -1 when the key or every item is empty.
// Compares trimmed, upper-cased texts; an exact match wins at once, ties go to
// the shorter item.
int BestMatchIndex(std::string_view key, const StringList& list);

}  // namespace lentar
