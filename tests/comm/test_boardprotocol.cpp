// The board protocol against a scripted board on the in-memory line: request
// bytes, reply rules, uploads (including modem-line DSR loss) and the clock.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "comm/boardprotocol.h"
#include "support/memory_board.h"

namespace {

using namespace lentar::comm;
using lentar::comm::testing::Ack;
using lentar::comm::testing::Bytes;
using lentar::comm::testing::MemoryBoard;

class BoardProtocol : public ::testing::Test {
 protected:
  void SetUp() override { Configure(session_); }

  // Every session here: board address 5, replies synchronous (a missing one
  // is missing), no pause between streamed blocks.
  static void Configure(BoardSession& session) {
    session.AddressByte = 0x85;
    session.ReplyTimeout = 100;
    session.RetryCount = 2;
    session.BlockDelay = 0;
  }

  // A board that acknowledges everything and answers data requests with a
  // block of the given size.
  void AnswerAll(size_t dataSize = 0) {
    board_.SetResponder([dataSize](const Bytes& r) -> std::optional<Bytes> {
      if (r[2] == 0x4F) return std::nullopt;
      if (dataSize == 0) return Ack();
      Bytes d(dataSize + 2, 0);
      d[0] = 0x03;
      d[1] = 0x01;
      return d;
    });
  }

  MemoryBoard board_;
  BoardSession session_{board_.Port()};
};

TEST_F(BoardProtocol, AddressBytes) {
  EXPECT_EQ(AddressByteFor(-1), 0x0A);
  EXPECT_EQ(AddressByteFor(5), 0x85);
  EXPECT_EQ(AddressByteFor(0), 0x80);
  EXPECT_EQ(AddressByteFor(127), 0xFF);
}

TEST_F(BoardProtocol, RequestBytesOfEveryCommand) {
  AnswerAll();
  BoardSession& p = session_;
  const uint8_t block[2] = {0xAA, 0xBB};
  struct Case {
    std::function<void()> call;
    Bytes request;
  } cases[] = {
      {[&] { CmdConnect(p); },
       {1, 0x85, 0x01, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
      {[&] { std::string v; CmdReadVersion(p, v); }, {1, 0x85, 0x03, 0, 0, 0, 0, 0}},
      {[&] { AutoBrightBlock b; CmdReadAutoBright(p, b); }, {1, 0x85, 0x04}},
      {[&] { CmdWriteAutoBright(p, {1, 2, 3, 4, 5, 6}); }, {1, 0x85, 0x05, 1, 2, 3, 4, 5, 6}},
      {[&] { BoardClock c; CmdReadClock(p, c); }, {1, 0x85, 0x08, 0, 0, 0, 0, 0}},
      {[&] { CmdSetFlip(p, true); }, {1, 0x85, 0x0C, 1}},
      {[&] { StatusBlock s; CmdReadStatus(p, s); }, {1, 0x85, 0x0D}},
      {[&] { CmdSetBrightness(p, 7); }, {1, 0x85, 0x17, 7}},
      {[&] { CmdWriteBlock(p, 1, 0x1234, block, 2); }, {1, 0x85, 0x2C, 1, 0x34, 0x12, 0xAA, 0xBB}},
      {[&] { ClearBuffer(p, 1); }, {1, 0x85, 0x2C, 1, 0, 0}},
      {[&] { CmdStartBuffer(p, 1); }, {1, 0x85, 0x2D, 1}},
      {[&] { CmdSetSpeed(p, 4); }, {1, 0x85, 0x2F, 4}},
      {[&] { CmdSetDefaultFont(p, 2); }, {1, 0x85, 0x30, 2}},
      {[&] { BufferInfo i; CmdReadBufferInfo(p, i); }, {1, 0x85, 0x34}},
      {[&] { CmdEnterPassword(p, ""); }, {1, 0x85, 0x35, 0}},
      {[&] { CmdEnterPassword(p, "123456789"); }, {1, 0x85, 0x35, '1', '2', '3', '4', '5', '6', '7', '8'}},
      {[&] { CmdSetPassword(p, ""); }, {1, 0x85, 0x36}},
      {[&] { CmdSetPassword(p, "ab"); }, {1, 0x85, 0x36, 'a', 'b'}},
      {[&] { CmdSetBaud(p, 7); }, {1, 0x85, 0x37, 7}},
      {[&] { OptionsBlock o; CmdReadOptions(p, o); }, {1, 0x85, 0x3F}},
      {[&] { CmdSetClearOnSwitch(p, true); }, {1, 0x85, 0x44, 1}},
      {[&] { CmdEnterModemPassword(p, ""); }, {1, 0x85, 0x46}},
      {[&] { CmdQueryModemAccess(p); }, {1, 0x85, 0x47}},
      {[&] { CmdBeginStream(p); }, {1, 0x85, 0x4E}},
      {[&] { CmdStreamBlock(p, 0, 128, block, 2); }, {1, 0x85, 0x4F, 0, 0x80, 0, 0xAA, 0xBB}},
      {[&] { BlockMap m; CmdReadBlockMap(p, m); }, {1, 0x85, 0x50}},
  };
  for (const auto& c : cases) {
    const size_t before = board_.Requests().size();
    c.call();
    ASSERT_EQ(board_.Requests().size(), before + 1);
    EXPECT_EQ(board_.Requests().back(), c.request) << "command 0x" << std::hex << int(c.request[2]);
  }
}

TEST_F(BoardProtocol, TextRepliesAreJudgedUpToTheFirstZeroByte) {
  struct Case {
    Bytes reply;
    bool acknowledged;
  } cases[] = {
      {{0x02, 0x01, 'O', 'K'}, true},
      {{0x02, 0x01, 'O', 'K', 0x00, 'X', 'Y'}, true},
      {{'O', 'K'}, false},
      {{0x02, 0x01, 'O', 'K', '!'}, false},
      {{0x02, 0x01, 'E', 'R'}, false},
      {{0x03, 0x01, 'O', 'K'}, false},
  };
  for (const auto& c : cases) {
    board_.SetResponder([&](const Bytes&) { return std::optional<Bytes>(c.reply); });
    EXPECT_EQ(CmdSetSpeed(session_, 1), c.acknowledged) << c.reply.size();
  }
  board_.SetResponder([](const Bytes&) {
    return std::optional<Bytes>(Bytes{0x02, 0x01, 'C', 'O', 'N', 'O', 'K'});
  });
  EXPECT_TRUE(CmdConnect(session_));
  board_.SetResponder(nullptr);
  EXPECT_FALSE(CmdSetSpeed(session_, 1)) << "no reply at all";
}

TEST_F(BoardProtocol, DataRepliesMustHaveTheirExactLengthAndType) {
  struct Case {
    size_t dataBytes;
    Bytes header;
    bool accepted;
  } cases[] = {
      {22, {0x03, 0x01}, true},  {21, {0x03, 0x01}, false}, {23, {0x03, 0x01}, false},
      {22, {0x02, 0x01}, false}, {22, {0x03, 0x02}, false},
  };
  for (const auto& c : cases) {
    board_.SetResponder([&](const Bytes&) {
      Bytes reply = c.header;
      for (size_t i = 0; i < c.dataBytes; ++i) reply.push_back(static_cast<uint8_t>(i));
      return std::optional<Bytes>(reply);
    });
    StatusBlock status;
    EXPECT_EQ(CmdReadStatus(session_, status), c.accepted) << c.dataBytes;
    if (c.accepted) {
      EXPECT_EQ(status.Speed(), 4);
      EXPECT_EQ(status.AccessGranted(), true);
    }
  }
}

TEST_F(BoardProtocol, PasswordCommandsTellNoReplyFromRefusal) {
  board_.SetResponder(nullptr);
  PasswordReply r = CmdEnterPassword(session_, "1");
  EXPECT_FALSE(r.replied);
  EXPECT_FALSE(r.accepted);
  board_.SetResponder([](const Bytes&) { return std::optional<Bytes>(Bytes{0x02, 0x01, 'N', 'O'}); });
  r = CmdEnterPassword(session_, "1");
  EXPECT_TRUE(r.replied);
  EXPECT_FALSE(r.accepted);
  AnswerAll();
  r = CmdQueryModemAccess(session_);
  EXPECT_TRUE(r.replied);
  EXPECT_TRUE(r.accepted);
}

TEST_F(BoardProtocol, ALateReplyNeverPassesForTheNextOne) {
  board_.SetResponder(nullptr);
  board_.Reply(Ack());  // arrives after its request gave up
  EXPECT_FALSE(CmdSetSpeed(session_, 1));
}

TEST_F(BoardProtocol, ClockBytesBothWays) {
  struct Case {
    BoardClock clock;
    std::array<uint8_t, 7> wire;
  } cases[] = {
      {{2024, 1, 5, 1, 13, 45, 30, 0}, {0x30, 0x45, 0x13, 1, 0x01, 0x01, 0x24}},  // Monday
      {{2023, 12, 0, 31, 23, 59, 59, 0}, {0x59, 0x59, 0x23, 7, 0x31, 0x12, 0x23}},  // Sunday
      {{2099, 2, 0, 30, 0, 0, 0, 0}, {0, 0, 0, 1, 0x30, 0x02, 0x99}},  // no such date
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeBoardClock(c.clock), c.wire);

  const uint8_t sunday[7] = {0x05, 0x04, 0x03, 0x07, 0x15, 0x06, 0x25};
  const BoardClock read = DecodeBoardClock(sunday);
  EXPECT_EQ(read, (BoardClock{2025, 6, 0, 15, 3, 4, 5, 0}));
  const uint8_t masked[7] = {0xD9, 0xD9, 0xE3, 0xF3, 0xF1, 0xF2, 0x00};
  EXPECT_EQ(DecodeBoardClock(masked), (BoardClock{2000, 12, 3, 31, 23, 59, 59, 0}));
}

TEST_F(BoardProtocol, SetClockNowSendsTheInjectedTime) {
  AnswerAll();
  const auto clock = [] { return BoardClock{2024, 1, 3, 1, 8, 9, 10, 500}; };
  ASSERT_TRUE(SetClockNow(session_, clock));
  EXPECT_EQ(board_.Requests().back(), (Bytes{1, 0x85, 0x09, 0x10, 0x09, 0x08, 1, 0x01, 0x01, 0x24}));
}

TEST_F(BoardProtocol, AcknowledgedUploadOfThreeHundredBytes) {
  AnswerAll();
  Bytes image(300);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 3);
  std::vector<int> progress;
  ASSERT_TRUE(UploadAcknowledged(session_, 1, image.data(), image.size(),
                                 [&](int p) { progress.push_back(p); }));
  const auto& r = board_.Requests();
  ASSERT_EQ(r.size(), 4u);
  for (size_t k = 0; k < 3; ++k) {
    ASSERT_EQ(r[k].size(), 6u + 128) << k;
    EXPECT_EQ(r[k][2], 0x2C);
    EXPECT_EQ(r[k][3], 1);
    EXPECT_EQ(r[k][4] | r[k][5] << 8, int(k * 128));
    for (size_t i = 0; i < 128; ++i) {
      const size_t at = k * 128 + i;
      EXPECT_EQ(r[k][6 + i], at < 300 ? image[at] : 0xFF) << at;
    }
  }
  EXPECT_EQ(r[3], (Bytes{1, 0x85, 0x2C, 1, 0x2C, 0x01})) << "end marker at 300";
  EXPECT_EQ(progress, (std::vector<int>{43, 85, 100}));
}

TEST_F(BoardProtocol, AcknowledgedUploadRetriesAndStopsAtAFailedBlock) {
  // Block 1 is refused once, then acknowledged: one retry.
  int refusals = 1;
  board_.SetResponder([&](const Bytes& r) -> std::optional<Bytes> {
    if (r.size() > 6 && r[4] == 128 && refusals-- > 0) return Bytes{0x02, 0x01, 'E', 'R'};
    return Ack();
  });
  Bytes image(300, 0x11);
  EXPECT_TRUE(UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr));
  EXPECT_EQ(board_.Requests().size(), 5u);

  // Block 1 never acknowledged: stops there, no end marker.
  MemoryBoard other;
  other.SetResponder([](const Bytes& r) -> std::optional<Bytes> {
    if (r.size() > 6 && r[4] == 128) return std::nullopt;
    return Ack();
  });
  BoardSession otherSession(other.Port());
  Configure(otherSession);
  EXPECT_FALSE(UploadAcknowledged(otherSession, 0, image.data(), image.size(), nullptr));
  // The board answered block 0: a block then lost is tried more often, as on
  // a noisy line, before the upload stops.
  ASSERT_EQ(other.Requests().size(), 1u + kNoisyLineAttempts) << "block 0, then block 1 six times";
  EXPECT_EQ(other.Requests().back()[4], 128);

  // A block the board refuses is tried the usual number of times.
  MemoryBoard refusing;
  refusing.SetResponder([](const Bytes& r) -> std::optional<Bytes> {
    if (r.size() > 6 && r[4] == 128) return Bytes{0x02, 0x01, 'E', 'R'};
    return Ack();
  });
  BoardSession refusingSession(refusing.Port());
  Configure(refusingSession);
  EXPECT_FALSE(UploadAcknowledged(refusingSession, 0, image.data(), image.size(), nullptr));
  EXPECT_EQ(refusing.Requests().size(), 1u + session_.RetryCount) << "block 0, then block 1 RetryCount times";
}

// An acknowledged upload that stops tells how many leading blocks the board
// confirmed; completing it sends only the blocks from there, then the end.
TEST_F(BoardProtocol, AnInterruptedAcknowledgedUploadIsCompletedFromItsFirstUnconfirmedBlock) {
  Bytes image(700);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  MemoryBoard dying;
  dying.SetResponder([](const Bytes& r) -> std::optional<Bytes> {
    if (r.size() > 6 && (r[4] | r[5] << 8) >= 384) return std::nullopt;
    return Ack();
  });
  size_t confirmed = 99;
  BoardSession dyingSession(dying.Port());
  Configure(dyingSession);
  EXPECT_FALSE(UploadAcknowledged(dyingSession, 1, image.data(), image.size(), nullptr, 0,
                                  &confirmed));
  EXPECT_EQ(confirmed, 3u) << "blocks 0, 1 and 2";

  AnswerAll();
  std::vector<int> progress;
  ASSERT_TRUE(UploadAcknowledged(session_, 1, image.data(), image.size(),
                                 [&](int p) { progress.push_back(p); }, confirmed, &confirmed));
  EXPECT_EQ(confirmed, 6u);
  std::vector<int> offsets;
  for (const Bytes& r : board_.Requests()) offsets.push_back(r[4] | r[5] << 8);
  EXPECT_EQ(offsets, (std::vector<int>{384, 512, 640, 700})) << "the rest, then the end marker";
  Bytes block3 = {1, 0x85, 0x2C, 1, 0x80, 0x01};
  block3.insert(block3.end(), image.begin() + 384, image.begin() + 512);
  EXPECT_EQ(board_.Requests()[0], block3);
  EXPECT_EQ(progress, (std::vector<int>{55, 73, 91, 100}));
}

TEST_F(BoardProtocol, AnAcknowledgementNobodyAskedForStopsTheUploadBeforeItsEnd) {
  // Block 1 is answered twice, as when a late answer and the retry's own
  // arrive together: from there on no acknowledgement can be trusted to be
  // its block's, so the end marker must never go out.
  board_.SetResponder([&](const Bytes& r) -> std::optional<Bytes> {
    if (r.size() > 6 && r[4] == 128) board_.Reply(Ack());
    return Ack();
  });
  Bytes image(600, 0x22);
  EXPECT_FALSE(UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr));
  for (const Bytes& r : board_.Requests())
    EXPECT_GT(r.size(), 6u) << "no end marker after an unasked-for reply";
}

TEST_F(BoardProtocol, UploadSizesAtTheLimits) {
  AnswerAll();
  Bytes image(kMaxImageSize + 1, 0x22);
  EXPECT_FALSE(UploadAcknowledged(session_, 0, image.data(), 0, nullptr));
  EXPECT_FALSE(UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr));
  EXPECT_FALSE(UploadStreamed(session_, 0, image.data(), image.size(), nullptr, false, true));
  EXPECT_TRUE(board_.Requests().empty());
  // The largest image: its last block carries the two bytes that fit.
  ASSERT_TRUE(UploadAcknowledged(session_, 0, image.data(), kMaxImageSize, nullptr));
  const auto& r = board_.Requests();
  ASSERT_EQ(r.size(), 507u + 1);
  EXPECT_EQ(r[506], (Bytes{1, 0x85, 0x2C, 0, 0x00, 0xFD, 0x22, 0x22}));
  EXPECT_EQ(r[507], (Bytes{1, 0x85, 0x2C, 0, 0x02, 0xFD}));
  // Single blocks past the limit are refused without a word on the line.
  const size_t before = r.size();
  EXPECT_FALSE(CmdWriteBlock(session_, 0, kMaxImageSize - 1, image.data(), 2));
  EXPECT_FALSE(CmdStreamBlock(session_, 0, kMaxImageSize + 1, image.data(), 0));
  EXPECT_EQ(board_.Requests().size(), before);
}

// A board that keeps a block map of the streamed blocks it received.
struct StreamingBoard {
  explicit StreamingBoard(MemoryBoard& b, std::function<bool(size_t)> lose = {}) : board(b) {
    board.SetResponder([this, lose](const Bytes& r) -> std::optional<Bytes> {
      switch (r[2]) {
        case 0x4E:
          map = {};
          return Ack();
        case 0x4F: {
          const size_t k = (r[4] | r[5] << 8) / 128;
          ++streamed;
          if (onBlock) onBlock(streamed);
          if (!lose || !lose(streamed)) map[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
          return std::nullopt;
        }
        case 0x50: {
          Bytes reply = {0x03, 0x01};
          reply.insert(reply.end(), map.begin(), map.end());
          return reply;
        }
        default:
          return Ack();
      }
    });
  }
  MemoryBoard& board;
  std::array<uint8_t, 64> map{};
  int streamed = 0;
  std::function<void(int)> onBlock;
};

TEST_F(BoardProtocol, StreamedUploadRepairsLostBlocksFromTheMap) {
  // Every third block the first time round is lost.
  StreamingBoard sb(board_, [](int n) { return n <= 10 && n % 3 == 0; });
  Bytes image(10 * 128 - 5, 0x33);
  ASSERT_TRUE(UploadStreamed(session_, 0, image.data(), image.size(), nullptr, false, true));
  EXPECT_EQ(sb.streamed, 13);
  EXPECT_EQ(board_.Requests().back(), (Bytes{1, 0x85, 0x2C, 0, 0xFB, 0x04}));
}

TEST_F(BoardProtocol, StreamedUploadFailsAfterThreeRoundsWithResends) {
  StreamingBoard sb(board_, [](int n) { return n > 4; });  // block 4 never arrives
  Bytes image(5 * 128, 0x33);
  EXPECT_FALSE(UploadStreamed(session_, 0, image.data(), image.size(), nullptr, false, true));
  EXPECT_EQ(sb.streamed, 5 + 3);
  EXPECT_NE(board_.Requests().back()[2], 0x2C) << "no end marker";
}

TEST_F(BoardProtocol, ResumeAgainstAFullMapSendsNoBlock) {
  StreamingBoard sb(board_);
  sb.map.fill(0xFF);
  Bytes image(1000, 0x44);
  ASSERT_TRUE(UploadStreamed(session_, 1, image.data(), image.size(), nullptr, false, false));
  EXPECT_EQ(sb.streamed, 0);
  const auto& r = board_.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0][2], 0x50);
  EXPECT_EQ(r[1], (Bytes{1, 0x85, 0x2C, 1, 0xE8, 0x03}));
}

TEST_F(BoardProtocol, StreamedUploadStopsAtOnceWhenDsrDrops) {
  StreamingBoard sb(board_);
  sb.onBlock = [&](int n) {
    if (n == 3) board_.Line().SetPeerDSR(false);
  };
  Bytes image(20 * 128, 0x55);
  EXPECT_FALSE(UploadStreamed(session_, 0, image.data(), image.size(), nullptr, true, true));
  EXPECT_EQ(sb.streamed, 3);
  EXPECT_NE(board_.Requests().back()[2], 0x2C) << "no end marker";

  // Without watching DSR the same line completes.
  board_.Line().SetPeerDSR(true);
  sb.onBlock = nullptr;
  EXPECT_TRUE(UploadStreamed(session_, 0, image.data(), image.size(), nullptr, false, true));
}

TEST_F(BoardProtocol, StreamedUploadFailsWhenTheMapCannotBeRead) {
  board_.SetResponder([](const Bytes& r) -> std::optional<Bytes> {
    if (r[2] == 0x50 || r[2] == 0x4F) return std::nullopt;
    return Ack();
  });
  Bytes image(200, 1);
  EXPECT_FALSE(UploadStreamed(session_, 0, image.data(), image.size(), nullptr, false, true));
  int mapRequests = 0;
  for (const Bytes& r : board_.Requests()) mapRequests += r[2] == 0x50;
  EXPECT_EQ(mapRequests, 3);
}

TEST_F(BoardProtocol, MeasureLinkGivesHalfTheRoundTripPlus20) {
  board_.SetResponder([](const Bytes&) {
    return std::optional<Bytes>(Bytes{0x02, 0x01, 'C', 'O', 'N', 'O', 'K'});
  });
  int delay = -1;
  ASSERT_TRUE(MeasureLink(session_, delay));
  EXPECT_GE(delay, 20);
  board_.SetResponder(nullptr);
  delay = -1;
  EXPECT_FALSE(MeasureLink(session_, delay));
  EXPECT_EQ(delay, -1);
}

TEST_F(BoardProtocol, ApplySettingsStopsAtTheFirstRefusal) {
  board_.SetResponder([](const Bytes& r) -> std::optional<Bytes> {
    if (r[2] == 0x17) return Bytes{0x02, 0x01, 'E', 'R'};
    return Ack();
  });
  EXPECT_FALSE(ApplyBoardSettings(session_, 2, 9, true));
  ASSERT_EQ(board_.Requests().size(), 2u);
  EXPECT_EQ(board_.Requests()[1][2], 0x17);
}

}  // namespace
