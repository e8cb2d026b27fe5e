// TTextForm ("Текст"): one free text, sent to a board, a loader or a GPRS file
// without being part of a set file. It has the main window's editing panel
// with the same buttons and behaviour, working on its own editor, plus
// "Тест. строка", which inserts every character code once. Its text lives in
// the setting FreeText from one use to the next; its placement in TextCoor.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "comm/session.h"

class QPushButton;

namespace lentar {
class TRecProject;
class TReplaceDefines;
}  // namespace lentar

namespace lentar::gui {

class PreviewHost;
class SetTextEdit;
class TDeviceWork;

class TTextForm : public QDialog {
  Q_OBJECT

 public:
  // The window never gets smaller than this.
  static constexpr int kMinimumWidth = 440;
  static constexpr int kMinimumHeight = 100;
  // Height of the button panel along the bottom.
  static constexpr int kButtonPanelHeight = 135;

  // corrections: the program's keyboard correction rules (may be null).
  TTextForm(TRecProject& project, const TReplaceDefines* corrections, QWidget* parent = nullptr);
  ~TTextForm() override;

  // The text as the setting keeps it (Windows-1251, CR LF line breaks).
  std::string Text() const;
  void SetText(const std::string& text);

  // The codes 1 to 255 in order: those below 32 as entities "&#N;", the
  // others as themselves, except the one byte the editor cannot hold (0x98),
  // which is written as its entity as well.
  static std::string TestLine();

  // The window's sessions with a board and a loader: the board and loader
  // windows it opens talk in them, and their lines are closed whenever no
  // such window is open.
  comm::BoardSession& BoardLink() { return boardSession_; }
  comm::LoaderSession& LoaderLink() { return loaderSession_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  comm::BoardSession boardSession_;
  comm::LoaderSession loaderSession_;
  // Opens the board line off the window's thread.
  std::unique_ptr<TDeviceWork> boardWork_;

  QWidget* CreateButtonPanel();
  QPushButton* AddButton(const QString& caption, const char* objectName);
  void TestLineClick();
  void GprsClick();
  void ToLoaderClick();
  void ToBoardClick();

  TRecProject& project_;
  SetTextEdit* memo_ = nullptr;
  PreviewHost* preview_ = nullptr;
};

// Shows the window with text in its editor. On "OK" text takes the editor's
// content and the result is true; otherwise text stays as it was.
bool EditFreeText(QWidget* parent, TRecProject& project, const TReplaceDefines* corrections,
                  std::string& text);

}  // namespace lentar::gui
