// Windows-1251 text utilities: case tables, code page conversion, trimming,
// splitting, number readers, the hex and integer-list codecs and the quoted
// form that keeps control characters and apostrophes safe in an INI line.
#include "core/textutil.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace lentar {

namespace {

// ---- Windows-1251 code page ------------------------------------------------

// Unicode code points of bytes 0x80..0xFF; 0x98 has no character and maps to
// U+FFFD. Bytes below 0x80 are ASCII.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

constexpr char32_t CodePointOf(unsigned char b) {
  return b < 0x80 ? char32_t(b) : char32_t(kHighHalf[b - 0x80]);
}

// Byte of a code point, or -1 when the code page has no such character.
int ByteOfCodePoint(char32_t cp) {
  if (cp < 0x80) return int(cp);
  if (cp == 0xFFFD) return -1;
  struct Reverse {
    std::array<std::pair<char16_t, uint8_t>, 128> entries{};
    Reverse() {
      for (int i = 0; i < 128; ++i) entries[i] = {kHighHalf[i], uint8_t(0x80 + i)};
      std::sort(entries.begin(), entries.end());
    }
  };
  static const Reverse reverse;
  if (cp > 0xFFFF) return -1;
  auto it = std::lower_bound(reverse.entries.begin(), reverse.entries.end(),
                             std::pair<char16_t, uint8_t>{char16_t(cp), 0});
  if (it != reverse.entries.end() && it->first == cp) return it->second;
  return -1;
}

// Case tables built from the code page itself: a byte is an upper-case letter
// when its lower-case partner (Unicode Cyrillic and Latin rules) is also in the
// code page. This yields exactly the letter pairs of Windows-1251: A-Z/a-z,
// А-Я/а-я, Ё/ё and the Serbian, Macedonian, Ukrainian and Belarusian letters.
constexpr char32_t UnicodeLower(char32_t cp) {
  if (cp >= U'A' && cp <= U'Z') return cp + 0x20;
  if (cp >= 0x0410 && cp <= 0x042F) return cp + 0x20;  // А-Я
  if (cp >= 0x0400 && cp <= 0x040F) return cp + 0x50;  // Ѐ-Џ
  if (cp == 0x0490) return 0x0491;                     // Ґ
  return cp;
}

struct CaseTables {
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> lower{};
  constexpr CaseTables() {
    for (int b = 0; b < 256; ++b) upper[b] = lower[b] = static_cast<unsigned char>(b);
    for (int b = 0; b < 256; ++b) {
      char32_t lc = UnicodeLower(CodePointOf(static_cast<unsigned char>(b)));
      if (lc == CodePointOf(static_cast<unsigned char>(b))) continue;
      for (int l = 0; l < 256; ++l) {
        if (CodePointOf(static_cast<unsigned char>(l)) == lc) {
          lower[b] = static_cast<unsigned char>(l);
          upper[l] = static_cast<unsigned char>(b);
        }
      }
    }
  }
};

constexpr CaseTables kCase{};

static_assert(kCase.upper[0xE0] == 0xC0 && kCase.lower[0xDF] == 0xFF);
static_assert(kCase.upper[0xB8] == 0xA8 && kCase.lower[0xA8] == 0xB8);  // Ё
static_assert(kCase.upper[0x83] == 0x81 && kCase.upper[0xBC] == 0xA3);  // ѓ, ј
static_assert(kCase.upper[0xB5] == 0xB5);                               // µ stays

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

char ByteOrQuestion(char32_t cp) {
  int b = ByteOfCodePoint(cp);
  return b < 0 ? '?' : char(b);
}

// Reads an unsigned number of the given base from text[pos..]; stops at the
// first byte that is not a digit. Returns false on overflow past `limit`.
struct DigitRun {
  uint64_t value = 0;
  size_t digits = 0;
  bool overflow = false;
  size_t end = 0;
};

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

DigitRun ReadDigits(std::string_view text, size_t pos, int base, uint64_t limit) {
  DigitRun run;
  run.end = pos;
  while (run.end < text.size()) {
    int v = base == 16 ? HexDigitValue(text[run.end])
                       : (IsDigit(text[run.end]) ? text[run.end] - '0' : -1);
    if (v < 0) break;
    uint64_t next = run.value * uint64_t(base) + uint64_t(v);
    if (run.value > (limit - uint64_t(v)) / uint64_t(base) || next > limit) {
      run.overflow = true;
      break;
    }
    run.value = next;
    ++run.digits;
    ++run.end;
  }
  return run;
}

// Sign and radix prefix of a whole number: "-", "+", then "$", "x", "X", "0x"
// or "0X" for hexadecimal. Returns the position of the first digit.
size_t ReadNumberPrefix(std::string_view t, bool& negative, int& base) {
  size_t i = 0;
  negative = false;
  base = 10;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
    negative = t[i] == '-';
    ++i;
  }
  if (i < t.size() && (t[i] == '$' || t[i] == 'x' || t[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  return i;
}

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

// ---- Case and code page ------------------------------------------------------

unsigned char UpperChar(unsigned char c) { return kCase.upper[c]; }
unsigned char LowerChar(unsigned char c) { return kCase.lower[c]; }

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(kCase.upper[static_cast<unsigned char>(c)]);
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(kCase.lower[static_cast<unsigned char>(c)]);
  return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1251(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  const size_t n = utf8.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += char(b);
      ++i;
      continue;
    }
    int need;
    char32_t cp;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3, cp = b & 0x07, min = 0x10000;
    } else {
      out += '?';  // stray continuation byte or impossible lead byte
      ++i;
      continue;
    }
    size_t j = i + 1;
    int got = 0;
    while (got < need && j < n && (static_cast<unsigned char>(utf8[j]) & 0xC0) == 0x80) {
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
      ++j;
      ++got;
    }
    // A broken sequence becomes one '?' and decoding resumes after the bytes
    // that belonged to it.
    if (got < need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      out += '?';
    else
      out += ByteOrQuestion(cp);
    i = j;
  }
  return out;
}

std::string WideToAnsi(std::u16string_view utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); ++i) {
    char16_t u = utf16[i];
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      ++i;  // a character outside the basic plane: never in the code page
      out += '?';
      continue;
    }
    out += ByteOrQuestion(u);  // lone surrogates give '?' as well
  }
  return out;
}

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out += static_cast<char16_t>(CodePointOf(static_cast<unsigned char>(c)));
  return out;
}

// ---- Text shaping -----------------------------------------------------------

std::string ChangeCase(std::string_view text, int mode) {
  switch (mode) {
    case 0:
      return LowerCase(text);
    case 1:
      return UpperCase(text);
    case 2: {
      // Only a full stop starts a sentence; blanks after it keep the flag, any
      // other byte (line breaks, digits, punctuation) takes it.
      std::string out = LowerCase(text);
      bool capitalise = true;
      for (char& c : out) {
        if (c == '.') {
          capitalise = true;
        } else if (capitalise) {
          c = static_cast<char>(UpperChar(static_cast<unsigned char>(c)));
          if (!IsBlank(c)) capitalise = false;
        }
      }
      return out;
    }
    default:
      return std::string(text);
  }
}

const char* RussianCountForm(long long n, const char* one, const char* few, const char* many) {
  const long long m = (n < 0 ? -(n % 100) : n % 100);
  if (m >= 11 && m <= 14) return many;
  if (m % 10 == 1) return one;
  if (m % 10 >= 2 && m % 10 <= 4) return few;
  return many;
}

std::string TrimBlanks(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string StripControlChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 32) out += c;
  return out;
}

int FindFrom(std::string_view sub, std::string_view text, int start) {
  if (sub.empty() || text.empty()) return 0;
  if (start < 1) start = 1;
  if (static_cast<size_t>(start) > text.size()) return 0;
  size_t p = text.find(sub, static_cast<size_t>(start - 1));
  return p == std::string_view::npos ? 0 : static_cast<int>(p + 1);
}

namespace {

// Collation weight of a byte for CompareLocale. Control bytes, ASCII and the
// rest of the code page keep their byte order; the Russian alphabet comes after
// all of them in alphabetical order with Ё/ё between Е/е and Ж/ж. Case is
// folded separately.
int CollationWeight(unsigned char b) {
  if (b == 0xA8 || b == 0xB8) return 0x200 + 2 * 5 + 1;       // Ё, ё after Е
  if (b >= 0xC0) return 0x200 + 2 * ((b - 0xC0) & 0x1F);      // А..Я, а..я
  return b;
}

}  // namespace

int CompareLocale(std::string_view a, std::string_view b, bool caseSensitive) {
  const size_t n = std::min(a.size(), b.size());
  // Primary: letters without case.
  for (size_t i = 0; i < n; ++i) {
    int wa = CollationWeight(UpperChar(static_cast<unsigned char>(a[i])));
    int wb = CollationWeight(UpperChar(static_cast<unsigned char>(b[i])));
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (!caseSensitive) return 0;
  // Texts equal but for case: the first difference decides, lower case first.
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    bool aLower = LowerChar(static_cast<unsigned char>(a[i])) == static_cast<unsigned char>(a[i]);
    return aLower ? -1 : 1;
  }
  return 0;
}

// ---- Lists -------------------------------------------------------------------

StringList SplitByText(std::string_view text, std::string_view separator) {
  StringList items;
  std::string rest = TrimBlanks(text);
  if (rest.empty() || separator.empty()) return items;
  std::string_view view(rest);
  for (size_t p; (p = view.find(separator)) != std::string_view::npos;) {
    items.push_back(TrimBlanks(view.substr(0, p)));
    view.remove_prefix(p + separator.size());
  }
  items.push_back(TrimBlanks(view));
  return items;
}

int FindTopLevelChar(char separator, std::string_view text) {
  bool inQuote = false;
  int round = 0, square = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\'') inQuote = !inQuote;
    if (inQuote) continue;
    switch (c) {
      case '(': ++round; break;
      case ')': --round; break;
      case '[': ++square; break;
      case ']': --square; break;
      default: break;
    }
    if (c == separator && round == 0 && square == 0) return static_cast<int>(i + 1);
  }
  return 0;
}

StringList SplitTopLevel(std::string_view text, char separator) {
  StringList items;
  std::string rest = TrimBlanks(text);
  if (rest.empty()) return items;
  for (bool last = false; !last;) items.push_back(TakeTopLevelItem(rest, separator, last));
  return items;
}

std::string TakeTopLevelItem(std::string& text, char separator, bool& wasLast) {
  int p = FindTopLevelChar(separator, text);
  if (p == 0) {
    wasLast = true;
    std::string item = TrimBlanks(text);
    text.clear();
    return item;
  }
  wasLast = false;
  std::string item = TrimBlanks(std::string_view(text).substr(0, size_t(p - 1)));
  text = TrimBlanks(std::string_view(text).substr(size_t(p)));
  return item;
}

int TextToIntArray(std::string_view text, int32_t* values, int highIndex) {
  if (values == nullptr || highIndex < 0) return 0;
  std::string rest = TrimBlanks(text);
  if (rest.empty()) return 0;
  int count = 0;
  for (bool last = false; !last && count <= highIndex; ++count) {
    std::string item = TakeTopLevelItem(rest, ',', last);
    int32_t v = 0;
    values[count] = StrictTextToInt(item, v) ? v : 0;
  }
  return count;
}

std::string IntArrayToText(const int32_t* values, int highIndex) {
  std::string out;
  if (values == nullptr) return out;
  for (int i = 0; i <= highIndex; ++i) {
    if (i > 0) out += ',';
    out += std::to_string(values[i]);
  }
  return out;
}

IntRect TextToRect(std::string_view text) {
  IntRect r;
  StringList items = SplitTopLevel(text, ',');
  int32_t* slots[4] = {&r.left, &r.top, &r.right, &r.bottom};
  for (size_t i = 0; i < items.size() && i < 4; ++i) *slots[i] = ClampToInt32(TextToInt(items[i]));
  return r;
}

std::string RectToText(const IntRect& r) {
  return std::to_string(r.left) + ',' + std::to_string(r.top) + ',' + std::to_string(r.right) +
         ',' + std::to_string(r.bottom);
}

// ---- Numbers and bytes ---------------------------------------------------------

int64_t TextToInt(std::string_view text) {
  std::string t = TrimBlanks(text);
  bool negative;
  int base;
  size_t i = ReadNumberPrefix(t, negative, base);
  const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                  : uint64_t(std::numeric_limits<int64_t>::max());
  DigitRun run = ReadDigits(t, i, base, limit);
  // Anything left over (or no digits at all, or too many) makes the text
  // invalid: the digits read so far count, without the sign.
  if (run.digits == 0 || run.overflow || run.end != t.size())
    return static_cast<int64_t>(std::min<uint64_t>(run.value, uint64_t(std::numeric_limits<int64_t>::max())));
  if (negative) return run.value == limit ? std::numeric_limits<int64_t>::min() : -int64_t(run.value);
  return int64_t(run.value);
}

bool StrictTextToInt(std::string_view text, int32_t& value) {
  std::string t = TrimBlanks(text);
  bool negative;
  int base;
  size_t i = ReadNumberPrefix(t, negative, base);
  const uint64_t limit = negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1;
  DigitRun run = ReadDigits(t, i, base, limit);
  if (run.digits == 0 || run.overflow || run.end != t.size()) return false;
  value = negative ? static_cast<int32_t>(-int64_t(run.value)) : static_cast<int32_t>(run.value);
  return true;
}

double TextToFloat(std::string_view text) {
  std::string t = TrimBlanks(text);
  size_t comma = t.find(',');
  if (comma != std::string::npos) t[comma] = '.';
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (first != last && *first == '+') ++first;
  double v = 0;
  auto res = std::from_chars(first, last, v, std::chars_format::general);
  if (res.ec != std::errc() || !std::isfinite(v)) return 0;
  return v;
}

std::string FloatToText(int decimals, double value) {
  decimals = std::clamp(decimals, 0, 30);
  if (!std::isfinite(value)) value = 0;
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) return "0";
  std::string out(buf, res.ptr);
  if (out.size() > 1 && out[0] == '-' &&
      out.find_first_not_of("0.", 1) == std::string::npos)
    out.erase(0, 1);  // -0.00 reads as 0.00
  return out;
}

uint32_t ParseInBase(std::string_view text, uint32_t base) {
  constexpr uint64_t kMax = 0xFFFFFFFFu;
  uint64_t sum = 0;
  uint64_t weight = 1;
  for (size_t k = 0; k < text.size(); ++k) {
    if (k > 0) {
      weight *= base;
      if (weight > kMax) return 0;
    }
    unsigned char c = UpperChar(static_cast<unsigned char>(text[text.size() - 1 - k]));
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'A' && c <= 'Z') v = c - 55;
    if (v >= 0 && uint32_t(v) < base) {
      sum += uint64_t(v) * weight;
      if (sum > kMax) return 0;
    }
  }
  return static_cast<uint32_t>(sum);
}

std::string BytesToHex(const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  if (bytes == nullptr) return out;
  out.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

size_t HexToBytes(std::string_view text, uint8_t* buffer, size_t capacity) {
  std::string digits;
  for (char c : text)
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) digits += c;
  if (buffer == nullptr) return 0;
  size_t count = std::min(digits.size() / 2, capacity);
  for (size_t i = 0; i < count; ++i)
    buffer[i] = static_cast<uint8_t>(HexDigitValue(digits[2 * i]) * 16 + HexDigitValue(digits[2 * i + 1]));
  return count;
}

// ---- Quoted settings texts -----------------------------------------------------

std::string QuoteText(std::string_view text) {
  if (text.empty()) return "''";
  std::string out;
  out.reserve(text.size() + 2);
  bool open = false;
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 32 || c == '\'') {
      if (open) out += '\'';
      open = false;
      out += '#';
      out += std::to_string(b);
    } else {
      if (!open) out += '\'';
      open = true;
      out += c;
    }
  }
  if (open) out += '\'';
  return out;
}

std::string UnquoteText(std::string_view s, bool& failed) {
  failed = true;
  if (s.size() < 2) return {};

  // Validation: outside quotes only numeric codes may stand.
  {
    bool outside = true;
    bool inCode = false;
    for (char c : s) {
      if (c == '\'') {
        outside = !outside;
        inCode = false;
      } else if (outside) {
        if (c == '#') inCode = true;
        else if (!inCode) return {};
      }
    }
    if (!outside) return {};
  }

  // Decoding.
  std::string out;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    if (s[i] == '\'') {
      // A quoted run; a doubled apostrophe inside it stands for one.
      ++i;
      for (;;) {
        if (i >= n) return out;  // cannot happen after validation
        if (s[i] == '\'') {
          if (i + 1 < n && s[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += s[i++];
      }
    } else {
      // A numeric code: "#" and a decimal number 0..255.
      if (s[i] != '#') return out;
      ++i;
      size_t start = i;
      unsigned value = 0;
      while (i < n && IsDigit(s[i])) value = std::min(value * 10 + unsigned(s[i++] - '0'), 1000u);
      if (i == start || value > 255 || (i < n && s[i] != '#' && s[i] != '\''))
        return out;
      out += static_cast<char>(value);
    }
  }
  failed = false;
  return out;
}

}  // namespace lentar
