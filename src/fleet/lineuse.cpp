#include "fleet/lineuse.h"

#include "core/textutil.h"
#include "fleet/boardline.h"
#include "fleet/register.h"

namespace lentar::fleet {

namespace {

std::string T(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

// Whether the shared register holds a board on the line: only then does the
// fleet lock the line there. A register that cannot be opened or read locks
// nothing, and the lock file is taken as for a register of the operator's own.
bool RegisteredInShared(const std::string& address, const std::string& key, Register& reg) {
  if (address.empty() || !Register::IsServerAddress(address)) return false;
  std::string error;
  if (!reg.Open(address, error) || !reg.Shared()) return false;
  std::vector<BoardRecord> boards;
  if (!reg.List(boards, error)) return false;
  for (const auto& b : boards)
    if (LineKey(b.line) == key) return true;
  return false;
}

}  // namespace

std::string LineBusyText(const std::string& line, const std::string& holder) {
  return T(u8"Линия занята: ") +
         (holder.empty() ? T(u8"другая программа на этом компьютере") : holder) + " (" + line + ")";
}

LineUse::~LineUse() {
  held_.reset();  // given back before the locks go
  locks_.reset();
}

std::unique_ptr<LineUse> LineUse::Take(const std::string& line, const LineUseOptions& o,
                                       const comm::StopFlagPtr& stop,
                                       const std::function<void(const std::string&)>& busy,
                                       std::string& why, bool& busyLine) {
  why.clear();
  busyLine = false;
  const std::string key = LineKey(line);
  std::unique_ptr<LineUse> use(new LineUse);
  {
    Register reg;
    const bool shared = RegisteredInShared(o.registerAddress, key, reg);
    use->locks_ = std::make_unique<LineLocks>(shared ? &reg : nullptr, o.lockFolder, o.leaseMs,
                                              std::string(), stop);
  }
  // Each try gives up at the first sight of another holder, so that the
  // wait is this loop's: said once, ended by stop, or not waited at all.
  bool said = false;
  while (true) {
    comm::StopFlag once;
    std::string holder;
    bool found = false;
    use->held_ = use->locks_->Take(key, &once,
                                   [&](const std::string& h) {
                                     found = true;
                                     holder = h;
                                     once.Request();
                                   },
                                   why);
    if (use->held_) return use;
    // Stopped, or the lock cannot be made (why says why).
    if (!found) return nullptr;
    why.clear();
    if (!o.wait) {
      busyLine = true;
      why = LineBusyText(line, holder);
      return nullptr;
    }
    if (!said && busy) busy(LineBusyText(line, holder));
    said = true;
    if (!comm::PauseUnlessStopped(stop.get(), 250)) return nullptr;
  }
}

}  // namespace lentar::fleet
