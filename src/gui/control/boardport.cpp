#include "gui/control/boardport.h"

#include <QRegularExpression>
#include <string>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/comport.h"
#include "comm/portname.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "fleet/lineuse.h"
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

namespace {

// What the worker brings back: the line held (or why not) and, over a
// direct line, the line opened.
struct HeldLine {
  std::shared_ptr<fleet::LineUse> use;
  bool free = false;  // no line to lock
  bool busy = false;
  std::string why;
  comm::BoardLinkResult link;
};

void TakeAndOpen(TDeviceWork& work, comm::BoardSession& session, bool modem,
                 const std::string& device, const comm::BoardLinkOptions& options,
                 const std::string& registerAddress, std::function<void()> opened) {
  TDeviceWork* worker = &work;
  work.Run<HeldLine>(
      [&session, modem, device, options, registerAddress]() {
        HeldLine held;
        fleet::LineUseOptions lineOptions;
        lineOptions.registerAddress = registerAddress;
        lineOptions.wait = false;
        // No port named: nothing to lock, the opening says what is missing.
        held.free = device.empty();
        if (!held.free)
          held.use = fleet::LineUse::Take(device, lineOptions, nullptr, {}, held.why, held.busy);
        if ((held.use || held.free) && !modem) held.link = comm::OpenBoardLink(session, options);
        return held;
      },
      [worker, &session, modem, device, options, registerAddress,
       opened](HeldLine held) {
        if (!held.use && !held.free) {
          if (!held.busy) {
            ShowError(held.why);
            return;
          }
          // Another program (a delivery, a status sweep, another window)
          // is on the line: the operator tries again once it is free, or
          // leaves the board alone.
          if (OwnedMessageBox(nullptr, QStringLiteral("Линия занята"),
                              FromBoardText(held.why) +
                                  QStringLiteral("\nПовторить, когда линия освободится?"),
                              QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Warning,
                              QMessageBox::Cancel) == QMessageBox::Retry)
            TakeAndOpen(*worker, session, modem, device, options, registerAddress, opened);
          return;
        }
        if (!modem) {
          if (held.link.outcome == comm::BoardLinkOutcome::PortFailed)
            ShowError(PortErrorMessage(options.device, held.link.reason));
          // Stopped while the board settled: the window is going away.
          if (held.link.outcome != comm::BoardLinkOutcome::Open) return;
        }
        // Held while the board window works; given back when it is done.
        opened();
      });
}

}  // namespace

void OpenBoardLineThen(TDeviceWork& work, comm::BoardSession& session,
                       std::function<void()> opened) {
  // The line is taken as a delivery takes it, before anything is said on
  // it: through a modem the modem's port, which the board window opens.
  const bool modem = Settings().UseModem;
  comm::BoardLinkOptions options;
  options.device = BoardPortDevice(Settings());
  options.baseSpeed = Settings().BaseSpeed;
  const std::string device = modem ? ModemPortDevice(Settings()) : options.device;
  TakeAndOpen(work, session, modem, device, options, Settings().FleetDatabase, std::move(opened));
}

}  // namespace lentar::gui
