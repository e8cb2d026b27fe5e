// The main window: the hub of the program. It holds the message set being
// edited, the set-file commands, the tag buttons, the preview and the exports.
// It brackets the settings file: it reads lentar.ini when first shown and
// writes it when hidden at exit.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/session.h"
#include "markup/compiler.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QToolBar;

namespace lentar {
class TRecProject;
class TReplaceDefines;
}

namespace lentar::gui {

class TDeviceWork;
class TWindowPlace;
class TFleetForm;
class TGroupDeliveryForm;
struct FleetSet;

class PreviewHost;
class SetHighlighter;
class SetTextEdit;

// Shown in the status bar on the first start (no settings file yet).
inline const QString kFirstStartHint = QStringLiteral(
    "Первый запуск: задайте длину и высоту табло в \"Настройки\" → \"Опции табло\".");

class TMainLentarForm : public QMainWindow {
  Q_OBJECT

 public:
  // firstArgument: the program's first command-line argument (a set file),
  // as Windows-1251 bytes; may be empty.
  TMainLentarForm(TRecProject& project, std::string firstArgument, QWidget* parent = nullptr);
  ~TMainLentarForm() override;

  // Full path of the set being edited (Windows-1251); empty for a new set.
  const std::string& CurrentFile() const { return currentFile_; }
  // Set by every change of the text; cleared by a successful open or save and
  // by "Новый". Undoing back to the saved text still counts as a change.
  bool Modified() const { return modified_; }
  // The set as its file holds it (Windows-1251, CR LF line breaks). Unchanged
  // since the last open or save, it is exactly the bytes of that file.
  std::string SetText() const;

  // Caption "Lentar - " + CurrentFile (the task bar shows the caption), with
  // the window's modified marker placed after it.
  void UpdateTitle();
  // Keeps the operator's work without asking anything: lentar.ini written and
  // a changed set copied to the recovery folder (offered back on the next
  // start). For a logout, and for an end that no window may delay.
  void KeepWorkQuietly();
  // Ends the editor from outside (a signal, the session ending): the work
  // kept quietly, every open dialog and question turned down, the preview
  // stopped and the window closed without a question.
  void EndFromOutside();
  // Asks about unsaved changes. True when the caller may go on: nothing was
  // changed, the operator answered No, or answered Yes and the save succeeded.
  bool AskSaveChanges();
  // Loads the set file into the editor; the error box on failure.
  bool OpenSetFile(const std::string& path);
  // Saves the editor's text to path; the error box on failure (the set then
  // stays modified).
  bool SaveSetFile(const std::string& path);
  // Compiles the editor's whole text with the project's font height and
  // colour channels against OutDataSize. ok is false when the image is too
  // large; with showSizeError the size message is shown then.
  CompileResult CompileEditorText(bool showSizeError);
  // The program's keyboard correction rules, loaded from the Langs folder
  // when the window is made.
  TReplaceDefines& Corrections() { return *corrections_; }
  // Counts the compiled size again at the next turn of the event loop; call
  // it when the project's board or the size limit changed.
  void ScheduleSizeUpdate();

  // The window's sessions with a board and a loader: the board and loader
  // windows it opens talk in them, and their lines are closed whenever no
  // such window is open.
  comm::BoardSession& BoardLink() { return boardSession_; }
  comm::LoaderSession& LoaderLink() { return loaderSession_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  comm::BoardSession boardSession_;
  comm::LoaderSession loaderSession_;
  // Opens the board line off the window's thread (made on first use); goes
  // before the sessions, waiting for work still running.
  std::unique_ptr<TDeviceWork> boardWork_;
  TDeviceWork& BoardWork();

  void CreateActions();
  // The "Правка" commands act on the editor and follow its state.
  void ConnectEditActions();
  void CreateMenu();
  void CreateToolBar();
  // The status bar: the caret's line and column, the compiled size against
  // OutDataSize ("1 234 из 4 096 байт", red past the limit).
  void CreateStatusBar();
  void UpdateCaretPosition();
  void UpdateSizeCounter();
  QWidget* CreateButtonPanel();
  QPushButton* AddButton(const QString& caption, const char* objectName);

  void FormShow();
  void FormHide();
  // Writes lentar.ini with the run's settings (the open set as LastProject),
  // unless the file is one the editor must leave alone.
  void WriteRunSettings();
  void RebuildRecentMenu();
  // After a set file was read from or written to path: text is the editor's
  // unmodified text, path the current file and the newest recent one.
  void MarkSetFileCurrent(const std::string& path, std::string text);
  void TextChanged();
  // Sets Modified and the modified marker of the title.
  void SetModified(bool modified);

  // Commands.
  void NewClick();
  void OpenClick();
  void SaveClick();
  void SaveAsClick();
  void RecentClick(int index);
  void PasswordsClick();
  void FontBankClick();
  // "Системные" (page 0) and "Опции табло" (page 1).
  void SettingsClick(int page);
  void PreviewClick();
  void ExportBinaryClick();
  // "Загрузка" / "Загрузчик" closes the loader port afterwards, "В загрузчик"
  // does not.
  void LoaderMenuClick();
  void LoaderButtonClick();
  void ShowLoader();
  void ExportGprsClick();
  void GprsButtonClick();
  void AboutClick();
  void LayoutsClick();
  void FreeTextClick();
  void CaseButtonClick();
  void SpacesButtonClick();
  void FontButtonClick();
  void ParameterButtonClick();
  void EffectButtonClick();
  void ColorButtonClick();
  void SymbolsButtonClick();
  void PictureButtonClick();
  // "Загрузка" / "Табло" and "В табло": the compiled set in the board window;
  // "Настройки" / "Табло": the board window without data.
  void UploadBoardClick();
  void BoardWindowClick();
  // "Загрузка" / "Парк табло": the register's window (one at a time);
  // "Отправить в группу…": the open set to one group, in a small dialog.
  void FleetClick();
  void GroupDeliveryClick();
  // The open set as a delivery to many boards sends it.
  FleetSet OpenSet() const;

  // A set kept by KeepWorkQuietly in an earlier run: offered back, then
  // removed.
  void OfferRecoveryCopy();
  // True, after the error box, when path names the open set file: an export
  // never replaces the set being edited.
  bool RefuseExportOverSet(const std::string& path);

  TRecProject& project_;
  std::unique_ptr<TReplaceDefines> corrections_;
  std::string firstArgument_;
  // The settings file was damaged and could not be moved aside: the run's
  // settings are not written over it.
  bool keepSettingsFile_ = false;
  std::string currentFile_;
  bool modified_ = false;
  bool loadingText_ = false;
  // The bytes of the set file last opened or saved (or the empty new set);
  // saved again as they are while the text is unchanged.
  std::string cleanText_;
  bool shownOnce_ = false;
  bool settingsWritten_ = false;
  // Keeps the window's place in MainCoor as it moves.
  TWindowPlace* place_ = nullptr;
  // Ended from outside: the window closes without a question.
  bool endingFromOutside_ = false;

  SetTextEdit* memo_ = nullptr;
  SetHighlighter* highlighter_ = nullptr;
  QLabel* caretLabel_ = nullptr;
  QLabel* sizeLabel_ = nullptr;
  QTimer* sizeTimer_ = nullptr;
  // This window's previews and their emulation window.
  PreviewHost* preview_ = nullptr;

  // Menu and tool bar commands.
  QAction* newAction_ = nullptr;
  QAction* openAction_ = nullptr;
  QAction* saveAction_ = nullptr;
  QAction* saveAsAction_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QAction* emptyRecentAction_ = nullptr;
  std::array<QAction*, 10> recentActions_{};
  QAction* exitAction_ = nullptr;
  QAction* undoAction_ = nullptr;
  QAction* redoAction_ = nullptr;
  QAction* cutAction_ = nullptr;
  QAction* copyAction_ = nullptr;
  QAction* pasteAction_ = nullptr;
  // "Вставить с перекодировкой", shared by the "Правка" menu and Button13.
  QAction* recodePasteAction_ = nullptr;
  QAction* selectAllAction_ = nullptr;
  QAction* systemSettingsAction_ = nullptr;
  QAction* boardOptionsAction_ = nullptr;
  QAction* boardWindowAction_ = nullptr;
  QAction* passwordsAction_ = nullptr;
  QAction* defaultFontsAction_ = nullptr;
  QAction* projectFontsAction_ = nullptr;
  QAction* layoutsAction_ = nullptr;
  QAction* uploadBoardAction_ = nullptr;
  QAction* previewAction_ = nullptr;
  QAction* uploadLoaderAction_ = nullptr;
  QAction* exportBinaryAction_ = nullptr;
  QAction* exportGprsAction_ = nullptr;
  QAction* freeTextAction_ = nullptr;
  QAction* fleetAction_ = nullptr;
  QAction* groupDeliveryAction_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QPointer<TFleetForm> fleetForm_;
  QPointer<TGroupDeliveryForm> groupDeliveryForm_;
  QToolBar* toolBar_ = nullptr;

  // The button panel.
  QPushButton* caseButton_ = nullptr;
  QPushButton* pictureButton_ = nullptr;
  QPushButton* spacesButton_ = nullptr;
  QPushButton* parameterButton_ = nullptr;
  QPushButton* effectButton_ = nullptr;
  QPushButton* symbolsButton_ = nullptr;
  QPushButton* fontButton_ = nullptr;
  QPushButton* colorButton_ = nullptr;
  QPushButton* gprsButton_ = nullptr;
  QPushButton* previewButton_ = nullptr;
  QPushButton* toLoaderButton_ = nullptr;
  QPushButton* toBoardButton_ = nullptr;
  QPushButton* recodePasteButton_ = nullptr;
};

}  // namespace lentar::gui
