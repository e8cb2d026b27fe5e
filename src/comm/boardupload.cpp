#include "comm/boardupload.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/streamrecord.h"
#include "core/textutil.h"

namespace lentar::comm {

namespace {

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The longest pause between streamed blocks, in ms.
constexpr int kMaxBlockDelay = 1500;

// Rate index of a speed setting (0 = 9600 at index 3).
int RateIndexOfSpeed(int speed) { return speed + 3; }

// Reads the buffer information, tried a few times: the board may be busy,
// and after an upload one lost reply must not turn a complete upload into a
// failure.
bool ReadBufferInfoPersistently(BoardSession& session, BufferInfo& info) {
  for (int attempt = 0; attempt < 6; ++attempt)
    if (CmdReadBufferInfo(session, info)) return true;
  return false;
}

}  // namespace

std::string UploadFailureText(UploadOutcome outcome) {
  switch (outcome) {
    case UploadOutcome::ResumeUnknown:
      return Utf8ToCp1251(u8"Дозагрузка невозможна: прерванная загрузка в этот буфер неизвестна");
    case UploadOutcome::ResumeDifferent:
      return Utf8ToCp1251(u8"Дозагрузка невозможна: в этот буфер загружались другие данные");
    case UploadOutcome::BufferTooSmall: return Utf8ToCp1251(u8"Недостаточный размер буфера!");
    case UploadOutcome::NoLink:
    case UploadOutcome::PasswordDeclined:
    case UploadOutcome::PasswordRefused: return Utf8ToCp1251(u8"Ошибка связи с контроллером!");
    case UploadOutcome::TransferFailed: return Utf8ToCp1251(u8"Ошибка соединения!");
    case UploadOutcome::Interrupted: return InterruptedText();
    case UploadOutcome::StartUnconfirmed: return StartUnconfirmedText(-1);
    case UploadOutcome::Done:
    case UploadOutcome::BadImage:
    case UploadOutcome::Cancelled: break;
  }
  return {};
}

std::string StartUnconfirmedText(int buffer) {
  std::string text = Utf8ToCp1251(u8"табло не подтвердило запуск буфера");
  if (buffer >= 0) text += " " + std::to_string(buffer + 1);
  return text;
}

bool PreparePortRate(BoardSession& session, int baseSpeed, int settleMs) {
  int index = RateIndexOfSpeed(baseSpeed);
  if (index < 3 || index > 7) index = 3;
  const int32_t rate = RateTable[static_cast<size_t>(index)];
  if (session.Port().BaudRate() != rate) session.Port().SetBaudRate(rate);
  SleepMs(100);
  session.Port().Purge();
  return PauseUnlessStopped(&session.Stop(), settleMs);
}

BoardLinkResult OpenBoardLink(BoardSession& session, const BoardLinkOptions& o) {
  BoardLinkResult result;
  TComPort& port = session.Port();
  if (!port.IsOpen()) {
    port.Open(o.device);
    session.UseLineTimeouts();
  }
  if (!port.IsOpen()) {
    result.outcome = BoardLinkOutcome::PortFailed;
    result.text = Utf8ToCp1251(u8"Ошибка коммуникационного порта!");
    // A server that dropped the connection right after taking it leaves an
    // open that worked: the line says why it closed.
    result.reason =
        port.OpenFailed() || port.LostText().empty() ? port.LastErrorText() : port.LostText();
    CloseBoardPort(session);
    return result;
  }
  if (o.modem) {
    // A modem's answer may pause between its bytes longer than a board's.
    port.SetInterByteTimeout(700);
  } else if (!PreparePortRate(session, o.baseSpeed, o.settleMs)) {
    result.outcome = BoardLinkOutcome::Interrupted;
    result.text = InterruptedText();
    CloseBoardPort(session);
    return result;
  }
  result.outcome = BoardLinkOutcome::Open;
  return result;
}

namespace {

// The end of every upload that may have asked for the loading speed: a
// direct line goes back to its base speed whatever happened (a failure, a
// stop, a hook that threw), so that the board answers the next program at
// the speed it expects.
class BaseSpeedGuard {
 public:
  BaseSpeedGuard(BoardSession& session, bool speedsDiffer, int baseSpeed)
      : session_(session), speedsDiffer_(speedsDiffer), baseSpeed_(baseSpeed) {}
  BaseSpeedGuard(const BaseSpeedGuard&) = delete;
  BaseSpeedGuard& operator=(const BaseSpeedGuard&) = delete;
  ~BaseSpeedGuard() {
    SleepMs(100);
    if (speedsDiffer_) {
      const int baseIndex = RateIndexOfSpeed(baseSpeed_);
      CmdSetBaud(session_, baseIndex);
      SleepMs(100);
      session_.Port().SetBaudIndex(baseIndex);
    }
    SleepMs(100);
  }

 private:
  BoardSession& session_;
  bool speedsDiffer_;
  int baseSpeed_;
};

UploadReport UploadImageSteps(BoardSession& session, const uint8_t* image, size_t size,
                              const UploadOptions& o, const UploadHooks& hooks);

}  // namespace

UploadReport UploadImage(BoardSession& session, const uint8_t* image, size_t size,
                         const UploadOptions& o, const UploadHooks& hooks) {
  UploadReport report = UploadImageSteps(session, image, size, o, hooks);
  switch (report.outcome) {
    case UploadOutcome::Done: report.text = Utf8ToCp1251(u8"Загрузка успешно завершена!"); break;
    case UploadOutcome::StartUnconfirmed: report.text = StartUnconfirmedText(report.buffer); break;
    default: report.text = UploadFailureText(report.outcome); break;
  }
  return report;
}

namespace {

UploadReport UploadImageSteps(BoardSession& session, const uint8_t* image, size_t size,
                              const UploadOptions& o, const UploadHooks& hooks) {
  UploadReport report;
  report.buffer = o.buffer;
  if (image == nullptr || size == 0 || size > kMaxImageSize) {
    report.outcome = UploadOutcome::BadImage;
    return report;
  }
  const StopFlag* stop = &session.Stop();
  // Stopped before anything was sent or changed on the board.
  const auto interrupted = [&]() {
    report.outcome = UploadOutcome::Interrupted;
    return report;
  };
  if (stop->Requested()) return interrupted();
  const bool noting = !o.streamRecord.empty();
  // Completing an interrupted upload keeps what the board holds; the note of
  // that upload says how it was being sent and where it stopped.
  const bool resume = !o.full;
  UploadNote noted;
  if (resume) {
    const ResumeCheck check =
        noting ? CheckResume(o.streamRecord, o.portName, o.buffer, image, size, &noted)
               : ResumeCheck::Unknown;
    if (check != ResumeCheck::Same) {
      report.outcome = check == ResumeCheck::Different ? UploadOutcome::ResumeDifferent
                                                       : UploadOutcome::ResumeUnknown;
      return report;
    }
  }
  const bool streamed = resume ? !noted.acknowledged : o.modem || o.streamed;
  // A modem line needs a breath between the preparing commands; a stop
  // ends it at once.
  const auto modemPause = [&](int ms) {
    if (o.modem) PauseUnlessStopped(stop, ms);
  };

  // The link's round trip sets the pace of streamed blocks.
  int delay = 0;
  bool ok = MeasureLink(session, delay);
  modemPause(300);
  if (ok && delay > kMaxBlockDelay) {
    ok = MeasureLink(session, delay);
    if (ok) modemPause(300);
  }
  if (ok) session.BlockDelay = std::min(delay, kMaxBlockDelay);
  if (ok) modemPause(300);

  if (stop->Requested()) return interrupted();

  BufferInfo info;
  if (ok) {
    ok = ReadBufferInfoPersistently(session, info);
    modemPause(500);
  }
  if (stop->Requested()) return interrupted();
  int buffer = o.buffer;
  // Start the buffer once the image is complete: asked for, noted by the
  // interrupted upload, or because the board is to switch to a new set.
  bool start = o.restart || noted.start;
  if (ok) {
    report.capacity = info.Capacity(buffer);
    if (size >= static_cast<size_t>(report.capacity)) {
      report.outcome = UploadOutcome::BufferTooSmall;
      return report;
    }
    // Clearing the buffer on show blanks the board until the last block is
    // in, and for good if the line fails on the way. The board can instead
    // receive the set in its other buffer and switch only once the whole
    // image is confirmed. Nothing has been changed on the board yet.
    if (!resume && info.CurrentBuffer() == buffer && info.DataLength() > 0) {
      const int other = 1 - buffer;
      const bool otherFits = size < static_cast<size_t>(info.Capacity(other));
      const BufferChoice choice =
          hooks.bufferOnShow ? hooks.bufferOnShow(buffer, otherFits ? other : -1)
                             : BufferChoice::Chosen;
      if (choice == BufferChoice::Cancel) {
        report.outcome = UploadOutcome::Cancelled;
        return report;
      }
      if (choice == BufferChoice::Other && otherFits) {
        buffer = other;
        start = true;
        report.buffer = buffer;
        report.capacity = info.Capacity(buffer);
      }
    }
    report.shownBuffer = info.DataLength() > 0 ? info.CurrentBuffer() : -1;
  }

  const bool speedsDiffer = !o.modem && o.loadSpeed != o.baseSpeed;
  const int loadIndex = RateIndexOfSpeed(o.loadSpeed);
  // From here on every path ends with the base speed.
  const BaseSpeedGuard baseSpeed(session, speedsDiffer, o.baseSpeed);
  // A stop seen between the preparing commands.
  const auto stopped = [&]() {
    if (!stop->Requested()) return false;
    report.outcome = UploadOutcome::Interrupted;
    return true;
  };

  // The board stopped answering: the reason is kept before the speed is
  // set back, which would overwrite it.
  const auto noLink = [&]() {
    report.outcome = UploadOutcome::NoLink;
    report.fault = session.LastReplyFault();
    return false;
  };
  // Everything up to the transfer; false with report.outcome set.
  // The board has answered (the link was measured): on a direct line a
  // preparing command whose request was lost is sent again, as a block is.
  // Through a modem each goes once; the streamed transfer repairs itself.
  const auto persist = [&](const std::function<bool()>& command) {
    const int attempts = o.modem ? 1 : kNoisyLineAttempts;
    for (int attempt = 0; attempt < attempts; ++attempt)
      if (command()) return true;
    return false;
  };
  const auto prepare = [&]() {
    if (!ok) return noLink();
    StatusBlock status;
    bool prepared =
        !o.clearOnSwitch || persist([&] { return CmdSetClearOnSwitch(session, *o.clearOnSwitch); });
    if (prepared) {
      modemPause(300);
      if (stopped()) return false;
      prepared = persist([&] { return CmdReadStatus(session, status); });
      if (prepared) modemPause(300);
    }
    if (stopped()) return false;
    if (!prepared) return noLink();
    if (!status.AccessGranted()) {
      const std::optional<std::string> password =
          hooks.choosePassword ? hooks.choosePassword() : std::nullopt;
      if (!password) {
        report.outcome = UploadOutcome::PasswordDeclined;
        return false;
      }
      const PasswordReply reply = CmdEnterPassword(session, *password);
      if (!reply.replied) return noLink();
      if (!reply.accepted) {
        if (hooks.passwordRefused) hooks.passwordRefused();
        report.outcome = UploadOutcome::PasswordRefused;
        return false;
      }
    }
    return !stopped();
  };

  if (prepare()) {
    if (speedsDiffer && loadIndex >= 0 && loadIndex < 9 && loadIndex != 3) {
      SleepMs(100);
      const bool switched = CmdSetBaud(session, loadIndex);
      SleepMs(200);
      if (switched) session.Port().SetBaudIndex(loadIndex);
      SleepMs(200);
    }
    if (hooks.transferStarts) hooks.transferStarts();
    // The last moment to stop with the board's buffers untouched.
    if (stopped()) return report;
    bool connected = false;
    for (int attempt = 0; attempt < 3 && !connected; ++attempt) connected = CmdConnect(session);
    if (!resume) persist([&] { return ClearBuffer(session, buffer); });
    // The upload is noted before its first block, so that an interruption
    // at any point (the program's own included) leaves something to resume.
    if (!resume && noting) {
      UploadNote note;
      note.acknowledged = !streamed;
      note.start = start;
      report.noteFailed = !NoteUploadStart(o.streamRecord, o.portName, buffer, image, size, note);
    }
    size_t confirmed = 0;
    const bool transferred =
        streamed ? UploadStreamed(session, buffer, image, size, hooks.progress, o.modem, !resume)
                 : UploadAcknowledged(session, buffer, image, size, hooks.progress,
                                      resume ? noted.confirmed : 0, &confirmed);
    if (noting) {
      if (transferred) {
        // The end marker closed the board's upload: nothing is left to resume.
        ForgetStream(o.streamRecord, o.portName, buffer);
      } else {
        if (!streamed) NoteConfirmedBlocks(o.streamRecord, o.portName, buffer, confirmed);
        report.resumable = !report.noteFailed &&
                           CheckResume(o.streamRecord, o.portName, buffer, image, size) ==
                               ResumeCheck::Same;
      }
    }
    bool done = false;
    if (transferred) {
      // The image is whole on the board: what is left (reading the buffer
      // back, starting it) runs to its end even when a stop came meanwhile.
      done = ReadBufferInfoPersistently(session, info);
      if (done && (start || info.DataLength() == 0)) {
        report.startAsked = true;
        for (int attempt = 0; attempt < 3 && !report.started; ++attempt)
          report.started = CmdStartBuffer(session, buffer);
      }
    } else {
      PauseUnlessStopped(stop, 1000);
    }
    if (done && report.startAsked && !report.started)
      report.outcome = UploadOutcome::StartUnconfirmed;
    else if (done) report.outcome = UploadOutcome::Done;
    else if (!transferred && stop->Requested()) report.outcome = UploadOutcome::Interrupted;
    else report.outcome = UploadOutcome::TransferFailed;
    if (done && hooks.succeeded) hooks.succeeded();
  }
  return report;
}

}  // namespace

}  // namespace lentar::comm
