// The dial-up modem in front of a board: resetting and initialising it with
// AT commands, dialling, watching the call come up, and the board's modem
// access password once the call is up.
//
// The modem sits on the board session's line. While a call is being made the port is in
// line mode and the modem answers in CR-terminated lines ("OK", "BUSY",
// ...); once DSR comes up the call is connected and the same port carries
// board frames. A dropped DTR makes the modem hang up.
//
// Status texts are the ones the operator sees in the dial dialog
// (Windows-1251); nothing here shows a message.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "comm/comport.h"
#include "comm/session.h"

namespace lentar::comm {

// The pauses of the modem dialogue in ms. The defaults are what real modems
// need; tests shorten them.
struct ModemTimings {
  int settleMs = 1000;    // after raising DTR, before the reset
  int dtrOffMs = 1200;    // reset: DTR held low
  int dtrOnMs = 1200;     // reset: DTR raised again before "ATZ"
  int resetReplyMs = 500; // for the "OK" to "ATZ"
  int initLineMs = 200;   // after each initialisation line, and once after all
  int afterCallMs = 6000; // after a call came up, before the first command
};

// What to dial and how.
struct DialRequest {
  std::string portConfigHex;  // line settings of the modem port (ModemConfig)
  std::string initLines;      // initialisation commands, one a line (ModemInit)
  bool tone = true;           // tone (T) or pulse (P) dialling (ToneDial)
  std::string number;
  // Told the dialog's status text when it changes while the dial goes on
  // (DialStatusDialling() once the dial command is out). May be empty.
  std::function<void(const std::string& status)> statusChanged;
};

// "ATD", then "T" for tone or "P" for pulse, then the number.
std::string DialCommand(bool tone, const std::string& number);
// The initialisation commands of a multi-line text: every non-blank line,
// trimmed of its line break (blank lines would only send a bare CR LF).
std::vector<std::string> ModemInitLines(const std::string& text);

// The operator's status texts.
std::string DialStatusIdle();          // "------"
std::string DialStatusDialling();      // "Набор номера"
std::string DialStatusAborted();       // "Прервано"
std::string DialStatusNoModem();       // "Нет отклика от модема"
std::string DialStatusInitError(int code);     // "Ошибка инициализации: " + text
std::string DialStatusCallError(int code);     // "Ошибка соединения: " + text
// A line that pours out bytes while a call is dialled, with no result code
// among them, is no modem: "Поток данных на линии вместо ответа модема".
std::string DialStatusFlood();
// More than this many bytes received while dialling is such a flood; a
// modem says a few dozen.
inline constexpr uint64_t kDialFloodBytes = 64 * 1024;

// Resets and initialises the modem and sends the dial command: DTR up, the
// modem port's settings, the "ATZ" reset, the initialisation lines (a result
// code among their answers ends it), then the dial command. The port stays
// in line mode. dialling is true when the dial command went out; status is
// then DialStatusDialling(), else the failure's text.
//
// The session's stop flag ends the reset and the initialisation at their
// next pause: the modem is hung up (HangUp), interrupted is set and status is
// DialStatusAborted().
struct DialStart {
  bool dialling = false;
  std::string status;
  bool interrupted = false;  // stopped by the session's stop flag; hung up
};
DialStart StartDial(BoardSession& session, const DialRequest& request,
                    const ModemTimings& timings = {});

// One look at a call being dialled, with the DSR state the line reported:
// Connected when DSR is up; Failed when the modem answered a result code
// (the line buffer is emptied, status holds the text), when the line closed
// under the call (status: why, as the line tells it) or when it floods
// (DialStatusFlood); Waiting otherwise. Safe on the port's receive thread.
struct DialCheck {
  enum State { Waiting, Connected, Failed };
  State state = Waiting;
  std::string status;
};
DialCheck CheckDial(BoardSession& session, bool dsr);

// Ends a call: DTR down, the session back to a line's deadline and
// attempts (BoardSession::UseLineTimeouts).
void HangUp(BoardSession& session);

// The whole dial for a script: StartDial, then wait until DSR comes up, the
// modem reports a failure or timeoutMs passes (0: no limit). On success the
// port is back in frame mode with the call's deadlines; on failure the call
// is hung up. status: the dialog's text of the outcome, or empty when the
// time ran out. The session's stop flag ends the wait as it ends StartDial:
// hung up, interrupted set, status DialStatusAborted().
DialStart DialAndWait(BoardSession& session, const DialRequest& request, int timeoutMs,
                      const ModemTimings& timings = {});

// The board's modem access check, run before the first command of a modem
// session: when the board says access is not granted, askPassword is asked
// (nullopt: the operator declined) and the modem password sent. True when
// the last command was answered and acknowledged.
bool CheckModemAccess(BoardSession& session,
                      const std::function<std::optional<std::string>()>& askPassword);

}  // namespace lentar::comm
