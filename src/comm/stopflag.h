// Stopping long device work at its next safe point.
//
// An upload over a slow modem line or the defragmenting of a full loader
// takes minutes. The operator's "Прервать" (or Ctrl+C in lentar-cli) sets a
// stop flag from another thread (or from a signal handler); the work checks
// it only where stopping leaves the board or the loader consistent: between
// blocks, never between a block's data and its directory entry, after the
// current page of a directory write. Work that stops so reports that it was
// interrupted, never that it was done.
//
// One flag may be shared by many sessions: a Ctrl+C stops every line of a
// delivery to many boards.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace lentar::comm {

class StopFlag {
 public:
  // Safe from any thread and from a signal handler (a lock-free store).
  void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  bool Requested() const noexcept { return requested_.load(std::memory_order_relaxed); }
  void Clear() noexcept { requested_.store(false, std::memory_order_relaxed); }

 private:
  std::atomic<bool> requested_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
};

using StopFlagPtr = std::shared_ptr<StopFlag>;

// Waits ms milliseconds in short slices; false as soon as the flag is set
// (at once when it already is), true when the whole pause went by. A null
// flag never stops the pause.
bool PauseUnlessStopped(const StopFlag* stop, int ms);

// "Прервано оператором" (Windows-1251): what the operator reads after work
// that was stopped at his request.
std::string InterruptedText();

}  // namespace lentar::comm
