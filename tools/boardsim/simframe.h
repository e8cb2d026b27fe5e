// The simulator's own reading and writing of link frames.
//
// A frame on the wire is [length, sum, rotated sum, payload...]: the length
// byte counts the whole frame (payload + 3), the check bytes cover the payload
// only, and a frame starts with the first byte after the line has been quiet
// for the board's inter-byte gap or right after the previous frame ended.
//
// This is written apart from the program's link code on purpose: were the
// two sides to share their framing, a fault in it would pass every exchange
// with the simulator and show only on a real board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace lentar::boardsim {

// The largest payload a length byte can announce.
inline constexpr size_t kMaxPayload = 255 - 3;

// The frame around payload; empty when the payload is empty or longer than
// kMaxPayload.
std::vector<uint8_t> WrapFrame(const std::vector<uint8_t>& payload);

// Collects received bytes into frames, one byte at a time.
class FrameReader {
 public:
  // gapMs: a byte arriving this long or longer after the previous one starts
  // a new frame, abandoning a frame still being collected.
  explicit FrameReader(int64_t gapMs) : gapMs_(gapMs) {}

  // Takes one byte received at nowMs (a monotonic millisecond clock). Returns
  // the payload when the byte completes a frame whose checks hold; a frame
  // whose length byte is below 4 or whose checks fail is dropped silently.
  std::optional<std::vector<uint8_t>> Feed(uint8_t byte, int64_t nowMs);

 private:
  int64_t gapMs_;
  int64_t lastMs_ = 0;
  std::vector<uint8_t> frame_;  // bytes of the frame being collected
};

}  // namespace lentar::boardsim
