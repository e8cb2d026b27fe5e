// Command records written for each tag.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "markup/compiler.h"
#include "markup/encoder.h"

namespace lentar {
namespace {

std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  unsigned v = 0;
  for (size_t i = 0; i < text.size(); i += 3) {
    if (std::sscanf(text.c_str() + i, "%2x", &v) == 1) out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

std::vector<uint8_t> Compile(const std::string& text, int fontHeight = 1, int channels = 1) {
  return CompileBoardData(text, fontHeight, channels, SIZE_MAX).image;
}

struct RecordCase {
  const char* tag;
  int fontHeight;
  const char* hex;  // expected record bytes; empty: the tag vanishes
};

class TagRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(TagRecordTest, WritesItsRecord) {
  const RecordCase& c = GetParam();
  EXPECT_EQ(Compile(c.tag, c.fontHeight), Hex(c.hex)) << c.tag;
}

INSTANTIATE_TEST_SUITE_P(
    EveryTag, TagRecordTest,
    ::testing::Values(
        RecordCase{"{[Font:258]}", 1, "00 03 00 01 02"},
        RecordCase{"{[Font:1x2]}", 1, "00 03 00 01 66"},  // "x" takes a place: 102
        RecordCase{"{[Font:-5]}", 1, "00 03 00 01 05"},
        RecordCase{"{[Pause:300]}", 1, "00 05 11 03 01 00 2C"},
        RecordCase{"{[Pause:0]}", 1, "00 05 01 03 01 00 00"},
        RecordCase{"{[Pause:4095]}", 1, "00 05 F1 03 01 00 FF"},
        RecordCase{"{[Pause:1,5]}", 1, "00 05 01 03 01 00 69"},           // one number: 105
        RecordCase{"{[Pause:1, 2, 3, 4, 5]}", 1, "00 05 01 03 01 00 00"},  // 13 characters: 0
        RecordCase{"{[Blink:0,7]}", 1, "00 06 01 04 00 00 01 07"},
        RecordCase{"{[Blink]}", 1, "00 06 01 04 00 00 01 00"},
        RecordCase{"{[Blink:4097,511]}", 1, "00 06 01 04 00 00 01 FF"},
        RecordCase{"{[Jmp:5,1]}", 1, "00 05 01 06 01 00 05"},
        RecordCase{"{[Frame:4096]}", 1, "00 05 01 07 00 00 01"},
        RecordCase{"{[Frame:2748,1]}", 1, "00 05 A1 07 01 00 BC"},
        RecordCase{"{[Spd:0]}", 1, "00 05 01 08 00 01 FF"},
        RecordCase{"{[spd:3]}", 1, "00 05 01 08 00 03 FF"},
        RecordCase{"{[ SPD : 3 ]}", 1, "00 05 01 08 00 03 FF"},
        RecordCase{"{[Spd:256]}", 1, "00 05 01 08 00 01 FF"},  // wraps to 0, then 1
        RecordCase{"{[Speed:3]}", 1, ""},
        RecordCase{"{[Sp:0]}", 1, "00 03 00 09 00"},
        RecordCase{"{[Sp]}", 1, "00 03 00 09 00"},
        RecordCase{"{[Sp:300]}", 1, "00 03 00 09 FF 00 03 00 09 2D"},
        RecordCase{"{[Sp:300]}", 2, "00 03 00 09 7F 00 03 00 09 7F 00 03 00 09 2E"},
        RecordCase{"{[Sp:300]}", 3,
                   "00 03 00 09 55 00 03 00 09 55 00 03 00 09 55 00 03 00 09 2D"},
        RecordCase{"{[Sp:300]}", 4,
                   "00 03 00 09 3F 00 03 00 09 3F 00 03 00 09 3F 00 03 00 09 3F 00 03 00 09 30"},
        RecordCase{"{[Sp:2147483648]}", 1, "00 03 00 09 00"},  // negative as a signed count
        RecordCase{"{[Inv:2]}", 1, "00 03 00 0A 01"},
        RecordCase{"{[Inv:256]}", 1, "00 03 00 0A 01"},  // non-zero before any masking
        RecordCase{"{[Inv]}", 1, "00 03 00 0A 00"},
        RecordCase{"{[FCol]}", 1, "00 03 00 0C 01"},
        RecordCase{"{[FCol:6]}", 1, "00 03 00 0C 06"},
        RecordCase{"{[BCol]}", 1, "00 03 00 0B 00"},
        RecordCase{"{[BCol:257]}", 1, "00 03 00 0B 01"},
        RecordCase{"{[Eff:2,40,5,0,3]}", 1, "00 0A 01 0D 01 02 28 00 00 05 00 03"},
        RecordCase{"{[Eff:1,40,5,0,3]}", 1, "00 0A 01 0D 01 01 28 00 00 05 00 00"},
        RecordCase{"{[Eff:3,4095,300,7,9]}", 1, "00 0A F1 0D 01 03 FF 00 00 2C 07 09"},
        RecordCase{"{[Eff]}", 1, "00 0A 01 0D 01 00 01 00 00 00 00 00"},
        RecordCase{"{[Par:1,30]}", 1, "00 06 02 05 00 1E 00 01"},
        RecordCase{"{[Par]}", 1, "00 06 02 05 00 00 00 00"},
        RecordCase{"{[Img:1,2,300,4]}", 1, "00 04 00 02 01 02"},  // stops at the bad item
        RecordCase{"{[Img:$FF, 0x10 ,7 /logo]}", 1, "00 05 00 02 FF 10 07"},
        RecordCase{"{[Img:1,2,3]}", 2, ""},  // not whole columns of two bytes
        RecordCase{"{[Img:x,1]}", 1, ""},
        RecordCase{"{[Img]}", 1, ""}));

// Pictures are cut into records of whole columns, at most 120 bytes each.
TEST(PictureRecords, ChunkedByWholeColumns) {
  struct Case {
    int fontHeight, channels;
    size_t bytes;
    std::vector<size_t> chunks;
  };
  const Case cases[] = {
      {2, 1, 130, {120, 10}},
      {1, 1, 240, {120, 120}},
      {1, 7, 140, {119, 21}},
      {4, 8, 192, {96, 96}},
      {1, 1, 4064, std::vector<size_t>(33, 120)},
  };
  for (Case c : cases) {
    if (c.bytes == 4064) c.chunks.push_back(104);
    std::string tag = "{[Img:";
    for (size_t i = 0; i < c.bytes; ++i) tag += (i ? "," : "") + std::to_string(i % 256);
    tag += "]}";
    const std::vector<uint8_t> image = Compile(tag, c.fontHeight, c.channels);

    std::vector<uint8_t> expected;
    size_t value = 0;
    for (size_t k : c.chunks) {
      expected.insert(expected.end(), {0x00, static_cast<uint8_t>(k + 2), 0x00, 0x02});
      for (size_t i = 0; i < k; ++i) expected.push_back(static_cast<uint8_t>(value++ % 256));
    }
    EXPECT_EQ(image, expected) << c.bytes << " bytes, height " << c.fontHeight << ", channels "
                               << c.channels;
  }
}

TEST(PictureRecords, TooManyItemsVanish) {
  std::string tag = "{[Img:1";
  for (int i = 1; i < 4065; ++i) tag += ",1";
  EXPECT_TRUE(Compile(tag + "]}").empty());
}

// The encoder never writes past the room it is given; a record that does not
// fit is left out, and a blank-column run stops at the last whole record.
TEST(EncodeTagRoom, NothingWrittenPastTheRoom) {
  struct Case {
    const char* name;
    const char* args;
    size_t room;
    size_t expected;
  };
  const Case cases[] = {
      {"SP", "2000", 12, 10},   {"SP", "2000", 5, 5},    {"SP", "2000", 4, 0},
      {"SP", "0", 4, 0},        {"FONT", "1", 4, 0},     {"FONT", "1", 5, 5},
      {"PAR", "1,30", 4, 0},    {"PAR", "1,30", 7, 0},   {"PAR", "1,30", 8, 8},
      {"EFF", "2", 11, 0},      {"EFF", "2", 12, 12},    {"PAUSE", "3", 6, 0},
      {"IMG", "1,2,3", 6, 0},   {"IMG", "1,2,3", 7, 7},  // needs 3 + 4 * (0 + 1)
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buf(c.room + 16, 0xEE);
    const size_t written = EncodeTag(c.name, c.args, "", buf.data(), c.room, 1, 1);
    EXPECT_EQ(written, c.expected) << c.name << ":" << c.args << " room " << c.room;
    for (size_t i = written; i < buf.size(); ++i)
      ASSERT_EQ(buf[i], 0xEE) << c.name << ":" << c.args << " room " << c.room << " byte " << i;
  }
}

// Out-of-range board geometry is clamped rather than dividing by zero.
TEST(EncodeTagRoom, GeometryOutOfRangeIsClamped) {
  uint8_t buf[64];
  EXPECT_EQ(EncodeTag("SP", "300", "", buf, sizeof buf, 0, 0), 10u);    // as height 1
  EXPECT_EQ(EncodeTag("SP", "300", "", buf, sizeof buf, 9, 1), 25u);    // as height 4
  EXPECT_EQ(EncodeTag("IMG", "1,2", "", buf, sizeof buf, -3, 0), 6u);   // unit 1
  EXPECT_EQ(EncodeTag("FONT", "1", "", nullptr, 100, 1, 1), 0u);
}

}  // namespace
}  // namespace lentar
