#include "comm/boardsearch.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "comm/boardprotocol.h"
#include "comm/comport.h"
#include "comm/portconfig.h"

namespace lentar::comm {

namespace {

std::mutex timingsLock;
BoardSearchTimings timings;

}  // namespace

BoardSearchTimings GetBoardSearchTimings() {
  std::lock_guard guard(timingsLock);
  return timings;
}

void SetBoardSearchTimings(const BoardSearchTimings& value) {
  std::lock_guard guard(timingsLock);
  timings = value;
}

std::vector<SearchCandidate> BoardSearchCandidates(
    const std::vector<std::string>& reported, int comCount,
    const std::function<std::string(int comIndex)>& deviceOfCom) {
  std::vector<SearchCandidate> candidates;
  auto listed = [&](const std::string& device) {
    return std::any_of(candidates.begin(), candidates.end(),
                       [&](const SearchCandidate& c) { return c.device == device; });
  };
  for (int i = 0; i < comCount && deviceOfCom; ++i) {
    const std::string device = deviceOfCom(i);
    if (!device.empty() && !listed(device)) candidates.push_back({device, i});
  }
  for (const std::string& device : reported) {
    if (!device.empty() && !listed(device)) candidates.push_back({device, -1});
  }
  return candidates;
}

std::vector<SearchCandidate> TypedDeviceFirst(std::vector<SearchCandidate> candidates,
                                              const std::string& typed) {
  if (typed.empty()) return candidates;
  SearchCandidate first{typed, -1};
  const auto at = std::find_if(candidates.begin(), candidates.end(),
                               [&](const SearchCandidate& c) { return c.device == typed; });
  if (at != candidates.end()) {
    first = *at;
    candidates.erase(at);
  }
  candidates.insert(candidates.begin(), first);
  return candidates;
}

int SearchBoard(BoardSession& session, const std::vector<SearchCandidate>& candidates, int rateIndex,
                const BoardSearchHooks& hooks) {
  const BoardSearchTimings t = GetBoardSearchTimings();
  auto wait = [&](int ms) {
    if (ms <= 0) return;
    if (hooks.wait) {
      hooks.wait(ms);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
  };
  if (rateIndex < 3 || rateIndex > 7) rateIndex = 3;
  session.AddressByte = 0x80;
  int found = -1;
  for (size_t i = 0; i < candidates.size() && found < 0; ++i) {
    if (hooks.beforeProbe && !hooks.beforeProbe(i)) break;
    wait(t.beforeOpenMs);
    session.Port().Open(candidates[i].device);
    wait(t.afterOpenMs);
    if (session.Port().IsOpen()) {
      if (session.Port().BaudRate() != RateTable[static_cast<size_t>(rateIndex)]) {
        session.Port().SetBaudIndex(rateIndex);
      }
      wait(t.afterRateMs);
      session.Port().Purge();
      wait(t.afterPurgeMs);
      if (CmdConnect(session)) found = static_cast<int>(i);
    }
    session.Port().Open(std::string());
    wait(t.afterCloseMs);
  }
  session.Port().Open(std::string());
  return found;
}

}  // namespace lentar::comm
