// CompileBoardData end to end: the size verdict matches the image, the image
// is that of the scanner over the normalised text, and the GPRS package of it
// escapes to bytes from 0x7F up and restores to the same image and version.
//
// Input: byte 0 picks font height and channels, bytes 1-2 the size limit (in
// units of 4 bytes), byte 3 the low byte of the version; the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "markup/compiler.h"
#include "markup/encoder.h"
#include "markup/gprs.h"
#include "markup/tags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int fontHeight = 1 + (data[0] & 3);
  const int channels = 1 + ((data[0] >> 2) & 7);
  const size_t limit = 4 * (size_t{data[1]} | (size_t{data[2]} << 8));
  const int32_t version = static_cast<int32_t>(0x7FFFFF00u | data[3]);
  const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);

  const lentar::CompileResult r = lentar::CompileBoardData(text, fontHeight, channels, limit);
  CHECK(r.ok == (r.length() <= limit));
  const std::string normalized = lentar::NormalizeText(text);
  CHECK(r.length() <= lentar::ScanWorkBufferSize(normalized.size()));
  const lentar::ScanResult scanned = lentar::ScanTags(
      normalized, lentar::kTagOpen, lentar::kTagClose, &lentar::EncodeTag, fontHeight, channels);
  CHECK(scanned.bytes == r.image);

  const std::vector<uint8_t> file =
      lentar::EncodeGprsPackage(1, r.image.data(), r.length(), version);
  if (r.length() == 0) {
    CHECK(file.empty());
    return 0;
  }
  for (uint8_t b : file) CHECK(b >= 0x7F);
  const auto package = lentar::UnescapeGprs(file.data(), file.size());
  CHECK(package && package->size() == r.length() + lentar::kGprsHeaderSize);
  const auto parsed = lentar::ParseGprsPackage(package->data(), package->size());
  CHECK(parsed && parsed->version == version && parsed->type == 1 && parsed->image == r.image);
  return 0;
}
