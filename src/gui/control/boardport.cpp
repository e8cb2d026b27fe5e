#include "gui/control/boardport.h"

#include <QRegularExpression>
#include <string>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/comport.h"
#include "comm/portname.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/devicework.h"
#include "gui/common/messages.h"

namespace lentar::gui {

std::string PortErrorMessage(const std::string& device, const std::string& reason) {
  std::string message = Utf8ToCp1251(u8"Ошибка коммуникационного порта!");
  if (reason.empty() && device.empty()) return message;
  // The second line says which port and why, as the system told it; a
  // reason that names the port already is not given the name twice.
  message += "\n";
  if (!device.empty() && reason.find(device) == std::string::npos) {
    message += device;
    if (!reason.empty()) message += ": ";
  }
  message += reason;
  return message;
}

namespace {

bool IsComName(const QString& text) {
  static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                      QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch match = com.match(text);
  return match.hasMatch() && match.captured(1).toInt() <= 256;
}

}  // namespace

QString PortNameError(const std::string& device) {
  const QString text = FromBoardText(device);
  bool valid = text.isEmpty() || text.startsWith(QLatin1Char('/')) || IsComName(text);
  if (!valid && comm::IsNetworkPortName(device)) valid = comm::ParseNetworkPort(device).has_value();
  if (valid) return {};
  return QStringLiteral("Неверно указан порт: «%1».\nУкажите устройство (например, "
                        "/dev/ttyUSB0), socket://узел:порт или rfc2217://узел:порт.")
      .arg(text);
}

bool OpenBoardPort(comm::BoardSession& session, bool showError) {
  std::string reason;
  const bool open = comm::OpenBoardPortQuiet(session, reason, Settings());
  if (!open && showError) ShowError(PortErrorMessage(BoardPortDevice(Settings()), reason));
  return open;
}

bool OpenBoardLine(comm::BoardSession& session) {
  if (Settings().UseModem) return true;
  comm::BoardLinkOptions options;
  options.device = BoardPortDevice(Settings());
  options.baseSpeed = Settings().BaseSpeed;
  const comm::BoardLinkResult link = comm::OpenBoardLink(session, options);
  if (link.outcome == comm::BoardLinkOutcome::PortFailed)
    ShowError(PortErrorMessage(options.device, link.reason));
  return link.outcome == comm::BoardLinkOutcome::Open;
}

void OpenBoardLineThen(TDeviceWork& work, comm::BoardSession& session,
                       std::function<void()> opened) {
  if (Settings().UseModem) {
    opened();
    return;
  }
  comm::BoardLinkOptions options;
  options.device = BoardPortDevice(Settings());
  options.baseSpeed = Settings().BaseSpeed;
  work.Run<comm::BoardLinkResult>(
      [&session, options] { return comm::OpenBoardLink(session, options); },
      [options, opened](comm::BoardLinkResult link) {
        if (link.outcome == comm::BoardLinkOutcome::PortFailed)
          ShowError(PortErrorMessage(options.device, link.reason));
        // Stopped while the board settled: the window is going away.
        if (link.outcome != comm::BoardLinkOutcome::Open) return;
        opened();
      });
}

}  // namespace lentar::gui
