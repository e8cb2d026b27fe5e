// Reading board data images back into text runs and records.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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
    lines.push_back(DescribeImageEntry(e, image.data()));
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
      "TEXT 2 bytes", "FONT 2",         "PAUSE 300", "BLINK 1 mask 7", "PAR kind 1 width 30",
      "JMP 5 stop 1", "FRAME 1 stop 0", "SPD 1",     "SP 255",         "SP 45",
      "INV 1",        "BCOL 0",         "FCOL 1",
      "EFF type 2 duration 40 pause 5 slowdown 0 fragment 3",
      "IMG 120 bytes", "IMG 10 bytes",  "TEXT 3 bytes",
  };
  EXPECT_EQ(Describe(CompileBoardData(tags, 1, 1, SIZE_MAX).image), expected);
}

TEST(ImageDump, BytesThatAreNoRecordAreFlagged) {
  const struct {
    std::vector<uint8_t> image;
    std::vector<std::string> lines;
  } cases[] = {
      {{}, {}},
      {{0x00, 0x03, 0x00, 0x0E, 0x05, 'A'}, {"UNPARSABLE 5 bytes: 00 03 00 0E 05", "TEXT 1 bytes"}},
      {{0x00, 0x04, 0x00, 0x01, 0x02, 0x03}, {"UNPARSABLE 6 bytes: 00 04 00 01 02 03"}},
      {{0x00, 0x03, 0x10, 0x09, 0x05}, {"UNPARSABLE 5 bytes: 00 03 10 09 05"}},  // SP has no duration
      {{0x00, 0x05, 0x02, 0x03, 0x01, 0x00, 0x00}, {"UNPARSABLE 7 bytes: 00 05 02 03 01 00 00"}},
      {{'A', 0x00, 0x05, 0x01}, {"TEXT 1 bytes", "UNPARSABLE 3 bytes: 00 05 01"}},  // cut off
      {{'A', 0x00}, {"TEXT 1 bytes", "UNPARSABLE 1 bytes: 00"}},
      {{0x00, 0x02, 0x00, 0x02}, {"UNPARSABLE 4 bytes: 00 02 00 02"}},  // picture of no bytes
      {{0x00, 0x05, 0xF1, 0x03, 0x01, 0x00, 0xFF}, {"PAUSE 4095"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Describe(c.image), c.lines);
}

}  // namespace
}  // namespace lentar
