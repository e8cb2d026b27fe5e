// The board data compiler: whole texts to images, and the size limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "markup/compiler.h"

namespace lentar {
namespace {

std::string AsText(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(CompileBoardData, SmallTexts) {
  const struct {
    std::string text;
    std::string image;
  } cases[] = {
      {"", ""},
      {"AB\r\nCD", "AB CD"},
      {"{[Spd:2]}", std::string("\x00\x05\x01\x08\x00\x02\xFF", 7)},
      {"A{[Unknown:1]}B", "AB"},
      {"{[Font:1]}&#65;\r\n", std::string("\x00\x03\x00\x01\x01" "A ", 7)},
  };
  for (const auto& c : cases) {
    const CompileResult r = CompileBoardData(c.text, 1, 1, 4096);
    EXPECT_TRUE(r.ok) << c.text;
    EXPECT_EQ(AsText(r.image), c.image) << c.text;
  }
}

TEST(CompileBoardData, SizeLimitCountsTheImage) {
  const CompileResult atLimit = CompileBoardData(std::string(4096, 'x'), 1, 1, 4096);
  EXPECT_TRUE(atLimit.ok);
  EXPECT_EQ(atLimit.length(), 4096u);

  const CompileResult over = CompileBoardData(std::string(4097, 'x'), 1, 1, 4096);
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(over.length(), 4097u);  // the image is still there for the caller

  // 4096 letters and one tag: the tag's record is what crosses the limit.
  const CompileResult withTag = CompileBoardData(std::string(4095, 'x') + "{[Sp:1]}", 1, 1, 4096);
  EXPECT_FALSE(withTag.ok);
  EXPECT_EQ(withTag.length(), 4100u);
}

TEST(CompileBoardData, SizeMessage) {
  EXPECT_EQ(DataSizeMessage(4097),
            Utf8ToCp1251("Размер данных (4097) превышает максимальный размер!"));
  EXPECT_EQ(DataSizeMessage(4097, 4096, Utf8ToCp1251("в файле /x/lentar.ini")),
            Utf8ToCp1251("Размер данных (4097) превышает максимальный размер! Наибольший "
                         "размер: 4096 байт (в файле /x/lentar.ini)."));
}

// The output buffer grows while compiling; the image of a long text must be
// the images of its pieces laid end to end, whatever the growth steps were.
TEST(CompileBoardData, LongTextEqualsItsPiecesLaidEndToEnd) {
  std::mt19937 rng(1234);
  const std::vector<std::string> pieces = {
      "Text ", Utf8ToCp1251("Привет, мир "), "{[Font:2]}", "{[Eff:2,40,5,0,3]}", "{[Sp:900]}",
      "{[Pause:4095]}", "&#65;", "{[Par:3,20]}", "{[Bad]}", "{[Blink:3,1]}",
  };
  std::string big;
  // Long tags that encode to nothing: one picture byte is no whole column.
  for (int i = 0; i < 300; ++i) big += "{[Img:" + std::string(i % 3 + 1, '7') + "]}";
  std::string pictures = "{[Img:1";  // 4062 bytes: 677 columns of 3 x 2 bytes
  for (int i = 1; i < 4062; ++i) pictures += "," + std::to_string(i % 256);
  pictures += "]}";

  std::string text;
  std::vector<uint8_t> expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string& piece = (i % 500 == 499) ? pictures : pieces[rng() % pieces.size()];
    const CompileResult part = CompileBoardData(piece, 3, 2, SIZE_MAX);
    text += piece;
    expected.insert(expected.end(), part.image.begin(), part.image.end());
  }
  text += big;
  const CompileResult whole = CompileBoardData(text, 3, 2, SIZE_MAX);
  EXPECT_EQ(whole.image, expected);
}

}  // namespace
}  // namespace lentar
