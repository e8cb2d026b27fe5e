// Delivery of one set (or one compiled image) to many boards.
//
// The set is compiled once per distinct settings file among the boards (the
// boards' heights, fonts and sizes differ), and each board then gets the same
// flow as the board window's upload: the line opened, a modem call dialled
// and the board's modem password given when the board is behind a modem, the
// board's password entered when it asks, the capacity checked, the image
// sent and read back, the buffer started, the call hung up and the line
// closed. A board that shows the buffer being loaded keeps showing its set:
// the other buffer is loaded and switched to when the whole image is in.
//
// Boards on one line (one device or one URL: an RS-485 bus with addressed
// boards) are served one after another; different lines at the same time, up
// to a number of lines at once. A line is locked for the whole of its turn
// (a lock file per line), so two programs delivering to overlapping boards
// take turns on a shared line instead of talking over each other.
//
// A failure of the line (no answer, the transfer broken, the call not made)
// is tried again after a pause that doubles each time; a refusal (the image
// too large for the board, a wrong or missing password) is not, since
// another try would be refused the same way. A stop request (Ctrl+C) ends
// every line at its next safe point: a board being loaded is reported as
// interrupted, the boards whose turn had not come as not started, never as
// delivered.
//
// A line locked in a shared register is held while its lease is renewed in
// time; once that is no longer sure (the server out of reach, the line
// taken over), the work on the line stops at its next block and no board of
// it is reported delivered ("линия потеряна").
//
// Every outcome is noted in the register's delivery log, by the thread that
// called Deliver (the register is used by the thread that opened it): each
// attempt, and a board never tried (skipped, not started, its line not
// locked) with attempt 0. A row that could not be written is said so
// (logFailed) and marked on the board's result.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "comm/modem.h"
#include "comm/stopflag.h"
#include "fleet/register.h"

namespace lentar::fleet {

// What became of a board in a delivery. NotStarted: the run was stopped (or
// its line lost) before the board's turn came; nothing was sent to it. The
// log calls it "not-started" (beside the register's "delivered", "failed",
// "refused", "interrupted" and "skipped").
enum class BoardOutcome { Delivered, Failed, Refused, Skipped, Interrupted, NotStarted };

// The log's word for an outcome: "delivered", "failed", ..., "not-started".
std::string OutcomeName(BoardOutcome outcome);
// The outcome the log's word names; nullopt for a word of no outcome (an
// attempt still running or cut off, which has none).
std::optional<BoardOutcome> OutcomeFromName(const std::string& name);

struct DeliveryOptions {
  // The set file or the compiled .bin image (Windows-1251 path); a .bin is
  // sent as it is to every board.
  std::string source;
  // The set's bytes when they are not (or not yet) what the file holds: an
  // editor's open set, changed since it was saved. source then only names
  // the set in the log.
  std::optional<std::string> sourceText;
  // The settings file for boards without one of their own (the operator's
  // lentar.ini); a missing one gives the defaults.
  std::string defaultSettings;
  int jobs = 4;              // lines served at once
  int retries = 0;           // further attempts after a failure of the line
  int retryPauseMs = 2000;   // before the first retry; doubled for each next one
  // The reply deadline of board commands in ms; 0: the session's own (2000,
  // 10000 during a modem call).
  int replyTimeoutMs = 0;
  // The pause after a direct line is opened, for the board to settle.
  int settleMs = 1000;
  // The longest wait for a modem call to come up (0: no limit), and the
  // modem dialogue's pauses.
  int dialTimeoutMs = 60000;
  comm::ModemTimings modemTimings;
  // Shared with every session of the delivery; null: nothing stops it.
  comm::StopFlagPtr stop;
  // Where the lock files of the lines are kept; empty: the per-user runtime
  // folder ($XDG_RUNTIME_DIR, else the system's temporary folder).
  std::string lockFolder;
  // The lease of a line locked in a shared register, in ms: renewed while
  // the line is in use; a line whose holder stopped renewing (its program
  // died) is free once the lease has run out.
  int leaseMs = 30000;
  std::string operatorName;  // for the log; empty: the system user
};

// What the caller hears while the delivery runs, always on its own thread.
struct DeliveryEvents {
  // An attempt at board (an index into the boards given) begins.
  std::function<void(size_t board, int attempt)> attemptStarts;
  std::function<void(size_t board, int percent)> progress;
  // An attempt ended; message is the operator's text (Windows-1251).
  std::function<void(size_t board, int attempt, BoardOutcome outcome, const std::string& message)>
      attemptEnds;
  // A line is in use by another program and its boards wait for it.
  std::function<void(const std::string& line)> lineBusy;
  // The same, with the holder as a shared register names it ("operator on
  // computer, process N", Windows-1251); empty for a lock file, which names
  // nobody.
  std::function<void(const std::string& line, const std::string& holder)> lineBusyBy;
  // The log could not be written (the delivery goes on).
  std::function<void(const std::string& error)> logFailed;
  // Called about ten times a second while the delivery runs.
  std::function<void()> tick;
};

struct BoardResult {
  BoardOutcome outcome = BoardOutcome::Skipped;
  std::string message;  // the last attempt's text (Windows-1251)
  int attempts = 0;     // attempts made (0: none, the board was never tried)
  size_t imageSize = 0;
  std::string sha256;
  // Every log row of the board was written (false: the log lacks one; the
  // run is then to say so and not end as a success).
  bool logged = true;
};

// The boards of a run counted by outcome; every board is in exactly one of
// delivered, failed (the line failed, or the board or the image refused),
// skipped (nothing to send to it), stopped (interrupted while being loaded)
// and notStarted, so that they add up to total. unlogged: boards with a log
// row missing.
struct DeliveryTally {
  int delivered = 0;
  int failed = 0;
  int skipped = 0;
  int stopped = 0;
  int notStarted = 0;
  int unlogged = 0;
  int total = 0;
};
DeliveryTally TallyOf(const std::vector<BoardResult>& results);

// Delivers to boards; the results are in the boards' order. A delivery
// that could not start at all (the source unreadable) returns false with
// the reason in error and nothing sent.
bool Deliver(const std::vector<BoardRecord>& boards, const DeliveryOptions& options,
             Register* log, const DeliveryEvents& events, std::vector<BoardResult>& results,
             std::string& error);

// SHA-256 of bytes as 64 lower-case hex digits.
std::string Sha256Hex(const std::vector<uint8_t>& bytes);

}  // namespace lentar::fleet
