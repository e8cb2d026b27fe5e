// The simulated Hayes modem: its command dialogue with a clock the test
// moves, and a call through it to the simulated board over the in-memory
// line.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "comm/boardprotocol.h"
#include "simmodem.h"
#include "support/memory_modem.h"

namespace {

using lentar::boardsim::DialResult;
using lentar::boardsim::ModemOptions;
using lentar::boardsim::SimModem;
using namespace lentar::comm;

class Modem {
 public:
  explicit Modem(ModemOptions options = {})
      : modem_(
            options, [this](const uint8_t* b, size_t n) { computer_.append(reinterpret_cast<const char*>(b), n); },
            [this](const uint8_t* b, size_t n) { board_.append(reinterpret_cast<const char*>(b), n); }) {
    modem_.SetHangUpHook([this] { ++hangUps_; });
  }
  // Sends text at the current time; returns what the computer received.
  std::string Type(const std::string& text) {
    computer_.clear();
    modem_.FromComputer(reinterpret_cast<const uint8_t*>(text.data()), text.size(), now_);
    return computer_;
  }
  std::string Wait(int64_t ms) {
    computer_.clear();
    now_ += ms;
    modem_.Poll(now_);
    return computer_;
  }
  std::string Dtr(bool on) {
    computer_.clear();
    modem_.SetDtr(on, now_);
    return computer_;
  }
  std::string FromBoard(const std::string& text) {
    computer_.clear();
    modem_.FromBoard(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return computer_;
  }

  SimModem modem_;
  std::string computer_, board_;
  int64_t now_ = 1000;
  int hangUps_ = 0;
};

TEST(SimModem, CommandDialogue) {
  struct Step {
    std::string typed;
    const char* answer;
  };
  const struct {
    const char* name;
    bool initError;
    std::vector<Step> steps;
  } cases[] = {
      {"echo and OK", false, {{"ATZ\r\n", "ATZ\r\r\nOK\r\n\n"}, {"at\r", "at\r\r\nOK\r\n"}}},
      {"echo off, ATZ restores it",
       false,
       {{"ATE0\r", "ATE0\r\r\nOK\r\n"},
        {"AT&F V1 X4 S0=0\r", "\r\nOK\r\n"},
        {"ATZ\r", "\r\nOK\r\n"},
        {"AT\r", "AT\r\r\nOK\r\n"}}},
      {"ATE alone turns echo on", false, {{"ATE0\r", "ATE0\r\r\nOK\r\n"}, {"ATE\r", "\r\nOK\r\n"}, {"AT\r", "AT\r\r\nOK\r\n"}}},
      {"unknown commands", false, {{"AT!\r", "AT!\r\r\nERROR\r\n"}, {"AT&\r", "AT&\r\r\nERROR\r\n"}}},
      {"no AT: ignored", false, {{"hello\r", "hello\r"}, {"\r", "\r"}}},
      {"backspace edits the line", false, {{"ATX\b\r", "ATX\b\r\r\nOK\r\n"}}},
      {"a line too long", false, {{std::string("AT") + std::string(300, 'V') + "\r", nullptr}}},
      {"initialisation refused",
       true,
       {{"AT&F\r", "AT&F\r\r\nERROR\r\n"}, {"ATE0\r", "ATE0\r\r\nERROR\r\n"}, {"ATZ\r", "ATZ\r\r\nOK\r\n"}}},
  };
  for (const auto& c : cases) {
    ModemOptions options;
    options.initError = c.initError;
    Modem m(options);
    for (const Step& s : c.steps) {
      const std::string got = m.Type(s.typed);
      if (s.answer) {
        EXPECT_EQ(got, s.answer) << c.name << ": " << s.typed;
      }
      else EXPECT_EQ(got.substr(got.size() - 9), "\r\nERROR\r\n") << c.name;
    }
    EXPECT_TRUE(m.board_.empty()) << c.name << ": nothing reaches the board in command mode";
    EXPECT_FALSE(m.modem_.Dsr()) << c.name;
  }
}

TEST(SimModem, DialResultsAfterTheDelay) {
  const struct {
    DialResult result;
    const char* text;
  } cases[] = {{DialResult::Connect, "CONNECT 9600"},
               {DialResult::Busy, "BUSY"},
               {DialResult::NoAnswer, "NO ANSWER"},
               {DialResult::NoCarrier, "NO CARRIER"},
               {DialResult::NoDialTone, "NO DIAL TONE"}};
  for (const auto& c : cases) {
    ModemOptions options;
    options.dialResult = c.result;
    options.connectDelayMs = 300;
    Modem m(options);
    EXPECT_EQ(m.Type("ATDP123\r\n"), "ATDP123\r") << "the LF after the CR does not abort";
    EXPECT_EQ(m.modem_.LastNumber(), "P123");
    EXPECT_EQ(m.modem_.NextEventMs(), m.now_ + 300);
    EXPECT_EQ(m.Wait(299), "") << c.text;
    EXPECT_EQ(m.Wait(1), std::string("\r\n") + c.text + "\r\n");
    const bool up = c.result == DialResult::Connect;
    EXPECT_EQ(m.modem_.Dsr(), up) << c.text;
    EXPECT_EQ(m.modem_.CurrentState(), up ? SimModem::State::Connected : SimModem::State::Command);
    if (!up) {
      EXPECT_EQ(m.Type("AT\r"), "AT\r\r\nOK\r\n") << "back in command mode after " << c.text;
    }
  }
}

TEST(SimModem, CallCarriesBytesUntilDtrDrops) {
  ModemOptions options;
  options.connectDelayMs = 0;
  Modem m(options);
  m.Type("ATDT5551234\r");
  m.Wait(0);
  ASSERT_TRUE(m.modem_.Dsr());
  const std::string frame("\x06\x18\x58\x01\x0A\x0D", 6);
  EXPECT_EQ(m.Type(frame + "ATZ\r"), "") << "no echo during a call";
  EXPECT_EQ(m.board_, frame + "ATZ\r") << "every byte goes to the board";
  EXPECT_EQ(m.FromBoard("\x07reply"), "\x07reply");

  EXPECT_EQ(m.Dtr(false), "\r\nNO CARRIER\r\n");
  EXPECT_FALSE(m.modem_.Dsr());
  EXPECT_EQ(m.hangUps_, 1);
  EXPECT_EQ(m.FromBoard("late"), "") << "nothing passes after the hang-up";
  m.Dtr(true);
  EXPECT_EQ(m.Type("AT\r"), "AT\r\r\nOK\r\n");
}

TEST(SimModem, ALostCallPassesOnlyTheBytesBeforeTheLoss) {
  ModemOptions options;
  options.connectDelayMs = 0;
  options.dropCallAfter = 5;
  Modem m(options);
  m.Type("ATD1\r");
  m.Wait(0);
  ASSERT_TRUE(m.modem_.Dsr());
  EXPECT_EQ(m.Type("abc"), "");
  EXPECT_EQ(m.Type("defg"), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(m.board_, "abcde");
  EXPECT_FALSE(m.modem_.Dsr());
  EXPECT_EQ(m.hangUps_, 1);
  // The next call counts afresh.
  m.Type("ATD1\r");
  m.Wait(0);
  ASSERT_TRUE(m.modem_.Dsr());
  EXPECT_EQ(m.Type("vwxy"), "");
  EXPECT_EQ(m.board_, "abcdevwxy");
}

TEST(SimModem, AKeyDuringTheDialAbandonsIt) {
  ModemOptions options;
  options.connectDelayMs = 500;
  Modem m(options);
  m.Type("ATD1\r");
  EXPECT_EQ(m.Type("x"), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(m.Wait(1000), "") << "the abandoned dial does not connect later";
  EXPECT_FALSE(m.modem_.Dsr());
  // DTR dropped while dialling ends the dial quietly.
  m.Type("ATD1\r");
  EXPECT_EQ(m.Dtr(false), "");
  m.Dtr(true);
  EXPECT_EQ(m.Wait(1000), "");
  EXPECT_EQ(m.modem_.CurrentState(), SimModem::State::Command);
}

// A whole call over the in-memory line: the port's own line mode, DSR and
// DTR, and the board's modem access behind the modem.
TEST(SimModem, CallOverTheInMemoryLine) {
  ModemOptions modem;
  modem.connectDelayMs = 50;
  lentar::boardsim::SimOptions board;
  board.modemPassword = "mdm";
  lentar::comm::testing::MemoryModem line(modem, board);
  TComPort& port = line.Port();
  BoardSession session(port);
  session.ReplyTimeout = 1000;
  // Polls condition (which may consume what it looks at) until it holds.
  const auto waitFor = [](auto condition) {
    for (int i = 0; i < 2000; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  };

  port.SetLineMode(true);
  port.ClearLineBuffer();
  ASSERT_TRUE(port.WriteText("ATZ", true));
  EXPECT_TRUE(port.WaitForLine("OK"));
  EXPECT_FALSE(port.DSRState());
  port.ClearLineBuffer();
  ASSERT_TRUE(port.WriteText("ATDP123", true));
  EXPECT_TRUE(waitFor([&] { return port.DSRState(); })) << "DSR rises when the call connects";
  EXPECT_EQ(line.LastNumber(), "P123");
  std::string text;
  EXPECT_TRUE(port.ReadLine(text));
  EXPECT_EQ(text, "ATDP123") << "the echo";
  EXPECT_TRUE(port.ReadLine(text));
  EXPECT_EQ(text, "CONNECT 9600");
  port.SetLineMode(false);

  PasswordReply reply = CmdQueryModemAccess(session);
  EXPECT_TRUE(reply.replied);
  EXPECT_FALSE(reply.accepted) << "the modem password is asked first";
  reply = CmdEnterModemPassword(session, "bad");
  EXPECT_TRUE(reply.replied && !reply.accepted);
  reply = CmdEnterModemPassword(session, "mdm");
  EXPECT_TRUE(reply.replied && reply.accepted);
  EXPECT_TRUE(CmdQueryModemAccess(session).accepted);
  StatusBlock status;
  EXPECT_TRUE(CmdReadStatus(session, status));

  // The modem's "NO CARRIER" is a line for line mode, not a frame.
  port.SetLineMode(true);
  port.ClearLineBuffer();
  port.SetDTR(false);
  EXPECT_TRUE(waitFor([&] { return !port.DSRState(); })) << "dropping DTR hangs up";
  EXPECT_EQ(line.ModemState(), lentar::boardsim::SimModem::State::Command);
  EXPECT_TRUE(waitFor([&] { return port.WaitForLine("NO CARRIER"); }));

  // The next call asks for the modem password again.
  port.SetDTR(true);
  port.ClearLineBuffer();
  ASSERT_TRUE(port.WriteText("ATDP123", true));
  EXPECT_TRUE(waitFor([&] { return port.DSRState(); }));
  port.SetLineMode(false);
  reply = CmdQueryModemAccess(session);
  EXPECT_TRUE(reply.replied && !reply.accepted);
}

}  // namespace
