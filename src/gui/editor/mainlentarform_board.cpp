// The main window's board commands: the compiled set, or no data, in the
// board window, over a direct line or through the modem.
#include "comm/boardupload.h"
#include "core/project.h"
#include "core/settings.h"
#include "gui/control/boardport.h"
#include "gui/control/tabloform.h"
#include "gui/editor/mainlentarform.h"

namespace lentar::gui {

bool TMainLentarForm::OpenBoardLine() {
  // Through a modem the board window opens the modem port and dials itself.
  if (Settings().UseModem) return true;
  if (!OpenBoardPort(true)) {
    CloseBoardPort();
    return false;
  }
  comm::PreparePortRate(comm::BoardPort(), Settings().BaseSpeed);
  return true;
}

void TMainLentarForm::UploadBoardClick() {
  if (!OpenBoardLine()) return;
  const CompileResult image = CompileEditorText(true);
  if (image.ok) ShowBoardWindow(this, image.image.data(), image.length(), project_);
  CloseBoardPort();
}

void TMainLentarForm::BoardWindowClick() {
  if (!OpenBoardLine()) return;
  ShowBoardWindow(this, nullptr, 0, project_);
  CloseBoardPort();
}

}  // namespace lentar::gui
