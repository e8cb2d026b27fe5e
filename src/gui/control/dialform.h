// TDialForm "Соединение...": calls the board through the dial-up modem on
// the board session's line (already open on the modem port).
//
// "Звонить" resets and initialises the modem and dials the number in
// "Номер:", on the dialog's worker thread ("Прервать" stops it after the
// current step and hangs up); the dialog then waits, without a time limit, for the call: the
// port's line-state handler looks at DSR and the modem's answers on the
// receive thread after every pass. DSR up closes the dialog connected; a
// result code from the modem ("BUSY", "NO ANSWER", ...) ends the attempt
// with its text in "Статус:". "Прервать" stops waiting and hangs up;
// closing the dialog without a call hangs up too.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "comm/comport.h"
#include "comm/modem.h"

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lentar::gui {

class TDeviceWork;

class TDialForm : public QDialog {
  Q_OBJECT

 public:
  // number: Windows-1251.
  TDialForm(comm::BoardSession& session, const std::string& number,
            const comm::ModemTimings& timings = {}, QWidget* parent = nullptr);
  ~TDialForm() override;

  bool Connected() const { return connected_; }
  // The number as last shown in "Номер:" (after the dialog has closed).
  const std::string& Number() const { return number_; }

  // Not closed while the modem is being set up.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The form, one function per group.
  QGridLayout* BuildFields();
  QHBoxLayout* BuildButtons();
  void FormShow();
  void FormHide();
  // Button1 "Звонить": reset, initialise, dial (on the worker).
  void DialClick();
  // The modem dialogue is over: the call is being dialled, or not.
  void DialStarted(const comm::DialStart& start);
  // Button3 "Прервать".
  void InterruptClick();
  // The line-state handler, on the port's receive thread.
  void OnLineState(bool dsr);
  // Back to idle after a failed call (on the interface thread).
  void ShowIdle(const QString& status);

  comm::BoardSession& session_;
  std::string number_;
  comm::ModemTimings timings_;
  std::unique_ptr<TDeviceWork> work_;
  // The handler's work and the interface thread's changes of the dialling
  // state are serialised by lock_.
  std::mutex lock_;
  std::atomic<bool> dialling_{false};
  std::atomic<bool> connected_{false};
  bool shownOnce_ = false;
  bool hidden_ = false;

  QLineEdit* numberEdit_ = nullptr;  // Edit1
  QLabel* statusLabel_ = nullptr;    // Label3
  QPushButton* dialButton_ = nullptr;   // Button1
  QPushButton* cancelButton_ = nullptr; // Button2
  QPushButton* abortButton_ = nullptr;  // Button3
};

// Shows the dial dialog with number in "Номер:"; true when the call is up.
// number receives the text of "Номер:" however the dialog ended.
bool DialBoard(QWidget* parent, std::string& number, comm::BoardSession& session,
               const comm::ModemTimings& timings = {});

}  // namespace lentar::gui
