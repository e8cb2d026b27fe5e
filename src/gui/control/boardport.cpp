#include "gui/control/boardport.h"

#include <string>

#include "comm/boardprotocol.h"
#include "comm/comport.h"
#include "core/textutil.h"
#include "gui/common/messages.h"

namespace lentar::gui {

std::string PortErrorMessage(const std::string& reason) {
  std::string message = Utf8ToCp1251(u8"Ошибка коммуникационного порта!");
  if (comm::IsPermissionDeniedText(reason)) message += "\n" + reason;
  return message;
}

bool OpenBoardPort(bool showError) {
  std::string reason;
  const bool open = comm::OpenBoardPortQuiet(reason);
  if (!open && showError) ShowError(PortErrorMessage(reason));
  return open;
}

void CloseBoardPort() { comm::CloseBoardPort(); }

}  // namespace lentar::gui
