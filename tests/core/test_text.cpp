// Windows-1251 text utilities: case tables, code page conversion, shaping,
// splitting, numbers, hex, integer lists, the quoted settings form and the
// closest-name search.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <set>

#include "core/textmatch.h"
#include "core/textutil.h"

namespace lentar {
namespace {

// Russian test texts are written in UTF-8 and turned into board bytes.
std::string W(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

// ---- Case tables --------------------------------------------------------------

TEST(TextCaseTables, ExactlyTheCodePageLetterPairs) {
  std::vector<std::pair<int, int>> pairs = {
      {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E},
      {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4}, {0xA8, 0xB8}, {0xAA, 0xBA},
      {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
  for (int c = 'A'; c <= 'Z'; ++c) pairs.push_back({c, c + 32});
  for (int c = 0xC0; c <= 0xDF; ++c) pairs.push_back({c, c + 32});

  std::set<int> paired;
  for (auto [upper, lower] : pairs) {
    SCOPED_TRACE(testing::Message() << std::hex << upper << "/" << lower);
    EXPECT_EQ(UpperChar(lower), upper);
    EXPECT_EQ(LowerChar(upper), lower);
    EXPECT_EQ(UpperChar(upper), upper);
    EXPECT_EQ(LowerChar(lower), lower);
    paired.insert(upper);
    paired.insert(lower);
  }
  for (int b = 0; b < 256; ++b) {
    if (paired.count(b)) continue;
    SCOPED_TRACE(b);
    EXPECT_EQ(UpperChar(b), b);
    EXPECT_EQ(LowerChar(b), b);
  }
}

TEST(TextCaseTables, WholeTexts) {
  EXPECT_EQ(UpperCase(W(u8"ёжик Ђђ abc")), W(u8"ЁЖИК ЂЂ ABC"));
  EXPECT_EQ(LowerCase(W(u8"ЁЖИК Її ABC")), W(u8"ёжик її abc"));
}

// ---- Code page conversion ---------------------------------------------------------

TEST(TextCodePage, KnownCharacters) {
  EXPECT_EQ(Cp1251ToUtf8("\x80\x81\x82\x88\xB9\xC0\xFF"), "ЂЃ‚€№Ая");
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\uFFFD");
  EXPECT_EQ(Utf8ToCp1251("€№Ёё"), "\x88\xB9\xA8\xB8");
  EXPECT_EQ(Utf8ToCp1251("a\u00E9b\u65E5"), "a?b?");  // é and 日 are not in the code page
}

TEST(TextCodePage, EveryByteSurvivesBothConversions) {
  for (int b = 0; b < 256; ++b) {
    if (b == 0x98) continue;  // no character: becomes U+FFFD and comes back as '?'
    std::string s(1, char(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(s)), s) << b;
    if (b != 0) {
      EXPECT_EQ(WideToAnsi(AnsiToWide(s)), s) << b;
    }
  }
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8("\x98")), "?");
}

TEST(TextCodePage, BrokenUtf8BecomesQuestionMarks) {
  struct Case { std::string in, out; } cases[] = {
      {"\xFF", "?"},
      {"a\xC3", "a?"},                 // cut off at the end
      {"\xE2\x82" "A", "?A"},          // cut off before an ASCII byte
      {"\xC0\xAF", "??"},              // overlong form of '/'
      {"\xED\xA0\x80", "?"},           // a UTF-16 surrogate
      {"\xF4\x90\x80\x80", "?"},       // past U+10FFFF
      {"\x80\x80", "??"},              // stray continuation bytes
      {"\xD0\x90\xD0", "\xC0?"},       // А, then a cut sequence
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1251(c.in), c.out) << c.in;
}

TEST(TextCodePage, CompileTimeLiteralsMatchTheRunTimeConversion) {
  // Every character the compile-time form takes, in one text.
  static constexpr char8_t kEvery[] =
      u8"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ абвгдеёжзийклмнопрстуфхцчшщъыьэюя №«»–— ~1aZ";
  constexpr Cp1251Literal every(kEvery);
  EXPECT_EQ(every.view(), Utf8ToCp1251(kEvery));
  EXPECT_EQ(every.view().size(), every.size());
  EXPECT_EQ(std::strlen(every.c_str()), every.size());

  constexpr std::array<Cp1251Literal<8>, 2> table = {u8"", u8"Да"};
  EXPECT_EQ(table[0].view(), "");
  EXPECT_EQ(table[1].view(), "\xC4\xE0");
}

TEST(TextCodePage, WideToAnsiStopsAtZeroAndReplacesWhatItCannotShow) {
  EXPECT_EQ(WideToAnsi(std::u16string(u"AB\0C", 4)), "AB");
  EXPECT_EQ(WideToAnsi(u""), "");
  EXPECT_EQ(WideToAnsi(u"\u0410\U0001F600z"), "\xC0?z");  // a surrogate pair is one '?'
  EXPECT_EQ(WideToAnsi(std::u16string(1, char16_t(0xD800)) + u"x"), "?x");
}

// ---- Shaping ---------------------------------------------------------------------

TEST(TextChangeCase, Modes) {
  struct Case { std::string in; int mode; std::string out; } cases[] = {
      {W(u8"привет. как дела? хорошо.\r\nещё"), 2, W(u8"Привет. Как дела? хорошо.\r\nещё")},
      {W(u8"ЁЛКА. ёж"), 2, W(u8"Ёлка. Ёж")},
      {W(u8"ёлка. Ёж"), 1, W(u8"ЁЛКА. ЁЖ")},
      {W(u8"ЁЖИК"), 0, W(u8"ёжик")},
      {" \t hello WORLD", 2, " \t Hello world"},
      {"1. item", 2, "1. Item"},         // the digit takes the flag, the point gives it back
      {"a! b? c. \td", 2, "A! b? c. \tD"},  // only the full stop starts a sentence
      {"abc.def", 2, "Abc.Def"},
      {"MiXeD", 7, "MiXeD"},
      {"", 2, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ChangeCase(c.in, c.mode), c.out) << c.in;
}

TEST(TextShaping, TrimAndStrip) {
  EXPECT_EQ(TrimBlanks(" \tabc\r\n"), "abc\r\n");
  EXPECT_EQ(TrimBlanks("\r abc \t"), "\r abc");
  EXPECT_EQ(TrimBlanks(" \t "), "");
  EXPECT_EQ(TrimBlanks("a b"), "a b");
  EXPECT_EQ(StripControlChars("a\x01" "b\r\nc\x7F\xFF"), "abc\x7F\xFF");
}

TEST(TextShaping, FindFrom) {
  EXPECT_EQ(FindFrom("b", "abcb", 1), 2);
  EXPECT_EQ(FindFrom("b", "abcb", 3), 4);
  EXPECT_EQ(FindFrom("b", "abcb", 5), 0);
  EXPECT_EQ(FindFrom("cb", "abcb", 0), 3);
  EXPECT_EQ(FindFrom("", "abc", 1), 0);
  EXPECT_EQ(FindFrom("a", "", 1), 0);
}

TEST(TextShaping, CompareLocale) {
  EXPECT_EQ(CompareLocale(W(u8"Е"), W(u8"Ё"), false), -1);
  EXPECT_EQ(CompareLocale(W(u8"ёж"), W(u8"жук"), false), -1);
  EXPECT_EQ(CompareLocale(W(u8"яблоко"), W(u8"Ёж"), false), 1);
  EXPECT_EQ(CompareLocale("zebra", W(u8"арбуз"), false), -1);  // Latin before Cyrillic
  EXPECT_EQ(CompareLocale(W(u8"абв"), W(u8"АБВ"), false), 0);
  EXPECT_EQ(CompareLocale(W(u8"абв"), W(u8"АБВ"), true), -1);  // lower case first
  EXPECT_EQ(CompareLocale(W(u8"Абв"), W(u8"абв"), true), 1);
  EXPECT_EQ(CompareLocale("ab", "abc", true), -1);
  EXPECT_EQ(CompareLocale("Ab", "abc", true), -1);  // the letters decide before case
  EXPECT_EQ(CompareLocale("e-mail", "email", false), -1);
  EXPECT_EQ(CompareLocale("", "", true), 0);
}

// ---- Lists -----------------------------------------------------------------------

TEST(TextLists, SplitByText) {
  struct Case { std::string text, sep; StringList items; } cases[] = {
      {"", "|", {}},
      {"  \t", "|", {}},
      {" a | b ", "|", {"a", "b"}},
      {"a,,b", ",", {"a", "", "b"}},
      {"a,", ",", {"a", ""}},
      {"abc", "", {}},
      {"a--b--c", "--", {"a", "b", "c"}},
      {"x,x", ",", {"x", "x"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitByText(c.text, c.sep), c.items) << c.text;
}

TEST(TextLists, TopLevelSplitting) {
  struct Case { std::string text; StringList items; } cases[] = {
      {"a,(b,c),'x,y'", {"a", "(b,c)", "'x,y'"}},
      {" [a,b] , c ", {"[a,b]", "c"}},
      {"f(a,[b,c]),'it''s,ok',d", {"f(a,[b,c])", "'it''s,ok'", "d"}},
      {")a,b", {")a,b"}},  // depth below zero: no separator is top-level
      {"a,", {"a", ""}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitTopLevel(c.text, ','), c.items) << c.text;

  EXPECT_EQ(FindTopLevelChar(',', "'a,b',c"), 6);
  EXPECT_EQ(FindTopLevelChar(',', "(a,b)"), 0);
  EXPECT_EQ(FindTopLevelChar(';', "a;b"), 2);

  std::string text = " a , b ,c";
  bool last = true;
  EXPECT_EQ(TakeTopLevelItem(text, ',', last), "a");
  EXPECT_FALSE(last);
  EXPECT_EQ(text, "b ,c");
  EXPECT_EQ(TakeTopLevelItem(text, ',', last), "b");
  EXPECT_EQ(TakeTopLevelItem(text, ',', last), "c");
  EXPECT_TRUE(last);
}

TEST(TextLists, TextToIntArrayFillsOnlyWhatItRead) {
  struct Case { std::string text; int high; int count; std::vector<int32_t> slots; } cases[] = {
      {"10,20,30,40,50", 4, 5, {10, 20, 30, 40, 50, -1}},
      {"10,20,30,40,50", 2, 3, {10, 20, 30, -1, -1, -1}},
      {"", 4, 0, {-1, -1, -1, -1, -1, -1}},
      {"  ", 4, 0, {-1, -1, -1, -1, -1, -1}},
      {"5", 3, 1, {5, -1, -1, -1, -1, -1}},
      {" 7 , $10 , -3,0x1f", 5, 4, {7, 16, -3, 31, -1, -1}},
      {"1,x,3", 5, 3, {1, 0, 3, -1, -1, -1}},
      {"1,,3", 5, 3, {1, 0, 3, -1, -1, -1}},
      {"1,12a,99999999999", 5, 3, {1, 0, 0, -1, -1, -1}},
      {"1,2", -1, 0, {-1, -1, -1, -1, -1, -1}},
  };
  for (const auto& c : cases) {
    std::vector<int32_t> slots(6, -1);
    EXPECT_EQ(TextToIntArray(c.text, slots.data(), c.high), c.count) << c.text;
    EXPECT_EQ(slots, c.slots) << c.text;
  }
}

TEST(TextLists, IntArrayAndRectTexts) {
  const int32_t values[] = {1, -2, 300};
  EXPECT_EQ(IntArrayToText(values, 2), "1,-2,300");
  EXPECT_EQ(IntArrayToText(values, 0), "1");
  EXPECT_EQ(IntArrayToText(values, -1), "");

  EXPECT_EQ(TextToRect("10, 20,300 ,400"), (IntRect{10, 20, 300, 400}));
  EXPECT_EQ(TextToRect("1,2"), (IntRect{1, 2, 0, 0}));
  EXPECT_EQ(TextToRect("1,2,3,4,5"), (IntRect{1, 2, 3, 4}));
  EXPECT_EQ(TextToRect("a,7b,c,-d"), (IntRect{0, 7, 0, 0}));
  EXPECT_EQ(TextToRect(""), IntRect{});
  IntRect r{-100, 0, 1920, 1080};
  EXPECT_EQ(RectToText(r), "-100,0,1920,1080");
  EXPECT_EQ(TextToRect(RectToText(r)), r);
}

// ---- Numbers -----------------------------------------------------------------------

TEST(TextNumbers, TextToIntIsLenient) {
  struct Case { std::string text; int64_t value; } cases[] = {
      {"", 0},        {" 42 ", 42},    {"\t-17", -17}, {"+5", 5},
      {"$1F", 31},    {"0x1f", 31},    {"X10", 16},    {"-$10", -16},
      {"12abc", 12},  {"-12abc", 12},  {"abc", 0},     {"-", 0},
      {"1 2", 1},     {"99999999999", 99999999999},    {"0X", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TextToInt(c.text), c.value) << c.text;
}

TEST(TextNumbers, StrictTextToInt) {
  struct Case { std::string text; bool ok; int32_t value; } cases[] = {
      {"2147483647", true, 2147483647},   {"-2147483648", true, INT32_MIN},
      {" $7FFFFFFF\t", true, 2147483647}, {"-0x10", true, -16},
      {"2147483648", false, 0},           {"$80000000", false, 0},
      {"", false, 0},                     {"-", false, 0},
      {"1 2", false, 0},                  {"12a", false, 0},
      {"0x", false, 0},                   {"1.0", false, 0},
  };
  for (const auto& c : cases) {
    int32_t v = 12345;
    EXPECT_EQ(StrictTextToInt(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 12345) << c.text;
  }
}

TEST(TextNumbers, Reals) {
  EXPECT_DOUBLE_EQ(TextToFloat("1,5"), 1.5);
  EXPECT_DOUBLE_EQ(TextToFloat(" 2.25 "), 2.25);
  EXPECT_DOUBLE_EQ(TextToFloat("-0,5"), -0.5);
  EXPECT_DOUBLE_EQ(TextToFloat("+1e3"), 1000);
  EXPECT_DOUBLE_EQ(TextToFloat("abc"), 0);
  EXPECT_DOUBLE_EQ(TextToFloat(""), 0);
  EXPECT_EQ(FloatToText(2, 1.5), "1.50");
  EXPECT_EQ(FloatToText(0, 2.7), "3");
  EXPECT_EQ(FloatToText(3, -1.25), "-1.250");
  EXPECT_EQ(FloatToText(2, 1234567.891), "1234567.89");
  EXPECT_EQ(FloatToText(2, -0.001), "0.00");
}

TEST(TextNumbers, ParseInBase) {
  struct Case { std::string text; uint32_t base, value; } cases[] = {
      {"FF", 16, 255},
      {"ff", 16, 255},
      {"777", 8, 511},
      {"1Z", 36, 71},
      {"1G", 16, 16},          // G is no hex digit but still takes its place
      {"12", 2, 2},
      {"", 10, 0},
      {"4294967295", 10, 4294967295u},
      {"4294967296", 10, 0},
      {"00000000001", 10, 0},  // 11 places: the weight passes 32 bits
      {"FFFFFFFF", 16, 0xFFFFFFFFu},
      {"100000000", 16, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseInBase(c.text, c.base), c.value) << c.text;
}

TEST(TextNumbers, Hex) {
  const uint8_t bytes[] = {0x00, 0x1F, 0xA0, 0xFF};
  EXPECT_EQ(BytesToHex(bytes, 4), "001FA0FF");
  EXPECT_EQ(BytesToHex(bytes, 0), "");

  uint8_t buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(HexToBytes("1F a0", buf, 4), 1u);  // space and lower case dropped: 1F0
  EXPECT_EQ(buf[0], 0x1F);
  EXPECT_EQ(buf[1], 0xEE);
  EXPECT_EQ(HexToBytes("01 02 03 04 05", buf, 2), 2u);
  EXPECT_EQ(buf[1], 0x02);
  EXPECT_EQ(buf[2], 0xEE);
  EXPECT_EQ(HexToBytes("", buf, 4), 0u);

  std::mt19937 rng(7);
  std::vector<uint8_t> data(300), back(300);
  for (auto& b : data) b = uint8_t(rng());
  EXPECT_EQ(HexToBytes(BytesToHex(data.data(), data.size()), back.data(), back.size()), 300u);
  EXPECT_EQ(back, data);
}

// ---- Quoted settings texts ---------------------------------------------------------

TEST(TextQuoting, QuoteText) {
  EXPECT_EQ(QuoteText(""), "''");
  EXPECT_EQ(QuoteText("ab\r\nc"), "'ab'#13#10'c'");
  EXPECT_EQ(QuoteText("It's"), "'It'#39's'");
  EXPECT_EQ(QuoteText("'"), "#39");
  EXPECT_EQ(QuoteText(std::string("\0x", 2)), "#0'x'");
  EXPECT_EQ(QuoteText(W(u8"Привет №1")), "'" + W(u8"Привет №1") + "'");
}

TEST(TextQuoting, UnquoteText) {
  struct Case { std::string in, out; bool failed; } cases[] = {
      {"''", "", false},
      {"'a'", "a", false},
      {"'ab'#13#10'c'", "ab\r\nc", false},
      {"'It'#39's'", "It's", false},
      {"'a''b'", "a'b", false},      // a doubled apostrophe inside a run
      {"#13#10", "\r\n", false},
      {"#65'b'#0067", "AbC", false}, // leading zeros in a code
      {"abc", "", true},             // not in quoted form at all
      {"'a'#300", "a", true},        // code out of range: what came before stays
      {"'x'#", "x", true},
      {"'a'#1x", "a", true},
      {"##", "", true},
      {"'a' #13", "", true},         // blank outside quotes
      {"'abc", "", true},            // ends inside quotes
      {"'", "", true},
      {"", "", true},
  };
  for (const auto& c : cases) {
    bool failed = !c.failed;
    EXPECT_EQ(UnquoteText(c.in, failed), c.out) << c.in;
    EXPECT_EQ(failed, c.failed) << c.in;
  }
}

TEST(TextQuoting, RandomBytesRoundTrip) {
  std::mt19937 rng(1251);
  for (int n = 0; n < 500; ++n) {
    std::string s(rng() % 40, '\0');
    for (char& c : s) c = char(rng() % 4 == 0 ? rng() % 40 : rng());  // many control bytes
    bool failed = true;
    std::string quoted = QuoteText(s);
    ASSERT_EQ(UnquoteText(quoted, failed), s) << quoted;
    ASSERT_FALSE(failed);
    for (char c : quoted) ASSERT_GE(static_cast<unsigned char>(c), 32) << quoted;
  }
}

// ---- Closest-name search -------------------------------------------------------------

TEST(TextMatching, MatchPercent) {
  EXPECT_EQ(MatchPercent("ARIAL", "ARIAL CYR"), 100);
  EXPECT_EQ(MatchPercent("ABCD", "ABXD"), 75);           // one substituted byte
  EXPECT_EQ(MatchPercent("PRINTER", "PRNTER"), 85);      // one byte missing
  EXPECT_EQ(MatchPercent("PRINTER", "PRIINTER"), 85);    // one byte too many
  EXPECT_EQ(MatchPercent("XYZ", "ABC"), 0);
  EXPECT_EQ(MatchPercent("", "ABC"), 0);
}

TEST(TextMatching, BestMatchIndex) {
  EXPECT_EQ(BestMatchIndex("ALPHA", {"Beta Gamma", "ALPHA 2", "Alpha"}), 2);
  EXPECT_EQ(BestMatchIndex(" arial ", {"Times", "Arial Cyr"}), 1);
  EXPECT_EQ(BestMatchIndex("ARIAL", {"Arial Black", "Arial Cyr"}), 1);  // tie: shorter wins
  EXPECT_EQ(BestMatchIndex("Courier New", {"Times New Roman", "Curier New", "Arial"}), 1);
  EXPECT_EQ(BestMatchIndex("HP LaserJet 1020", {"Canon", "", "HP LaserJet 1022"}), 2);
  EXPECT_EQ(BestMatchIndex("zzz", {"", "a"}), 1);  // the first non-empty item leads at first
  EXPECT_EQ(BestMatchIndex(" \t", {"a"}), -1);
  EXPECT_EQ(BestMatchIndex("a", {"", "  "}), -1);
  EXPECT_EQ(BestMatchIndex(W(u8"курьер"), {W(u8"Arial"), W(u8"КУРЬЕР НОВЫЙ")}), 1);
}

TEST(TextMatching, LongNamesStayFast) {
  // Alternating bytes make every position branch; the search must not explode.
  std::string key(200, 'A'), cand(400, 'B');
  for (size_t i = 0; i < key.size(); i += 2) key[i] = 'B';
  for (size_t i = 0; i < cand.size(); i += 2) cand[i] = 'A';
  // "BABA…" stands in "ABAB…" from its second byte on: a full match.
  EXPECT_EQ(MatchPercent(key, cand), 100);
}

}  // namespace
}  // namespace lentar
