#include "fleet/sweep.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "comm/session.h"
#include "core/textutil.h"
#include "fleet/linelocks.h"

namespace lentar::fleet {

namespace {

using namespace lentar::comm;

std::string T(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

// Days from 1970-01-01 to the date (the proleptic Gregorian calendar).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

std::string LostText() {
  return T(u8"линия потеряна: блокировка линии в реестре не продлена вовремя");
}

long long Seconds(const BoardClock& c) {
  return DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) *
             86400 +
         c.hour * 3600 + c.minute * 60 + c.second;
}

// One board read over its own session, on the line the caller holds.
BoardStatus ReadBoard(const BoardRecord& board, const TSettings& settings, const SweepOptions& o,
                      const StopFlagPtr& stop) {
  BoardStatus st;
  st.contacted = true;
  BoardSession session;
  if (stop) session.ShareStop(stop);
  bool refused = false;
  st.message = ReachBoard(session, board, settings, o.link, refused);
  if (!st.message.empty()) {
    if (session.StopRequested()) {
      st.interrupted = true;
      st.contacted = false;
      st.message = InterruptedText();
    }
    return st;
  }
  StatusBlock status;
  if (!CmdReadStatus(session, status)) {
    st.message = T(u8"Ошибка связи с контроллером!") +
                 (session.LastReplyFault().kind == ReplyFault::NoReply
                      ? T(u8" (табло не отвечает)")
                      : std::string());
    if (const std::string lost = session.Port().LostText(); !lost.empty())
      st.message += " (" + lost + ")";
    LeaveBoard(session, board);
    return st;
  }
  st.online = true;
  st.passwordSet = status.PasswordSet();
  if (std::string version; CmdReadVersion(session, version)) st.version = version;
  if (BufferInfo info; CmdReadBufferInfo(session, info)) {
    st.shownBuffer = info.DataLength() > 0 ? info.CurrentBuffer() : -1;
    st.dataLength = info.DataLength();
    st.capacity = std::array<int, 2>{info.Capacity(0), info.Capacity(1)};
  }
  if (BoardClock clock; CmdReadClock(session, clock)) {
    st.clock = clock;
    st.drift = ClockDrift(clock, o.now());
    if (o.setClockOver >= 0 && std::llabs(*st.drift) > o.setClockOver && !session.StopRequested())
      st.clockSet = SetClockNow(session, o.now);
    BoardClock after;
    if (st.clockSet && CmdReadClock(session, after)) st.driftAfter = ClockDrift(after, o.now());
  }
  LeaveBoard(session, board);
  return st;
}

}  // namespace

long long ClockDrift(const BoardClock& board, const BoardClock& computer) {
  return Seconds(board) - Seconds(computer);
}

void Sweep(const std::vector<BoardRecord>& boards, const SweepOptions& o, Register* log,
           const std::function<void(size_t, const BoardStatus&)>& finished,
           std::vector<BoardStatus>& results) {
  results.assign(boards.size(), BoardStatus{});
  if (log) {
    for (size_t i = 0; i < boards.size(); ++i) {
      std::string error;
      results[i].lastDelivery = log->LastDelivery(boards[i].name, error);
      if (!results[i].lastDelivery && !error.empty())
        results[i].lastDeliveryError = T(u8"журнал не прочитан: ") + error;
    }
  }
  // The settings a board is read with, once per file. A board's own file
  // that is missing or unreadable is refused, as delivery refuses it: its
  // speeds and modem lines are not guessed from the defaults.
  std::map<std::string, TSettings> settings;
  std::map<std::string, SettingsFileState> states;
  for (const auto& b : boards) {
    const std::string path = b.ini.empty() ? o.defaultSettings : b.ini;
    if (!settings.count(path)) states[path] = ReadSettingsFile(settings[path], path);
  }
  const auto settingsFault = [&](const BoardRecord& b) -> std::string {
    const std::string path = b.ini.empty() ? o.defaultSettings : b.ini;
    const SettingsFileState state = states.at(path);
    if (state == SettingsFileState::Unreadable ||
        (!b.ini.empty() && state == SettingsFileState::Missing))
      return T(u8"файл настроек '") + path +
             (state == SettingsFileState::Missing ? T(u8"' не существует") : T(u8"' не читается"));
    return {};
  };
  const LinePlan plan = PlanLines(boards);
  LineLocks locks(log, o.lockFolder, o.leaseMs, {}, o.stop);
  std::mutex lock;
  std::condition_variable ready;
  std::deque<size_t> done;
  std::atomic<size_t> nextLine{0};
  std::atomic<int> running{0};
  const auto report = [&](size_t b) {
    {
      std::lock_guard guard(lock);
      done.push_back(b);
    }
    ready.notify_one();
  };
  const auto serveLine = [&](size_t line) {
    std::string why;
    const auto held = locks.Take(plan.keys[line], o.stop.get(), {}, why);
    if (!held) {
      for (size_t b : plan.members[line]) {
        BoardStatus& st = results[b];
        st.interrupted = why.empty();
        st.message = why.empty() ? InterruptedText() : why;
        report(b);
      }
      return;
    }
    for (size_t b : plan.members[line]) {
      const std::optional<LogEntry> last = results[b].lastDelivery;
      const std::string lastError = results[b].lastDeliveryError;
      const std::string path = boards[b].ini.empty() ? o.defaultSettings : boards[b].ini;
      if (o.stop && o.stop->Requested()) {
        results[b].interrupted = true;
        results[b].message = InterruptedText();
      } else if (held->Lost()) {
        results[b].message = LostText();
      } else if (const std::string fault = settingsFault(boards[b]); !fault.empty()) {
        results[b].message = fault;
      } else {
        results[b] = ReadBoard(boards[b], settings.at(path), o, held->Stop());
        if (results[b].interrupted && held->Lost() && !(o.stop && o.stop->Requested())) {
          results[b].interrupted = false;
          results[b].message = LostText();
        }
        results[b].lastDelivery = last;
        results[b].lastDeliveryError = lastError;
      }
      report(b);
    }
  };
  std::vector<std::thread> workers;
  const int jobs = std::max(1, std::min<int>(o.jobs, static_cast<int>(plan.keys.size())));
  running = jobs;
  for (int j = 0; j < jobs && !plan.keys.empty(); ++j)
    workers.emplace_back([&] {
      for (size_t line; (line = nextLine++) < plan.keys.size();) serveLine(line);
      --running;
      ready.notify_one();
    });
  size_t reported = 0;
  while (reported < boards.size()) {
    std::deque<size_t> taken;
    {
      std::unique_lock guard(lock);
      ready.wait_for(guard, std::chrono::milliseconds(100), [&] { return !done.empty(); });
      taken.swap(done);
    }
    for (size_t b : taken) {
      ++reported;
      if (finished) finished(b, results[b]);
    }
  }
  for (auto& w : workers) w.join();
}

}  // namespace lentar::fleet
