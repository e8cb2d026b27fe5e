// Text preparation, tag scanning and the editor's tag searches.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "markup/encoder.h"
#include "markup/tags.h"

namespace lentar {
namespace {

using namespace std::string_literals;

TEST(NormalizeText, LineBreaksAndEntities) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"A\r\nB", "A B"},
      {"A \r\nB", "A B"},
      {"A\r\n\r\nB", "A B"},
      {"A\rB\nC", "A B C"},
      {"\r\nA", " A"},
      {"A\n \nB", "A  B"},        // only a space written just before is looked at
      {"&#65;", "A"},
      {"x&# 65 ;y&#66;z", "xAyBz"},
      {"&#0x41;&#$42;&#+67;", "ABC"},
      {"&#0;", "\0"s},
      {"&#255;", "\xFF"},
      {"&#300;", "&#300;"},
      {"&#-1;", "&#-1;"},
      {"&#;", "&#;"},
      {"&#6 5;", "&#6 5;"},
      {"&#65", "&#65"},           // no ";" later: kept
      {"a&#65", "a&#65"},
      {"&#&#65;", "&#&#65;"},     // the first entity runs to the first ";"
      {"&#38;#65;", "&#65;"},     // a decoded byte is not decoded again
      {"&#x;&#66;", "&#x;B"},     // scanning goes on after a bad entity
      {"&#13;&#10;", "\r\n"},     // entities come after the line-break folding
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeText(c.in), c.out) << c.in;
}

// Records every call the scanner makes, to see how tags are split.
struct SeenTag {
  std::string name, args, extra;
};
std::vector<SeenTag> g_seen;

size_t RecordingEncoder(std::string_view name, std::string_view args, std::string_view extra,
                        uint8_t* out, size_t room, int, int) {
  g_seen.push_back({std::string(name), std::string(args), std::string(extra)});
  if (name != "X" || room < 1) return 0;
  out[0] = '#';
  return 1;
}

TEST(ScanTags, CopiesTextAndReplacesTags) {
  g_seen.clear();
  const std::string text = "ab{[x]}c{[ bogus : 1 , 2 / pic ]}d{[y/z]}{[x";
  const ScanResult r = ScanTags(text, kTagOpen, kTagClose, &RecordingEncoder, 1, 1);
  EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "ab#cd{[x");
  EXPECT_EQ(r.tagCount, 3u);
  EXPECT_EQ(r.textCount, 7u);
  ASSERT_EQ(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[1].name, "BOGUS");
  EXPECT_EQ(g_seen[1].args, "1 , 2");
  EXPECT_EQ(g_seen[1].extra, "pic");
  EXPECT_EQ(g_seen[2].name, "Y");
  EXPECT_EQ(g_seen[2].extra, "z");
}

TEST(ScanTags, TagsDoNotNestAndTextStaysByteForByte) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"{[A{[Spd:3]}", ""},                           // body "A{[Spd:3": unknown
      {"{[Spd:3", "{[Spd:3"},                         // no "]}": literal
      {"plain \x01\xE0\xFF text", "plain \x01\xE0\xFF text"},
      {"a\0b"s, "a\0b"s},
      {"]}{[", "]}{["},
      {"{[]}x", "x"},
      {"{[Spd:3]}{[Spd:3]}", "\x00\x05\x01\x08\x00\x03\xFF\x00\x05\x01\x08\x00\x03\xFF"s},
  };
  for (const auto& c : cases) {
    const ScanResult r = ScanTags(c.in, kTagOpen, kTagClose, &EncodeTag, 1, 1);
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), c.out) << c.in;
  }
}

// Entities are decoded before tags are looked for, so "&#123;&#91;" opens one.
TEST(ScanTags, EntitiesCanFormTags) {
  const std::string text = NormalizeText("&#123;&#91;Spd:3]}");
  const ScanResult r = ScanTags(text, kTagOpen, kTagClose, &EncodeTag, 1, 1);
  EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "\x00\x05\x01\x08\x00\x03\xFF"s);
}

// An enormous blank-column count fills the notional buffer with whole records
// and stops; the text after it is cut where the buffer ends.
TEST(ScanTags, HugeBlankRunStopsAtTheRoom) {
  const std::string text = "{[Sp:2000000000]}ABCDEFG";
  const size_t cap = ScanWorkBufferSize(text.size());
  const ScanResult r = ScanTags(text, kTagOpen, kTagClose, &EncodeTag, 1, 1);
  const size_t records = (cap - 1) / 5;
  ASSERT_LE(r.bytes.size(), cap);
  ASSERT_EQ(r.bytes.size(), records * 5 + (cap - records * 5 < 7 ? cap - records * 5 : 7));
  for (size_t i = 0; i < records; ++i) {
    const uint8_t expected[5] = {0x00, 0x03, 0x00, 0x09, 0xFF};
    ASSERT_EQ(0, std::memcmp(&r.bytes[i * 5], expected, 5)) << "record " << i;
  }
}

TEST(ScanTags, EmptyBracketsMeanNoTags) {
  const ScanResult r = ScanTags("a{[Spd:3]}", "", "]}", &EncodeTag, 1, 1);
  EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "a{[Spd:3]}");
  EXPECT_EQ(r.tagCount, 0u);
}

TEST(SplitTag, BracketsAndParts) {
  const struct {
    std::string text;
    bool ok;
    std::string name, args, extra;
  } cases[] = {
      {"{[Font:2]}", true, "FONT", "2", ""},
      {"  {[ font : 2 ]}\t", true, "FONT", "2", ""},
      {"{[Img: 1, 2 / pic/a]}", true, "IMG", "1, 2", "pic/a"},
      {"{[Img/pic]}", true, "IMG", "", "pic"},
      {"{[a/b:c]}", true, "A/B", "c", ""},                    // ":" wins over an earlier "/"
      {"{[Blink]}", true, "BLINK", "", ""},
      {Utf8ToCp1251("{[шрифт:1]}"), true, Utf8ToCp1251("ШРИФТ"), "1", ""},
      {"{[]}", false, "{[]}", "", ""},                         // "]}" not after the third byte
      {"Font:2", false, "FONT", "2", ""},
      {"{[Font:2", false, "{[FONT", "2", ""},
  };
  for (const auto& c : cases) {
    const SplitTagResult r = SplitTag(c.text);
    EXPECT_EQ(r.ok, c.ok) << c.text;
    EXPECT_EQ(r.parts.name, c.name) << c.text;
    EXPECT_EQ(r.parts.args, c.args) << c.text;
    EXPECT_EQ(r.parts.extra, c.extra) << c.text;
  }
}

// Positions are 1-based: "{[Font:2]}" spans 3..12 and "{[Spd:3]}" 15..23.
constexpr std::string_view kEditorText = "ab{[Font:2]}cd{[Spd:3]}ef";

TEST(FindTagAt, EnclosingOrPrecedingTag) {
  const struct {
    const char* name;
    int position;
    bool found;
    int openPos, closePos;
  } cases[] = {
      {"FONT", 5, true, 3, 12},
      {"Font", 3, true, 3, 12},   // caret between "{" and "["
      {"", 13, true, 3, 12},      // no name: any tag
      {"spd", 20, true, 15, 23},
      {"FONT", 20, false, 15, 23},
      {"SP", 20, false, 15, 23},  // "Spd" only starts with "SP"
      {"FONT", 1, false, 0, -1},
      {"FONT", 0, false, 0, -1},
      {"FONT", -4, false, -4, -1},
      {"SPD", 25, false, 25, -1},  // at the end: no search
      {"SPD", 1000, false, 1000, -1},
  };
  for (const auto& c : cases) {
    const TagLocation loc = FindTagAt(kEditorText, c.name, c.position);
    EXPECT_EQ(loc.found, c.found) << c.name << " at " << c.position;
    EXPECT_EQ(loc.openPos, c.openPos) << c.name << " at " << c.position;
    EXPECT_EQ(loc.closePos, c.closePos) << c.name << " at " << c.position;
  }
  EXPECT_FALSE(FindTagAt("{[Font:2", "FONT", 3).found);
  EXPECT_FALSE(FindTagAt("", "", 0).found);
}

TEST(FindTagBefore, NearestEarlierTagOfTheName) {
  const struct {
    const char* name;
    int position;
    bool found;
    int openPos;
  } cases[] = {
      {"FONT", 25, true, 3},   // steps back over the Spd tag
      {"FONT", 14, true, 3},
      {"SPD", 25, true, 15},
      {"PAUSE", 25, false, 0},
      {"FONT", 2, false, 0},
      {"FONT", -7, false, 0},
      {"FONT", INT_MAX, true, 3},  // far past the end: same as the end
      {"FONT", INT_MAX - 1, true, 3},
  };
  for (const auto& c : cases) {
    const TagLocation loc = FindTagBefore(kEditorText, c.name, c.position);
    EXPECT_EQ(loc.found, c.found) << c.name << " before " << c.position;
    if (c.found) {
      EXPECT_EQ(loc.openPos, c.openPos) << c.name << " before " << c.position;
    }
  }
}

}  // namespace
}  // namespace lentar
