// TTabloForm "Табло": the window through which the operator talks to one
// board in a board session (the caller's).
//
// It shows the board's clock, settings, fonts, password state, buffers and
// firmware version; sets speed, brightness, orientation, default font,
// automatic brightness and the clock; changes the board password; clears a
// buffer; uploads the data image compiled by the caller; and, when the
// program works through a modem (setting UseModem), dials the board and
// watches the call.
//
// On a direct line the caller has opened the session's line at the link speed before
// showing the window and closes it afterwards. Through a modem the window
// opens the session's line on the modem port itself ("Звонить") and the line stays
// up, DTR raised, until "Повесить трубку" or the caller closes the port.
// Every action first sets the protocol's address byte from "Адрес:".
#pragma once

#include <QDialog>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comm/boardupload.h"
#include "comm/comport.h"
#include "comm/modem.h"
#include "comm/session.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace lentar {
class TRecProject;
}

namespace lentar::gui {

class TDeviceWork;
class TProgressForm;
class TWindowPlace;

class TTabloForm : public QDialog {
  Q_OBJECT

 public:
  // image: the data image to upload (owned by the caller), or nullptr / size
  // 0 when the window is opened only to control the board. The project gives
  // the dialling number and the font bank of the default-font choice.
  TTabloForm(const uint8_t* image, size_t size, TRecProject& project,
             comm::BoardSession& session, QWidget* parent = nullptr);
  ~TTabloForm() override;

  // The pauses of the modem dialogue and of the call's start (tests shorten
  // them).
  void SetModemTimings(const comm::ModemTimings& timings) { timings_ = timings; }

  // The modem line's state in the connection label (also the line-state
  // handler while a call is up).
  void UpdateLinkLabel();

  // Device work (reading the board, every command, the upload, opening the
  // modem port) runs on the window's worker thread; meanwhile the controls
  // that would start other device work are disabled.
  bool Busy() const;

  // While device work runs the window is not closed: "Прервать" stops it.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // The form, one function per group box; BuildControls lays them out.
  void BuildControls();
  QGroupBox* BuildSettingsGroup();
  QGroupBox* BuildClockGroup();
  QGroupBox* BuildFontGroup();
  QGroupBox* BuildExtraGroup();
  void BuildUploadGroup();
  void BuildModemGroup();
  void ConnectControls();
  void FormShow();
  void FormHide();

  // The buttons' handlers; the comment names each button's object name and
  // caption.
  void RefreshClick();             // Button1 "Обновить"
  void ApplySettingsClick();       // Button2 "Установить"
  void ReadClockClick();           // Button3 "Считать"
  void SyncClockClick();           // Button4 "Синхронизировать"
  void UploadClick();              // Button5 "Загрузка"
  void AutoBrightSettingsClick();  // Button7 "Пар-ры автоярк."
  void ClearBufferClick();         // Button8 "Очистка"
  void SetDefaultFontClick();      // Button9 "Уст." of the fonts
  void ChooseDefaultFontClick();   // Button10 "Выб."
  void ChangePasswordClick();      // Button11 "Сменить пароль"
  void SetAutoBrightClick();       // Button12 "Уст." of "Автояркость"
  void CallClick();                // Button14 "Звонить"
  void HangUpClick();              // Button15 "Повесить трубку"
  // The dial dialog on the open modem port; a call that came up is measured.
  void Dial();
  // Runs after a call came up and was measured.
  void CallConnected();
  // The second half of "Сменить пароль", once the old password was taken.
  void SetNewPassword();

  // What one reading of the board's settings brought: read on the worker,
  // shown on the window's thread.
  struct StatusReading {
    bool asked = false;
    bool statusOk = false;
    comm::StatusBlock status;
    bool bufferOk = false;
    comm::BufferInfo buffer;
    bool versionOk = false;
    std::string version;
    bool optionsOk = false;
    comm::OptionsBlock options;
  };
  // What a piece of board work brought back to the window.
  struct BoardReading {
    bool lineDown = false;  // through a modem with no call up: nothing was sent
    bool clockAsked = false;
    bool clockOk = false;
    comm::BoardClock clock;
    bool statusWanted = false;
    StatusReading status;
    bool commandOk = false;
    comm::PasswordReply password;
    // A direct line found closed under the window (the board's end went
    // away) and opened again: why it closed, and why it would not open.
    bool lineLost = false;
    std::string lostText;     // as the line told it, Windows-1251; may be empty
    bool reopened = false;
    std::string reopenFailure;  // the port's error message, Windows-1251
    bool retryDeclined = false;  // the operator was told and chose not to retry
  };
  // Runs work on the worker with a fresh reading, then done with it on the
  // window's thread.
  void RunBoardWork(std::function<void(BoardReading&)> work,
                    std::function<void(BoardReading&)> done);
  // Reads the clock, then (unless the clock failed) the settings; shows
  // them. Over a direct line a line that was lost is opened again first and
  // the operator told so. With reportFailure ("Обновить") a board that did
  // not answer is reported; without it (the window opening) the operator is
  // told that the board did not answer and offered to try again.
  void Refresh(bool reportFailure);
  // On the worker: a direct line found closed is opened again on device.
  void ReopenLostLine(BoardReading& reading, const std::string& device, int baseSpeed);
  // On the window's thread: the board did not answer (text says how);
  // true when the operator chose to try again.
  bool AskRetry(const QString& text);
  // On the worker: the clock, and the settings when the line is up and the
  // modem lets us in.
  void ReadClock(BoardReading& reading, bool modem);
  void ReadStatusPart(BoardReading& reading, bool modem);
  // Reads the settings, buffers, version and options (any thread: the
  // session only).
  void ReadStatus(StatusReading& reading);
  // On the window's thread: whatever the reading holds.
  void ShowReading(const BoardReading& reading);
  void ShowClock(const BoardReading& reading);
  // Shows a reading in the controls; false when the status was not read.
  bool ShowStatus(const StatusReading& reading);
  // The end of an upload, on the window's thread.
  void UploadFinished(const comm::UploadReport& report, const StatusReading& reading, bool modem);
  void EnableDeviceControls(bool enabled);

  void SetAddress();
  void ShowStatusUnread();
  void ShowOptionsUnread();
  bool ModemMode() const;
  // In modem mode: whether the board can be reached now (port open, DSR
  // on). Direct lines always pass.
  bool LineUp() const;
  bool LineUp(bool modem) const;
  // On the worker: the board's modem access, the operator asked for the
  // modem password on the window's thread when needed. Direct lines pass.
  bool ModemAccess(bool modem);
  // In modem mode with no call up: tells the operator to call first; true then.
  bool CallNeeded();
  // The port an upload's note is kept under: the modem's or the board's.
  std::string UploadPortName() const;
  // Offers "Полная" / "Дозагрузка": always through a modem, on a direct line
  // while an interrupted upload of this image into the chosen buffer is noted.
  void UpdateResumeOffer();
  // The chosen buffer is the one on show: asks whether to load the other one
  // (other, -1 when the image does not fit it) and switch to it at the end.
  comm::BufferChoice AskBufferOnShow(int shown, int other);
  void ShowLinkState(bool dsr);
  void InstallLinkWatch();

  const uint8_t* image_;
  size_t size_;
  TRecProject& project_;
  comm::BoardSession& session_;
  comm::ModemTimings timings_;
  std::unique_ptr<TDeviceWork> work_;
  std::unique_ptr<TProgressForm> progress_;
  TWindowPlace* place_ = nullptr;  // the window's place, kept in TabloCoor
  bool shownOnce_ = false;
  bool hidden_ = false;
  bool watchingLink_ = false;
  bool statusRead_ = false;   // the settings, fonts and auto-brightness boxes hold the board's values
  bool optionsRead_ = false;  // "Очистка при переключении" holds the board's value
  // The DSR state last carried to the interface thread (-1: none yet).
  std::atomic<int> shownDsr_{-1};

  QSpinBox* addressSpin_ = nullptr;      // SpinEdit3
  QSpinBox* brightnessSpin_ = nullptr;   // SpinEdit1
  QSpinBox* speedSpin_ = nullptr;        // SpinEdit2
  QCheckBox* flipBox_ = nullptr;         // CheckBox1
  QPushButton* applyButton_ = nullptr;   // Button2
  QLabel* timeLabel_ = nullptr;          // Label21
  QLabel* dateLabel_ = nullptr;          // Label23
  QLabel* weekdayLabel_ = nullptr;       // Label22
  QPushButton* readClockButton_ = nullptr;  // Button3
  QPushButton* syncClockButton_ = nullptr;  // Button4
  QLabel* currentFontLabel_ = nullptr;   // Label9
  QLabel* fontCountLabel_ = nullptr;     // Label8
  QLineEdit* defaultFontEdit_ = nullptr; // Edit3
  QPushButton* chooseFontButton_ = nullptr;  // Button10
  QPushButton* setFontButton_ = nullptr;     // Button9
  QCheckBox* autoBrightBox_ = nullptr;       // CheckBox2
  QPushButton* setAutoBrightButton_ = nullptr;  // Button12
  QPushButton* autoBrightButton_ = nullptr;     // Button7
  QGroupBox* uploadGroup_ = nullptr;
  QLabel* bufferLabel_ = nullptr;        // Label4
  QLabel* positionLabel_ = nullptr;      // Label6
  QLabel* sizeLabel_ = nullptr;          // Label5
  QCheckBox* restartBox_ = nullptr;      // CheckBox3
  QCheckBox* clearOnSwitchBox_ = nullptr;  // CheckBox4
  QComboBox* bufferCombo_ = nullptr;     // ComboBox1
  QRadioButton* fullRadio_ = nullptr;    // RadioButton2
  QRadioButton* resumeRadio_ = nullptr;  // RadioButton3
  QPushButton* uploadButton_ = nullptr;  // Button5
  QPushButton* clearButton_ = nullptr;   // Button8
  QGroupBox* modemGroup_ = nullptr;
  QPushButton* callButton_ = nullptr;    // Button14
  QPushButton* hangUpButton_ = nullptr;  // Button15
  QLabel* linkLabel_ = nullptr;          // Label13
  QLabel* versionLabel_ = nullptr;       // Label10
  QLabel* passwordLabel_ = nullptr;      // Label11
  QPushButton* refreshButton_ = nullptr;         // Button1
  QPushButton* changePasswordButton_ = nullptr;  // Button11
  QPushButton* closeButton_ = nullptr;           // Button6
};

// Shows the board window modally in the session with the image (may be
// nullptr with size 0) and the project, then frees it.
void ShowBoardWindow(QWidget* parent, const uint8_t* image, size_t size, TRecProject& project,
                     comm::BoardSession& session);

}  // namespace lentar::gui
