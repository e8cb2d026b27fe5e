// Link frames: the envelope every board and loader message travels in.
//
// On the wire a frame is [length, sum, rotsum, payload...]: the length byte
// counts the whole frame (payload + 3), and the two check bytes are computed
// over the payload only. There is no start marker: a frame begins with the
// first byte after the line has been idle for the inter-byte gap, or right
// after the previous frame completed.
//
// This header is plain C++ (no Qt) so that the tests and the fuzzer run
// exactly the code the program receives with. The simulated board frames with
// code of its own (tools/boardsim/simframe.h), so that a fault on either side
// shows in their exchanges.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lentar::comm {

// Largest payload a frame can carry: the length byte counts up to 255.
inline constexpr size_t kMaxFramePayload = 252;
// Largest frame on the wire: the payload and the three header bytes.
inline constexpr size_t kMaxFrameSize = kMaxFramePayload + 3;
// Bytes the frame ring accepts before it starts dropping them.
inline constexpr size_t kFrameRingSize = 65536;

// Additive check byte: the payload bytes summed modulo 256.
inline uint8_t FrameSum(const uint8_t* payload, size_t n) {
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) sum += payload[i];
  return static_cast<uint8_t>(sum);
}

// Rotated-XOR check byte: each byte XOR 0x5A, rotated right by its position
// modulo 8 (the first byte not at all), summed modulo 256.
inline uint8_t FrameRotSum(const uint8_t* payload, size_t n) {
  unsigned sum = 0;
  unsigned r = 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned v = static_cast<uint8_t>(payload[i] ^ 0x5A);
    if (r > 0) v = ((v >> r) | (v << (8 - r))) & 0xFF;
    sum += v;
    if (++r == 8) r = 0;
  }
  return static_cast<uint8_t>(sum);
}

// The wire bytes of a frame around payload; empty when the payload is empty or
// longer than kMaxFramePayload (such a frame cannot be expressed).
inline std::vector<uint8_t> BuildFrame(const uint8_t* payload, size_t n) {
  if (n == 0 || n > kMaxFramePayload) return {};
  std::vector<uint8_t> frame;
  frame.reserve(n + 3);
  frame.push_back(static_cast<uint8_t>(n + 3));
  frame.push_back(FrameSum(payload, n));
  frame.push_back(FrameRotSum(payload, n));
  frame.insert(frame.end(), payload, payload + n);
  return frame;
}
inline std::vector<uint8_t> BuildFrame(const std::vector<uint8_t>& payload) {
  return BuildFrame(payload.data(), payload.size());
}

// Assembles received bytes into frames, one byte at a time, and keeps the one
// frame slot: a completed frame stays there until it is taken or until the
// first byte of the next frame arrives (then it is discarded, so the newest
// frame always wins). Not thread-safe; the owner guards it.
class FrameAssembler {
 public:
  enum class Outcome { Pending, Accepted, Rejected };

  // Feeds one byte received at nowMs (a monotonic millisecond clock). gapMs is
  // the inter-byte gap: a byte arriving gapMs or more after the previous one
  // starts a new frame and abandons a frame still being collected.
  Outcome Feed(uint8_t byte, int64_t nowMs, int64_t gapMs) {
    if (idle_ || nowMs - lastByteMs_ >= gapMs) {
      count_ = 0;
      ready_ = false;
      idle_ = true;
      expected_ = byte;
    }
    if (count_ < kFrameRingSize) {
      ring_[count_ % ring_.size()] = byte;
      ++count_;
    } else {
      overflow_ = true;
    }
    idle_ = false;
    lastByteMs_ = nowMs;
    // A length below 4 can never describe a frame with a payload: the frame is
    // rejected as soon as that many bytes (at least the length byte itself)
    // are in, without looking at bytes that never arrived.
    const size_t needed = expected_ < 1 ? 1 : expected_;
    if (count_ < needed) return Outcome::Pending;
    bool accepted = false;
    payloadLength_ = 0;
    if (expected_ > 3) {
      const size_t n = expected_ - 3u;
      const uint8_t sum = ring_[1];
      const uint8_t rotSum = ring_[2];
      for (size_t i = 0; i < n; ++i) payload_[i] = ring_[3 + i];
      accepted = FrameSum(payload_.data(), n) == sum && FrameRotSum(payload_.data(), n) == rotSum;
      if (accepted) payloadLength_ = n;
    }
    count_ = 0;
    ready_ = accepted;
    idle_ = true;
    return accepted ? Outcome::Accepted : Outcome::Rejected;
  }

  // Forgets the frame being collected and the frame in the slot.
  void Reset() {
    count_ = 0;
    expected_ = 0;
    ready_ = false;
    idle_ = true;
    payloadLength_ = 0;
  }

  bool Ready() const { return ready_; }
  // Takes the completed frame's payload (at most room bytes) and empties the
  // slot; false, with nothing copied, when no frame is ready.
  bool Take(uint8_t* destination, size_t room, size_t& length) {
    if (!ready_) return false;
    ready_ = false;
    size_t n = payloadLength_;
    payloadLength_ = 0;
    if (n > room) n = room;
    for (size_t i = 0; i < n; ++i) destination[i] = payload_[i];
    length = n;
    return true;
  }
  bool Overflowed() const { return overflow_; }

 private:
  // The frame being collected. Frames complete at 255 bytes at the latest,
  // so a ring of 256 bytes never wraps over unread data.
  std::array<uint8_t, 256> ring_{};
  size_t count_ = 0;
  size_t expected_ = 0;
  bool idle_ = true;
  bool overflow_ = false;
  int64_t lastByteMs_ = 0;
  // The frame slot.
  std::array<uint8_t, kMaxFramePayload> payload_{};
  size_t payloadLength_ = 0;
  bool ready_ = false;
};

}  // namespace lentar::comm
