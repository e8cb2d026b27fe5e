// The main window's board commands: the compiled set, or no data, in the
// board window, over a direct line or through the modem.
#include "core/project.h"
#include "gui/control/boardport.h"
#include "gui/control/tabloform.h"
#include "gui/editor/mainlentarform.h"

namespace lentar::gui {

void TMainLentarForm::UploadBoardClick() {
  comm::BoardSession& session = boardSession_;
  if (!OpenBoardLine(session)) return;
  const CompileResult image = CompileEditorText(true);
  if (image.ok) ShowBoardWindow(this, image.image.data(), image.length(), project_, session);
  CloseBoardPort(session);
}

void TMainLentarForm::BoardWindowClick() {
  comm::BoardSession& session = boardSession_;
  if (!OpenBoardLine(session)) return;
  ShowBoardWindow(this, nullptr, 0, project_, session);
  CloseBoardPort(session);
}

}  // namespace lentar::gui
