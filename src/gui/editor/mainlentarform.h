// The main window: the hub of the program. It brackets the settings file: it
// reads lentar.ini when first shown and writes it when hidden at exit.
#pragma once

#include <QMainWindow>
#include <string>

class QPlainTextEdit;

namespace lentar {
class TRecProject;
}

namespace lentar::gui {

class TMainLentarForm : public QMainWindow {
  Q_OBJECT

 public:
  // firstArgument: the program's first command-line argument (a set file),
  // as Windows-1251 bytes; may be empty.
  TMainLentarForm(TRecProject& project, std::string firstArgument, QWidget* parent = nullptr);

  const std::string& CurrentFile() const { return currentFile_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void FormShow();
  void FormHide();
  bool OpenSetFile(const std::string& path);
  void UpdateTitle();

  TRecProject& project_;
  std::string firstArgument_;
  std::string currentFile_;
  bool shownOnce_ = false;
  bool settingsWritten_ = false;
  QPlainTextEdit* memo_ = nullptr;
};

}  // namespace lentar::gui
