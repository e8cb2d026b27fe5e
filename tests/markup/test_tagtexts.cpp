// Tag texts of the tag insertion dialogs and the rules they share.
#include <gtest/gtest.h>

#include <string>

#include "markup/fonts.h"
#include "markup/tagtexts.h"

using namespace lentar;

namespace {

// A one-byte-high font whose digit d is (d + 1) columns wide except where
// widths overrides it; every other glyph is one column.
TTabFont DigitFont(const std::string& widths = "1234567890", int spacing = 1, int height = 1) {
  TTabFont font;
  font.FontName = "Digits";
  font.HeightBytes = height;
  font.CharSpacing = spacing;
  font.GlyphOffsets.assign(256, 0);
  font.GlyphData = {static_cast<uint8_t>(height)};
  font.GlyphData.insert(font.GlyphData.end(), static_cast<size_t>(height), 0x7E);
  for (int d = 0; d < 10; ++d) {
    const int columns = widths[static_cast<size_t>(d)] - '0';
    font.GlyphOffsets['0' + d] = static_cast<uint16_t>(font.GlyphData.size());
    font.GlyphData.push_back(static_cast<uint8_t>(columns * height));
    font.GlyphData.insert(font.GlyphData.end(), static_cast<size_t>(columns * height), 0xFF);
  }
  return font;
}

}  // namespace

TEST(TagTexts, ItemsAreReadLenientlyAndPaddedWithZeros) {
  const struct {
    const char* args;
    std::vector<int64_t> first;
  } cases[] = {
      {"12,1", {12, 1, 0}},
      {"", {0, 0, 0}},
      {" 7 , x, 3", {7, 0, 3}},
      {"2", {2, 0, 0}},
      {"1,2,3,4,5", {1, 2, 3}},
  };
  for (const auto& c : cases) {
    const auto items = ReadTagItems(c.args);
    ASSERT_EQ(items.size(), 32u) << c.args;
    for (size_t i = 0; i < c.first.size(); ++i) EXPECT_EQ(items[i], c.first[i]) << c.args << " #" << i;
  }
  EXPECT_EQ(ReadTagItems("1,2,3,4,5,6", 5).size(), 5u);
  EXPECT_EQ(ReadTagItems("1,2,3,4,5,6", 5)[4], 5);
}

TEST(TagTexts, EffectPageFollowsTheTagName) {
  const struct {
    const char* name;
    EffectPage page;
  } cases[] = {
      {"BLINK", EffectPage::Blink}, {"FRAME", EffectPage::Frame}, {"JMP", EffectPage::Frame},
      {"SPD", EffectPage::Speed},   {"INV", EffectPage::Inversion}, {"EFF", EffectPage::Visual},
      {"PAUSE", EffectPage::Pause}, {"SPEED", EffectPage::Pause},   {"", EffectPage::Pause},
      {"FCOL", EffectPage::Pause},
  };
  for (const auto& c : cases) EXPECT_EQ(EffectPageOfTag(c.name), c.page) << c.name;
}

TEST(TagTexts, DialogsWriteTheProgramsOwnSpelling) {
  const struct {
    std::string got;
    const char* want;
  } cases[] = {
      {PauseTagText(4095), "{[Pause:4095]}"},
      {BlinkTagText(10, 255), "{[Blink:10,255]}"},
      {FrameTagText(false, 3, false), "{[Frame:3,0]}"},
      {FrameTagText(true, 12, true), "{[Jmp:12,1]}"},
      {SpeedTagText(5), "{[Spd:5]}"},
      {InversionTagText(false), "{[Inv:0]}"},
      {InversionTagText(true), "{[Inv:1]}"},
      // The fragment size only for the two slides.
      {EffectTagText(0, 40, 5, 0, 9), "{[Eff:0,40,5,0]}"},
      {EffectTagText(1, 40, 5, 0, 9), "{[Eff:1,40,5,0]}"},
      {EffectTagText(2, 40, 5, 0, 3), "{[Eff:2,40,5,0,3]}"},
      {EffectTagText(3, 1, 4095, 50, 255), "{[Eff:3,1,4095,50,255]}"},
      {ParameterTagText(1, 30), "{[Par:1,30]}"},
      {ColorTagText(false, 3), "{[FCol:3]}"},
      {ColorTagText(true, 0), "{[BCol:0]}"},
      {FontTagText(255), "{[Font:255]}"},
      {SymbolEntity(65), "&#65;"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(TagTexts, WidestDigitHasTheMostColumnBytesLowestWinningTies) {
  const TTabFont growing = DigitFont("1234567890");
  EXPECT_EQ(WidestDigit(&growing), '8');
  const TTabFont tie = DigitFont("1414111111");
  EXPECT_EQ(WidestDigit(&tie), '1');
  EXPECT_EQ(WidestDigit(nullptr), '0');
}

TEST(TagTexts, ParameterSamplesPerKind) {
  const struct {
    int kind;
    const char* sample;
  } cases[] = {
      {0, "88:88"}, {1, "88.88.2008"}, {2, "+88"}, {3, "+88"}, {4, "88"},
      {5, "888"},   {6, "888"},        {7, "88.8"}, {8, ""},    {-1, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ParameterSample(c.kind, '8'), c.sample) << c.kind;
}

TEST(TagTexts, RecommendedWidthIsTheSampleInColumnsPlusTwo) {
  // Digit 0 is the widest (5 columns); every other glyph 1 column; spacing 1.
  const TTabFont font = DigitFont("5111111111");
  // "00:00": 4 x (5 + 1) + (1 + 1) = 26 columns.
  EXPECT_EQ(RecommendedParameterWidth(0, &font), 28);
  // "+00": 2 + 12 = 14.
  EXPECT_EQ(RecommendedParameterWidth(2, &font), 16);
  // A two-byte font counts column bytes, so divide by the height.
  const TTabFont tall = DigitFont("5111111111", 1, 2);
  EXPECT_EQ(RecommendedParameterWidth(0, &tall), 28);
  EXPECT_EQ(RecommendedParameterWidth(4, &tall), 14);
  // Without a font nothing can be measured.
  EXPECT_EQ(RecommendedParameterWidth(0, nullptr), 2);
}
