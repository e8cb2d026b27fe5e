// Reading board data images back into text runs and records.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "markup/compiler.h"
#include "markup/imagedump.h"

namespace lentar {
namespace {

std::vector<std::string> Describe(const std::vector<uint8_t>& image) {
  std::vector<std::string> lines;
  size_t covered = 0;
  for (const ImageEntry& e : ReadBoardImage(image.data(), image.size())) {
    EXPECT_EQ(e.offset, covered) << "entries must cover the image in order";
    covered += e.size;
    lines.push_back(Cp1251ToUtf8(DescribeImageEntry(e, image.data())));
  }
  EXPECT_EQ(covered, image.size());
  return lines;
}

TEST(ImageDump, EveryRecordOfACompiledSet) {
  std::string tags = "Hi{[Font:258]}{[Pause:300]}{[Blink:0,7]}{[Par:1,30]}{[Jmp:5,1]}"
                     "{[Frame:4096]}{[Spd:0]}{[Sp:300]}{[Inv:2]}{[BCol]}{[FCol]}"
                     "{[Eff:2,40,5,0,3]}{[Img:1";
  for (int i = 1; i < 130; ++i) tags += ",9";
  tags += "]}end";
  const std::vector<std::string> expected = {
      "ТЕКСТ 2 байта", "FONT 2",         "PAUSE 300", "BLINK 1 маска 7", "PAR вид 1 ширина 30",
      "JMP 5 стоп 1",  "FRAME 1 стоп 0", "SPD 1",     "SP 255",          "SP 45",
      "INV 1",         "BCOL 0",         "FCOL 1",
      "EFF тип 2 длительность 40 пауза 5 замедление 0 фрагмент 3",
      "IMG 120 байт",  "IMG 10 байт",    "ТЕКСТ 3 байта",
  };
  EXPECT_EQ(Describe(CompileBoardData(tags, 1, 1, SIZE_MAX).image), expected);
}

TEST(ImageDump, BytesThatAreNoRecordAreFlagged) {
  const struct {
    std::vector<uint8_t> image;
    std::vector<std::string> lines;
  } cases[] = {
      {{}, {}},
      {{0x00, 0x03, 0x00, 0x0E, 0x05, 'A'}, {"НЕ РАЗОБРАНО 5 байт: 00 03 00 0E 05", "ТЕКСТ 1 байт"}},
      {{0x00, 0x04, 0x00, 0x01, 0x02, 0x03}, {"НЕ РАЗОБРАНО 6 байт: 00 04 00 01 02 03"}},
      {{0x00, 0x03, 0x10, 0x09, 0x05}, {"НЕ РАЗОБРАНО 5 байт: 00 03 10 09 05"}},  // SP has no duration
      {{0x00, 0x05, 0x02, 0x03, 0x01, 0x00, 0x00}, {"НЕ РАЗОБРАНО 7 байт: 00 05 02 03 01 00 00"}},
      {{'A', 0x00, 0x05, 0x01}, {"ТЕКСТ 1 байт", "НЕ РАЗОБРАНО 3 байта: 00 05 01"}},  // cut off
      {{'A', 0x00}, {"ТЕКСТ 1 байт", "НЕ РАЗОБРАНО 1 байт: 00"}},
      {{0x00, 0x02, 0x00, 0x02}, {"НЕ РАЗОБРАНО 4 байта: 00 02 00 02"}},  // picture of no bytes
      {{0x00, 0x05, 0xF1, 0x03, 0x01, 0x00, 0xFF}, {"PAUSE 4095"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Describe(c.image), c.lines);
}

}  // namespace
}  // namespace lentar
