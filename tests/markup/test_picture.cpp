// The picture tag payload, the shifts, rotation and the nearest board colour.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "markup/picture.h"

namespace lentar {
namespace {

PictureData MakePicture(int heightBytes, int channels) {
  PictureData p;
  p.geometry = PictureGeometry(heightBytes, channels);
  return p;
}

// The lit pixels of the first `width` columns as "x,y=index" texts.
std::vector<std::string> LitPixels(const PictureData& p, int width) {
  std::vector<std::string> lit;
  for (int x = 0; x < width; ++x)
    for (int y = 0; y < p.geometry.Rows(); ++y)
      if (p.Pixel(x, y) != 0)
        lit.push_back(std::to_string(x) + "," + std::to_string(y) + "=" + std::to_string(p.Pixel(x, y)));
  return lit;
}

bool StoreIsBlank(const PictureData& p) {
  for (uint8_t v : p.pixels)
    if (v != 0) return false;
  return true;
}

TEST(PictureTag, TopAndBottomPixelOfATwoByteColumn) {
  PictureData p = MakePicture(2, 1);
  p.width = 1;
  p.SetPixel(0, 0, 1);
  p.SetPixel(0, 15, 1);
  EXPECT_EQ(EncodePictureTag(p), "{[Img:1,128 /]}");
  p.name = "logo";
  EXPECT_EQ(EncodePictureTag(p), "{[Img:1,128 /logo]}");
}

TEST(PictureTag, BlanksAndLetterCaseAreToleratedAndTheNameKept) {
  PictureData p = MakePicture(2, 1);
  ASSERT_TRUE(DecodePictureTag("  {[img : 255 , 0 /a b]}\t", p));
  EXPECT_EQ(p.width, 1);
  EXPECT_EQ(p.name, "a b");
  for (int y = 0; y < 16; ++y) EXPECT_EQ(p.Pixel(0, y), y < 8 ? 1 : 0) << "row " << y;
  EXPECT_EQ(EncodePictureTag(p), "{[Img:255,0 /a b]}");
}

TEST(PictureTag, MalformedTextsGiveTheBlankPictureAndKeepTheName) {
  const char* texts[] = {"{[Img:256]}", "{[Img:]}", "[Img:1]", "{[Pic:1]}", "",
                         "{[Img:1]} ]}", "{[Img 1]}", "{[Img:-1]}", "{[Imgx:1]}", "{[Img:/x]}"};
  for (int heightBytes : {1, 2, 4}) {
    for (const char* text : texts) {
      PictureData p = MakePicture(heightBytes, 1);
      p.name = "keep";
      p.SetPixel(3, 5, 1);
      EXPECT_FALSE(DecodePictureTag(text, p)) << text;
      EXPECT_TRUE(StoreIsBlank(p)) << text;
      EXPECT_EQ(p.name, "keep") << text;
      EXPECT_EQ(p.width, heightBytes == 1 ? 3 : 1) << text;
    }
  }
}

TEST(PictureTag, ChannelPlanesFormTheColourIndex) {
  PictureData p = MakePicture(1, 2);
  ASSERT_TRUE(DecodePictureTag("{[Img:3,1]}", p));
  EXPECT_EQ(p.width, 1);
  EXPECT_EQ(p.Pixel(0, 0), 3);
  EXPECT_EQ(p.Pixel(0, 1), 1);
  EXPECT_EQ(LitPixels(p, 1).size(), 2u);
  EXPECT_EQ(p.name, "");
  EXPECT_EQ(EncodePictureTag(p), "{[Img:3,1 /]}");
}

TEST(PictureTag, EveryGeometryRoundTrips) {
  for (int b = 1; b <= 4; ++b) {
    for (int c : {1, 3, 8}) {
      PictureData p = MakePicture(b, c);
      p.width = 7;
      p.name = "n/m";
      for (int x = 0; x < 7; ++x)
        for (int y = 0; y < 8 * b; ++y) p.SetPixel(x, y, static_cast<uint8_t>((x * 31 + y * 7) % (1 << c)));
      const std::string tag = EncodePictureTag(p);
      PictureData q = MakePicture(b, c);
      ASSERT_TRUE(DecodePictureTag(tag, q)) << tag;
      EXPECT_EQ(q.width, 7);
      EXPECT_EQ(q.name, "n/m");
      EXPECT_EQ(LitPixels(q, 7), LitPixels(p, 7)) << "B=" << b << " C=" << c;
      EXPECT_EQ(EncodePictureTag(q), tag);
    }
  }
}

TEST(PictureTag, ANameCannotEndTheTagEarly) {
  PictureData p = MakePicture(1, 1);
  p.name = "a]}b";
  const std::string tag = EncodePictureTag(p);
  EXPECT_EQ(tag, "{[Img:0 /ab]}");
  EXPECT_TRUE(DecodePictureTag(tag, p));
}

TEST(PictureTag, OnlyTheFirst16384ValuesAreReadAndTheWidthIsCapped) {
  std::string tag = "{[Img:1";
  for (int i = 1; i < 20000; ++i) tag += i < 16384 ? ",2" : ",999";
  tag += "]}";
  PictureData p = MakePicture(1, 1);
  ASSERT_TRUE(DecodePictureTag(tag, p));
  EXPECT_EQ(p.width, kMaxPictureWidth);
  EXPECT_EQ(p.Pixel(0, 0), 1);
  EXPECT_EQ(p.Pixel(16383, 1), 1);  // beyond the width but in the store
}

TEST(PictureShift, RightThenLeftRestoresAndEdgesClear) {
  PictureData p = MakePicture(2, 3);
  p.width = 4;
  for (int x = 0; x < 4; ++x) p.SetPixel(x, x * 3, static_cast<uint8_t>(x + 1));
  const std::vector<uint8_t> before = p.pixels;
  ShiftPictureRight(p);
  EXPECT_EQ(p.Pixel(0, 0), 0);
  EXPECT_EQ(p.Pixel(1, 0), 1);
  ShiftPictureLeft(p);
  EXPECT_EQ(p.pixels, before);

  // A column pushed past the picture's edge comes back.
  for (int i = 0; i < 6; ++i) ShiftPictureRight(p);
  for (int i = 0; i < 6; ++i) ShiftPictureLeft(p);
  EXPECT_EQ(p.pixels, before);

  ShiftPictureUp(p);
  EXPECT_EQ(p.Pixel(0, 0), 0);  // the top pixel left the column
  EXPECT_EQ(p.Pixel(1, 2), 2);
  EXPECT_EQ(p.Pixel(3, 15), 0);  // the bottom row entered blank
  ShiftPictureDown(p);
  EXPECT_EQ(p.Pixel(1, 3), 2);
  EXPECT_EQ(p.Pixel(0, 0), 0);
}

TEST(PictureRotate, BlankPictureBecomesFiveColumns) {
  PictureData p = MakePicture(2, 1);
  for (int angle : {0, 90, 180, 270})
    EXPECT_EQ(RotatePicture(10, p.pixels.data(), angle, 2, false, false), 5);
  EXPECT_TRUE(StoreIsBlank(p));
}

// A bar 1 2 3 in row 2 with a 4 under its left end, one-byte columns:
//   1 2 3
//   4 . .
TEST(PictureRotate, AnglesAndMirrorsOnAnAsymmetricPicture) {
  struct Case {
    int angle;
    bool mirrorX, mirrorY;
    int width;
    std::vector<std::string> lit;
  };
  const Case cases[] = {
      // The two-row box is centred: spare 6, rows 3 and 4.
      {0, false, false, 3, {"0,3=1", "0,4=4", "1,3=2", "2,3=3"}},
      {0, true, false, 3, {"0,3=4", "0,4=1", "1,4=2", "2,4=3"}},
      {0, false, true, 3, {"0,3=3", "1,3=2", "2,3=1", "2,4=4"}},
      {0, true, true, 3, {"0,4=3", "1,4=2", "2,3=4", "2,4=1"}},  // as a half turn
      {180, false, false, 3, {"0,4=3", "1,4=2", "2,3=4", "2,4=1"}},
      // Counter-clockwise: 3 over 2 over 1, the 4 right of the 1; three rows,
      // spare 5 with the odd row above: rows 3..5.
      {90, false, false, 2, {"0,3=3", "0,4=2", "0,5=1", "1,5=4"}},
      {90, true, false, 2, {"0,3=1", "0,4=2", "0,5=3", "1,3=4"}},
      {90, false, true, 2, {"0,5=4", "1,3=3", "1,4=2", "1,5=1"}},
      // Clockwise: 4 1 over . 2 over . 3; the odd spare row below: rows 2..4.
      {270, false, false, 2, {"0,2=4", "1,2=1", "1,3=2", "1,4=3"}},
      {270, true, true, 2, {"0,2=3", "0,3=2", "0,4=1", "1,4=4"}},
  };
  for (const Case& c : cases) {
    PictureData p = MakePicture(1, 3);
    p.SetPixel(0, 2, 1), p.SetPixel(1, 2, 2), p.SetPixel(2, 2, 3), p.SetPixel(0, 3, 4);
    const int width = RotatePicture(3, p.pixels.data(), c.angle, 1, c.mirrorX, c.mirrorY);
    EXPECT_EQ(width, c.width) << c.angle << " " << c.mirrorX << c.mirrorY;
    EXPECT_EQ(LitPixels(p, 8), c.lit) << c.angle << " " << c.mirrorX << c.mirrorY;
  }
}

TEST(PictureRotate, ATallBoxKeepsItsMiddleRows) {
  // A row of 11 pixels numbered 1..11 turned upright in an 8-row column: the
  // odd extra row goes from the top, for a clockwise turn from the bottom.
  for (int angle : {90, 270}) {
    PictureData p = MakePicture(1, 4);
    for (int x = 0; x < 11; ++x) p.SetPixel(x, 0, static_cast<uint8_t>(x + 1));
    ASSERT_EQ(RotatePicture(11, p.pixels.data(), angle, 1, false, false), 1);
    std::vector<int> column;
    for (int y = 0; y < 8; ++y) column.push_back(p.Pixel(0, y));
    if (angle == 90) {
      EXPECT_EQ(column, (std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2}));
    }
    else EXPECT_EQ(column, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9}));
  }
}

TEST(PictureColours, NearestIndexTiesGoToTheLowest) {
  // black, red 100, green 100, red again
  const uint32_t palette[] = {0x000000, 0x000064, 0x006400, 0x000064};
  EXPECT_EQ(NearestColourIndex(0x003232, 4, palette), 0);  // all three at 5000
  EXPECT_EQ(NearestColourIndex(0x00323C, 4, palette), 1);
  EXPECT_EQ(NearestColourIndex(0x000064, 4, palette), 1);  // exact, duplicate later
  EXPECT_EQ(NearestColourIndex(0x00FF00, 4, palette), 2);
  EXPECT_EQ(NearestColourIndex(0xFFFFFF, 0, palette), 0);
}

TEST(PictureColours, PaletteMixesTheChannels) {
  const std::array<int32_t, 8> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0, 0, 0};
  const std::vector<uint32_t> palette = PicturePalette(colours, 2);
  ASSERT_EQ(palette.size(), 4u);
  EXPECT_EQ(palette[0], 0x000000u);
  EXPECT_EQ(palette[3], 0x00FFFFu);  // red and green show yellow
}

TEST(PictureGeometry, WidthLimits) {
  PictureData p = MakePicture(4, 8);
  p.SetWidth(5000);
  EXPECT_EQ(p.width, 2016);
  p.SetWidth(0);
  EXPECT_EQ(p.width, 1);
  EXPECT_EQ(PictureGeometry(9, 0).fontHeightBytes, 4);
  EXPECT_EQ(PictureGeometry(9, 0).channelCount, 1);
}

}  // namespace
}  // namespace lentar
