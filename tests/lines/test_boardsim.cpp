// The board protocol over a real pseudo-terminal: the program's port against
// lentar-boardsim, started and killed by each test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "support/sim_process.h"

namespace {

using namespace lentar::comm;
using namespace lentar::comm::testing;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

class BoardSim : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestFolder("lentar_boardsim",
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    port_.Open("");
    EXPECT_TRUE(sim_.Stop()) << "the simulator exits cleanly on SIGTERM";
    fs::remove_all(dir_);
  }

  // Starts the simulator with args and opens the port on it.
  void Connect(std::vector<std::string> args = {}) {
    ASSERT_TRUE(sim_.Start(dir_, args)) << sim_.Log();
    port_.Open(sim_.Link());
    ASSERT_TRUE(port_.IsOpen()) << port_.LastErrorText();
  }

  std::string SaveDir() const { return dir_.string(); }
  fs::path Upload(int n) const { return dir_ / ("upload-" + std::to_string(n) + ".bin"); }

  fs::path dir_;
  SimProcess sim_;
  TComPort port_{true, true};
  BoardSession session_{port_};
};

TEST_F(BoardSim, EveryCommandAnswers) {
  Connect();
  BoardSession& p = session_;
  EXPECT_TRUE(CmdConnect(p));
  std::string version;
  ASSERT_TRUE(CmdReadVersion(p, version));
  EXPECT_FALSE(version.empty());

  EXPECT_TRUE(ApplyBoardSettings(p, 2, 7, true));
  EXPECT_TRUE(CmdSetDefaultFont(p, 1));
  EXPECT_TRUE(CmdSetClearOnSwitch(p, true));
  StatusBlock status;
  ASSERT_TRUE(CmdReadStatus(p, status));
  EXPECT_EQ(status.Speed(), 2);
  EXPECT_EQ(status.Brightness(), 7);
  EXPECT_TRUE(status.Flipped());
  EXPECT_EQ(status.DefaultFont(), 1);
  EXPECT_FALSE(status.PasswordSet());
  EXPECT_TRUE(status.AccessGranted());
  OptionsBlock options;
  ASSERT_TRUE(CmdReadOptions(p, options));
  EXPECT_TRUE(options.ClearOnSwitch());

  AutoBrightBlock bright;
  ASSERT_TRUE(CmdReadAutoBright(p, bright));
  std::array<uint8_t, 6> settable = bright.Settable();
  settable[0] = 1;
  EXPECT_TRUE(CmdWriteAutoBright(p, settable));
  ASSERT_TRUE(CmdReadAutoBright(p, bright));
  EXPECT_TRUE(bright.Enabled());
  ASSERT_TRUE(CmdReadStatus(p, status));
  EXPECT_TRUE(status.AutoBrightness());

  BoardClock clock;
  EXPECT_TRUE(CmdReadClock(p, clock));
  EXPECT_TRUE(SetClockNow(p));

  BufferInfo info;
  ASSERT_TRUE(CmdReadBufferInfo(p, info));
  EXPECT_EQ(info.Capacity(0), 32000);
  EXPECT_EQ(info.Capacity(1), 32000);
  EXPECT_TRUE(ClearBuffer(p, 1));
  EXPECT_TRUE(CmdStartBuffer(p, 1));
  ASSERT_TRUE(CmdReadBufferInfo(p, info));
  EXPECT_EQ(info.CurrentBuffer(), 1);
  EXPECT_EQ(info.DataLength(), 0);

  PasswordReply reply = CmdEnterPassword(p, "");
  EXPECT_TRUE(reply.replied && reply.accepted) << "no password set: the empty one opens";
  reply = CmdSetPassword(p, "pw");
  EXPECT_TRUE(reply.replied && reply.accepted);
  ASSERT_TRUE(CmdReadStatus(p, status));
  EXPECT_TRUE(status.PasswordSet());
  reply = CmdQueryModemAccess(p);
  EXPECT_TRUE(reply.replied);
  reply = CmdEnterModemPassword(p, "pw");
  EXPECT_TRUE(reply.replied && reply.accepted);

  EXPECT_TRUE(CmdBeginStream(p));
  BlockMap map;
  ASSERT_TRUE(CmdReadBlockMap(p, map));
  EXPECT_FALSE(map.Has(0));
  const Bytes block(128, 0x5A);
  EXPECT_TRUE(CmdStreamBlock(p, 0, 0, block.data(), block.size()));
  ASSERT_TRUE(CmdReadBlockMap(p, map));
  EXPECT_TRUE(map.Has(0));

  int delay = 0;
  EXPECT_TRUE(MeasureLink(p, delay));
  EXPECT_GE(delay, 20);

  // The speed switch: acknowledged at the old rate, then both ends move.
  ASSERT_TRUE(CmdSetBaud(p, 7));
  p.Port().SetBaudIndex(7);
  EXPECT_TRUE(CmdConnect(p));
  ASSERT_TRUE(CmdSetBaud(p, 3));
  p.Port().SetBaudIndex(3);
  EXPECT_TRUE(CmdConnect(p));
}

TEST_F(BoardSim, ThreeHundredByteImage) {
  Connect({"-v", "--save-dir", SaveDir()});
  const Bytes image = ImagePattern(300, 1);
  ASSERT_TRUE(ClearBuffer(session_, 0));
  ASSERT_TRUE(UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr));
  EXPECT_EQ(ReadFileBytes(Upload(1)), image) << "the board holds exactly the 300 bytes";
  const std::string log = sim_.Log();
  size_t at = 0;
  for (const char* line : {"command 0x2C buffer 0 offset 0 data 0", "command 0x2C buffer 0 offset 0 data 128",
                           "command 0x2C buffer 0 offset 128 data 128",
                           "command 0x2C buffer 0 offset 256 data 128",
                           "command 0x2C buffer 0 offset 300 data 0"}) {
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << log;
  }
  BufferInfo info;
  ASSERT_TRUE(CmdReadBufferInfo(session_, info));
  EXPECT_EQ(info.DataLength(), 300);
}

// A simulator started again on a folder of earlier uploads numbers on: what
// an earlier run saved is never overwritten.
TEST_F(BoardSim, SavedUploadsNumberOnFromEarlierRuns) {
  for (const char* name : {"upload-1.bin", "upload-7.bin", "upload-x.bin", "upload-12.txt"})
    std::ofstream(dir_ / name) << "earlier";
  Connect({"--save-dir", SaveDir()});
  const Bytes image = ImagePattern(200, 5);
  ASSERT_TRUE(ClearBuffer(session_, 0));
  ASSERT_TRUE(UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr));
  EXPECT_EQ(ReadFileBytes(Upload(8)), image);
  std::ifstream first(Upload(1));
  std::string kept;
  std::getline(first, kept);
  EXPECT_EQ(kept, "earlier");
}

TEST_F(BoardSim, ClockDayOfWeekBothWays) {
  Connect();
  struct Case {
    BoardClock set;
    int dayOfWeek;
  } cases[] = {
      {{2024, 1, 0, 1, 12, 0, 0, 0}, 1},   // Monday
      {{2024, 1, 0, 7, 12, 0, 0, 0}, 0},   // Sunday: the board sends 7
      {{2025, 3, 0, 15, 12, 30, 0, 0}, 6},  // Saturday
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(CmdSetClock(session_, c.set));
    BoardClock read;
    ASSERT_TRUE(CmdReadClock(session_, read));
    EXPECT_EQ(read.dayOfWeek, c.dayOfWeek) << c.set.day;
    EXPECT_EQ(read.year, c.set.year);
    EXPECT_EQ(read.month, c.set.month);
    EXPECT_EQ(read.day, c.set.day);
    EXPECT_EQ(read.hour, c.set.hour);
  }
}

TEST_F(BoardSim, PasswordAndAccess) {
  Connect({"--password", "secret"});
  StatusBlock status;
  ASSERT_TRUE(CmdReadStatus(session_, status));
  EXPECT_TRUE(status.PasswordSet());
  EXPECT_FALSE(status.AccessGranted());
  const Bytes image = ImagePattern(10, 2);
  EXPECT_FALSE(UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr))
      << "no upload without access";
  PasswordReply reply = CmdEnterPassword(session_, "");
  EXPECT_TRUE(reply.replied);
  EXPECT_FALSE(reply.accepted);
  reply = CmdEnterPassword(session_, "secret");
  EXPECT_TRUE(reply.replied && reply.accepted);
  ASSERT_TRUE(CmdReadStatus(session_, status));
  EXPECT_TRUE(status.AccessGranted());

  reply = CmdQueryModemAccess(session_);
  EXPECT_TRUE(reply.replied);
  EXPECT_FALSE(reply.accepted);
  reply = CmdEnterModemPassword(session_, "wrong");
  EXPECT_TRUE(reply.replied);
  EXPECT_FALSE(reply.accepted);
  reply = CmdEnterModemPassword(session_, "secret");
  EXPECT_TRUE(reply.accepted);
  EXPECT_TRUE(CmdQueryModemAccess(session_).accepted);
}

TEST_F(BoardSim, OnlyTheBoardsOwnAddressIsAnswered) {
  Connect({"--address", "5"});
  session_.ReplyTimeout = 500;
  session_.AddressByte = AddressByteFor(6);
  EXPECT_FALSE(CmdConnect(session_));
  session_.AddressByte = AddressByteFor(5);
  EXPECT_TRUE(CmdConnect(session_));
}

TEST_F(BoardSim, ALateReplyIsNotTakenForTheNextCommand) {
  Connect({"--delay-ms", "300"});
  session_.ReplyTimeout = 50;
  EXPECT_FALSE(CmdSetSpeed(session_, 4)) << "the reply comes after the deadline";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  session_.ReplyTimeout = 5000;
  StatusBlock status;
  ASSERT_TRUE(CmdReadStatus(session_, status)) << "the late acknowledgement was dropped";
  EXPECT_EQ(status.Speed(), 4) << "the board did act on the first command";
}

TEST_F(BoardSim, ResumeAgainstAFullMapSendsNoBlock) {
  Connect({"-v", "--save-dir", SaveDir()});
  session_.BlockDelay = 1;
  const Bytes first = ImagePattern(1000, 3);
  const Bytes second = ImagePattern(1000, 4);
  // An interrupted upload that got every block across before the end marker.
  ASSERT_TRUE(CmdBeginStream(session_));
  for (size_t k = 0; k * 128 < first.size(); ++k) {
    Bytes block(128, 0xFF);
    std::copy(first.begin() + static_cast<long>(k * 128),
              first.begin() + static_cast<long>(std::min(first.size(), (k + 1) * 128)), block.begin());
    ASSERT_TRUE(CmdStreamBlock(session_, 1, k * 128, block.data(), block.size()));
  }
  BlockMap map;
  ASSERT_TRUE(CmdReadBlockMap(session_, map));
  const size_t before = sim_.Log().size();
  // A resume sends nothing but the end marker: the board keeps what it has.
  ASSERT_TRUE(UploadStreamed(session_, 1, second.data(), second.size(), nullptr, false, false));
  EXPECT_EQ(ReadFileBytes(Upload(1)), first);
  EXPECT_EQ(sim_.Log().find("command 0x4F", before), std::string::npos);
}

TEST_F(BoardSim, StreamedUploadWithLostBlocksIsRepairedFromTheMap) {
  Connect({"-v", "--drop", "0.2", "--seed", "2", "--save-dir", SaveDir()});
  session_.BlockDelay = 2;
  const Bytes image = ImagePattern(16 * 128 - 40, 5);
  ASSERT_TRUE(UploadStreamed(session_, 0, image.data(), image.size(), nullptr, false, true))
      << sim_.Log();
  EXPECT_EQ(ReadFileBytes(Upload(1)), image);
  // Some blocks were lost and sent again.
  const std::string log = sim_.Log();
  size_t streamed = 0;
  for (size_t at = 0; (at = log.find("command 0x4F", at)) != std::string::npos; ++at) ++streamed;
  EXPECT_GT(streamed, 16u);
}

TEST_F(BoardSim, AcknowledgedUploadOverALossyLineNeverClaimsAWrongImage) {
  // Requests ignored and replies damaged; whatever the outcome, success means
  // the board holds exactly the image.
  struct Case {
    const char* fault;
    const char* seed;
  } cases[] = {{"--drop", "3"}, {"--drop", "8"}, {"--corrupt", "5"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " seed " + c.seed);
    port_.Open("");
    sim_.Stop();
    fs::remove(Upload(1));
    Connect({c.fault, "0.1", "--seed", c.seed, "--save-dir", SaveDir()});
    session_.ReplyTimeout = 300;
    const Bytes image = ImagePattern(3000, 6);
    const bool ok = UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr);
    if (ok) {
      EXPECT_EQ(ReadFileBytes(Upload(1)), image);
    }
  }
}

// --board-file: a streamed upload half done, then the simulator killed. It
// comes back with both buffers, the buffer on show and the block map, so a
// resume sends only the missing blocks. A file that holds no board memory is
// neither used nor written over.
TEST_F(BoardSim, TheBoardFileKeepsTheMemoryThroughAKill) {
  const std::string file = (dir_ / "board.mem").string();
  Connect({"--board-file", file, "--save-dir", SaveDir(), "-v"});
  const Bytes first = ImagePattern(300, 1), second = ImagePattern(1000, 2);
  ASSERT_TRUE(UploadAcknowledged(session_, 0, first.data(), first.size(), nullptr));
  ASSERT_TRUE(CmdStartBuffer(session_, 0));
  ASSERT_TRUE(CmdBeginStream(session_));
  for (size_t k = 0; k < 4; ++k)  // 4 of the 8 blocks
    CmdStreamBlock(session_, 1, k * kBlockSize, second.data() + k * kBlockSize, kBlockSize);
  BlockMap map;
  ASSERT_TRUE(CmdReadBlockMap(session_, map));  // every block before it was taken
  port_.Open("");
  sim_.Kill();

  Connect({"--board-file", file, "--save-dir", SaveDir(), "-v"});
  BufferInfo info;
  ASSERT_TRUE(CmdReadBufferInfo(session_, info));
  EXPECT_EQ(info.CurrentBuffer(), 0);
  EXPECT_EQ(info.DataLength(), 300);
  session_.BlockDelay = 2;
  ASSERT_TRUE(UploadStreamed(session_, 1, second.data(), second.size(), nullptr, false, false));
  EXPECT_EQ(ReadFileBytes(Upload(2)), second);
  EXPECT_EQ(sim_.Log().find("command 0x4F buffer 1 offset 0 "), std::string::npos)
      << "block 0 was kept: " << sim_.Log();
  port_.Open("");
  EXPECT_TRUE(sim_.Stop());

  std::ofstream(file, std::ios::binary | std::ios::trunc) << "not a board";
  Connect({"--board-file", file});
  EXPECT_TRUE(ClearBuffer(session_, 0));
  EXPECT_NE(sim_.Log().find("holds no board memory"), std::string::npos) << sim_.Log();
  EXPECT_EQ(ReadFileBytes(file), (Bytes{'n', 'o', 't', ' ', 'a', ' ', 'b', 'o', 'a', 'r', 'd'}));
}

// A full upload of a 5 KB set over a direct line that loses a fifth of the
// requests: the board has answered, so every lost request is sent again, and
// the image gets through in at least nine runs of ten, never wrong.
TEST_F(BoardSim, ADirectUploadGetsThroughALineThatLosesAFifth) {
  const Bytes image = ImagePattern(5026, 7);
  int delivered = 0;
  for (int seed = 1; seed <= 10; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    port_.Open("");
    sim_.Stop();
    fs::remove(Upload(1));
    Connect({"--drop", "0.2", "--seed", std::to_string(seed), "--save-dir", SaveDir()});
    session_.ReplyTimeout = 100;
    UploadOptions options;
    options.buffer = 0;
    options.clearOnSwitch = false;
    const UploadReport report = UploadImage(session_, image.data(), image.size(), options, {});
    if (report.outcome != UploadOutcome::Done) continue;
    ++delivered;
    EXPECT_EQ(ReadFileBytes(Upload(1)), image);
  }
  EXPECT_GE(delivered, 9);
}

// Replies that come just after the deadline, and requests the board never
// saw: a late acknowledgement must never be credited to a later block. Each
// upload sends another pattern into the same buffer, so a block that was not
// written shows as the previous pattern. Failing is allowed; success means the
// board holds exactly this image. (scripts/upload-faults.sh sweeps wider, at
// the real deadlines and line speed.)
TEST_F(BoardSim, LateAndLostRepliesNeverGiveASuccessWithAnotherImage) {
  session_.ReplyTimeout = 100;
  const struct {
    const char* delay;
    const char* seed;
  } cases[] = {{"70", "11"}, {"95", "233"}, {"104", "7"}, {"112", "42"}, {"130", "5"}};
  int successes = 0;
  unsigned pattern = 20;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("delay ") + c.delay + " ms, seed " + c.seed);
    port_.Open("");
    sim_.Stop();
    for (const auto& entry : fs::directory_iterator(dir_))
      if (entry.path().extension() == ".bin") fs::remove(entry.path());
    Connect({"--delay-ms", c.delay, "--drop", "0.3", "--seed", c.seed, "--save-dir", SaveDir()});
    int saved = 0;
    for (int upload = 0; upload < 4; ++upload) {
      const Bytes image = ImagePattern(600, ++pattern);
      const bool ok = UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr);
      while (fs::exists(Upload(saved + 1))) ++saved;
      if (!ok) continue;
      ++successes;
      ASSERT_GT(saved, 0) << "success without the end marker reaching the board";
      EXPECT_TRUE(ReadFileBytes(Upload(saved)) == image) << "upload " << upload << " left another image";
    }
  }
  EXPECT_GT(successes, 0) << "some uploads get through where replies are in time";
}

TEST_F(BoardSim, LargestImageAtFullSpeed) {
  Connect({"--buffer1", "65000", "--save-dir", SaveDir()});
  const Bytes image = ImagePattern(64770, 7);
  ASSERT_TRUE(CmdSetBaud(session_, 8));
  port_.SetBaudIndex(8);
  std::vector<int> progress;
  ASSERT_TRUE(UploadAcknowledged(session_, 0, image.data(), image.size(),
                                 [&](int p) { progress.push_back(p); }));
  EXPECT_EQ(ReadFileBytes(Upload(1)), image);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(CmdSetBaud(session_, 3));
}

// A peer that is not the simulator: the test plays the board itself on a
// pseudo-terminal, to send replies no sound board would.
class RawPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    port_.Open(ptsname(master_));
    ASSERT_TRUE(port_.IsOpen()) << port_.LastErrorText();
  }
  void TearDown() override {
    port_.Open("");
    if (master_ >= 0) close(master_);
  }
  // Reads one request frame (blocking, with a deadline) and answers payload.
  bool Answer(const Bytes& payload) {
    uint8_t buf[512];
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      const ssize_t n = read(master_, buf + got, sizeof buf - got);
      if (n > 0) got += static_cast<size_t>(n);
      if (got > 0 && got >= buf[0]) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (got == 0) return false;
    const Bytes frame = BuildFrame(payload);
    return write(master_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
  }

  int master_ = -1;
  TComPort port_{true, true};
  BoardSession session_{port_};
};

TEST_F(RawPeer, DataReplyOfTheWrongLengthFails) {
  struct Case {
    size_t statusBytes;
    bool accepted;
  } cases[] = {{21, false}, {23, false}, {22, true}};
  for (const auto& c : cases) {
    std::thread board([&] {
      Bytes reply = {0x03, 0x01};
      reply.resize(2 + c.statusBytes, 0x01);
      Answer(reply);
    });
    StatusBlock status;
    EXPECT_EQ(CmdReadStatus(session_, status), c.accepted) << c.statusBytes;
    board.join();
  }
}

}  // namespace

namespace {

// The port hears of the line's end as it happens: a reply being waited for
// fails then, not at its deadline.
TEST_F(RawPeer, AWaitEndsWhenTheFarEndGoesAway) {
  std::thread farEnd([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::close(master_);
  });
  const auto start = std::chrono::steady_clock::now();
  uint8_t payload[kMaxFramePayload];
  size_t n = 0;
  EXPECT_FALSE(port_.WaitFrame(payload, sizeof payload, 60000, n));
  farEnd.join();
  master_ = -1;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(RawPeer, PortClosesWhenTheFarEndGoesAway) {
  ::close(master_);
  master_ = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (port_.IsOpen() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(port_.SendFrame(Bytes{1}));
}

}  // namespace
