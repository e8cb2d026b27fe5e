// One program on one line: the board window, the loader window and
// lentar-cli board and loader take the same lock a delivery or a status sweep
// takes for a line's turn, before they open the line, and hold it until they
// have closed it. A socket:// line or an RS-485 bus carries one conversation
// at a time: a second program talking in the middle of a delivery's turn
// would garble both.
//
// The lock is a lock file in the user's lock folder, as the fleet's runs
// take it on this computer; when the register named in lentar.ini
// (FleetDatabase) or on the command line is shared on a database server and
// holds a board on the line, the line is taken in the register with a lease,
// as the fleet's runs on every computer take it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "comm/stopflag.h"
#include "fleet/linelocks.h"

namespace lentar::fleet {

struct LineUseOptions {
  // The register that may lock the line for several computers: a server
  // address (anything else means lock files only); empty: none.
  std::string registerAddress;
  std::string lockFolder;  // empty: DefaultLockFolder()
  int leaseMs = kDefaultLeaseMs;
  // True: a busy line is waited for (busy said once); false: Take gives up
  // at once with busyLine set.
  bool wait = true;
};

class LineUse {
 public:
  ~LineUse();
  LineUse(const LineUse&) = delete;
  LineUse& operator=(const LineUse&) = delete;

  // Takes line. stop: the work's stop flag, which ends the wait (null and
  // why empty on return) and, for a line held in a shared register, is what
  // Stop() carries along with the loss of the lease. busy is called once
  // with the text "Линия занята: ..." (Windows-1251) when the line is found
  // in use and is waited for. Null on failure: why is set when the lock
  // cannot be made at all or the line is busy and not waited for
  // (busyLine then true).
  static std::unique_ptr<LineUse> Take(const std::string& line, const LineUseOptions& options,
                                       const comm::StopFlagPtr& stop,
                                       const std::function<void(const std::string& text)>& busy,
                                       std::string& why, bool& busyLine);

  // The stop flag for the work on the line (see LineLocks::Held::Stop).
  comm::StopFlagPtr Stop() const { return held_->Stop(); }
  // The lease in the shared register was lost: nothing more is to be started.
  bool Lost() const { return held_->Lost(); }

 private:
  LineUse() = default;
  std::unique_ptr<LineLocks> locks_;
  std::unique_ptr<LineLocks::Held> held_;
};

// "Линия занята: HOLDER" for the holder a lock reported (empty: unknown).
std::string LineBusyText(const std::string& line, const std::string& holder);

}  // namespace lentar::fleet
