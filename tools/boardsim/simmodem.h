// A simulated Hayes modem between the computer and the simulated board.
//
// Command mode: the modem echoes what it receives (ATE0/ATE1; ATZ restores
// the echo), collects a command line up to CR and answers with a result code
// on a line of its own ("\r\nOK\r\n", "\r\nERROR\r\n"). ATD dials: after the
// connect delay the call either comes up ("CONNECT 9600", DSR raised, every
// byte passed through to the board and back) or fails with the chosen result
// ("BUSY", "NO ANSWER", "NO CARRIER", "NO DIAL TONE"). Dropping DTR hangs up:
// DSR falls and the modem is back in command mode. A character other than LF
// received while dialling abandons the call ("NO CARRIER"), as on a real modem.
//
// The modem is plain logic with an injected clock: the owner feeds it the
// computer's bytes and DTR, passes the board's replies through it, and calls
// Poll when the time of NextEventMs has come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace lentar::boardsim {

enum class DialResult { Connect, Busy, NoAnswer, NoCarrier, NoDialTone };

struct ModemOptions {
  DialResult dialResult = DialResult::Connect;
  // Every command line but ATZ, ATD and ATH answers "ERROR" (a modem that
  // refuses its initialisation strings).
  bool initError = false;
  int connectDelayMs = 2000;
  // The call is lost (carrier gone: DSR falls, "NO CARRIER") once this many
  // bytes of the call have reached the board; -1 never.
  long long dropCallAfter = -1;
  // The call is lost this many ms after it came up; -1 never.
  int callLastsMs = -1;
};

class SimModem {
 public:
  enum class State { Command, Dialling, Connected };
  using Output = std::function<void(const uint8_t* bytes, size_t count)>;

  // toComputer receives echo, result codes and the board's bytes during a
  // call; toBoard the computer's bytes during a call.
  SimModem(const ModemOptions& options, Output toComputer, Output toBoard);

  void FromComputer(const uint8_t* bytes, size_t count, int64_t nowMs);
  // Bytes the board sends: they reach the computer only while a call is up.
  void FromBoard(const uint8_t* bytes, size_t count);
  // DTR as the computer drives it; a drop hangs up.
  void SetDtr(bool on, int64_t nowMs);
  // Lets a pending dial finish once its time has come.
  void Poll(int64_t nowMs);
  // When Poll has something to do, or -1.
  int64_t NextEventMs() const;

  State CurrentState() const { return state_; }
  // DSR follows the call.
  bool Dsr() const { return state_ == State::Connected; }
  // Called when a call ends (the board forgets what the call was granted).
  void SetHangUpHook(std::function<void()> hook) { onHangUp_ = std::move(hook); }
  // Called with every command line the modem received (for the log).
  void SetCommandHook(std::function<void(const std::string&)> hook) {
    onCommand_ = std::move(hook);
  }
  // The number of the last ATD.
  const std::string& LastNumber() const { return lastNumber_; }

  static const char* ResultText(DialResult result);

 private:
  void Result(const char* text);
  void CommandLine(const std::string& line, int64_t nowMs);
  void HangUp(bool report);
  void PassToBoard(const uint8_t* bytes, size_t count);

  ModemOptions options_;
  Output toComputer_;
  Output toBoard_;
  std::function<void()> onHangUp_;
  std::function<void(const std::string&)> onCommand_;
  State state_ = State::Command;
  bool echo_ = true;
  bool dtr_ = true;
  std::string line_;
  bool lineOverflow_ = false;
  int64_t dialDoneAt_ = -1;
  int64_t callEndsAt_ = -1;
  long long callBytes_ = 0;  // bytes passed to the board during this call
  std::string lastNumber_;
};

}  // namespace lentar::boardsim
