#include "fleet/delivery.h"

#include "fleet/boardline.h"
#include "fleet/linelocks.h"

#include <QCryptographicHash>
#include <QString>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/portname.h"
#include "comm/session.h"
#include "core/atomicfile.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "markup/compiler.h"

namespace lentar::fleet {

namespace {

namespace fs = std::filesystem;
using namespace lentar::comm;

std::string T(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

std::string Bytes(size_t n) {
  return std::to_string(n) + " " + T(u8"байт");
}

bool HasBinExtension(const std::string& path) {
  return path.size() >= 4 && LowerCase(path.substr(path.size() - 4)) == ".bin";
}

// The image of one board, ready to go.
struct Prepared {
  bool ok = false;
  std::string message;  // why not, when not
  const std::vector<uint8_t>* image = nullptr;
  std::string sha256;
  TSettings settings;
};

// What the workers tell the caller's thread.
struct Event {
  enum Kind { Starts, Progress, Ends, Busy, LineDone } kind = Starts;
  size_t board = 0;
  int attempt = 0;
  int percent = 0;
  BoardOutcome outcome = BoardOutcome::Failed;
  std::string message;
};

class EventQueue {
 public:
  void Push(Event e) {
    {
      std::lock_guard guard(lock_);
      events_.push_back(std::move(e));
    }
    ready_.notify_one();
  }
  // Waits up to ms for events and takes them all.
  std::deque<Event> Take(int ms) {
    std::unique_lock guard(lock_);
    ready_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return !events_.empty(); });
    std::deque<Event> taken;
    taken.swap(events_);
    return taken;
  }

 private:
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<Event> events_;
};

// A line whose lease in the shared register is no longer surely held.
std::string LostText(const std::string& line) {
  return T(u8"линия потеряна: блокировка линии '") + line +
         T(u8"' в реестре не продлена вовремя, линию может занять другая программа");
}

// A board whose turn never came.
std::string NotStartedText(const std::string& why) {
  return T(u8"не начато: ") + why;
}

struct Attempt {
  BoardOutcome outcome = BoardOutcome::Failed;
  std::string message;
};

// Why the board's answer was missing, as a note after the message.
std::string FaultReason(const ReplyFault& fault) {
  switch (fault.kind) {
    case ReplyFault::NoReply: return T(u8" (табло не отвечает)");
    case ReplyFault::Damaged: return T(u8" (ответ табло повреждён)");
    case ReplyFault::NotSent: return T(u8" (запрос не удалось отправить)");
    case ReplyFault::LineBusy: return T(u8" (линия не затихла после пропущенного ответа)");
    case ReplyFault::Refused: return T(u8" (табло отвергло команду)");
    case ReplyFault::WrongKind:
    case ReplyFault::WrongLength: return T(u8" (ответ табло не того вида, что запрошен)");
    case ReplyFault::None: break;
  }
  return {};
}

// One attempt at one board: the board window's flow over a session of its
// own, on the line the caller holds.
Attempt DeliverOnce(const BoardRecord& board, const Prepared& prepared,
                    const DeliveryOptions& o, const StopFlagPtr& stop,
                    const std::function<void(int)>& progress) {
  Attempt a;
  const std::vector<uint8_t>& image = *prepared.image;
  const TSettings& settings = prepared.settings;
  BoardSession session;
  if (stop) session.ShareStop(stop);
  TComPort& port = session.Port();
  LinkOptions link;
  link.replyTimeoutMs = o.replyTimeoutMs;
  link.settleMs = o.settleMs;
  link.dialTimeoutMs = o.dialTimeoutMs;
  link.modemTimings = o.modemTimings;
  bool refused = false;
  a.message = ReachBoard(session, board, settings, link, refused);
  if (!a.message.empty()) {
    a.outcome = refused ? BoardOutcome::Refused : BoardOutcome::Failed;
    if (!refused && session.StopRequested()) {
      a.outcome = BoardOutcome::Interrupted;
      a.message = InterruptedText();
    }
    return a;
  }
  const int baseSpeed = board.speed ? SpeedIndex(board.speed) : settings.BaseSpeed;
  const int loadSpeed = board.loadSpeed ? SpeedIndex(board.loadSpeed) : settings.DLSpeed;

  UploadOptions u;
  u.buffer = 0;
  u.modem = board.modem;
  u.full = true;
  u.restart = true;
  u.baseSpeed = baseSpeed;
  u.loadSpeed = loadSpeed;
  u.portName = board.line;
  UploadHooks hooks;
  int lastPercent = -1;
  hooks.progress = [&](int percent) {
    if (percent != lastPercent) progress(percent);
    lastPercent = percent;
  };
  bool passwordRefused = false;
  hooks.choosePassword = [&]() -> std::optional<std::string> {
    if (board.password.empty()) return std::nullopt;
    return board.password;
  };
  hooks.passwordRefused = [&] { passwordRefused = true; };
  // Nobody is there to ask: a board keeps showing its set while the other
  // buffer is loaded, whenever the image fits that buffer.
  hooks.bufferOnShow = [](int, int other) {
    return other >= 0 ? BufferChoice::Other : BufferChoice::Chosen;
  };
  const UploadReport report = UploadImage(session, image.data(), image.size(), u, hooks);
  const std::string lost = port.LostText();
  switch (report.outcome) {
    case UploadOutcome::Done:
      a.outcome = BoardOutcome::Delivered;
      a.message = T(u8"Загрузка успешно завершена!") + " (" + Bytes(image.size()) +
                  T(u8", буфер ") + std::to_string(report.buffer + 1) + ")";
      break;
    // The image is whole, its start unconfirmed: a failure, in the words the
    // board window and lentar-cli use.
    case UploadOutcome::StartUnconfirmed: a.message = report.text; break;
    case UploadOutcome::BufferTooSmall:
      a.outcome = BoardOutcome::Refused;
      a.message = UploadFailureText(report.outcome) + " (" + Bytes(image.size()) +
                  T(u8"; буфер вмещает ") + std::to_string(report.capacity) + ")";
      break;
    case UploadOutcome::BadImage:
      a.outcome = BoardOutcome::Refused;
      a.message = T(u8"табло не принимает образ в ") + Bytes(image.size());
      break;
    case UploadOutcome::PasswordDeclined:
      a.outcome = BoardOutcome::Refused;
      a.message = T(u8"табло спрашивает пароль, а в реестре он не задан");
      break;
    case UploadOutcome::PasswordRefused:
      a.outcome = BoardOutcome::Refused;
      a.message = T(u8"Введен неверный пароль");
      break;
    case UploadOutcome::Interrupted:
      a.outcome = BoardOutcome::Interrupted;
      a.message = InterruptedText();
      break;
    default:
      a.message = UploadFailureText(report.outcome);
      if (a.message.empty()) a.message = T(u8"Ошибка связи с контроллером!");
      if (!lost.empty()) a.message += " (" + lost + ")";
      else if (report.outcome == UploadOutcome::NoLink) a.message += FaultReason(report.fault);
      break;
  }
  (void)passwordRefused;
  if (a.outcome != BoardOutcome::Delivered &&
      report.outcome != UploadOutcome::StartUnconfirmed && session.StopRequested()) {
    a.outcome = BoardOutcome::Interrupted;
    a.message = InterruptedText();
  }
  LeaveBoard(session, board);
  return a;
}

}  // namespace

std::string OutcomeName(BoardOutcome outcome) {
  switch (outcome) {
    case BoardOutcome::Delivered: return "delivered";
    case BoardOutcome::Failed: return "failed";
    case BoardOutcome::Refused: return "refused";
    case BoardOutcome::Skipped: return "skipped";
    case BoardOutcome::Interrupted: return "interrupted";
    case BoardOutcome::NotStarted: return "not-started";
  }
  return "failed";
}

std::optional<BoardOutcome> OutcomeFromName(const std::string& name) {
  for (const auto o : {BoardOutcome::Delivered, BoardOutcome::Failed, BoardOutcome::Refused,
                       BoardOutcome::Skipped, BoardOutcome::Interrupted, BoardOutcome::NotStarted})
    if (OutcomeName(o) == name) return o;
  return std::nullopt;
}

DeliveryTally TallyOf(const std::vector<BoardResult>& results) {
  DeliveryTally t;
  for (const auto& r : results) {
    switch (r.outcome) {
      case BoardOutcome::Delivered: ++t.delivered; break;
      case BoardOutcome::Failed:
      case BoardOutcome::Refused: ++t.failed; break;
      case BoardOutcome::Skipped: ++t.skipped; break;
      case BoardOutcome::Interrupted: ++t.stopped; break;
      case BoardOutcome::NotStarted: ++t.notStarted; break;
    }
    if (!r.logged) ++t.unlogged;
    ++t.total;
  }
  return t;
}

std::string Sha256Hex(const std::vector<uint8_t>& bytes) {
  const QByteArray digest = QCryptographicHash::hash(
      QByteArrayView(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())),
      QCryptographicHash::Sha256);
  return digest.toHex().toStdString();
}

bool Deliver(const std::vector<BoardRecord>& boards, const DeliveryOptions& o, Register* log,
             const DeliveryEvents& events, std::vector<BoardResult>& results, std::string& error) {
  results.assign(boards.size(), BoardResult{});
  // The source, read once.
  std::string bytes;
  constexpr size_t kLargestSource = size_t{1} << 20;
  ReadOutcome read = ReadOutcome::Ok;
  if (!o.sourceText) read = ReadFileCapped(o.source, kLargestSource, bytes);
  else if (o.sourceText->size() > kLargestSource) read = ReadOutcome::TooLarge;
  else bytes = *o.sourceText;
  switch (read) {
    case ReadOutcome::Ok: break;
    case ReadOutcome::TooLarge:
      error = T(u8"'") + o.source + T(u8"' слишком велик");
      return false;
    case ReadOutcome::Failed:
      error = T(u8"не удаётся прочитать '") + o.source + "'";
      return false;
  }
  const bool binary = !o.sourceText && HasBinExtension(o.source);

  // One compilation per distinct settings file.
  struct Compiled {
    bool ok = false;
    std::string message;
    std::vector<uint8_t> image;
    std::string sha256;
    TSettings settings;
  };
  std::map<std::string, Compiled> compiled;
  std::vector<Prepared> prepared(boards.size());
  for (size_t i = 0; i < boards.size(); ++i) {
    const std::string settingsPath = boards[i].ini.empty() ? o.defaultSettings : boards[i].ini;
    auto [it, fresh] = compiled.try_emplace(settingsPath);
    Compiled& c = it->second;
    if (fresh) {
      bool valuesOk = true;
      const SettingsFileState state = ReadSettingsFile(c.settings, settingsPath, &valuesOk);
      const bool own = !boards[i].ini.empty();
      if (state == SettingsFileState::Unreadable ||
          (own && state == SettingsFileState::Missing)) {
        c.message = T(u8"файл настроек '") + settingsPath +
                    (state == SettingsFileState::Missing ? T(u8"' не существует")
                                                         : T(u8"' не читается"));
      } else if (binary) {
        c.ok = true;
        c.image.assign(bytes.begin(), bytes.end());
      } else {
        const size_t maxSize = c.settings.OutDataSize > 0 ? static_cast<size_t>(c.settings.OutDataSize) : 0;
        CompileResult r = CompileBoardData(bytes, c.settings.DefFontHeight,
                                           c.settings.ColorChannelCount, maxSize);
        c.image = std::move(r.image);
        // The limit and the file it comes from, so that the operator knows
        // which "Размер данных" to change.
        if (!r.ok)
          c.message = DataSizeMessage(
              c.image.size(), maxSize,
              T(u8"«Размер данных» ") +
                  (state == SettingsFileState::Missing
                       ? T(u8"по умолчанию: файла настроек '") + settingsPath + T(u8"' нет")
                       : T(u8"в файле настроек '") + settingsPath + "'"));
        else c.ok = true;
      }
      if (c.ok && c.image.empty()) {
        c.ok = false;
        c.message = T(u8"в '") + o.source + T(u8"' нечего отправлять");
      }
      if (c.ok && c.image.size() > kMaxImageSize) {
        c.ok = false;
        c.message = T(u8"в образе ") + Bytes(c.image.size()) + T(u8"; табло принимает не больше ") +
                    std::to_string(kMaxImageSize);
      }
      c.sha256 = Sha256Hex(c.image);
    }
    prepared[i].ok = c.ok;
    prepared[i].message = c.message;
    prepared[i].image = &c.image;
    prepared[i].sha256 = c.sha256;
    prepared[i].settings = c.settings;
    results[i].imageSize = c.image.size();
    results[i].sha256 = c.sha256;
  }

  // The lines, each with its boards in the order given.
  const LinePlan plan = PlanLines(boards);
  const auto& lineKeys = plan.keys;
  const auto& lines = plan.members;

  const StopFlag* stop = o.stop.get();
  const std::string operatorName = o.operatorName.empty() ? Register::OperatorName() : o.operatorName;
  // The run's own id in the log: its attempts on every board carry it, so
  // that the log tells one run from another even when two run at once.
  const std::string runId = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
  LineLocks locks(log, o.lockFolder, o.leaseMs, operatorName, o.stop);
  EventQueue queue;
  std::atomic<size_t> nextLine{0};

  const auto serveLine = [&](size_t lineIndex) {
    const auto& members = lines[lineIndex];
    // Boards whose image could not be made are not tried; the line is not
    // taken for them.
    std::vector<size_t> ready;
    for (size_t b : members) {
      if (prepared[b].ok) {
        ready.push_back(b);
        continue;
      }
      queue.Push({Event::Ends, b, 0, 0, BoardOutcome::Skipped, prepared[b].message});
    }
    if (ready.empty()) return;
    std::string why;
    const auto held = locks.Take(lineKeys[lineIndex], stop,
                                 [&](const std::string& holder) {
                                   queue.Push({Event::Busy, ready.front(), 0, 0,
                                               BoardOutcome::Failed, holder});
                                 },
                                 why);
    if (!held) {
      // Stopped while waiting for the line, or the lock could not be made.
      for (size_t b : ready)
        queue.Push({Event::Ends, b, 0, 0,
                    why.empty() ? BoardOutcome::NotStarted : BoardOutcome::Failed,
                    why.empty() ? NotStartedText(InterruptedText()) : why});
      return;
    }
    const StopFlag* lineStop = held->Stop().get();
    for (size_t b : ready) {
      int pause = o.retryPauseMs;
      for (int attempt = 1;; ++attempt) {
        if (held->Lost()) {
          // Another program may be on the line by now: nothing more is
          // started on it.
          queue.Push({Event::Ends, b, 0, 0, attempt == 1 ? BoardOutcome::NotStarted
                                                         : BoardOutcome::Failed,
                      attempt == 1 ? NotStartedText(LostText(boards[b].line))
                                   : LostText(boards[b].line)});
          break;
        }
        if (stop && stop->Requested()) {
          queue.Push({Event::Ends, b, 0, 0,
                      attempt == 1 ? BoardOutcome::NotStarted : BoardOutcome::Interrupted,
                      attempt == 1 ? NotStartedText(InterruptedText()) : InterruptedText()});
          break;
        }
        queue.Push({Event::Starts, b, attempt, 0, BoardOutcome::Failed, {}});
        Attempt a = DeliverOnce(boards[b], prepared[b], o, held->Stop(), [&](int percent) {
          queue.Push({Event::Progress, b, attempt, percent, BoardOutcome::Failed, {}});
        });
        // A line no longer surely held: whatever the attempt came to,
        // another program may have been on the line meanwhile, so the
        // board is not reported delivered.
        if (held->Lost() && (a.outcome == BoardOutcome::Delivered ||
                             a.outcome == BoardOutcome::Interrupted ||
                             a.outcome == BoardOutcome::Failed) &&
            !(a.outcome == BoardOutcome::Interrupted && stop && stop->Requested())) {
          a.outcome = BoardOutcome::Failed;
          a.message = LostText(boards[b].line);
          queue.Push({Event::Ends, b, attempt, 0, a.outcome, a.message});
          break;
        }
        queue.Push({Event::Ends, b, attempt, 0, a.outcome, a.message});
        if (a.outcome != BoardOutcome::Failed || attempt > o.retries) break;
        // A line failure: tried again after a pause, longer each time.
        if (!PauseUnlessStopped(lineStop, pause)) {
          if (!held->Lost())
            queue.Push({Event::Ends, b, 0, 0, BoardOutcome::Interrupted, InterruptedText()});
          else
            queue.Push({Event::Ends, b, 0, 0, BoardOutcome::Failed, LostText(boards[b].line)});
          break;
        }
        pause = std::min(pause * 2, 10 * 60 * 1000);
      }
    }
  };

  std::atomic<int> running{0};
  std::vector<std::thread> workers;
  const int jobs = std::clamp<int>(o.jobs, 1, static_cast<int>(std::max<size_t>(lines.size(), 1)));
  for (int j = 0; j < jobs; ++j) {
    ++running;
    workers.emplace_back([&] {
      for (size_t line; (line = nextLine++) < lines.size();) serveLine(line);
      --running;
      queue.Push({Event::LineDone, 0, 0, 0, BoardOutcome::Failed, {}});
    });
  }

  // The caller's thread: the log and the events, until every line is done.
  std::map<std::pair<size_t, int>, long long> logIds;
  const auto logError = [&](size_t board, const std::string& why) {
    results[board].logged = false;
    if (events.logFailed) events.logFailed(why);
  };
  const auto entryOf = [&](size_t b, int attempt) {
    LogEntry entry;
    entry.board = boards[b].name;
    entry.groups = boards[b].groups;
    entry.line = boards[b].line;
    entry.address = boards[b].address;
    entry.operatorName = operatorName;
    entry.run = runId;
    entry.setFile = o.source;
    entry.sha256 = prepared[b].sha256;
    entry.size = static_cast<long long>(prepared[b].image->size());
    entry.attempt = attempt;
    return entry;
  };
  while (true) {
    const bool finished = running.load() == 0;
    std::deque<Event> taken = queue.Take(100);
    for (Event& e : taken) {
      switch (e.kind) {
        case Event::Starts: {
          results[e.board].attempts = e.attempt;
          if (log) {
            std::string why;
            const long long id = log->BeginAttempt(entryOf(e.board, e.attempt), why);
            if (id > 0) logIds[{e.board, e.attempt}] = id;
            else logError(e.board, why);
          }
          if (events.attemptStarts) events.attemptStarts(e.board, e.attempt);
          break;
        }
        case Event::Progress:
          if (events.progress) events.progress(e.board, e.percent);
          break;
        case Event::Ends: {
          BoardResult& r = results[e.board];
          r.outcome = e.outcome;
          r.message = e.message;
          if (log) {
            std::string why;
            const auto id = logIds.find({e.board, e.attempt});
            if (id != logIds.end()) {
              if (!log->FinishAttempt(id->second, OutcomeName(e.outcome), e.message, why))
                logError(e.board, why);
            } else {
              // Never tried (attempt 0: skipped, not started, the line not
              // locked, a retry stopped), or an attempt whose start could
              // not be noted: noted now, whole, so the log tells what
              // became of the board.
              const long long newId = log->BeginAttempt(entryOf(e.board, e.attempt), why);
              if (newId <= 0 || !log->FinishAttempt(newId, OutcomeName(e.outcome), e.message, why))
                logError(e.board, why);
            }
          }
          if (events.attemptEnds) events.attemptEnds(e.board, e.attempt, e.outcome, e.message);
          break;
        }
        case Event::Busy:
          if (events.lineBusy) events.lineBusy(boards[e.board].line);
          if (events.lineBusyBy) events.lineBusyBy(boards[e.board].line, e.message);
          break;
        case Event::LineDone: break;
      }
    }
    if (events.tick) events.tick();
    if (finished && taken.empty()) break;
  }
  for (auto& w : workers) w.join();
  return true;
}

}  // namespace lentar::fleet
