// Sessions: everything the program keeps about one conversation over one
// line. A board session is the line to one board with the address byte its
// requests carry, how long a reply is awaited, how often a block is tried,
// the pace of streamed blocks, why the last command failed and whether a
// modem call is up. A loader session is the line to one portable loader with
// its page size, reply deadline, the pauses around a speed switch, the speed
// it talks at now and the shape of the last reply taken.
//
// Nothing here is shared between sessions: two boards (or a board and a
// loader) on two lines are talked to at once, each from its own thread,
// each with its own session. A session is used by one thread at a time.
//
// Each session carries a stop flag (its own unless one is shared with
// others): the operator's "Прервать" sets it from the window's thread while
// the work runs on a worker, and the work ends at its next safe point.
//
// A session either makes its own line (closed and its receive thread ended
// when the session goes) or talks on a line somebody else holds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>

#include "comm/comport.h"
#include "comm/stopflag.h"

namespace lentar::comm {

// Why the last board command failed, for the operator's message.
struct ReplyFault {
  enum Kind {
    None,
    NotSent,      // the port did not take the request
    LineBusy,     // the line did not fall quiet after a missed reply
    NoReply,      // nothing within ReplyTimeout
    Damaged,      // only a frame whose check bytes did not match
    Refused,      // a text reply other than the one expected
    WrongKind,    // a reply of another kind (text for data, data for text)
    WrongLength,  // a data reply with got data bytes where expected were due
  };
  Kind kind = None;
  size_t got = 0;
  size_t expected = 0;
};

// A line: made by the session (DTR and RTS raised by default, as a board's
// and a loader's line want them) or borrowed.
class SessionLine {
 public:
  SessionLine() : owned_(std::make_unique<TComPort>(true, true)), port_(owned_.get()) {}
  explicit SessionLine(LineFactory factory)
      : owned_(std::make_unique<TComPort>(true, true, std::move(factory))), port_(owned_.get()) {}
  explicit SessionLine(TComPort& line) : port_(&line) {}
  SessionLine(const SessionLine&) = delete;
  SessionLine& operator=(const SessionLine&) = delete;

  TComPort& Port() const { return *port_; }

 private:
  std::unique_ptr<TComPort> owned_;
  TComPort* port_;
};

class BoardSession {
 public:
  // Reply deadline and attempts on a line without a modem call, and during
  // one.
  static constexpr int kLineReplyTimeout = 2000;
  static constexpr int kLineRetryCount = 2;
  static constexpr int kCallReplyTimeout = 10000;
  static constexpr int kCallRetryCount = 5;

  BoardSession() = default;
  explicit BoardSession(LineFactory factory) : line_(std::move(factory)) {}
  explicit BoardSession(TComPort& line) : line_(line) {}
  BoardSession(const BoardSession&) = delete;
  BoardSession& operator=(const BoardSession&) = delete;

  TComPort& Port() const { return line_.Port(); }

  // Second byte of every request: 0x0A for no address, else 0x80 | address.
  uint8_t AddressByte = 0x0A;
  // Reply deadline in ms: 2000, 10000 while a modem call is up.
  int ReplyTimeout = kLineReplyTimeout;
  // Attempts per block and end marker: 2, 5 while a modem call is up.
  int RetryCount = kLineRetryCount;
  // Pause between streamed blocks in ms, measured before each upload.
  int BlockDelay = 450;

  // Why the last command failed.
  ReplyFault LastReplyFault() const { return lastFault_; }
  void SetLastReplyFault(const ReplyFault& fault) { lastFault_ = fault; }

  // A modem call is up on the line: the call's deadline and attempts apply.
  bool CallUp() const { return callUp_; }
  void UseCallTimeouts() {
    callUp_ = true;
    ReplyTimeout = kCallReplyTimeout;
    RetryCount = kCallRetryCount;
  }
  void UseLineTimeouts() {
    callUp_ = false;
    ReplyTimeout = kLineReplyTimeout;
    RetryCount = kLineRetryCount;
  }

  // Frames the line had rejected when the last request went out: a time-out
  // that saw another one was a damaged reply rather than none.
  uint64_t rejectedBefore = 0;

  // The flag that stops the work on this session; set it from any thread.
  StopFlag& Stop() const { return *stop_; }
  bool StopRequested() const { return stop_->Requested(); }
  // Shares one flag with other sessions (one Ctrl+C stops them all).
  void ShareStop(StopFlagPtr flag) { if (flag) stop_ = std::move(flag); }

 private:
  SessionLine line_;
  ReplyFault lastFault_;
  bool callUp_ = false;
  StopFlagPtr stop_ = std::make_shared<StopFlag>();
};

class LoaderSession {
 public:
  LoaderSession() = default;
  explicit LoaderSession(LineFactory factory) : line_(std::move(factory)) {}
  explicit LoaderSession(TComPort& line) : line_(line) {}
  LoaderSession(const LoaderSession&) = delete;
  LoaderSession& operator=(const LoaderSession&) = delete;

  TComPort& Port() const { return line_.Port(); }

  // Page size of the loader last asked (ReadLoaderInfo); 128 before that.
  int PageSize = 128;
  // Reply deadline of every loader command in ms (2000).
  int LoaderReplyTimeout = 2000;
  // The pause around a speed switch in ms (100): before the switch command,
  // before the port follows, and before the first request at the new speed.
  int LoaderSwitchPause = 100;
  // The RateTable index the loader was last switched to (3: 9600 bit/s, its
  // base speed).
  int Speed = 3;
  // Back at the base speed, the loader is given its pause before the first
  // request there: no request goes before this moment.
  std::chrono::steady_clock::time_point quietUntil{};

  // The shape of the last reply taken (loaderprotocol.cpp), beside the
  // line's count of frames accounted for at that moment: when the count has
  // moved on without this session, nothing taken could be mistaken for the
  // next reply.
  struct LastReply {
    uint8_t kind = 0;
    size_t length = 0;
    uint64_t accounted = 0;
  };
  LastReply lastReply;

  // The connect handshake's random bytes: each session draws from its own
  // generator, seeded when the session is made, so that sessions on other
  // threads never touch it.
  std::mt19937& Random() { return random_; }

  // The flag that stops the work on this session; set it from any thread.
  StopFlag& Stop() const { return *stop_; }
  bool StopRequested() const { return stop_->Requested(); }
  // Shares one flag with other sessions (one Ctrl+C stops them all).
  void ShareStop(StopFlagPtr flag) { if (flag) stop_ = std::move(flag); }

 private:
  SessionLine line_;
  StopFlagPtr stop_ = std::make_shared<StopFlag>();
  std::mt19937 random_{std::random_device{}()};
};

}  // namespace lentar::comm
