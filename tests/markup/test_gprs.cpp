// The GPRS package, its escaping and the version counter.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "markup/gprs.h"

namespace lentar {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(GprsPackage, ThreeLetterImage) {
  const Bytes image = {'a', 'b', 'c'};
  EXPECT_EQ(BuildGprsPackage(1, image.data(), image.size(), 1),
            (Bytes{0x2B, 0x01, 0x72, 0x04, 0x01, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00,
                   0x00, 0x00, 0x00, 0x61, 0x62, 0x63}));
  const Bytes file = {0x7F, 0xAB, 0x7F, 0x81, 0x7F, 0xF2, 0x7F, 0x84, 0x7F, 0x81, 0x7F, 0x80, 0x7F,
                      0x80, 0x7F, 0x80, 0x7F, 0x81, 0x7F, 0x83, 0x7F, 0x80, 0x7F, 0x80, 0x7F, 0x80,
                      0x7F, 0x80, 0x7F, 0x80, 0x7F, 0x80, 0x7F, 0xE1, 0x7F, 0xE2, 0x7F, 0xE3};
  ASSERT_EQ(file.size(), 38u);
  EXPECT_EQ(EncodeGprsPackage(1, image.data(), image.size(), 1), file);
}

TEST(GprsPackage, EscapingKeepsHighBytesAndPairsLowOnes) {
  const struct {
    Bytes in, out;
  } cases[] = {
      {{0x7F}, {0x7F, 0xFF}},
      {{0x80}, {0x80}},
      {{0x00, 0xFF, 0x41}, {0x7F, 0x80, 0xFF, 0x7F, 0xC1}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeGprs(c.in.data(), c.in.size()), c.out);
    EXPECT_EQ(UnescapeGprs(c.out.data(), c.out.size()), c.in);
  }
  const Bytes lowByte = {0x80, 0x41}, cutPair = {0x80, 0x7F};
  EXPECT_FALSE(UnescapeGprs(lowByte.data(), lowByte.size()));
  EXPECT_FALSE(UnescapeGprs(cutPair.data(), cutPair.size()));
}

TEST(GprsPackage, EmptyImageGivesNothing) {
  const uint8_t byte = 0;
  EXPECT_TRUE(EncodeGprsPackage(1, &byte, 0, 1).empty());
  EXPECT_TRUE(EncodeGprsPackage(1, nullptr, 5, 1).empty());
}

// Every image byte survives the round trip; the file length is the package
// length plus one per byte below 0x80; a changed byte breaks the checksums.
TEST(GprsPackage, RoundTripAndChecksums) {
  Bytes image(70000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 256);
  const Bytes package = BuildGprsPackage(1, image.data(), image.size(), 0x7FFFFFFE);
  size_t low = 0;
  for (uint8_t b : package) low += b < 0x80;
  const Bytes file = EncodeGprsPackage(1, image.data(), image.size(), 0x7FFFFFFE);
  EXPECT_EQ(file.size(), package.size() + low);
  for (uint8_t b : file) ASSERT_GE(b, 0x7F);

  const auto restored = UnescapeGprs(file.data(), file.size());
  ASSERT_TRUE(restored);
  const auto parsed = ParseGprsPackage(restored->data(), restored->size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->version, 0x7FFFFFFE);
  EXPECT_EQ(parsed->type, 1);
  EXPECT_EQ(parsed->image, image);

  Bytes damaged = package;
  damaged[20] ^= 0x01;
  EXPECT_FALSE(ParseGprsPackage(damaged.data(), damaged.size()));
  EXPECT_FALSE(ParseGprsPackage(package.data(), package.size() - 1));  // length disagrees
}

TEST(GprsVersion, StepsAndWraps) {
  const struct {
    uint32_t stored, next;
  } cases[] = {
      {0, 1}, {1, 2}, {0x7FFFFFFD, 0x7FFFFFFE}, {0x7FFFFFFE, 0}, {0x7FFFFFFF, 0}, {0xFFFFFFFF, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(NextGprsVersion(c.stored), c.next) << c.stored;
}

}  // namespace
}  // namespace lentar
