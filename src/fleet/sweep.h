// The status sweep: every board of a list read at once, line by line as a
// delivery goes (a bus board after board, lines in parallel, each line
// locked): whether it answers, its firmware version, its clock and how far
// that is off the computer's, the buffer on show and how much of it is in
// use; beside that, from the delivery log, when it last got an image and
// which. Optionally the clock of every board that is off by more than a
// number of seconds is set from the computer's.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/stopflag.h"
#include "fleet/boardline.h"
#include "fleet/register.h"

namespace lentar::fleet {

struct SweepOptions {
  // Settings for boards without their own (speeds, modem lines). A board
  // whose own settings file is missing or unreadable is not read, as
  // delivery refuses it: its message says so.
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
  // What was read of an online board; nullopt marks what was asked and not
  // read (a lost reply), never a value made up in its place.
  std::optional<std::string> version;  // the board's firmware
  std::optional<comm::BoardClock> clock;  // as read (before it was set)
  std::optional<long long> drift;  // board's clock minus the computer's, seconds
  bool clockSet = false;           // it was set from the computer's clock
  // After the clock was set it is read again: how far it is off now.
  std::optional<long long> driftAfter;
  // The buffer information, all read at once: the buffer on show (0 or 1;
  // -1 when nothing is loaded), the bytes of the set on show, the buffers'
  // capacities.
  std::optional<int> shownBuffer;
  std::optional<int> dataLength;
  std::optional<std::array<int, 2>> capacity;
  bool passwordSet = false;
  // The last delivered attempt of the log (nullopt: none); when the log
  // could not be read, lastDeliveryError says why and lastDelivery is
  // nullopt, which then does not mean "never delivered".
  std::optional<LogEntry> lastDelivery;
  std::string lastDeliveryError;  // Windows-1251
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
