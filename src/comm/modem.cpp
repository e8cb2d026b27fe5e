#include "comm/modem.h"

#include <chrono>
#include <thread>

#include "comm/boardprotocol.h"
#include "comm/session.h"
#include "core/textutil.h"

namespace lentar::comm {

namespace {

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A pause of the modem dialogue; false when the session's stop flag ended
// it.
bool Pause(BoardSession& session, int ms) { return PauseUnlessStopped(&session.Stop(), ms); }

// DTR pulse, then "ATZ": true when the modem answered "OK" in time.
bool ResetModem(BoardSession& session, const ModemTimings& t) {
  session.Port().SetDTR(false);
  if (!Pause(session, t.dtrOffMs)) return false;
  session.Port().SetDTR(true);
  if (!Pause(session, t.dtrOnMs)) return false;
  session.Port().ClearLineBuffer();
  session.Port().WriteText("ATZ", true);
  if (!Pause(session, t.resetReplyMs)) return false;
  return session.Port().WaitForLine("OK");
}

// The dial was stopped by the operator: the modem is told to hang up (DTR
// down) whatever it was doing, and the status says it was aborted.
DialStart Aborted(BoardSession& session) {
  HangUp(session);
  DialStart result;
  result.interrupted = true;
  result.status = DialStatusAborted();
  return result;
}

}  // namespace

std::string DialCommand(bool tone, const std::string& number) {
  return std::string("ATD") + (tone ? "T" : "P") + number;
}

std::vector<std::string> ModemInitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  const auto flush = [&] {
    if (!TrimBlanks(line).empty()) lines.push_back(line);
    line.clear();
  };
  for (char c : text) {
    if (c == '\r' || c == '\n') flush();
    else line.push_back(c);
  }
  flush();
  return lines;
}

std::string DialStatusIdle() { return "------"; }
std::string DialStatusDialling() { return Utf8ToCp1251(u8"Набор номера"); }
std::string DialStatusAborted() { return Utf8ToCp1251(u8"Прервано"); }
std::string DialStatusNoModem() { return Utf8ToCp1251(u8"Нет отклика от модема"); }
std::string DialStatusInitError(int code) {
  return Utf8ToCp1251(u8"Ошибка инициализации: ") + ModemResultText(code);
}
std::string DialStatusCallError(int code) {
  return Utf8ToCp1251(u8"Ошибка соединения: ") + ModemResultText(code);
}
std::string DialStatusFlood() {
  return Utf8ToCp1251(u8"Поток данных на линии вместо ответа модема");
}

namespace {
// Why the port closed under the modem dialogue.
std::string LostLineText(const TComPort& port) {
  const std::string why = port.LostText();
  return why.empty() ? Utf8ToCp1251(u8"Порт закрыт") : why;
}
}  // namespace

namespace {

// A result code among every line received so far. A modem puts its result on
// a line of its own ("\r\nBUSY\r\n"). When the line break before it arrives
// after the line before it (the echo of a command) was read, the buffer
// starts with an empty line, which ends a scan of ReadModemResult with the
// result still unread; and nothing may arrive afterwards to prompt another
// look. A non-empty line takes every CR and LF stored after it along, so one
// more scan reaches all the lines after the empty one.
int ScanModemResult(BoardSession& session) {
  const int code = session.Port().ReadModemResult();
  return code >= 0 ? code : session.Port().ReadModemResult();
}

}  // namespace

DialStart StartDial(BoardSession& session, const DialRequest& request, const ModemTimings& t) {
  DialStart result;
  session.Port().SetLineMode(true);
  session.Port().ClearLineBuffer();
  if (!request.portConfigHex.empty()) session.Port().ConfigFromHex(request.portConfigHex);
  session.Port().SetDTR(true);
  if (!Pause(session, t.settleMs)) return Aborted(session);
  if (!ResetModem(session, t)) {
    if (session.StopRequested()) return Aborted(session);
    result.status = session.Port().IsOpen() ? DialStatusNoModem() : LostLineText(session.Port());
    return result;
  }
  for (const std::string& line : ModemInitLines(request.initLines)) {
    if (session.StopRequested()) return Aborted(session);
    session.Port().WriteText(line, true);
    if (!Pause(session, t.initLineMs)) return Aborted(session);
  }
  if (!Pause(session, t.initLineMs)) return Aborted(session);
  // Only a failure code among the answers counts; "OK" and anything else a
  // modem says to its initialisation is not examined.
  if (const int code = ScanModemResult(session); code >= 0) {
    result.status = DialStatusInitError(code);
    return result;
  }
  if (session.StopRequested()) return Aborted(session);
  session.Port().ClearLineBuffer();
  session.Port().WriteText(DialCommand(request.tone, request.number), true);
  result.dialling = true;
  result.status = DialStatusDialling();
  if (request.statusChanged) request.statusChanged(result.status);
  return result;
}

DialCheck CheckDial(BoardSession& session, bool dsr) {
  DialCheck check;
  if (dsr) {
    check.state = DialCheck::Connected;
    return check;
  }
  const int code = ScanModemResult(session);
  if (code >= 0) {
    check.state = DialCheck::Failed;
    check.status = DialStatusCallError(code);
    session.Port().ClearLineBuffer();
    return check;
  }
  // Nothing can come up any more on a closed line, and a line that pours
  // out bytes without a result code is not a modem dialling: neither is
  // waited for, however long the caller is prepared to wait.
  if (!session.Port().IsOpen()) {
    check.state = DialCheck::Failed;
    check.status = LostLineText(session.Port());
  } else if (session.Port().LineBytesSinceClear() > kDialFloodBytes) {
    check.state = DialCheck::Failed;
    check.status = DialStatusFlood();
    session.Port().ClearLineBuffer();
  }
  return check;
}

void HangUp(BoardSession& session) {
  session.Port().SetDTR(false);
  session.UseLineTimeouts();
}

DialStart DialAndWait(BoardSession& session, const DialRequest& request, int timeoutMs,
                      const ModemTimings& timings) {
  DialStart result = StartDial(session, request, timings);
  if (result.interrupted) {
    session.Port().SetLineMode(false);
    return result;
  }
  if (result.dialling) {
    result.dialling = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string status;
    for (;;) {
      if (session.StopRequested()) {
        session.Port().SetLineMode(false);
        return Aborted(session);
      }
      const DialCheck check = CheckDial(session, session.Port().DSRState());
      if (check.state == DialCheck::Connected) {
        result.dialling = true;
        break;
      }
      if (check.state == DialCheck::Failed) {
        status = check.status;
        break;
      }
      if (timeoutMs > 0 && std::chrono::steady_clock::now() >= deadline) break;
      SleepMs(20);
    }
    result.status = status;
  }
  session.Port().SetLineMode(false);
  if (result.dialling) session.UseCallTimeouts();
  else HangUp(session);
  return result;
}

bool CheckModemAccess(BoardSession& session,
                      const std::function<std::optional<std::string>()>& askPassword) {
  const PasswordReply access = CmdQueryModemAccess(session);
  if (!access.replied) return false;
  if (access.accepted) return true;
  const std::optional<std::string> password = askPassword ? askPassword() : std::nullopt;
  if (!password) return false;
  const PasswordReply entered = CmdEnterModemPassword(session, *password);
  return entered.replied && entered.accepted;
}

}  // namespace lentar::comm
