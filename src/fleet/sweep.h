// The status sweep: every board of a list read at once, line by line as a
// delivery goes (a bus board after board, lines in parallel, each line
// locked): whether it answers, its firmware version, its clock and how far
// that is off the computer's, the buffer on show and how much of it is in
// use; beside that, from the delivery log, when it last got an image and
// which. Optionally the clock of every board that is off by more than a
// number of seconds is set from the computer's.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/stopflag.h"
#include "fleet/boardline.h"
#include "fleet/register.h"

namespace lentar::fleet {

struct SweepOptions {
  // Settings for boards without their own (speeds, modem lines).
  std::string defaultSettings;
  int jobs = 4;
  LinkOptions link;
  // Set the clock of a board off by more than this many seconds; -1: never.
  int setClockOver = -1;
  comm::StopFlagPtr stop;
  std::string lockFolder;  // empty: DefaultLockFolder()
  int leaseMs = 30000;     // of a line locked in a shared register
  // The computer's clock the boards' are compared with and set from.
  comm::ClockSource now = LocalTimeNow;
};

struct BoardStatus {
  bool online = false;
  // The board was tried at all: false for a board never contacted (the run
  // stopped before its turn, its line could not be locked or was lost),
  // which is "не проверено", not offline.
  bool contacted = false;
  bool interrupted = false;  // a stop came before the board was read
  std::string message;       // why not online, or why not checked (Windows-1251)
  std::string version;       // the board's firmware
  bool clockRead = false;
  comm::BoardClock clock;    // as read (before it was set)
  long long drift = 0;       // board's clock minus the computer's, seconds
  bool clockSet = false;     // it was set from the computer's clock
  // After the clock was set it is read again: how far it is off now.
  bool clockReread = false;
  long long driftAfter = 0;
  int shownBuffer = -1;      // 0 or 1; -1 when nothing is loaded
  int dataLength = 0;        // bytes of the set on show
  int capacity[2] = {0, 0};
  bool passwordSet = false;
  // The last delivered attempt of the log (empty: none).
  LogEntry lastDelivery;
};

// Reads every board; results in the boards' order. log (optional) gives the
// last deliveries. Events: finished(board) on the caller's thread as each
// board is done.
void Sweep(const std::vector<BoardRecord>& boards, const SweepOptions& options, Register* log,
           const std::function<void(size_t board, const BoardStatus&)>& finished,
           std::vector<BoardStatus>& results);

// Seconds from the computer's clock to the board's (both local calendar
// times).
long long ClockDrift(const comm::BoardClock& board, const comm::BoardClock& computer);

}  // namespace lentar::fleet
