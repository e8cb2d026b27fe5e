#include "simmodem.h"

#include <cctype>

namespace lentar::boardsim {

namespace {

// The longest command line a modem keeps; a longer one is answered "ERROR".
constexpr size_t kMaxCommandLine = 256;

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

SimModem::SimModem(const ModemOptions& options, Output toComputer, Output toBoard)
    : options_(options), toComputer_(std::move(toComputer)), toBoard_(std::move(toBoard)) {}

const char* SimModem::ResultText(DialResult result) {
  switch (result) {
    case DialResult::Connect: return "CONNECT 9600";
    case DialResult::Busy: return "BUSY";
    case DialResult::NoAnswer: return "NO ANSWER";
    case DialResult::NoCarrier: return "NO CARRIER";
    case DialResult::NoDialTone: return "NO DIAL TONE";
  }
  return "ERROR";
}

void SimModem::Result(const char* text) {
  const std::string line = std::string("\r\n") + text + "\r\n";
  if (toComputer_) toComputer_(reinterpret_cast<const uint8_t*>(line.data()), line.size());
}

void SimModem::FromComputer(const uint8_t* bytes, size_t count, int64_t nowMs) {
  if (state_ == State::Connected) {
    PassToBoard(bytes, count);
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (state_ == State::Connected) {
      // The rest of a chunk that arrived together with the dial's end.
      PassToBoard(bytes + i, count - i);
      return;
    }
    if (state_ == State::Dialling) {
      if (c == '\n' || c == '\0') continue;
      dialDoneAt_ = -1;
      state_ = State::Command;
      Result("NO CARRIER");
      continue;
    }
    if (echo_ && toComputer_) toComputer_(&bytes[i], 1);
    if (c == '\r') {
      const std::string line = line_;
      const bool overflow = lineOverflow_;
      line_.clear();
      lineOverflow_ = false;
      if (overflow) Result("ERROR");
      else CommandLine(line, nowMs);
    } else if (c == '\n') {
      // LF after CR is not part of a command.
    } else if (c == '\b' || c == 0x7F) {
      if (!line_.empty()) line_.pop_back();
    } else if (line_.size() < kMaxCommandLine) {
      line_.push_back(c);
    } else {
      lineOverflow_ = true;
    }
  }
}

void SimModem::PassToBoard(const uint8_t* bytes, size_t count) {
  if (options_.dropCallAfter >= 0 &&
      callBytes_ + static_cast<long long>(count) > options_.dropCallAfter) {
    // The carrier is lost part way through these bytes.
    const size_t passed = static_cast<size_t>(options_.dropCallAfter - callBytes_);
    if (toBoard_ && passed > 0) toBoard_(bytes, passed);
    callBytes_ += static_cast<long long>(passed);
    HangUp(true);
    return;
  }
  callBytes_ += static_cast<long long>(count);
  if (toBoard_ && count > 0) toBoard_(bytes, count);
}

void SimModem::CommandLine(const std::string& raw, int64_t nowMs) {
  if (onCommand_) onCommand_(raw);
  size_t start = raw.find_first_not_of(' ');
  if (start == std::string::npos || raw.size() - start < 2 || Upper(raw[start]) != 'A' ||
      Upper(raw[start + 1]) != 'T')
    return;  // not a command: a modem ignores it
  const std::string cmd = raw.substr(start + 2);
  bool onlyResets = true;  // Z, H and blanks only
  bool ok = true;
  bool resetEcho = false;
  int echo = -1;
  size_t i = 0;
  while (i < cmd.size() && ok) {
    const char c = Upper(cmd[i]);
    if (c == ' ') {
      ++i;
      continue;
    }
    if (c == 'D') {
      // The rest of the line is the number (with T or P for the dial mode).
      if (options_.initError && !onlyResets) {
        ok = false;
        break;
      }
      if (resetEcho) echo_ = true;
      if (echo >= 0) echo_ = echo == 1;
      lastNumber_ = cmd.substr(i + 1);
      state_ = State::Dialling;
      dialDoneAt_ = nowMs + (options_.connectDelayMs > 0 ? options_.connectDelayMs : 0);
      return;
    }
    ++i;
    if (c == 'Z' || c == 'H') {
      while (i < cmd.size() && IsDigit(cmd[i])) ++i;
      if (c == 'Z') resetEcho = true;
      if (c == 'H') HangUp(false);
      continue;
    }
    onlyResets = false;
    if (c == 'E') {
      echo = 1;
      if (i < cmd.size() && IsDigit(cmd[i])) echo = cmd[i++] == '0' ? 0 : 1;
      continue;
    }
    if (c == '&' || c == '\\' || c == '%' || c == '+') {
      // An extended command: one letter and an optional number.
      if (i >= cmd.size() || !std::isalpha(static_cast<unsigned char>(cmd[i]))) {
        ok = false;
        break;
      }
      ++i;
      while (i < cmd.size() && IsDigit(cmd[i])) ++i;
      continue;
    }
    if (c == 'S') {
      // S register: Sn=v, Sn?
      while (i < cmd.size() && IsDigit(cmd[i])) ++i;
      if (i < cmd.size() && cmd[i] == '=') {
        ++i;
        while (i < cmd.size() && IsDigit(cmd[i])) ++i;
      } else if (i < cmd.size() && cmd[i] == '?') {
        ++i;
      }
      continue;
    }
    if (std::isalpha(static_cast<unsigned char>(c))) {
      while (i < cmd.size() && IsDigit(cmd[i])) ++i;
      continue;
    }
    ok = false;
  }
  if (ok && options_.initError && !onlyResets) ok = false;
  if (!ok) {
    Result("ERROR");
    return;
  }
  if (resetEcho) echo_ = true;
  if (echo >= 0) echo_ = echo == 1;
  Result("OK");
}

void SimModem::FromBoard(const uint8_t* bytes, size_t count) {
  if (state_ == State::Connected && toComputer_ && count > 0) toComputer_(bytes, count);
}

void SimModem::HangUp(bool report) {
  const bool wasUp = state_ == State::Connected;
  state_ = State::Command;
  dialDoneAt_ = -1;
  callEndsAt_ = -1;
  line_.clear();
  lineOverflow_ = false;
  if (wasUp) {
    if (report) Result("NO CARRIER");
    if (onHangUp_) onHangUp_();
  }
}

void SimModem::SetDtr(bool on, int64_t) {
  const bool dropped = dtr_ && !on;
  dtr_ = on;
  if (dropped && state_ != State::Command) HangUp(true);
}

void SimModem::Poll(int64_t nowMs) {
  if (state_ == State::Connected && callEndsAt_ >= 0 && nowMs >= callEndsAt_) {
    HangUp(true);
    return;
  }
  if (state_ != State::Dialling || dialDoneAt_ < 0 || nowMs < dialDoneAt_) return;
  dialDoneAt_ = -1;
  if (options_.dialResult == DialResult::Connect) {
    state_ = State::Connected;
    callBytes_ = 0;
    callEndsAt_ = options_.callLastsMs >= 0 ? nowMs + options_.callLastsMs : -1;
    Result(ResultText(DialResult::Connect));
  } else {
    state_ = State::Command;
    Result(ResultText(options_.dialResult));
  }
}

int64_t SimModem::NextEventMs() const {
  if (state_ == State::Dialling) return dialDoneAt_;
  return state_ == State::Connected ? callEndsAt_ : -1;
}

}  // namespace lentar::boardsim
