// Network ports against servers that misbehave on purpose: telnet peers that
// flood the line with option commands and never read, a line that pours out
// data while a call is dialled, a server that stops reading, a name server
// that never answers, and servers that close or reset the connection. Every
// case must end within a generous time and memory bound with the one message
// that names the fault; the bounds catch a hang or a queue that grows without
// end, they do not measure speed.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/modem.h"
#include "core/textutil.h"
#include "lines/portline.h"
#include "lines/tcpline.h"
#include "support/scripted_server.h"

namespace {

using namespace lentar::comm;
using namespace lentar::comm::testing;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The process's peak resident size in KiB since the last ResetPeak.
long PeakKb() {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmHWM:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 12, '\n');
  }
  return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::string Utf8(const std::string& cp1251) { return lentar::Cp1251ToUtf8(cp1251); }

class HostileServers : public ::testing::Test {
 protected:
  // Lines quick to give up reaching or agreeing with a server.
  static LineFactory QuickLines(NameResolver resolver = {}, int ms = 1500) {
    return PortLineFactory({.connectMs = ms, .negotiateMs = ms, .resolver = std::move(resolver)});
  }
};

// A board session on the test's line, quick to give up.
struct QuickSession : BoardSession {
  explicit QuickSession(TComPort& port) : BoardSession(port) {
    ReplyTimeout = 500;
    RetryCount = 1;
  }
};

// Short modem pauses: the flood is what the cases are about.
const ModemTimings kQuickModem{0, 10, 10, 200, 50, 0};

TEST_F(HostileServers, EndWithinBoundsAndNameTheFault) {
  using Action = std::function<std::string(TComPort& port, ScriptedServer& server)>;
  // Opens the port; the open's failure text, or what then happens.
  const auto openThen = [](const char* scheme, Action then) -> Action {
    return [scheme, then](TComPort& port, ScriptedServer& server) {
      port.Open(server.Name(scheme));
      if (port.OpenFailed()) return port.LastErrorText();
      return then ? then(port, server) : std::string();
    };
  };
  // A call dialled with no time limit: its status once it ended.
  const Action dialForEver = [](TComPort& port, ScriptedServer&) {
    DialRequest request;
    request.number = "1";
    QuickSession session(port);
    return DialAndWait(session, request, 0, kQuickModem).status;
  };
  // One board command; why the line closed under it.
  const Action command = [](TComPort& port, ScriptedServer&) {
    QuickSession session(port);
    EXPECT_FALSE(CmdConnect(session));
    return port.LostText();
  };
  // Frames written until the line refuses one; why it did.
  const Action writeUntilRefused = [](TComPort& port, ScriptedServer&) {
    const Bytes payload(252, 0x55);
    while (port.SendFrame(payload)) {
    }
    return port.LostText();
  };
  const auto wholeFlood = [](Bytes unit) {
    return [unit](ScriptedServer& s, int fd) { FloodForEver(s, fd, unit); };
  };
  // A serial server with a modem that floods the line once dialled.
  const auto floodOnceDialled = [](Bytes unit) {
    return [unit](ScriptedServer& s, int fd) {
      if (s.Send(fd, AgreeToComPort()) && s.AwaitDial(fd)) FloodForEver(s, fd, unit);
    };
  };
  Bytes okLines;
  for (int i = 0; i < 1024; ++i) okLines.insert(okLines.end(), {'O', 'K', '\r', '\n'});
  const char8_t* closed = u8"Соединение закрыто сервером: ";
  const char8_t* flooding = u8"Сервер засыпает линию командами согласования telnet: ";

  const struct {
    const char* name;
    ScriptedServer::Behaviour server;
    Action action;
    const char8_t* text;  // the outcome starts with it (then the server's address)
    bool where;           // the address follows the text
    int maxMs;
  } cases[] = {
      {"a telnet option flood during the negotiation, never reading", wholeFlood(OptionFlood()),
       openThen("rfc2217://", nullptr), flooding, true, 10000},
      {"a telnet option flood while a call is dialled with no time limit",
       floodOnceDialled(OptionFlood()), openThen("rfc2217://", dialForEver), flooding, true, 15000},
      {"a line that pours out \"OK\" lines while a call is dialled with no time limit",
       floodOnceDialled(okLines), openThen("rfc2217://", dialForEver),
       u8"Поток данных на линии вместо ответа модема", false, 15000},
      {"a raw server that never reads", [](ScriptedServer& s, int) { s.Hold(); },
       openThen("socket://", writeUntilRefused), u8"Сервер не принимает данные: ", true, 60000},
      {"a raw server that closes at once", [](ScriptedServer&, int) {},
       openThen("socket://", command), closed, true, 5000},
      {"a raw server that resets at once", [](ScriptedServer&, int fd) { Reset(fd); },
       openThen("socket://", command), closed, true, 5000},
      {"a raw server that closes after the first request",
       [](ScriptedServer& s, int fd) { s.AwaitBytes(fd); }, openThen("socket://", command),
       closed, true, 5000},
      {"a raw server that resets after the first request",
       [](ScriptedServer& s, int fd) {
         s.AwaitBytes(fd);
         Reset(fd);
       },
       openThen("socket://", command), closed, true, 5000},
      {"a telnet server that resets after agreeing",
       [](ScriptedServer& s, int fd) {
         s.Send(fd, AgreeToComPort());
         s.AwaitBytes(fd);
         Reset(fd);
       },
       openThen("rfc2217://", command), closed, true, 5000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetPeak();
    const long before = PeakKb();
    std::string text;
    int64_t took = 0;
    {
      ScriptedServer server(c.server);
      TComPort port(true, true, QuickLines());
      const auto start = Clock::now();
      text = c.action(port, server);
      took = MsSince(start);
      std::string expected = lentar::Utf8ToCp1251(c.text);
      if (c.where) expected += server.Where();
      EXPECT_EQ(Utf8(text), Utf8(expected));
      port.Open("");
    }
    EXPECT_LT(took, c.maxMs);
    EXPECT_LT(PeakKb() - before, 64 * 1024) << "KiB more at the peak";
  }
}

// A name server that never answers: the open ends at the port's connect
// bound and says it timed out, not that the host is unknown.
TEST_F(HostileServers, ANameServerThatNeverAnswersTimesOut) {
  const NameResolver neverAnswers = [](const std::string&) {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    return std::vector<std::string>{};
  };
  TComPort port(true, true, QuickLines(neverAnswers, 800));
  for (const char* scheme : {"socket://", "rfc2217://"}) {
    const auto start = Clock::now();
    port.Open(std::string(scheme) + "board.example:4001");
    const int64_t took = MsSince(start);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(Utf8(port.LastErrorText()), "Истекло время поиска узла сети: board.example");
    EXPECT_GE(took, 700);
    EXPECT_LT(took, 2500);
  }
  // A name the resolver does not know is told at once.
  TComPort unknown(true, true,
                   QuickLines([](const std::string&) { return std::vector<std::string>{}; }, 800));
  unknown.Open("socket://board.example:4001");
  EXPECT_EQ(Utf8(unknown.LastErrorText()), "Узел сети не найден: board.example");
}

}  // namespace
