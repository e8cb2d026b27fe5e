// The quick 1/8 JPEG reader on arbitrary bytes, against libjpeg: every file it
// takes decodes to exactly libjpeg's pixels at scale 1/8, whole and cut to a
// window, and a file libjpeg refuses is never taken. Never a crash.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "markup/jpegeighth.h"
#include "support/jpeg_test_support.h"

namespace {

void Compare(const std::string& bytes, int first, int count, int columns) {
  lentar::RgbImage image;
  if (!lentar::DecodeJpegEighth(bytes, 1, first, count, columns, image)) return;
  const auto want = lentar::testing::LibjpegDecodeEighth(bytes, first, count, columns);
  CHECK(want.has_value());
  CHECK(image.width == want->width && image.height == want->height);
  CHECK(image.pixels == want->pixels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Compare(bytes, 0, -1, -1);
  Compare(bytes, 2, 3, 5);
  return 0;
}
