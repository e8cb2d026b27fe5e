// The simulator's own framing against the program's: both sides written
// apart must agree byte for byte, and each must refuse what the other would.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "comm/linkframe.h"
#include "simframe.h"

namespace {

using lentar::boardsim::FrameReader;
using lentar::boardsim::WrapFrame;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kGap = 500;

// The payloads the reader gives for bytes arriving at the given times.
std::vector<Bytes> ReadAll(FrameReader& reader, const Bytes& bytes, const std::vector<int64_t>& at) {
  std::vector<Bytes> out;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (auto payload = reader.Feed(bytes[i], at[i])) out.push_back(*payload);
  return out;
}

std::vector<int64_t> OneMsApart(size_t n, int64_t from = 1) {
  std::vector<int64_t> at(n);
  for (size_t i = 0; i < n; ++i) at[i] = from + static_cast<int64_t>(i);
  return at;
}

TEST(SimFrame, WrapsAndReadsAsTheProgramDoes) {
  std::mt19937 rng(13);
  for (size_t n : {size_t{1}, size_t{2}, size_t{7}, size_t{8}, size_t{9}, size_t{64}, size_t{252}}) {
    Bytes payload(n);
    for (auto& b : payload) b = static_cast<uint8_t>(rng());
    const Bytes frame = lentar::comm::BuildFrame(payload);
    EXPECT_EQ(WrapFrame(payload), frame) << n;
    FrameReader reader(kGap);
    EXPECT_EQ(ReadAll(reader, frame, OneMsApart(frame.size())), std::vector<Bytes>{payload}) << n;
  }
  EXPECT_TRUE(WrapFrame(Bytes{}).empty());
  EXPECT_TRUE(WrapFrame(Bytes(253, 1)).empty());
}

TEST(SimFrame, DamagedShortOrInterruptedFramesAreDropped) {
  const Bytes good = {0x06, 0x18, 0x58, 0x01, 0x0A, 0x0D};
  Bytes damaged = good;
  damaged[4] ^= 0x01;
  Bytes swappedChecks = good;
  std::swap(swappedChecks[1], swappedChecks[2]);
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<int64_t> at;
    std::vector<Bytes> payloads;
  } cases[] = {
      {"a payload byte changed", damaged, OneMsApart(good.size()), {}},
      {"check bytes swapped", swappedChecks, OneMsApart(good.size()), {}},
      // A length below 4 carries no payload; the next byte starts a frame.
      {"length 3 then a frame", Bytes{0x03, 0x00, 0x00, 0x06, 0x18, 0x58, 0x01, 0x0A, 0x0D},
       OneMsApart(9), {Bytes{0x01, 0x0A, 0x0D}}},
      {"length 0 then a frame", Bytes{0x00, 0x06, 0x18, 0x58, 0x01, 0x0A, 0x0D}, OneMsApart(7),
       {Bytes{0x01, 0x0A, 0x0D}}},
      // The line went quiet half-way: the rest starts a new frame.
      {"gap inside a frame", good, {1, 2, 3, 3 + kGap, 4 + kGap, 5 + kGap}, {}},
      {"gap just short of the limit", good, {1, 2, 3, 2 + kGap, 3 + kGap, 4 + kGap},
       {Bytes{0x01, 0x0A, 0x0D}}},
  };
  for (const auto& c : cases) {
    FrameReader reader(kGap);
    EXPECT_EQ(ReadAll(reader, c.bytes, c.at), c.payloads) << c.what;
  }
}

TEST(SimFrame, BackToBackFramesWithoutAGap) {
  const Bytes a = WrapFrame(Bytes{0x01, 0x0A, 0x01});
  const Bytes b = WrapFrame(Bytes{0x03, 0x01, 0x4F, 0x4B});
  Bytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  FrameReader reader(kGap);
  EXPECT_EQ(ReadAll(reader, both, OneMsApart(both.size())),
            (std::vector<Bytes>{{0x01, 0x0A, 0x01}, {0x03, 0x01, 0x4F, 0x4B}}));
}

}  // namespace
