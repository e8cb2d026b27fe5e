// The icon reader (bitmap and PNG images) on arbitrary bytes: refuses or gives
// a picture within the cap whose pixel count matches its size, and never
// decodes more images or pixels than its bounds allow.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_check.h"
#include "markup/picturefile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (int rows : {16, 32}) {
    lentar::RgbImage image;
    lentar::IconDecodeWork work;
    const bool decoded = lentar::DecodeIcon(bytes, rows, image, &work);
    CHECK(work.images <= lentar::kMaxIconImagesTried && work.pixels <= lentar::kMaxIconDecodePixels);
    if (!decoded) continue;
    CHECK(image.width > 0 && image.height > 0);
    CHECK(static_cast<uint64_t>(image.width) * image.height <= lentar::kMaxRasterPixels);
    CHECK(image.pixels.size() == static_cast<size_t>(image.width) * image.height);
    for (uint32_t p : image.pixels) CHECK(p <= 0xFFFFFF);
  }
  return 0;
}
