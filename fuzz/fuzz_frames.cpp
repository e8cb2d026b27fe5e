// The link frame assembler on arbitrary bytes and arrival gaps: it never
// reads outside what it received, every frame it accepts carries 1 to 252
// payload bytes whose two check bytes match, and any payload framed by
// BuildFrame comes back whole.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comm/linkframe.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using lentar::comm::BuildFrame;
  using lentar::comm::FrameAssembler;
  if (size == 0) return 0;
  // The first byte chooses where the line goes idle: byte i arrives after a
  // gap when bit (i mod 8) of it is set and i is a multiple of 8 plus that bit.
  const uint8_t gaps = data[0];
  const int64_t gapMs = 500;
  FrameAssembler assembler;
  int64_t now = 0;
  std::vector<uint8_t> payload(256);
  for (size_t i = 1; i < size; ++i) {
    now += ((gaps >> (i % 8)) & 1) != 0 && (i / 8) % 3 == 0 ? gapMs : 1;
    const auto outcome = assembler.Feed(data[i], now, gapMs);
    if (outcome != FrameAssembler::Outcome::Accepted) {
      CHECK(!assembler.Ready());
      continue;
    }
    size_t n = 0;
    CHECK(assembler.Take(payload.data(), payload.size(), n));
    CHECK(n >= 1 && n <= lentar::comm::kMaxFramePayload);
    const std::vector<uint8_t> frame = BuildFrame(payload.data(), n);
    CHECK(frame.size() == n + 3);
    CHECK(frame[0] == data[i - n - 2]);  // the length byte it was read from
    CHECK(frame[1] == data[i - n - 1] && frame[2] == data[i - n]);
  }
  // Any payload up to 252 bytes survives a round trip.
  const size_t n = std::min<size_t>(size - 1, lentar::comm::kMaxFramePayload);
  if (n > 0) {
    const std::vector<uint8_t> frame = BuildFrame(data + 1, n);
    FrameAssembler fresh;
    for (size_t i = 0; i < frame.size(); ++i) {
      const auto outcome = fresh.Feed(frame[i], static_cast<int64_t>(i), gapMs);
      CHECK((i + 1 == frame.size()) == (outcome == FrameAssembler::Outcome::Accepted));
    }
    size_t got = 0;
    CHECK(fresh.Take(payload.data(), payload.size(), got) && got == n);
    for (size_t i = 0; i < n; ++i) CHECK(payload[i] == data[1 + i]);
  }
  return 0;
}
