#include "simframe.h"

#include <algorithm>
#include <bit>
#include <numeric>

namespace lentar::boardsim {

namespace {

constexpr size_t kHeader = 3;  // length, sum, rotated sum

// Both check bytes of a payload: the plain byte sum, and the sum of every byte
// XOR 0x5A rotated right by its position modulo 8 (the first not at all).
struct Checks {
  uint8_t sum = 0;
  uint8_t rotated = 0;
};

Checks ChecksOf(const uint8_t* payload, size_t n) {
  Checks c;
  c.sum = static_cast<uint8_t>(std::accumulate(payload, payload + n, 0u));
  unsigned rotated = 0;
  for (size_t i = 0; i < n; ++i)
    rotated += std::rotr(static_cast<uint8_t>(payload[i] ^ 0x5A), static_cast<int>(i % 8));
  c.rotated = static_cast<uint8_t>(rotated);
  return c;
}

}  // namespace

std::vector<uint8_t> WrapFrame(const std::vector<uint8_t>& payload) {
  if (payload.empty() || payload.size() > kMaxPayload) return {};
  const Checks c = ChecksOf(payload.data(), payload.size());
  std::vector<uint8_t> frame = {static_cast<uint8_t>(payload.size() + kHeader), c.sum, c.rotated};
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

std::optional<std::vector<uint8_t>> FrameReader::Feed(uint8_t byte, int64_t nowMs) {
  if (!frame_.empty() && nowMs - lastMs_ >= gapMs_) frame_.clear();  // the line went quiet
  lastMs_ = nowMs;
  frame_.push_back(byte);
  // The length byte says how many bytes make the frame; one below 4 cannot
  // carry a payload, and the frame ends as soon as that many bytes are in.
  const size_t length = std::max<size_t>(frame_[0], 1);
  if (frame_.size() < length) return std::nullopt;
  std::vector<uint8_t> frame;
  frame.swap(frame_);
  if (length <= kHeader) return std::nullopt;
  const Checks c = ChecksOf(frame.data() + kHeader, length - kHeader);
  if (c.sum != frame[1] || c.rotated != frame[2]) return std::nullopt;
  return std::vector<uint8_t>(frame.begin() + kHeader, frame.end());
}

}  // namespace lentar::boardsim
