// TLoadForm "Управление загрузчиком": the blocks of a portable loader.
//
// The window lists the named blocks the loader holds, stores the compiled
// data image as a new block (reorganising the loader's memory first when no
// single gap is large enough and the operator agrees), erases one block or
// all, saves a block to a .bin file, formats the loader, sets its clock and
// writes the eight stored passwords into it. The loader session's line
// (the caller's) is open from the window's creation to its destruction; every
// action repeats the connect handshake first.
//
// The talking to the loader runs on a worker thread of the window's own: the
// window keeps repainting and answering, its gauge follows the work through
// queued calls, the controls that would start other device work wait, and
// "Прервать" (shown beside the gauge while work runs) or "Закрыть" sets the
// session's stop flag: the work ends at its next safe point.
#pragma once

#include <QDialog>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "comm/loaderdirectory.h"
#include "comm/loaderflows.h"
#include "comm/session.h"
#include "fleet/lineuse.h"

class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace lentar {
class TRecProject;
}

namespace lentar::gui {

class TDeviceWork;
class TTableGrid;

class TLoadForm : public QDialog {
  Q_OBJECT

 public:
  // image and size: the data to store (not owned; size 0 for none).
  TLoadForm(const uint8_t* image, size_t size, TRecProject& project,
            comm::LoaderSession& session, QWidget* parent = nullptr);
  ~TLoadForm() override;

  // The block name field (Windows-1251 as stored).
  std::string BlockName() const;
  void SetBlockName(const std::string& name);
  bool Connected() const { return connected_; }
  // Device work is running.
  bool Busy() const;
  // The loader's directory as last read or written.
  const comm::LoaderDirectory& Directory() const { return contents_.directory; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // Closing while the work runs stops it first; the window closes when it has
  // stopped.
  void done(int result) override;

 private:
  // The form, one function per group; the buttons made by AddButton run
  // slot when clicked.
  QPushButton* AddButton(QWidget* parent, const QString& caption, const char* objectName,
                         void (TLoadForm::*slot)());
  QGridLayout* BuildStatusRows();
  QGroupBox* BuildBlocksGroup();
  QGroupBox* BuildClockGroup();
  QHBoxLayout* BuildBottomRow();
  void FormShow();
  void RefreshClick();    // Button2 "Обновить"
  void EraseClick();      // Button3 "Стереть"
  void EraseAllClick();   // Button4 "Стереть все"
  void WriteClick();      // Button5 "Записать"
  void FormatClick();     // Button6 "Форматировать"
  void ToFileClick();     // Button7 "В файл"
  void SyncClockClick();  // Button8 "Синхр."
  void PasswordsClick();  // Button10 "Пароли"

  // What a piece of device work leaves for the window.
  struct Work {
    comm::LoaderResult result;      // of the action
    comm::LoaderContents contents;  // the loader as the work left it
    comm::LoaderOptions options;    // the settings' transfer speed as it started
    bool listed = false;            // the loader was listed afterwards ...
    comm::LoaderResult list;        // ... with this result
    bool clockRead = false;         // ... and its clock read
    comm::BoardClock clock;
    std::vector<uint8_t> data;      // a block read
  };
  using WorkFn = std::function<void(Work&, const comm::LoaderProgress&)>;
  // Runs work on the worker with status in Label3 and "Прервать" shown; done
  // gets what it left on the window's thread. Nothing while other work runs.
  void RunWork(const QString& status, WorkFn work, std::function<void(Work&)> done);
  // From the work: asks the operator on the window's thread while the work
  // waits; false when the window goes away first.
  bool AskFromWork(std::function<bool()> ask);
  // "Прервать": the work stops at its next safe point.
  void Interrupt();
  // On the worker: lists the loader and reads its clock into work.
  void ListOnWorker(Work& work, const comm::LoaderProgress& progress);
  // On the window's thread: shows a listing (RefreshLoader's second half).
  void ShowListing(Work& work);
  // After erasing: the new listing, or why there is none (the loader is then
  // taken as gone until it is read again).
  void ShowListingOrFailure(Work& work);
  void RefreshLoader();
  // The clock label from the clock read.
  void ShowClock(const comm::BoardClock& clock);
  // Enables or disables the controls that start device work.
  void EnableDeviceControls(bool enable);
  // The options of the loader flows: the transfer speed of the settings.
  comm::LoaderOptions Options() const;
  // Work stopped by "Прервать": the operator is told so.
  void Interrupted();
  void UpdateTable();
  void UpdateStatus();
  void UpdateButtons();
  void ConnectionError();
  // The error boxes of this window: caption "Ошибка!", error icon.
  void Error(const QString& text);
  bool AskYesNo(const QString& text);
  // Directory index of the selected block row, or -1.
  int SelectedEntry() const;
  // Takes the loader's line, as a delivery takes a line, unless it is held
  // already: on the worker, the window answering meanwhile; a line another
  // program holds is told, with Повторить or Отмена. True when held.
  bool HoldLine();
  // Opens the loader's port once its line is held.
  bool OpenLine();

  // The device work on the window's worker thread.
  std::unique_ptr<TDeviceWork> work_;
  bool closeAfterWork_ = false;
  const uint8_t* image_;
  size_t size_;
  TRecProject& project_;
  comm::LoaderSession& session_;
  // The loader's memory type and directory copy.
  comm::LoaderContents contents_;
  bool connected_ = false;
  // The loader's line, held from its first opening until the window goes.
  std::unique_ptr<fleet::LineUse> line_;
  bool shown_ = false;
  bool closing_ = false;

  QLabel* sizeLabel_ = nullptr;
  QProgressBar* gauge_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QLineEdit* nameEdit_ = nullptr;
  TTableGrid* table_ = nullptr;
  QLabel* clockLabel_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QPushButton* eraseButton_ = nullptr;
  QPushButton* eraseAllButton_ = nullptr;
  QPushButton* writeButton_ = nullptr;
  QPushButton* formatButton_ = nullptr;
  QPushButton* toFileButton_ = nullptr;
  QPushButton* clockButton_ = nullptr;
  QPushButton* passwordsButton_ = nullptr;
  QPushButton* interruptButton_ = nullptr;
};

// Opens the session's line on the settings' loader port at 9600 bit/s; when
// it could not be opened shows "Ошибка коммуникационного порта!". True when
// open.
bool OpenLoaderPort(comm::LoaderSession& session);
// Closing is comm::CloseLoaderPort(session).

// The loader window over the data image: the name field starts with the
// project's loader block name and, however the window is closed, goes back
// into it.
void ShowLoaderWindow(const uint8_t* image, size_t size, TRecProject& project,
                      comm::LoaderSession& session, QWidget* parent = nullptr);

}  // namespace lentar::gui
