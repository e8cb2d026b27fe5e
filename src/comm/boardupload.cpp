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
bool ReadBufferInfoPersistently(TComPort& port, BufferInfo& info) {
  for (int attempt = 0; attempt < 6; ++attempt)
    if (CmdReadBufferInfo(port, info)) return true;
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
    case UploadOutcome::BadImage: break;
  }
  return {};
}

void PreparePortRate(TComPort& port, int baseSpeed, int settleMs) {
  int index = RateIndexOfSpeed(baseSpeed);
  if (index < 3 || index > 7) index = 3;
  const int32_t rate = RateTable[static_cast<size_t>(index)];
  if (port.BaudRate() != rate) port.SetBaudRate(rate);
  SleepMs(100);
  port.Purge();
  SleepMs(settleMs);
}

UploadReport UploadImage(TComPort& port, const uint8_t* image, size_t size,
                         const UploadOptions& o, const UploadHooks& hooks) {
  UploadReport report;
  if (image == nullptr || size == 0 || size > kMaxImageSize) {
    report.outcome = UploadOutcome::BadImage;
    return report;
  }
  const bool streamed = o.modem || o.streamed;
  // Completing an interrupted streamed upload keeps what the board holds.
  const bool resume = streamed && !o.full;
  if (resume) {
    const ResumeCheck check = o.streamRecord.empty()
                                  ? ResumeCheck::Unknown
                                  : CheckResume(o.streamRecord, o.portName, o.buffer, image, size);
    if (check != ResumeCheck::Same) {
      report.outcome = check == ResumeCheck::Different ? UploadOutcome::ResumeDifferent
                                                       : UploadOutcome::ResumeUnknown;
      return report;
    }
  }
  // A modem line needs a breath between the preparing commands.
  const auto modemPause = [&](int ms) {
    if (o.modem) SleepMs(ms);
  };

  // The link's round trip sets the pace of streamed blocks.
  int delay = 0;
  bool ok = MeasureLink(port, delay);
  modemPause(300);
  if (ok && delay > kMaxBlockDelay) {
    ok = MeasureLink(port, delay);
    if (ok) modemPause(300);
  }
  if (ok) BlockDelay = std::min(delay, kMaxBlockDelay);
  if (ok) modemPause(300);

  BufferInfo info;
  if (ok) {
    ok = ReadBufferInfoPersistently(port, info);
    modemPause(500);
  }
  if (ok) {
    report.capacity = info.Capacity(o.buffer);
    if (size >= static_cast<size_t>(report.capacity)) {
      report.outcome = UploadOutcome::BufferTooSmall;
      return report;
    }
  }

  const bool speedsDiffer = !o.modem && o.loadSpeed != o.baseSpeed;
  const int loadIndex = RateIndexOfSpeed(o.loadSpeed);

  // The board stopped answering: the reason is kept before the speed is
  // set back, which would overwrite it.
  const auto noLink = [&]() {
    report.outcome = UploadOutcome::NoLink;
    report.fault = LastReplyFault();
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
        !o.clearOnSwitch || persist([&] { return CmdSetClearOnSwitch(port, *o.clearOnSwitch); });
    if (prepared) {
      modemPause(300);
      prepared = persist([&] { return CmdReadStatus(port, status); });
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
      const PasswordReply reply = CmdEnterPassword(port, *password);
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
      const bool switched = CmdSetBaud(port, loadIndex);
      SleepMs(200);
      if (switched) port.SetBaudIndex(loadIndex);
      SleepMs(200);
    }
    if (hooks.transferStarts) hooks.transferStarts();
    bool connected = false;
    for (int attempt = 0; attempt < 3 && !connected; ++attempt) connected = CmdConnect(port);
    if (!resume) persist([&] { return ClearBuffer(port, o.buffer); });
    if (streamed && !resume && !o.streamRecord.empty())
      report.noteFailed = !NoteStreamStart(o.streamRecord, o.portName, o.buffer, image, size);
    const bool transferred =
        streamed ? UploadStreamed(port, o.buffer, image, size, hooks.progress, o.modem, !resume)
                 : UploadAcknowledged(port, o.buffer, image, size, hooks.progress);
    // The end marker closed the board's block map: nothing is left to resume.
    if (transferred && !o.streamRecord.empty())
      ForgetStream(o.streamRecord, o.portName, o.buffer);
    bool confirmed = false;
    if (transferred) {
      confirmed = ReadBufferInfoPersistently(port, info);
      if (confirmed && (o.restart || info.DataLength() == 0)) {
        report.startAsked = true;
        for (int attempt = 0; attempt < 3 && !report.started; ++attempt)
          report.started = CmdStartBuffer(port, o.buffer);
      }
    } else {
      SleepMs(1000);
    }
    report.outcome = confirmed ? UploadOutcome::Done : UploadOutcome::TransferFailed;
    if (confirmed && hooks.succeeded) hooks.succeeded();
  }

  // A direct line goes back to its base speed whatever happened.
  SleepMs(100);
  if (speedsDiffer) {
    const int baseIndex = RateIndexOfSpeed(o.baseSpeed);
    CmdSetBaud(port, baseIndex);
    SleepMs(100);
    port.SetBaudIndex(baseIndex);
  }
  SleepMs(100);
  return report;
}

}  // namespace lentar::comm
