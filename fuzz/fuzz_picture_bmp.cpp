// The BMP reader on arbitrary bytes: refuses or gives a picture whose size
// stays within the cap and whose pixel count matches it; an accepted picture
// also imports into a board picture.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_check.h"
#include "markup/picturefile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lentar::RgbImage image;
  if (!lentar::DecodeBmp(bytes, image)) return 0;
  CHECK(image.width > 0 && image.height > 0);
  CHECK(static_cast<uint64_t>(image.width) * image.height <= lentar::kMaxRasterPixels);
  CHECK(image.pixels.size() == static_cast<size_t>(image.width) * image.height);
  // A few bytes of run-length data may describe a picture of millions of
  // pixels; the import of those is the same code as for small ones, so it is
  // tried on small pictures only, to keep the runs quick.
  if (image.pixels.size() > (size_t{1} << 16)) return 0;
  for (uint32_t p : image.pixels) CHECK(p <= 0xFFFFFF);
  const std::array<int32_t, 8> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0, 0, 0};
  const auto ask = [&](int, int h) {
    return std::optional<lentar::ImportMode>(lentar::ImportMode{size % 2 == 0, h / 3});
  };
  const lentar::PictureLoadResult r = lentar::LoadPictureBytes(
      bytes, lentar::PictureFileKind::Bmp, "f.bmp", lentar::PictureGeometry(2, 3), colours, 16384, ask);
  if (r.status == lentar::PictureLoadStatus::Ok) {
    CHECK(r.width >= 1 && r.width <= 16384 / 16);
    CHECK(r.pixels.size() == static_cast<size_t>(r.width) * 16);
    for (uint8_t v : r.pixels) CHECK(v < 8);
  }
  return 0;
}
