// Opening and closing the board port from a window: the port work is the
// communication layer's; the failure message is the window's.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "comm/session.h"

namespace lentar::gui {

class TDeviceWork;

// "Ошибка коммуникационного порта!", followed on a line of its own by the
// port and the reason the system gave ("/dev/ttyUSB0: устройство не найдено").
std::string PortErrorMessage(const std::string& device, const std::string& reason);

// Empty when device names a port the program can open: nothing (the COM
// number decides), a device path, "COMn" or a well-formed socket://HOST:PORT
// or rfc2217://HOST:PORT; else the message that refuses it ("Неверно указан
// порт: ..."). Every field where an operator types a line is checked so.
QString PortNameError(const std::string& device);

// Opens the session's line on the settings' board port when it is not open
// yet, with the board's default reply deadline and retry count. When the port
// could not be opened and showError is set, shows "Ошибка коммуникационного
// порта!" with the port and the reason; the line's OpenFailed and
// LastErrorText stay set for the caller. True when the line is open.
bool OpenBoardPort(comm::BoardSession& session, bool showError);
// Closing is comm::CloseBoardPort(session): the modem lines restored, the
// line purged and closed.

// The line the board window is opened on. Through a modem nothing is done
// here: the board window opens the modem port and dials itself. Over a direct
// line the session's line is opened (the failure message shown, the port
// released and false returned when it does not open) and set to the base
// speed.
bool OpenBoardLine(comm::BoardSession& session);

// The same on work's worker thread, the window answering meanwhile (a
// network port may wait for its server, the board is given a second to
// settle): the line is first taken as a delivery takes it (through a modem
// the modem's port, which the board window opens itself), then opened runs
// on the window's thread once the line is ready, holding the line until it
// returns. A line another program holds is told ("Линия занята: ...") with
// Повторить or Отмена; when the port does not open, the failure message is
// shown, the port released; either way opened is not called.
void OpenBoardLineThen(TDeviceWork& work, comm::BoardSession& session,
                       std::function<void()> opened);

}  // namespace lentar::gui
