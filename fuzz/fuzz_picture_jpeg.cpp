// The JPEG reader on arbitrary bytes, scaled and unscaled: refuses or gives a
// picture of the size asked for; never a crash or a huge allocation from a
// lying header.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_check.h"
#include "markup/picturefile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  int width = 0, height = 0;
  if (!lentar::ReadJpegSize(bytes, width, height)) return 0;
  CHECK(width > 0 && height > 0);
  CHECK(static_cast<uint64_t>(width) * height <= lentar::kMaxJpegPixels);
  lentar::RgbImage image;
  if (lentar::DecodeJpeg(bytes, 16, 0, -1, -1, image)) {
    CHECK(image.width > 0 && image.width <= width);
    CHECK(image.height >= std::min(16, height) && image.height <= height);
    CHECK(image.pixels.size() == static_cast<size_t>(image.width) * image.height);
  }
  if (lentar::DecodeJpeg(bytes, 0, 3, 16, 100, image)) {
    CHECK(image.width == std::min(width, 100));
    CHECK(image.height == std::max(0, std::min(16, height - 3)));
  }
  return 0;
}
