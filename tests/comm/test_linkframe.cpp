// Link frames on bytes: the two check bytes, framing, and the assembler's
// rules for lengths, gaps and the single frame slot.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "comm/linkframe.h"

namespace {

using lentar::comm::BuildFrame;
using lentar::comm::FrameAssembler;
using lentar::comm::FrameRotSum;
using lentar::comm::FrameSum;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kGap = 500;

// Feeds bytes one millisecond apart starting at t; returns the last outcome.
FrameAssembler::Outcome FeedAll(FrameAssembler& a, const Bytes& bytes, int64_t& t) {
  FrameAssembler::Outcome last = FrameAssembler::Outcome::Pending;
  for (uint8_t b : bytes) last = a.Feed(b, t++, kGap);
  return last;
}

Bytes Take(FrameAssembler& a) {
  Bytes out(256);
  size_t n = 0;
  if (!a.Take(out.data(), out.size(), n)) return {};
  out.resize(n);
  return out;
}

TEST(LinkFrame, ChecksumsOfKnownPayloads) {
  struct Case {
    Bytes payload;
    Bytes frame;
  } cases[] = {
      {{0x61, 0x62, 0x63}, {0x06, 0x26, 0xA5, 0x61, 0x62, 0x63}},
      {{0x01, 0x0A, 0x0D}, {0x06, 0x18, 0x58, 0x01, 0x0A, 0x0D}},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildFrame(c.payload), c.frame);
}

TEST(LinkFrame, RotationRestartsAfterEightBytes) {
  // Nine bytes of 0x5A XOR 0x01: every byte is 0x01 after the XOR; rotated
  // right by 0..7 and then by 0 again.
  const Bytes payload(9, 0x5B);
  unsigned expected = 0;
  for (unsigned r = 0; r < 9; ++r) expected += (0x01u >> (r % 8)) | (0x01u << (8 - r % 8) & 0xFF);
  // r = 0 contributes 1 (the left shift by 8 falls outside the byte).
  EXPECT_EQ(FrameRotSum(payload.data(), payload.size()), static_cast<uint8_t>(expected));
  EXPECT_EQ(FrameSum(payload.data(), payload.size()), static_cast<uint8_t>(9 * 0x5B));
}

TEST(LinkFrame, PayloadsOutsideOneTo252CannotBeFramed) {
  EXPECT_TRUE(BuildFrame(Bytes{}).empty());
  EXPECT_TRUE(BuildFrame(Bytes(253, 1)).empty());
  EXPECT_EQ(BuildFrame(Bytes(252, 1)).size(), 255u);
}

TEST(FrameAssembler, AcceptsGoodFramesOfEveryLength) {
  for (size_t n : {size_t{1}, size_t{3}, size_t{128}, size_t{252}}) {
    Bytes payload(n);
    for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(i * 7 + 3);
    FrameAssembler a;
    int64_t t = 0;
    EXPECT_EQ(FeedAll(a, BuildFrame(payload), t), FrameAssembler::Outcome::Accepted) << n;
    EXPECT_EQ(Take(a), payload) << n;
    EXPECT_TRUE(Take(a).empty()) << "taken only once";
  }
}

TEST(FrameAssembler, LengthsZeroToThreeAreNeverAccepted) {
  for (uint8_t length = 0; length <= 3; ++length) {
    FrameAssembler a;
    int64_t t = 0;
    // The length byte and whatever follows of the would-be frame, then a good
    // frame right behind it: the short frame is rejected and the next one read.
    Bytes bytes = {length, 0x00, 0x00};
    bytes.resize(length < 1 ? 1 : length);
    EXPECT_EQ(FeedAll(a, bytes, t), FrameAssembler::Outcome::Rejected) << int(length);
    EXPECT_FALSE(a.Ready());
    EXPECT_EQ(FeedAll(a, BuildFrame(Bytes{0x42}), t), FrameAssembler::Outcome::Accepted);
    EXPECT_EQ(Take(a), Bytes{0x42});
  }
}

TEST(FrameAssembler, DamagedFramesAreDropped) {
  const Bytes good = BuildFrame(Bytes{0x61, 0x62, 0x63});
  for (size_t at : {size_t{1}, size_t{2}, size_t{3}, size_t{5}}) {
    Bytes bad = good;
    bad[at] ^= 0x10;
    FrameAssembler a;
    int64_t t = 0;
    EXPECT_EQ(FeedAll(a, bad, t), FrameAssembler::Outcome::Rejected) << at;
    EXPECT_TRUE(Take(a).empty());
  }
}

TEST(FrameAssembler, SecondOfTwoFramesWins) {
  FrameAssembler a;
  int64_t t = 0;
  FeedAll(a, BuildFrame(Bytes{1}), t);
  ASSERT_TRUE(a.Ready());
  const Bytes second = BuildFrame(Bytes{2, 2});
  // The first byte of the next frame discards the untaken one ...
  a.Feed(second[0], t++, kGap);
  EXPECT_FALSE(a.Ready());
  // ... and the second is there once complete.
  for (size_t i = 1; i < second.size(); ++i) a.Feed(second[i], t++, kGap);
  EXPECT_EQ(Take(a), (Bytes{2, 2}));
}

TEST(FrameAssembler, GapLosesTheFrameAndRestartsAtTheNextByte) {
  FrameAssembler a;
  const Bytes frame = BuildFrame(Bytes{0x61, 0x62, 0x63});
  int64_t t = 0;
  for (size_t i = 0; i < 3; ++i) a.Feed(frame[i], t++, kGap);
  t += kGap;  // the line idles for exactly the gap
  // The rest arrives late: the first late byte is read as a length byte.
  const Bytes rest(frame.begin() + 3, frame.end());
  EXPECT_NE(FeedAll(a, rest, t), FrameAssembler::Outcome::Accepted);
  EXPECT_TRUE(Take(a).empty());
  // A byte just under the gap keeps the frame together.
  FrameAssembler b;
  t = 0;
  for (size_t i = 0; i < 3; ++i) b.Feed(frame[i], t++, kGap);
  t += kGap - 2;
  EXPECT_EQ(FeedAll(b, rest, t), FrameAssembler::Outcome::Accepted);
}

TEST(FrameAssembler, TakeLimitsToRoom) {
  FrameAssembler a;
  int64_t t = 0;
  FeedAll(a, BuildFrame(Bytes{1, 2, 3, 4}), t);
  uint8_t out[2] = {};
  size_t n = 99;
  ASSERT_TRUE(a.Take(out, 2, n));
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(out[1], 2);
}

TEST(FrameAssembler, RandomBytesNeverYieldABadFrame) {
  std::mt19937 rng(12345);
  FrameAssembler a;
  int64_t t = 0;
  for (int i = 0; i < 200000; ++i) {
    t += rng() % 4 == 0 ? 600 : 0;
    if (a.Feed(static_cast<uint8_t>(rng()), t, kGap) == FrameAssembler::Outcome::Accepted) {
      const Bytes p = Take(a);
      ASSERT_FALSE(p.empty());
      ASSERT_LE(p.size(), 252u);
    }
  }
}

}  // namespace
