// Text utilities shared by every layer. Dates live in core/dates.h, fuzzy
// name matching in core/textmatch.h.
//
// All texts are 8-bit Windows-1251 strings held in std::string, one byte per
// character. Positions are 1-based byte indexes (0 means "not found"), as the
// board's tools have always counted them. No function here throws or reports
// an error: unreadable input yields the fallback value stated per function.
#pragma once

#include <cstddef>
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

// A u8"..." literal converted to Windows-1251 while compiling, for Russian
// texts in constants and tables that must be ready before any code runs:
//   constexpr Cp1251Literal kYear(u8" г.");
//   constexpr std::array<Cp1251Literal<16>, 2> kNames = {u8"один", u8"два"};
// It takes ASCII, the Russian letters (Ё and ё included), "№", "«", "»" and
// the dashes; any other character, or text longer than Capacity - 1 bytes,
// stops the build (Utf8ToCp1251 converts everything else at run time).
template <std::size_t Capacity>
class Cp1251Literal {
 public:
  template <std::size_t N>
  consteval Cp1251Literal(const char8_t (&utf8)[N]) {  // NOLINT: implicit on purpose
    std::size_t i = 0;
    while (i + 1 < N && utf8[i] != 0) {
      char32_t cp = utf8[i];
      int more = cp < 0x80 ? 0 : cp < 0xE0 ? 1 : cp < 0xF0 ? 2 : 3;
      if (more > 0) cp &= 0x3Fu >> more;
      for (++i; more > 0; --more, ++i) cp = (cp << 6) | (utf8[i] & 0x3Fu);
      Append(ByteOf(cp));
    }
  }
  constexpr std::string_view view() const { return {bytes_, size_}; }
  constexpr const char* c_str() const { return bytes_; }
  constexpr std::size_t size() const { return size_; }

 private:
  static consteval unsigned char ByteOf(char32_t cp) {
    if (cp < 0x80) return static_cast<unsigned char>(cp);
    if (cp >= 0x0410 && cp <= 0x044F) return static_cast<unsigned char>(cp - 0x0410 + 0xC0);
    switch (cp) {
      case 0x0401: return 0xA8;  // Ё
      case 0x0451: return 0xB8;  // ё
      case 0x2116: return 0xB9;  // №
      case 0x00AB: return 0xAB;  // «
      case 0x00BB: return 0xBB;  // »
      case 0x2013: return 0x96;  // –
      case 0x2014: return 0x97;  // —
      default: throw "character not taken by Cp1251Literal";
    }
  }
  consteval void Append(unsigned char byte) {
    if (size_ + 1 >= Capacity) throw "text longer than the literal's capacity";
    bytes_[size_++] = static_cast<char>(byte);
  }
  char bytes_[Capacity]{};
  std::size_t size_ = 0;
};
template <std::size_t N>
Cp1251Literal(const char8_t (&)[N]) -> Cp1251Literal<N>;
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
// The form of a Russian noun that goes with the count n: one for 1, 21, 101
// ("байт"), few for 2..4, 22..24 ("байта"), many for 0, 5..20, 11..14, 25
// ("байт"). The forms are handed back as given, in whatever encoding.
const char* RussianCountForm(long long n, const char* one, const char* few, const char* many);
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

}  // namespace lentar
