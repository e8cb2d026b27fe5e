#include "comm/boardsearch.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "comm/boardprotocol.h"
#include "comm/comport.h"
#include "comm/portconfig.h"
#include "comm/session.h"
#include "core/textutil.h"

namespace lentar::comm {

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

BoardSearchResult SearchBoard(BoardSession& session, const std::vector<SearchCandidate>& candidates,
                              const BoardSearchOptions& options, const BoardSearchHooks& hooks) {
  const BoardSearchTimings& t = options.timings;
  const StopFlag* stop = &session.Stop();
  // Each pause; false once the search is to stop.
  auto wait = [&](int ms) {
    if (ms > 0) {
      if (hooks.wait) hooks.wait(ms);
      else PauseUnlessStopped(stop, ms);
    }
    return !stop->Requested();
  };
  const int rateIndex = options.rateIndex < 3 || options.rateIndex > 7 ? 3 : options.rateIndex;
  session.AddressByte = 0x80;
  BoardSearchResult result;
  bool interrupted = false;
  for (size_t i = 0; i < candidates.size() && result.index < 0 && !interrupted; ++i) {
    if (stop->Requested() || (hooks.beforeProbe && !hooks.beforeProbe(i)) ||
        !wait(t.beforeOpenMs)) {
      interrupted = true;
      break;
    }
    if (hooks.takeLine && !hooks.takeLine(i)) continue;
    session.Port().Open(candidates[i].device);
    if (wait(t.afterOpenMs) && session.Port().IsOpen()) {
      if (session.Port().BaudRate() != RateTable[static_cast<size_t>(rateIndex)]) {
        session.Port().SetBaudIndex(rateIndex);
      }
      if (wait(t.afterRateMs)) {
        session.Port().Purge();
        if (wait(t.afterPurgeMs) && CmdConnect(session) && !stop->Requested())
          result.index = static_cast<int>(i);
      }
    }
    session.Port().Open(std::string());
    if (hooks.releaseLine) hooks.releaseLine(i);
    wait(t.afterCloseMs);
    interrupted = result.index < 0 && stop->Requested();
  }
  session.Port().Open(std::string());
  if (result.index >= 0) {
    result.outcome = BoardSearchOutcome::Found;
    result.text = Utf8ToCp1251(u8"Табло обнаружено на порту ");
  } else if (interrupted) {
    result.outcome = BoardSearchOutcome::Interrupted;
    result.text = InterruptedText();
  } else {
    result.outcome = BoardSearchOutcome::NotFound;
    result.text = Utf8ToCp1251(u8"Табло не обнаружено!");
  }
  return result;
}

}  // namespace lentar::comm
