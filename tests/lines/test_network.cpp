// Network ports: the port names, and the board protocol over loopback TCP
// against lentar-boardsim --listen, raw (socket://) and RFC 2217 (rfc2217://).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/telnetcodec.h"
#include "core/textutil.h"
#include "lines/portline.h"
#include "lines/tcpline.h"
#include "support/scripted_server.h"
#include "support/sim_process.h"

namespace {

using namespace lentar::comm;
using namespace lentar::comm::testing;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
namespace telnet = lentar::comm::telnet;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(NetworkPortName, Parsing) {
  using Kind = NetworkPortName::Kind;
  const struct {
    const char* name;
    bool ok;
    Kind kind;
    const char* host;
    int port;
  } cases[] = {
      {"socket://127.0.0.1:4001", true, Kind::Raw, "127.0.0.1", 4001},
      {"SOCKET://board.local:1", true, Kind::Raw, "board.local", 1},
      {"rfc2217://serial-server:65535/", true, Kind::Rfc2217, "serial-server", 65535},
      {"rfc2217://[::1]:2217", true, Kind::Rfc2217, "::1", 2217},
      {"socket://host", false, Kind::Raw, "", 0},
      {"socket://:4001", false, Kind::Raw, "", 0},
      {"socket://host:0", false, Kind::Raw, "", 0},
      {"socket://host:65536", false, Kind::Raw, "", 0},
      {"socket://host:12a", false, Kind::Raw, "", 0},
      {"socket://::1:4001", false, Kind::Raw, "", 0},
      {"rfc2217://[::1]", false, Kind::Raw, "", 0},
      {"socket://a b:1", false, Kind::Raw, "", 0},
      {"telnet://host:23", false, Kind::Raw, "", 0},
      {"/dev/ttyUSB0", false, Kind::Raw, "", 0},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseNetworkPort(c.name);
    ASSERT_EQ(parsed.has_value(), c.ok) << c.name;
    if (!c.ok) continue;
    EXPECT_EQ(parsed->kind, c.kind) << c.name;
    EXPECT_EQ(parsed->host, c.host) << c.name;
    EXPECT_EQ(parsed->port, c.port) << c.name;
  }
  EXPECT_TRUE(IsNetworkPortName("Rfc2217://x"));
  EXPECT_FALSE(IsNetworkPortName("COM1"));
}

TEST(NetworkPortName, WindowsNamesMapToSystemDevices) {
  const struct {
    const char* name;
    const char* device;
  } cases[] = {{"COM1", "/dev/ttyS0"}, {"com12", "/dev/ttyS11"}, {"COM256", "/dev/ttyS255"},
               {"COM0", nullptr},      {"COM257", nullptr},      {"COM01", nullptr},
               {"COM", nullptr},       {"COMX", nullptr},        {"/dev/ttyS0", nullptr}};
  for (const auto& c : cases) {
    const auto device = SystemDeviceOfComName(c.name);
    ASSERT_EQ(device.has_value(), c.device != nullptr) << c.name;
    if (c.device) {
      EXPECT_EQ(*device, c.device);
    }
  }
}

class NetworkOpen : public ::testing::TestWithParam<const char*> {};

TEST_P(NetworkOpen, FailuresAreReportedInRussian) {
  const std::string scheme = GetParam();
  // A bound socket that does not listen refuses every connection and keeps
  // its port from being taken meanwhile.
  LoopbackSocket closed(false);
  const struct {
    std::string name;
    const char8_t* text;
  } cases[] = {
      {closed.Name(scheme.c_str()), u8"Соединение отвергнуто: 127.0.0.1:"},
      {scheme + "no-such-board.invalid:4001", u8"Узел сети не найден: no-such-board.invalid"},
      {scheme + "missing-port", u8"Неверное имя сетевого порта: "},
  };
  TComPort port(true, true, PortLineFactory({.connectMs = 2000, .negotiateMs = 300, .resolver = {}}));
  for (const auto& c : cases) {
    const auto start = Clock::now();
    port.Open(c.name);
    EXPECT_FALSE(port.IsOpen()) << c.name;
    EXPECT_TRUE(port.OpenFailed()) << c.name;
    EXPECT_NE(port.LastErrorText().find(lentar::Utf8ToCp1251(c.text)), std::string::npos)
        << c.name << ": " << lentar::Cp1251ToUtf8(port.LastErrorText());
    EXPECT_LT(MsSince(start), 2500) << c.name;
  }
}

// A server whose queue of connections waiting to be accepted is full drops
// further attempts unanswered: the open gives up at the connect deadline.
TEST_P(NetworkOpen, AServerThatNeverAnswersTimesOut) {
  LoopbackSocket server(false);
  ASSERT_EQ(listen(server.Fd(), 0), 0);
  std::vector<int> waiting;
  for (int i = 0; i < 4; ++i) {
    const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(server.Fd(), reinterpret_cast<sockaddr*>(&a), &len);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    waiting.push_back(c);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  TComPort port(true, true, PortLineFactory({.connectMs = 300, .negotiateMs = 300, .resolver = {}}));
  const auto start = Clock::now();
  port.Open(server.Name(GetParam()));
  const int64_t took = MsSince(start);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_NE(port.LastErrorText().find(lentar::Utf8ToCp1251(u8"Истекло время ожидания соединения: 127.0.0.1:")),
            std::string::npos)
      << lentar::Cp1251ToUtf8(port.LastErrorText());
  EXPECT_GE(took, 250);
  EXPECT_LT(took, 2000);
  for (int c : waiting) close(c);
}

INSTANTIATE_TEST_SUITE_P(Schemes, NetworkOpen, ::testing::Values("socket://", "rfc2217://"),
                         [](const auto& info) {
                           return std::string(info.param).substr(0, info.param[0] == 's' ? 6 : 7);
                         });

// A telnet server that never agrees to the com-port option: the open gives up
// at the negotiation deadline; one that refuses it is told at once.
TEST(Rfc2217Open, ServerWithoutComPortControl) {
  for (const bool refuses : {false, true}) {
    LoopbackSocket server(true);
    std::thread peer([&] {
      const int c = accept(server.Fd(), nullptr, nullptr);
      if (refuses) {
        const uint8_t dont[] = {255, 254, 44, 255, 252, 44};
        if (write(c, dont, sizeof dont) < 0) return;
      }
      uint8_t sink[256];
      while (read(c, sink, sizeof sink) > 0) {
      }
      close(c);
    });
    TComPort port(true, true, PortLineFactory({.connectMs = 2000, .negotiateMs = 1000, .resolver = {}}));
    const auto start = Clock::now();
    port.Open(server.Name("rfc2217://"));
    const int64_t took = MsSince(start);
    EXPECT_FALSE(port.IsOpen());
    const std::string text = lentar::Cp1251ToUtf8(port.LastErrorText());
    if (refuses) {
      EXPECT_NE(text.find("не поддерживает управление портом (RFC 2217)"), std::string::npos) << text;
      EXPECT_LT(took, 800) << "a refusal is not waited out";
    } else {
      EXPECT_NE(text.find("не ответил на согласование RFC 2217"), std::string::npos) << text;
      EXPECT_GE(took, 950);
    }
    port.Open("");
    peer.join();
  }
}

// A serial server played by the test: it agrees to everything and keeps the
// com-port commands it hears.
class RecordingServer {
 public:
  RecordingServer() : socket_(true), thread_([this] { Serve(); }) {}
  ~RecordingServer() {
    stop_ = true;
    thread_.join();
  }
  std::string Name() const { return socket_.Name("rfc2217://"); }

  // Waits until count commands have come; they are then taken.
  std::vector<telnet::ComEvent> Take(size_t count) {
    for (int i = 0; i < 200; ++i) {
      {
        std::lock_guard guard(lock_);
        if (events_.size() >= count) {
          std::vector<telnet::ComEvent> taken(events_.begin(), events_.begin() + static_cast<long>(count));
          events_.erase(events_.begin(), events_.begin() + static_cast<long>(count));
          return taken;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard guard(lock_);
    return std::move(events_);
  }
  Bytes Data() {
    std::lock_guard guard(lock_);
    return data_;
  }

 private:
  void Serve() {
    pollfd p{socket_.Fd(), POLLIN, 0};
    while (!stop_ && poll(&p, 1, 10) <= 0) {
    }
    if (stop_) return;
    const int c = accept(socket_.Fd(), nullptr, nullptr);
    telnet::Codec codec(telnet::Codec::Role::Server);
    const Bytes hello = codec.Start();
    if (write(c, hello.data(), hello.size()) < 0) return;
    uint8_t chunk[512];
    pollfd q{c, POLLIN, 0};
    while (!stop_) {
      if (poll(&q, 1, 10) <= 0) continue;
      const ssize_t n = read(c, chunk, sizeof chunk);
      if (n <= 0) break;
      Bytes data, reply;
      std::vector<telnet::ComEvent> events;
      codec.Receive(chunk, static_cast<size_t>(n), data, reply, events);
      if (!reply.empty() && write(c, reply.data(), reply.size()) < 0) break;
      std::lock_guard guard(lock_);
      data_.insert(data_.end(), data.begin(), data.end());
      events_.insert(events_.end(), events.begin(), events.end());
    }
    close(c);
  }

  LoopbackSocket socket_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<telnet::ComEvent> events_;
  Bytes data_;
  std::thread thread_;
};

// What the port tells an RFC 2217 server: the line settings on opening and
// on every change, the modem lines, purges; and its data, 255 escaped.
TEST(Rfc2217Line, TellsTheServerTheLineSettings) {
  using E = telnet::ComEvent;
  const auto baud = [](uint32_t rate) {
    return E{1, {uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8), uint8_t(rate)}};
  };
  RecordingServer server;
  TComPort port(true, false);
  port.Open(server.Name());
  ASSERT_TRUE(port.IsOpen()) << lentar::Cp1251ToUtf8(port.LastErrorText());
  EXPECT_EQ(server.Take(8), (std::vector<E>{baud(9600), {2, {8}}, {3, {1}}, {4, {2}}, {5, {1}},
                                            {5, {8}}, {5, {12}}, {11, {0xFF}}}))
      << "9600 bit/s, 8 data bits, no parity, two stop bits, no flow control, DTR on, RTS off";

  port.SetBaudIndex(7);
  EXPECT_EQ(server.Take(5), (std::vector<E>{baud(57600), {2, {8}}, {3, {1}}, {4, {2}}, {5, {1}}}));
  PortConfig config = port.Config();
  config.SetParity(Parity::Even);
  config.SetStopBits(StopBits::One);
  config.SetDataBits(7);
  port.SetConfig(config);
  EXPECT_EQ(server.Take(5), (std::vector<E>{baud(57600), {2, {7}}, {3, {3}}, {4, {1}}, {5, {1}}}));

  port.SetDTR(false);
  port.SetRTS(true);
  port.Purge();
  EXPECT_EQ(server.Take(3), (std::vector<E>{{5, {9}}, {5, {11}}, {12, {3}}}));

  const Bytes payload = {0xFF, 0x0D, 0x00, 0xFF};
  ASSERT_TRUE(port.SendFrame(payload));
  for (int i = 0; i < 200 && server.Data().size() < 7; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(server.Data(), BuildFrame(payload)) << "data arrives unchanged";
  port.Open("");
}

Bytes Pattern(size_t size) {
  Bytes image(size);
  // Plenty of 255 bytes (telnet's command byte) and carriage returns.
  for (size_t i = 0; i < size; ++i)
    image[i] = i % 7 == 0 ? 0xFF : i % 11 == 0 ? 0x0D : static_cast<uint8_t>(i * 131 ^ (i >> 7));
  return image;
}

// The simulator on a loopback TCP port; the parameter is true for RFC 2217.
class NetworkBoard : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir_ = TestFolder("lentar_net", std::string(GetParam() ? "rfc2217_" : "raw_") +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    port_.Open("");
    sim_.Stop();
    fs::remove_all(dir_);
  }

  void Connect(std::vector<std::string> args = {}) {
    ASSERT_TRUE(sim_.StartListening(dir_, GetParam(), args)) << sim_.Log();
    port_.Open(sim_.Link());
    ASSERT_TRUE(port_.IsOpen()) << lentar::Cp1251ToUtf8(port_.LastErrorText());
  }

  fs::path dir_;
  SimProcess sim_;
  TComPort port_{true, true};
  BoardSession session_{port_};
};

TEST_P(NetworkBoard, EveryCommandAnswers) {
  Connect();
  TComPort& p = port_;
  StatusBlock status;
  BufferInfo info;
  OptionsBlock options;
  AutoBrightBlock bright;
  BoardClock clock;
  BlockMap map;
  std::string version;
  int delay = 0;
  const Bytes block(128, 0xFF);
  const struct {
    const char* name;
    std::function<bool()> run;
  } commands[] = {
      {"connect", [&] { return CmdConnect(session_); }},
      {"version", [&] { return CmdReadVersion(session_, version) && !version.empty(); }},
      {"settings", [&] { return ApplyBoardSettings(session_, 2, 7, true); }},
      {"default font", [&] { return CmdSetDefaultFont(session_, 1); }},
      {"clear on switch", [&] { return CmdSetClearOnSwitch(session_, true); }},
      {"status", [&] { return CmdReadStatus(session_, status) && status.Speed() == 2 && status.Flipped(); }},
      {"options", [&] { return CmdReadOptions(session_, options) && options.ClearOnSwitch(); }},
      {"read auto brightness", [&] { return CmdReadAutoBright(session_, bright); }},
      {"write auto brightness", [&] { return CmdWriteAutoBright(session_, bright.Settable()); }},
      {"clock", [&] { return CmdReadClock(session_, clock); }},
      {"set clock", [&] { return SetClockNow(session_); }},
      {"buffer info", [&] { return CmdReadBufferInfo(session_, info) && info.Capacity(0) == 32000; }},
      {"clear", [&] { return ClearBuffer(session_, 1); }},
      {"start buffer", [&] { return CmdStartBuffer(session_, 1); }},
      {"enter password", [&] { return CmdEnterPassword(session_, "").accepted; }},
      {"set password", [&] { return CmdSetPassword(session_, "pw").accepted; }},
      {"modem access", [&] { return CmdQueryModemAccess(session_).replied; }},
      {"modem password", [&] { return CmdEnterModemPassword(session_, "pw").accepted; }},
      {"begin stream", [&] { return CmdBeginStream(session_); }},
      {"stream block", [&] { return CmdStreamBlock(session_, 0, 0, block.data(), block.size()); }},
      {"block map", [&] { return CmdReadBlockMap(session_, map) && map.Has(0); }},
      {"write block", [&] { return CmdWriteBlock(session_, 0, 128, block.data(), block.size()); }},
      {"measure", [&] { return MeasureLink(session_, delay) && delay >= 20; }},
      // The speed switch: acknowledged at the old rate, then both ends move.
      {"to 57600", [&] { return CmdSetBaud(session_, 7) && (p.SetBaudIndex(7), CmdConnect(session_)); }},
      {"back to 9600", [&] { return CmdSetBaud(session_, 3) && (p.SetBaudIndex(3), CmdConnect(session_)); }},
      {"purge", [&] { return (p.Purge(), CmdConnect(session_)); }},
      {"modem lines", [&] { return (p.SetDTR(false), p.SetRTS(false), p.RestoreLines(), CmdConnect(session_)); }},
  };
  for (const auto& c : commands) EXPECT_TRUE(c.run()) << c.name;
  EXPECT_EQ(p.DSRState(), !GetParam()) << "raw TCP reads DSR as on; the simulator without a "
                                          "modem reports it off over RFC 2217";
}

TEST_P(NetworkBoard, UploadsArriveByteExact) {
  Connect({"--buffer1", "65535", "--save-dir", dir_.string()});
  const Bytes image = Pattern(kMaxImageSize);
  ASSERT_TRUE(ClearBuffer(session_, 0));
  ASSERT_TRUE(UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr));
  EXPECT_EQ(ReadFileBytes(dir_ / "upload-1.bin"), image);

  session_.BlockDelay = 0;
  const Bytes small = Pattern(1000);
  ASSERT_TRUE(UploadStreamed(session_, 0, small.data(), small.size(), nullptr, false, true));
  EXPECT_EQ(ReadFileBytes(dir_ / "upload-2.bin"), small) << "streamed and repaired";
}

TEST_P(NetworkBoard, TheNextClientConnectsAfterTheFirstLeaves) {
  Connect();
  EXPECT_TRUE(CmdSetSpeed(session_, 4));
  port_.Open("");
  port_.Open(sim_.Link());
  ASSERT_TRUE(port_.IsOpen());
  StatusBlock status;
  ASSERT_TRUE(CmdReadStatus(session_, status));
  EXPECT_EQ(status.Speed(), 4) << "the same board";
}

// A serial line has one computer at a time: a second client is turned away
// while the first is connected, and nothing it sent ever runs on the board
// (a queued "clear" once wiped the upload the first client had just made).
TEST_P(NetworkBoard, ASecondClientIsRefusedAndItsCommandsNeverRun) {
  Connect({"--save-dir", dir_.string()});
  const Bytes image = Pattern(300);
  ASSERT_TRUE(ClearBuffer(session_, 0));
  ASSERT_TRUE(UploadAcknowledged(session_, 0, image.data(), image.size(), nullptr));
  {
    TComPort second{true, true};
    second.Open(sim_.Link());
    BoardSession secondSession(second);
    secondSession.ReplyTimeout = 300;
    secondSession.RetryCount = 1;
    if (second.IsOpen()) {
      EXPECT_FALSE(ClearBuffer(secondSession, 0));
    }
    second.Open("");
  }
  port_.Open("");
  port_.Open(sim_.Link());
  ASSERT_TRUE(port_.IsOpen());
  BufferInfo info;
  ASSERT_TRUE(CmdReadBufferInfo(session_, info));
  EXPECT_EQ(info.DataLength(), 300) << "the upload survived the second client";
}

TEST_P(NetworkBoard, AServerThatDiesMidUploadFailsItAtOnce) {
  Connect({"--buffer1", "65535"});
  const Bytes image = Pattern(kMaxImageSize);
  ASSERT_TRUE(ClearBuffer(session_, 0));
  Clock::time_point killedAt{};
  bool killed = false;
  const auto progress = [&](int percent) {
    if (percent >= 20 && !killed) {
      killed = true;
      sim_.Kill();
      killedAt = Clock::now();
    }
  };
  EXPECT_FALSE(UploadAcknowledged(session_, 0, image.data(), image.size(), progress));
  ASSERT_TRUE(killed);
  EXPECT_LT(MsSince(killedAt), 1000) << "no wait runs to its deadline";
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(port_.DSRState());
  EXPECT_FALSE(CmdConnect(session_));
}

INSTANTIATE_TEST_SUITE_P(Kinds, NetworkBoard, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Rfc2217" : "Raw"; });

class Rfc2217Board : public NetworkBoard {};

// Over RFC 2217 the server hears the bit rate the port sets: with --pace at
// 1200 bit/s a status exchange (33 bytes both ways) takes about 300 ms.
TEST_P(Rfc2217Board, TheServerPacesAtTheRateTheClientSet) {
  Connect({"--pace"});
  port_.SetBaudRate(1200);
  StatusBlock status;
  ASSERT_TRUE(CmdReadStatus(session_, status));  // the rate has reached the server
  const auto start = Clock::now();
  ASSERT_TRUE(CmdReadStatus(session_, status));
  EXPECT_GE(MsSince(start), 250);
}

// DSR follows the simulated modem: on at CONNECT, off after the hang-up.
TEST_P(Rfc2217Board, DsrFollowsTheModem) {
  Connect({"--modem", "--connect-delay-ms", "50", "--modem-password", "mdm"});
  // Polls condition (which may consume what it looks at) until it holds.
  const auto waitFor = [](auto condition) {
    for (int i = 0; i < 200; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  TComPort& p = port_;
  std::atomic<int> handlerDsr{-1};
  p.SetLineStateHandler([&](bool dsr, bool&) { handlerDsr = dsr ? 1 : 0; });
  p.SetLineMode(true);
  p.ClearLineBuffer();
  ASSERT_TRUE(p.WriteText("ATZ", true));
  EXPECT_TRUE(waitFor([&] { return p.WaitForLine("OK"); }));
  EXPECT_FALSE(p.DSRState());
  p.ClearLineBuffer();
  ASSERT_TRUE(p.WriteText("ATDT123", true));
  ASSERT_TRUE(waitFor([&] { return p.DSRState(); })) << "DSR rises at CONNECT";
  EXPECT_TRUE(waitFor([&] { return handlerDsr == 1; })) << "and the line-state handler sees it";
  EXPECT_TRUE(p.WaitForLine("CONNECT 9600"));
  p.SetLineMode(false);
  EXPECT_FALSE(CmdQueryModemAccess(session_).accepted);
  EXPECT_TRUE(CmdEnterModemPassword(session_, "mdm").accepted);

  p.SetLineMode(true);
  p.ClearLineBuffer();
  p.SetDTR(false);
  EXPECT_TRUE(waitFor([&] { return !p.DSRState(); })) << "dropping DTR hangs up";
  EXPECT_TRUE(waitFor([&] { return handlerDsr == 0; }));
  EXPECT_TRUE(waitFor([&] { return p.WaitForLine("NO CARRIER"); }));
  p.SetLineStateHandler(nullptr);
  p.SetDTR(true);
  p.ClearLineBuffer();
  ASSERT_TRUE(p.WriteText("AT", true));
  EXPECT_TRUE(waitFor([&] { return p.WaitForLine("OK"); })) << "back in command mode";
}

INSTANTIATE_TEST_SUITE_P(Modem, Rfc2217Board, ::testing::Values(true),
                         [](const auto&) { return "Rfc2217"; });

}  // namespace
