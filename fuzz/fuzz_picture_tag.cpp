// The picture tag reader on arbitrary text, for every board geometry the
// first byte picks: it never fails loudly, a failure leaves the blank picture,
// and a picture it reads encodes to a tag that reads back to the same picture.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "markup/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int heightBytes = 1 + (data[0] & 3);
  const int channels = 1 + ((data[0] >> 2) & 7);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  lentar::PictureData picture;
  picture.geometry = lentar::PictureGeometry(heightBytes, channels);
  picture.name = "before";
  const bool ok = lentar::DecodePictureTag(text, picture);
  CHECK(picture.width >= 1 && picture.width <= picture.geometry.MaxWidth());
  const unsigned colours = picture.geometry.ColourCount();
  if (!ok) {
    CHECK(picture.name == "before");
    CHECK(std::all_of(picture.pixels.begin(), picture.pixels.end(), [](uint8_t v) { return v == 0; }));
    return 0;
  }
  const std::string tag = lentar::EncodePictureTag(picture);
  lentar::PictureData again;
  again.geometry = picture.geometry;
  CHECK(lentar::DecodePictureTag(tag, again));
  CHECK(again.width == picture.width);
  const size_t used = static_cast<size_t>(picture.width) * picture.geometry.Rows();
  for (size_t i = 0; i < used; ++i) CHECK(again.pixels[i] == picture.pixels[i] && picture.pixels[i] < colours);
  CHECK(lentar::EncodePictureTag(again) == tag);

  // Rotating what was read stays inside the store and the width limits.
  const int width = lentar::RotatePicture(picture.width, picture.pixels.data(), (data[0] >> 5) * 90 % 360,
                                          heightBytes, data[0] & 0x40, data[0] & 0x80);
  CHECK(width >= 1 && width <= picture.geometry.MaxWidth());
  return 0;
}
