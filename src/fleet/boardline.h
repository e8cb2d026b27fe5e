// What delivery and the status sweep share: boards grouped by the line they
// sit on, the lock that keeps one line to one program, and reaching one board
// over its line (opened, a modem call dialled and its access given).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "comm/modem.h"
#include "comm/session.h"
#include "core/settings.h"
#include "fleet/register.h"

namespace lentar::fleet {

// The boards by line: keys[i] is the line key of the boards members[i]
// (indexes into the boards given, in their order).
struct LinePlan {
  std::vector<std::string> keys;
  std::vector<std::vector<size_t>> members;
};
LinePlan PlanLines(const std::vector<BoardRecord>& boards);

// The key under which a line is locked and grouped: one key for every
// spelling of one line, so that two spellings never let two programs (or two
// workers of one run) on one line at once.
//  - socket://HOST:PORT and rfc2217://HOST:PORT (any case): "tcp://ADDRESS:PORT"
//    with the host resolved to its address (IPv4 preferred, as the line
//    itself connects; a name that does not resolve in lower case), the port
//    as a number (no leading zeros); both schemes reach the same server.
//  - COMn: the device it stands for, then as a device.
//  - a device: its real path, symbolic links resolved (a missing one as
//    written, its folder resolved).
std::string LineKey(const std::string& line);

// The lock of one line, held for the line's whole turn: a lock file per line
// in the lock folder, taken with flock (released by the system when the
// program ends, however it ends).
class LineLock {
 public:
  LineLock() = default;
  LineLock(const LineLock&) = delete;
  LineLock& operator=(const LineLock&) = delete;
  ~LineLock();

  // Waits for the line; false when stopped first, or when the lock file
  // cannot be made (then with why set: a lock folder that others could
  // write to or that is not the user's, a link planted where the lock file
  // goes, a full or read-only disk). busy is called once when the line is
  // found in use by another program.
  bool Take(const std::string& folder, const std::string& key, const comm::StopFlag* stop,
            const std::function<void()>& busy, std::string& why);

 private:
  int fd_ = -1;
};

// $XDG_RUNTIME_DIR/lentar-lines, else a folder of the user's own in the
// system's temporary folder.
std::string DefaultLockFolder();

// Makes the lock folder (mode 0700) when there is none, and checks one that
// is there: a lock file in a folder someone else can write to could be
// theirs (a line "busy" for ever) or a link to a file of the victim's. The
// folder must be a real folder (no link), the user's own and writable by
// nobody else; empty when it is, else why not (with the folder's path).
std::string PrepareLockFolder(const std::string& folder);

// The lock file of a line in a lock folder.
std::string LockFilePath(const std::string& folder, const std::string& key);

// How a board is reached.
struct LinkOptions {
  int replyTimeoutMs = 0;  // 0: the session's own
  int settleMs = 1000;     // after a direct line is opened
  int dialTimeoutMs = 60000;
  comm::ModemTimings modemTimings;
};

// Opens the board's line on session and, for a board behind a modem, dials
// and gives the modem password; a direct line is set to the board's speed.
// Empty when the board can be talked to, else the operator's text with
// refused set when trying again would not help. On failure the line is
// closed (and a call hung up).
std::string ReachBoard(comm::BoardSession& session, const BoardRecord& board,
                       const TSettings& settings, const LinkOptions& options, bool& refused);
// Hangs up a modem call and closes the line.
void LeaveBoard(comm::BoardSession& session, const BoardRecord& board);

}  // namespace lentar::fleet
