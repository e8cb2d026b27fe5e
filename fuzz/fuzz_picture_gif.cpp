// The check that a GIF holds its first frame whole, on arbitrary bytes: it
// reads nothing outside them, and a frame found whole stays whole when more
// bytes follow.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "markup/picturefile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!lentar::GifFirstFrameIsComplete(bytes)) return 0;
  CHECK(size >= 13);
  const std::string longer = std::string(bytes) + "\x3B";
  CHECK(lentar::GifFirstFrameIsComplete(longer));
  return 0;
}
