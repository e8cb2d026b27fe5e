#include "comm/stopflag.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/textutil.h"

namespace lentar::comm {

bool PauseUnlessStopped(const StopFlag* stop, int ms) {
  using Clock = std::chrono::steady_clock;
  // A slice short enough that "Прервать" feels immediate, long enough not to
  // spin.
  constexpr int kSliceMs = 20;
  const auto end = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
  for (;;) {
    if (stop && stop->Requested()) return false;
    const auto now = Clock::now();
    if (now >= end) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSliceMs)));
  }
}

std::string InterruptedText() { return Utf8ToCp1251(u8"Прервано оператором"); }

}  // namespace lentar::comm
