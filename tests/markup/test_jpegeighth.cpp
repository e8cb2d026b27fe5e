// The quick 1/8 JPEG reader against libjpeg itself: the same pixels for every
// file it takes, and every other or damaged file left to libjpeg, so that an
// import never differs from what libjpeg alone would give.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "markup/jpegeighth.h"
#include "markup/picturefile.h"
#include "support/jpeg_test_support.h"

namespace lentar {
namespace {

using testing::JpegOptions;
using testing::LibjpegDecodeEighth;
using testing::MakeJpeg;

// Grain, hard edges and saturated colours: many AC coefficients, chroma
// that rings past 0 and 255, values that clamp in the colour conversion.
uint32_t Busy(int x, int y) {
  uint32_t n = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
  n *= 2654435761u;
  const int grain = static_cast<int>(n >> 26) - 32;
  const auto c = [](int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
  if ((x / 11 + y / 13) % 5 == 0) return 0x0000FF;  // pure red patches
  const uint32_t r = c(128 + static_cast<int>(120 * std::sin(x / 7.0)) + grain);
  const uint32_t g = c((x * 5 + y * 3) % 256 + grain);
  const uint32_t b = c((y * 9) % 256 - grain);
  return r | g << 8 | b << 16;
}

JpegOptions Options(int quality, int lumaH, int lumaV, int restart = 0, int components = 3) {
  JpegOptions o;
  o.quality = quality;
  o.lumaH = lumaH;
  o.lumaV = lumaV;
  o.restartInterval = restart;
  o.components = components;
  return o;
}

// Same size and pixels; on a difference, the first differing pixel.
::testing::AssertionResult SamePicture(const RgbImage& got, const testing::JpegDecodeResult& want) {
  if (got.width != want.width || got.height != want.height)
    return ::testing::AssertionFailure() << got.width << " x " << got.height << " instead of " << want.width
                                         << " x " << want.height;
  for (size_t i = 0; i < want.pixels.size(); ++i)
    if (got.pixels[i] != want.pixels[i])
      return ::testing::AssertionFailure() << "pixel " << i % want.width << "," << i / want.width << ": "
                                           << std::hex << got.pixels[i] << " instead of " << want.pixels[i];
  return ::testing::AssertionSuccess();
}

TEST(JpegEighth, GivesLibjpegsPixels) {
  struct Case {
    const char* name;
    int width, height;
    JpegOptions options;
  };
  const Case cases[] = {
      {"4:2:0", 203, 157, Options(90, 2, 2)},
      {"4:2:0 q50 restarts every 3 MCUs", 203, 157, Options(50, 2, 2, 3)},
      {"4:2:0 q95 restarts every MCU", 77, 61, Options(95, 2, 2, 1)},
      {"4:2:0 q100", 96, 80, Options(100, 2, 2)},
      {"4:4:4 q95", 131, 45, Options(95, 1, 1)},
      {"4:4:4 q50 restarts every 7 MCUs", 131, 45, Options(50, 1, 1, 7)},
      {"4:2:2 q50", 150, 99, Options(50, 2, 1)},
      {"4:2:2 restarts every 2 MCUs", 150, 99, Options(90, 2, 1, 2)},
      {"4:4:0", 99, 150, Options(75, 1, 2)},
      {"grey q95", 123, 87, Options(95, 1, 1, 0, 1)},
      {"grey q50 restarts every 5 blocks", 123, 87, Options(50, 1, 1, 5, 1)},
      {"one pixel", 1, 1, Options(90, 2, 2)},
      {"less than a block", 9, 17, Options(90, 2, 2)},
      {"exactly one MCU", 16, 16, Options(90, 2, 2)},
      {"tall and narrow", 3, 300, Options(90, 2, 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string jpeg = MakeJpeg(c.width, c.height, Busy, c.options);
    const auto want = LibjpegDecodeEighth(jpeg);
    ASSERT_TRUE(want);
    RgbImage image;
    ASSERT_TRUE(DecodeJpegEighth(jpeg, 1, 0, -1, -1, image));
    EXPECT_TRUE(SamePicture(image, *want));

    // Windows of rows and columns, as the importer cuts them.
    const int rows = (c.height + 7) / 8;
    const int windows[][3] = {{3, 5, 7}, {0, 1, -1}, {rows - 1, 10, 100}, {0, 0, -1}, {rows + 4, 2, 3}};
    for (const auto& w : windows) {
      const auto wantWindow = LibjpegDecodeEighth(jpeg, w[0], w[1], w[2]);
      ASSERT_TRUE(wantWindow);
      RgbImage window;
      ASSERT_TRUE(DecodeJpegEighth(jpeg, 1, w[0], w[1], w[2], window));
      EXPECT_TRUE(SamePicture(window, *wantWindow)) << "rows " << w[0] << " + " << w[1] << ", columns " << w[2];
    }
  }
}

TEST(JpegEighth, LeavesOtherFilesToLibjpeg) {
  struct Case {
    const char* name;
    JpegOptions options;
  };
  std::vector<Case> cases;
  const auto add = [&cases](const char* name, auto change) {
    JpegOptions o;
    change(o);
    cases.push_back({name, o});
  };
  add("progressive", [](JpegOptions& o) { o.progressive = true; });
  add("arithmetic coding", [](JpegOptions& o) { o.arithmetic = true; });
  add("a scan per component", [](JpegOptions& o) { o.separateScans = true; });
  add("RGB with Adobe's marker", [](JpegOptions& o) { o.rgb = true; });
  add("4:1:1", [](JpegOptions& o) { o.lumaH = 4, o.lumaV = 1; });
  add("chroma sampled 2x1 under 2x2 luma", [](JpegOptions& o) { o.chromaH = 2; });
  add("3x1 luma", [](JpegOptions& o) { o.lumaH = 3, o.lumaV = 1; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string jpeg = MakeJpeg(90, 70, Busy, c.options);
    RgbImage image;
    EXPECT_FALSE(DecodeJpegEighth(jpeg, 1, 0, -1, -1, image));
    const auto want = LibjpegDecodeEighth(jpeg);
    ASSERT_TRUE(want);
    ASSERT_TRUE(DecodeJpeg(jpeg, 1, 0, -1, -1, image));
    EXPECT_TRUE(SamePicture(image, *want));
  }

  // Only where libjpeg would scale by 1/8: 64 rows give 8.
  const std::string jpeg = MakeJpeg(64, 64, Busy);
  RgbImage image;
  EXPECT_TRUE(DecodeJpegEighth(jpeg, 8, 0, -1, -1, image));
  EXPECT_FALSE(DecodeJpegEighth(jpeg, 9, 0, -1, -1, image));
  EXPECT_FALSE(DecodeJpegEighth(jpeg, 0, 0, -1, -1, image));
  ASSERT_TRUE(DecodeJpeg(jpeg, 9, 0, -1, -1, image));
  EXPECT_EQ(image.height, 16);
}

// Damage of every kind at every place: the importer's decode (quick reader
// first) ends exactly as libjpeg alone ends - the same refusal, or the same
// pixels where libjpeg still reads the file.
TEST(JpegEighth, DamagedFilesEndAsWithLibjpeg) {
  const auto check = [](const std::string& jpeg, const std::string& what) {
    const auto want = LibjpegDecodeEighth(jpeg);
    RgbImage image;
    const bool ok = DecodeJpeg(jpeg, 1, 0, -1, -1, image);
    EXPECT_EQ(ok, want.has_value()) << what;
    if (ok && want) {
      EXPECT_TRUE(SamePicture(image, *want)) << what;
    }
  };
  const std::string files[] = {MakeJpeg(40, 33, Busy, Options(80, 2, 2, 2)), MakeJpeg(40, 33, Busy, Options(60, 2, 1)),
                               MakeJpeg(40, 33, Busy, Options(90, 1, 1, 3, 1))};
  for (const std::string& original : files) {
    RgbImage image;
    ASSERT_TRUE(DecodeJpegEighth(original, 1, 0, -1, -1, image));
    for (size_t length = 0; length < original.size(); ++length)
      check(original.substr(0, length), "cut to " + std::to_string(length));
    for (size_t at = 0; at < original.size(); ++at) {
      for (const int change : {0x01, 0x10, 0x80}) {
        std::string bad = original;
        bad[at] = static_cast<char>(bad[at] ^ change);
        check(bad, "byte " + std::to_string(at) + " ^ " + std::to_string(change));
      }
      for (const char value : {'\x00', '\xFF'}) {
        std::string bad = original;
        bad[at] = value;
        check(bad, "byte " + std::to_string(at) + " = " + std::to_string(static_cast<uint8_t>(value)));
      }
    }
    // Garbage bytes before the end marker and before each restart marker.
    for (size_t at = original.find("\xFF\xD0"); at != std::string::npos; at = original.find('\xFF', at + 2))
      check(original.substr(0, at) + "ab" + original.substr(at), "bytes before the marker at " + std::to_string(at));
    check(original.substr(0, original.size() - 2) + "abcdefghijkl\xFF\xD9", "garbage before the end");
  }
}

}  // namespace
}  // namespace lentar
