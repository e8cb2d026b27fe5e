#include "gui/editor/mainlentarform.h"

#include <QPlainTextEdit>
#include <QShowEvent>

#include "core/paths.h"
#include "core/project.h"
#include "core/setfile.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/editorfont.h"
#include "gui/common/messages.h"

namespace lentar::gui {

TMainLentarForm::TMainLentarForm(TRecProject& project, std::string firstArgument,
                                 QWidget* parent)
    : QMainWindow(parent), project_(project), firstArgument_(std::move(firstArgument)) {
  setObjectName(QStringLiteral("MainLentarForm"));
  setWindowTitle(QStringLiteral("Lentar"));
  resize(800, 500);

  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName(QStringLiteral("Memo1"));
  // Until the editing commands arrive, the set is shown for reading only, so
  // nothing typed here can be lost unsaved.
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setCentralWidget(memo_);
}

void TMainLentarForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    FormShow();
  }
}

void TMainLentarForm::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  // Minimising also hides a window; only the real hide at exit counts.
  if (shownOnce_ && !settingsWritten_ && !event->spontaneous()) {
    settingsWritten_ = true;
    FormHide();
  }
}

void TMainLentarForm::FormShow() {
  TSettings& settings = Settings();
  ReadSettings(settings, SettingsFilePath());  // the result is advisory
  ApplyEditorFont(settings);
  project_.LoadFromSettings(settings);
  if (!project_.LoadFonts() && !project_.FontError.empty()) ShowError(project_.FontError);
  ApplyEditorFont(settings);
  memo_->setFont(EditorFont());

  // The stored placement is used as it stands; an empty rectangle (a fresh
  // installation) keeps the default size instead of a window of no size.
  const IntRect& r = settings.MainCoor;
  if (r.right > r.left && r.bottom > r.top) {
    setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
  }

  const std::string argument = TrimBlanks(firstArgument_);
  if (IsWellFormedPath(argument)) {
    OpenSetFile(argument);
  } else if (!settings.LastProject.empty()) {
    OpenSetFile(settings.LastProject);
  }
}

void TMainLentarForm::FormHide() {
  TSettings& settings = Settings();
  const QRect g = geometry();
  settings.MainCoor = IntRect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  settings.LastProject = currentFile_;
  WriteSettings(settings, SettingsFilePath());  // a failed write loses the run's changes
}

bool TMainLentarForm::OpenSetFile(const std::string& path) {
  std::string text;
  const bool ok = LoadSetFile(path, text);
  if (ok) {
    memo_->setPlainText(FromBoardText(text));
    currentFile_ = path;
    AddRecent(Settings(), path);
  } else {
    ShowError(OpenFailedMessage(path));
  }
  UpdateTitle();
  return ok;
}

void TMainLentarForm::UpdateTitle() {
  const QString title = QStringLiteral("Lentar - ") + FromBoardText(currentFile_);
  setWindowTitle(title);
}

}  // namespace lentar::gui
