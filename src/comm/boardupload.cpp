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
    case UploadOutcome::Done:
    case UploadOutcome::BadImage:
    case UploadOutcome::Cancelled: break;
  }
  return {};
}

void PreparePortRate(BoardSession& session, int baseSpeed, int settleMs) {
  int index = RateIndexOfSpeed(baseSpeed);
  if (index < 3 || index > 7) index = 3;
  const int32_t rate = RateTable[static_cast<size_t>(index)];
  if (session.Port().BaudRate() != rate) session.Port().SetBaudRate(rate);
  SleepMs(100);
  session.Port().Purge();
  SleepMs(settleMs);
}

UploadReport UploadImage(BoardSession& session, const uint8_t* image, size_t size,
                         const UploadOptions& o, const UploadHooks& hooks) {
  UploadReport report;
  report.buffer = o.buffer;
  if (image == nullptr || size == 0 || size > kMaxImageSize) {
    report.outcome = UploadOutcome::BadImage;
    return report;
  }
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
  // A modem line needs a breath between the preparing commands.
  const auto modemPause = [&](int ms) {
    if (o.modem) SleepMs(ms);
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

  BufferInfo info;
  if (ok) {
    ok = ReadBufferInfoPersistently(session, info);
    modemPause(500);
  }
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
      prepared = persist([&] { return CmdReadStatus(session, status); });
      if (prepared) modemPause(300);
    }
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
    return true;
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
      done = ReadBufferInfoPersistently(session, info);
      if (done && (start || info.DataLength() == 0)) {
        report.startAsked = true;
        for (int attempt = 0; attempt < 3 && !report.started; ++attempt)
          report.started = CmdStartBuffer(session, buffer);
      }
    } else {
      SleepMs(1000);
    }
    report.outcome = done ? UploadOutcome::Done : UploadOutcome::TransferFailed;
    if (done && hooks.succeeded) hooks.succeeded();
  }

  // A direct line goes back to its base speed whatever happened.
  SleepMs(100);
  if (speedsDiffer) {
    const int baseIndex = RateIndexOfSpeed(o.baseSpeed);
    CmdSetBaud(session, baseIndex);
    SleepMs(100);
    session.Port().SetBaudIndex(baseIndex);
  }
  SleepMs(100);
  return report;
}

}  // namespace lentar::comm
