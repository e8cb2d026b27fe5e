// The locks of the lines of one run (a delivery or a status sweep): a line is
// held by one program at a time for the whole of its turn.
//
// With the operator's own register the lines are locked with lock files
// (LineLock), which the system releases when the program ends, however it
// ends. A register shared on a database server is used by programs on
// several computers, which see no common lock files: the lines are then
// locked in the register itself (Register::TakeLine), each with a lease that
// this run renews while it holds the line. A program that dies stops
// renewing, and its lines are free again once the lease has run out.
//
// The register is used by the thread that opened it, while lines are taken
// on worker threads: the shared locks therefore keep one connection of their
// own on a thread of their own, which takes, renews and gives back the lines
// for every worker. One connection per run, whatever the number of lines, so
// that a delivery to hundreds of lines does not use up the server's
// connections.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "comm/stopflag.h"
#include "fleet/register.h"

namespace lentar::fleet {

// The lease of a line in a shared register when none is chosen, in ms.
inline constexpr int kDefaultLeaseMs = 30000;

class LineLocks {
 public:
  // reg: the run's register (only its address and kind are used; null: lock
  // files); folder: where lock files are kept; leaseMs: the lease of a line
  // in a shared register; operatorName: the holder's name in it.
  // runStop: the run's stop flag (may be null), which reaches the work on
  // every line held (see Held::Stop).
  LineLocks(const Register* reg, const std::string& folder, int leaseMs,
            const std::string& operatorName, comm::StopFlagPtr runStop = nullptr);
  ~LineLocks();  // gives back every line still held
  LineLocks(const LineLocks&) = delete;
  LineLocks& operator=(const LineLocks&) = delete;

  // A line held; destroying it gives the line back.
  class Held {
   public:
    virtual ~Held() = default;
    // The line's lease could not be renewed in time and another program may
    // have taken the line over: its remaining boards are not to be started.
    virtual bool Lost() const { return false; }
    // The stop flag for the work on the line: the run's own flag, and for a
    // line in a shared register one that is also set when the line is lost,
    // so that the work on it stops at its next safe point (the run's stop
    // reaches it within a tenth of a second).
    virtual comm::StopFlagPtr Stop() const = 0;
  };

  // Waits for the line; null when stopped first (why empty) or when the lock
  // cannot be taken at all (why says why). busy is called once, with the
  // holder as far as it is known (Windows-1251, may be empty), when the line
  // is found in use by another program.
  std::unique_ptr<Held> Take(const std::string& key, const comm::StopFlag* stop,
                             const std::function<void(const std::string& holder)>& busy,
                             std::string& why);

  // The connection to a shared register and its thread (linelocks.cpp).
  struct Shared;

 private:
  std::string folder_;
  comm::StopFlagPtr runStop_;
  std::unique_ptr<Shared> shared_;
};

}  // namespace lentar::fleet
