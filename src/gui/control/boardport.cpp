#include "gui/control/boardport.h"

#include <string>

#include "comm/boardprotocol.h"
#include "core/textutil.h"
#include "gui/common/messages.h"

namespace lentar::gui {

bool OpenBoardPort(bool showError) {
  std::string reason;
  const bool open = comm::OpenBoardPortQuiet(reason);
  if (!open && showError) ShowError(Utf8ToCp1251(u8"Ошибка коммуникационного порта!"));
  return open;
}

void CloseBoardPort() { comm::CloseBoardPort(); }

}  // namespace lentar::gui
