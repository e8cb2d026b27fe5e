// ScanTags with the tag encoder: every record an encoder writes stays inside
// the room it was given and is a whole, well-made record, and the output is
// exactly that of the plain algorithm that allocates the whole notional work
// buffer up front (the scanner itself grows its buffer on demand).
//
// Input: byte 0 picks the font height (bits 0-1) and channel count (bits 2-4);
// the rest is the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "markup/encoder.h"
#include "markup/imagedump.h"
#include "markup/tags.h"

namespace {

// Runs the real encoder into a heap block of exactly the room, so that the
// address sanitizer sees any byte written past it, then checks the records.
size_t CheckedEncoder(std::string_view name, std::string_view args, std::string_view extra,
                      uint8_t* out, size_t room, int fontHeightBytes, int channelCount) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[room ? room : 1]);
  const size_t written = lentar::EncodeTag(name, args, extra, exact.get(), room, fontHeightBytes,
                                           channelCount);
  CHECK(written <= room);
  if (written == 0) return 0;
  std::memcpy(out, exact.get(), written);

  // Whole records, each length byte consistent with the bytes that follow.
  for (const lentar::ImageEntry& e : lentar::ReadBoardImage(out, written)) {
    CHECK(e.kind == lentar::ImageEntry::Kind::Record);
    CHECK(out[e.offset] == 0x00);
    CHECK(size_t{out[e.offset + 1]} + 2 == e.size);
  }
  return written;
}

// The scan done the simple way: one buffer of the full notional size, the room
// of each tag being what is left of it, less one.
std::vector<uint8_t> PlainScan(std::string_view text, int fontHeight, int channels) {
  const size_t cap = lentar::ScanWorkBufferSize(text.size());
  std::vector<uint8_t> buf(cap);
  size_t length = 0;
  auto append = [&](std::string_view run) {
    const size_t n = std::min(run.size(), cap - length);
    std::memcpy(buf.data() + length, run.data(), n);
    length += n;
  };
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find("{[", pos);
    if (open == std::string_view::npos) break;
    const size_t close = text.find("]}", open);
    if (close == std::string_view::npos) break;
    append(text.substr(pos, open - pos));
    const lentar::TagParts parts = lentar::SplitTagBody(text.substr(open + 2, close - open - 2));
    const size_t room = length < cap ? cap - length - 1 : 0;
    length += lentar::EncodeTag(parts.name, parts.args, parts.extra, buf.data() + length, room,
                                fontHeight, channels);
    pos = close + 2;
  }
  if (pos < text.size()) append(text.substr(pos));
  buf.resize(length);
  return buf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int fontHeight = 1 + (data[0] & 3);
  const int channels = 1 + ((data[0] >> 2) & 7);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const lentar::ScanResult r =
      lentar::ScanTags(text, lentar::kTagOpen, lentar::kTagClose, &CheckedEncoder, fontHeight,
                       channels);
  CHECK(r.bytes.size() <= lentar::ScanWorkBufferSize(text.size()));
  CHECK(r.textCount <= text.size());
  CHECK(r.bytes == PlainScan(text, fontHeight, channels));
  // Text without any tag comes out unchanged.
  if (r.tagCount == 0) CHECK(std::string_view(reinterpret_cast<const char*>(r.bytes.data()),
                                              r.bytes.size()) == text);
  return 0;
}
