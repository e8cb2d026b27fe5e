// TComPort over the in-memory line: frames in and out, text frames, line mode
// and modem responses, bit rates, modem signals and the stored line settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "comm/comport.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "support/memory_board.h"

namespace {

using lentar::Utf8ToCp1251;
using lentar::comm::BuildFrame;
using lentar::comm::TComPort;
using lentar::comm::FlowControl;
using lentar::comm::Parity;
using lentar::comm::PortConfig;
using lentar::comm::StopBits;
using lentar::comm::testing::Bytes;
using lentar::comm::testing::MemoryBoard;

void FeedText(MemoryBoard& b, const std::string& text) {
  b.Line().Feed(Bytes(text.begin(), text.end()));
}

TEST(ComPort, OpenWithEmptyNameLeavesThePortClosed) {
  MemoryBoard board;
  ASSERT_TRUE(board.Port().IsOpen());
  board.Port().Open("");
  EXPECT_FALSE(board.Port().IsOpen());
  EXPECT_TRUE(board.Port().OpenFailed());
  EXPECT_EQ(board.Port().LastErrorText(), Utf8ToCp1251(u8"Порт закрыт"));
  EXPECT_FALSE(board.Port().SendFrame(Bytes{1}));
  size_t n = 7;
  uint8_t out[4];
  EXPECT_FALSE(board.Port().GetFrame(out, sizeof out, n));
  EXPECT_EQ(n, 0u);
}

TEST(ComPort, APortWithoutALineStaysClosed) {
  TComPort port(true, true, lentar::comm::LineFactory{});
  port.Open("/dev/ttyS0");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.OpenFailed());
  EXPECT_EQ(port.LastErrorText(), Utf8ToCp1251(u8"Порт закрыт"));
  EXPECT_FALSE(port.SendFrame(Bytes{1}));
}

TEST(ComPort, SendFrameWritesTheWholeFrame) {
  MemoryBoard board;
  ASSERT_TRUE(board.Port().SendFrame(Bytes{0x01, 0x0A, 0x0D}));
  EXPECT_EQ(board.Peer().written, (Bytes{0x06, 0x18, 0x58, 0x01, 0x0A, 0x0D}));
  EXPECT_FALSE(board.Port().SendFrame(Bytes{})) << "an empty payload cannot be framed";
  EXPECT_FALSE(board.Port().SendFrame(Bytes(253, 0))) << "nor one over 252 bytes";
}

TEST(ComPort, TextFrameEndsAtTheFirstZeroByte) {
  MemoryBoard board;
  board.Reply({0x02, 0x01, 0x4F, 0x4B, 0x00, 0x41});
  std::string text;
  ASSERT_TRUE(board.Port().GetTextFrame(text));
  EXPECT_EQ(text, std::string("\x02\x01OK", 4));
  EXPECT_FALSE(board.Port().GetTextFrame(text));
  EXPECT_EQ(text, "");
}

TEST(ComPort, WaitFrameEndsAtTheDeadlineWithoutAFrame) {
  MemoryBoard board;
  uint8_t out[8];
  size_t n = 0;
  EXPECT_FALSE(board.Port().WaitFrame(out, sizeof out, 20, n));
  board.Reply({7, 8});
  ASSERT_TRUE(board.Port().WaitFrame(out, sizeof out, 20, n));
  EXPECT_EQ(n, 2u);
}

TEST(ComPort, SetBaudIndexOutsideTheTableMeans115200) {
  MemoryBoard board;
  EXPECT_EQ(board.Port().BaudRate(), 9600) << "every port opens at 9600";
  struct Case {
    int index;
    int rate;
  } cases[] = {{-1, 115200}, {9, 115200}, {0, 1200}, {3, 9600}, {7, 57600}, {8, 115200}};
  for (const auto& c : cases) {
    board.Port().SetBaudIndex(c.index);
    EXPECT_EQ(board.Port().BaudRate(), c.rate) << c.index;
    EXPECT_EQ(board.Peer().baudRate, c.rate) << "applied to the open line, index " << c.index;
  }
}

TEST(ComPort, ReadLineTakesOneLineAndItsLineEnds) {
  MemoryBoard board;
  TComPort& port = board.Port();
  port.SetLineMode(true);
  FeedText(board, "OK\r\n\r\nATZ");
  std::string line;
  ASSERT_TRUE(port.ReadLine(line));
  EXPECT_EQ(line, "OK");
  EXPECT_FALSE(port.ReadLine(line)) << "ATZ has no CR yet";
  FeedText(board, "\r");
  ASSERT_TRUE(port.ReadLine(line)) << "ATZ stayed in the buffer";
  EXPECT_EQ(line, "ATZ");

  port.ClearLineBuffer();
  FeedText(board, "\r\nNEXT\r");
  EXPECT_FALSE(port.ReadLine(line)) << "an empty line";
  ASSERT_TRUE(port.ReadLine(line)) << "the CR LF was consumed";
  EXPECT_EQ(line, "NEXT");
}

TEST(ComPort, WaitForLineAndModemResultsScanTheLinesReceived) {
  MemoryBoard board;
  TComPort& port = board.Port();
  port.SetLineMode(true);
  FeedText(board, "ATZ\r\n  ok \r\n");
  EXPECT_TRUE(port.WaitForLine("OK"));

  struct Case {
    const char* received;
    int result;
  } cases[] = {{"RING\r\nBUSY\r\n", 3},    {"NO CARRIER\r", 1}, {"no dial tone\r", 2},
               {"NO ANSWER\r\n", 4},      {"ERROR\r\n", 0},    {"CONNECT 9600\r\n", -1},
               {"\r\nERROR\r\n", -1},    {"BUSY", -1}};
  for (const auto& c : cases) {
    port.ClearLineBuffer();
    FeedText(board, c.received);
    EXPECT_EQ(port.ReadModemResult(), c.result) << c.received;
  }
  EXPECT_EQ(lentar::comm::ModemResultText(3), Utf8ToCp1251(u8"Занято"));
}

TEST(ComPort, ModemResetPulsesDtrAndLooksForOk) {
  for (bool answers : {true, false}) {
    MemoryBoard board;
    TComPort& port = board.Port();
    port.SetLineMode(true);
    std::vector<bool> dtrSeen;
    std::string written;
    board.Peer().onWrite = [&](const Bytes& chunk) {
      written.append(chunk.begin(), chunk.end());
      dtrSeen.push_back(board.Peer().dtr);
      if (answers && written == "ATZ\r\n") FeedText(board, "ATZ\r\r\nOK\r\n");
    };
    FeedText(board, "OK\r\n");  // an old answer is cleared before the probe
    EXPECT_EQ(port.ModemReset(), answers);
    EXPECT_EQ(written, "ATZ\r\n");
    EXPECT_TRUE(board.Peer().dtr) << "DTR is up again after the pulse";
    EXPECT_EQ(dtrSeen, (std::vector<bool>{true, true}));
  }
}

TEST(ComPort, LineBufferDropsAChunkThatDoesNotFit) {
  MemoryBoard board;
  TComPort& port = board.Port();
  port.SetLineMode(true);
  FeedText(board, std::string(TComPort::kLineBufferSize - 10, 'x'));
  FeedText(board, std::string(20, 'y'));  // dropped whole
  FeedText(board, "\r");
  std::string line;
  ASSERT_TRUE(port.ReadLine(line));
  EXPECT_EQ(line, std::string(TComPort::kLineBufferSize - 10, 'x'));
}

TEST(ComPort, LineModeKeepsBytesAwayFromFrameAssembly) {
  MemoryBoard board;
  board.Port().SetLineMode(true);
  board.Reply({1, 2, 3});
  size_t n = 0;
  uint8_t out[8];
  EXPECT_FALSE(board.Port().GetFrame(out, sizeof out, n));
  board.Port().SetLineMode(false);
  board.Reply({1, 2, 3});
  EXPECT_TRUE(board.Port().GetFrame(out, sizeof out, n));
}

TEST(ComPort, LineStateHandlerSeesDsrAndCanHangUp) {
  MemoryBoard board;
  TComPort& port = board.Port();
  std::vector<bool> seen;
  port.SetLineStateHandler([&](bool dsr, bool& hangUp) {
    seen.push_back(dsr);
    hangUp = !dsr;
  });
  EXPECT_TRUE(board.Peer().dtr);
  board.Line().SetPeerDSR(true);
  EXPECT_TRUE(board.Peer().dtr);
  board.Line().SetPeerDSR(false);
  EXPECT_FALSE(board.Peer().dtr) << "the handler asked to hang up";
  EXPECT_FALSE(port.DTR());
  port.SetLineStateHandler(nullptr);
  board.Line().SetPeerDSR(true);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
  port.RestoreLines();
  EXPECT_TRUE(board.Peer().dtr);
  EXPECT_TRUE(board.Peer().rts);
}

// The line polls its modem signals only while a line-state handler wants
// them, on whichever line the port has, a new one after a release included.
TEST(ComPort, TheLineStateIsWatchedOnlyWhileAHandlerIsInstalled) {
  class WatchedLine : public lentar::comm::MemoryLine {
   public:
    WatchedLine(std::shared_ptr<Peer> peer, bool& watched)
        : MemoryLine(std::move(peer)), watched_(watched) {}
    void WatchLineState(bool on) override { watched_ = on; }

   private:
    bool& watched_;
  };
  bool watched = false;
  TComPort port(true, true, [&] {
    return std::make_unique<WatchedLine>(std::make_shared<lentar::comm::MemoryLine::Peer>(),
                                         watched);
  });
  port.Open("memory");
  EXPECT_FALSE(watched);
  port.SetLineStateHandler([](bool, bool&) {});
  EXPECT_TRUE(watched);
  port.Release();
  watched = false;
  port.Open("memory");
  EXPECT_TRUE(port.IsOpen());
  EXPECT_TRUE(watched) << "the new line is watched for the handler still installed";
  port.SetLineStateHandler(nullptr);
  EXPECT_FALSE(watched);
}

// The interface thread raises DTR while the line-state handler, on the
// receive thread, keeps hanging up and bytes keep arriving under a changing
// inter-byte gap: whatever the interleaving, the port's idea of DTR is the
// device's.
TEST(ComPort, ModemSignalsStayInStepAcrossThreads) {
  MemoryBoard board;
  TComPort& port = board.Port();
  port.SetLineStateHandler([](bool, bool& hangUp) { hangUp = true; });
  constexpr int kRounds = 2000;
  std::thread receiver([&] {
    for (int i = 0; i < kRounds; ++i) {
      board.Line().SetPeerDSR(i % 2 == 0);
      board.Line().Feed(Bytes{0x06});
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    port.SetDTR(true);
    port.SetInterByteTimeout(100 + i % 400);
  }
  receiver.join();
  port.SetLineStateHandler(nullptr);
  {
    std::lock_guard guard(board.Peer().lock);
    EXPECT_EQ(port.DTR(), board.Peer().dtr);
  }
}

TEST(ComPort, ConfigFromHexUsesTheFirst52BytesOnly) {
  MemoryBoard board;
  TComPort& port = board.Port();
  PortConfig wanted = port.Config();
  wanted.SetBaudRate(19200);
  wanted.SetParity(Parity::Even);
  const std::string hex = wanted.ToHex();
  ASSERT_EQ(hex.size(), 104u);
  port.ConfigFromHex(hex + "FFFFFFFF");
  EXPECT_EQ(port.Config(), wanted);
  EXPECT_EQ(board.Peer().baudRate, 19200) << "applied to the open port";
  port.ConfigFromHex("");
  EXPECT_EQ(port.Config(), wanted) << "an empty text changes nothing";
}

TEST(ComPort, LineSettingsRoundTripThroughTheSettingsFile) {
  PortConfig config = PortConfig::Default(true, true);
  EXPECT_EQ(config.DataBits(), 8);
  EXPECT_EQ(config.Parity(), Parity::None);
  EXPECT_EQ(config.StopBits(), StopBits::Two);
  EXPECT_EQ(config.FlowControl(), FlowControl::None);
  config.SetBaudRate(4800);
  config.SetDataBits(7);
  config.SetParity(Parity::Odd);
  config.SetStopBits(StopBits::One);
  config.SetFlowControl(FlowControl::Hardware);

  lentar::TSettings settings;
  lentar::DefaultSettings(settings);
  settings.ModemConfig = config.ToHex();
  const std::string path =
      (std::filesystem::temp_directory_path() / ("lentar_portcfg_" + std::to_string(::getpid()) + ".ini"))
          .string();
  ASSERT_TRUE(lentar::WriteSettings(settings, path));
  lentar::TSettings read;
  ASSERT_TRUE(lentar::ReadSettings(read, path));
  std::filesystem::remove(path);

  PortConfig back = PortConfig::Default(true, true);
  back.FromHex(read.ModemConfig);
  EXPECT_EQ(back, config);
  EXPECT_EQ(back.BaudRate(), 4800);
  EXPECT_EQ(back.DataBits(), 7);
  EXPECT_EQ(back.Parity(), Parity::Odd);
  EXPECT_EQ(back.StopBits(), StopBits::One);
  EXPECT_EQ(back.FlowControl(), FlowControl::Hardware);
}

TEST(ComPort, DamagedStoredSettingsAreRepaired) {
  PortConfig config = PortConfig::Default(true, true);
  std::string hex = config.ToHex();
  hex.replace(2 * 26, 6, "FFFFFF");  // data bits, parity, stop bits
  config.FromHex(hex);
  EXPECT_EQ(config.DataBits(), 8);
  EXPECT_EQ(config.Parity(), Parity::None);
  EXPECT_EQ(config.StopBits(), StopBits::Two);
}

TEST(ComPort, PurgeForgetsAHalfReceivedFrame) {
  MemoryBoard board;
  const Bytes frame = BuildFrame(Bytes{1, 2, 3});
  board.Line().Feed(Bytes(frame.begin(), frame.begin() + 3));
  board.Port().Purge();
  EXPECT_EQ(board.Peer().purges, 1);
  board.Line().Feed(frame);
  uint8_t out[8];
  size_t n = 0;
  ASSERT_TRUE(board.Port().GetFrame(out, sizeof out, n));
  EXPECT_EQ(n, 3u);
}

}  // namespace

namespace lentar::comm {
namespace {

TEST(ComPortTest, APortRefusedToTheUserNamesTheDialoutGroup) {
  const std::string text = PermissionDeniedText("/dev/ttyS0");
  EXPECT_NE(text.find("/dev/ttyS0"), std::string::npos);
  EXPECT_NE(text.find("dialout"), std::string::npos);
  EXPECT_TRUE(IsPermissionDeniedText(text));
  EXPECT_FALSE(IsPermissionDeniedText("Permission denied"));
  EXPECT_FALSE(IsPermissionDeniedText(""));
}

}  // namespace
}  // namespace lentar::comm
