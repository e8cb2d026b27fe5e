// The main window's board commands: the compiled set, or no data, in the
// board window, over a direct line or through the modem. The line is opened
// on the window's worker thread; the board window does its own device work
// on its own.
#include <QAction>
#include <QPushButton>

#include "gui/common/devicework.h"
#include "gui/control/boardport.h"
#include "gui/control/tabloform.h"
#include "gui/editor/mainlentarform.h"
#include "markup/project.h"

namespace lentar::gui {

TDeviceWork& TMainLentarForm::BoardWork() {
  if (!boardWork_) {
    boardWork_ = std::make_unique<TDeviceWork>(this);
    boardWork_->setObjectName(QStringLiteral("BoardWork"));
    // While the line is being opened, the board commands wait.
    const auto enable = [this](bool on) {
      for (const char* name : {"UploadBoardItem", "BoardWindowItem"})
        if (auto* action = findChild<QAction*>(QLatin1String(name))) action->setEnabled(on);
      if (toBoardButton_) toBoardButton_->setEnabled(on);
    };
    connect(boardWork_.get(), &TDeviceWork::started, this, [enable] { enable(false); });
    connect(boardWork_.get(), &TDeviceWork::finished, this, [enable] { enable(true); });
  }
  return *boardWork_;
}

void TMainLentarForm::UploadBoardClick() {
  if (BoardWork().Busy()) return;
  OpenBoardLineThen(BoardWork(), boardSession_, [this] {
    const CompileResult image = CompileEditorText(true);
    if (image.ok)
      ShowBoardWindow(this, image.image.data(), image.length(), project_, boardSession_);
    CloseBoardPort(boardSession_);
  });
}

void TMainLentarForm::BoardWindowClick() {
  if (BoardWork().Busy()) return;
  OpenBoardLineThen(BoardWork(), boardSession_, [this] {
    ShowBoardWindow(this, nullptr, 0, project_, boardSession_);
    CloseBoardPort(boardSession_);
  });
}

}  // namespace lentar::gui
