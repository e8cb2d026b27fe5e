// TSetupForm "Настройки": the settings record on two pages — "Системные"
// (board, loader and modem ports and speeds, the board address, modem
// options, the editor font) and "Опции табло" (default font and height, the
// font archive, colour channels, data size, board length) — with the search
// for a board on the ports.
//
// Each port is chosen two ways: by its Windows number ("COM1".."COMn", kept as
// the stored index so that settings files from elsewhere read the same) and,
// beside it, by a device field that lists the serial devices the system
// reports and takes a typed network port (socket://HOST:PORT,
// rfc2217://HOST:PORT). A device in the field wins over the number; an empty
// field means the number's device.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/boardsearch.h"
#include "comm/session.h"

#include "core/settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace lentar {
class TRecProject;
}

namespace lentar::gui {

class TDeviceWork;

class TSetupForm : public QDialog {
  Q_OBJECT

 public:
  TSetupForm(TRecProject& project, QWidget* parent = nullptr);
  ~TSetupForm() override;

  // Loads every control from Settings() (FormShow) and stores them back
  // (FormHide): the dialog edits the record in place.
  void LoadControls();
  void StoreControls();

  // The dialog's own line for the board search and the modem port's
  // settings: closed whenever neither runs.
  comm::BoardSession& SearchSession() { return searchSession_; }
  // The pauses of the board search (tests shorten them).
  comm::BoardSearchTimings& SearchTimings() { return searchTimings_; }

  // The board search of "Поиск" (Button12): the ports are probed on the
  // dialog's worker thread; the result is shown when the search is over.
  void SearchBoard();

  // The device a port's device field names: the device path of a listed
  // entry, or the typed text; empty for "use the COM number".
  static std::string DeviceOfField(const QComboBox* field);

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  QWidget* CreateSystemPage();
  QGroupBox* CreateBoardPortGroup(QWidget* page);
  QGroupBox* CreateLoaderPortGroup(QWidget* page);
  QGroupBox* CreateModemGroup(QWidget* page);
  QWidget* CreateBoardPage();
  QComboBox* MakeDeviceField(const char* objectName);
  // Checks every device field; shows the error and returns false for one
  // that is neither empty, a device path, "COMn" nor a well-formed network port.
  bool DeviceFieldsValid();
  void ChooseDefaultFont();     // Button6
  void ChooseFontArchive();     // Button8
  void EditColours();           // Button1
  void EditEmulationSpeeds();   // Button7
  void ChooseEditorFont();      // Button5
  void ConfigureModemPort();    // Button9
  void EditModemStrings();      // Button10
  void EditModemPassword();     // Button11

  TRecProject& project_;
  bool stored_ = false;

  // Values edited through their own dialogs, held until the dialog closes.
  std::array<int32_t, 8> colours_{};
  std::array<int32_t, 5> speeds_{};
  std::string modemConfig_;
  comm::BoardSession searchSession_;
  comm::BoardSearchTimings searchTimings_;
  // The search's worker; goes first, stopping a search still running.
  std::unique_ptr<TDeviceWork> work_;
  std::string modemInit_;
  std::string modemPassword_;
  std::string fontName_;
  int32_t fontSize_ = 0;
  int32_t fontStyle_ = 0;
  int32_t fontCharSet_ = 0;

  QTabWidget* pages_ = nullptr;           // PageControl1
  QComboBox* boardPortBox_ = nullptr;     // ComboBox1
  QComboBox* boardDeviceBox_ = nullptr;
  QComboBox* loadSpeedBox_ = nullptr;     // ComboBox5
  QComboBox* linkSpeedBox_ = nullptr;     // ComboBox8
  QSpinBox* addressSpin_ = nullptr;       // SpinEdit11
  QPushButton* searchButton_ = nullptr;   // Button12
  QComboBox* loaderPortBox_ = nullptr;    // ComboBox2
  QComboBox* loaderDeviceBox_ = nullptr;
  QComboBox* loaderSpeedBox_ = nullptr;   // ComboBox6
  QComboBox* modemPortBox_ = nullptr;     // ComboBox4
  QComboBox* modemDeviceBox_ = nullptr;
  QLineEdit* dialNumberEdit_ = nullptr;   // Edit1
  QCheckBox* toneDialBox_ = nullptr;      // CheckBox2
  QCheckBox* useModemBox_ = nullptr;      // CheckBox3
  QLineEdit* defaultFontEdit_ = nullptr;  // Edit4
  QComboBox* fontHeightBox_ = nullptr;    // ComboBox7
  QLineEdit* fontArchiveEdit_ = nullptr;  // Edit6
  QSpinBox* channelsSpin_ = nullptr;      // SpinEdit9
  QLineEdit* dataSizeEdit_ = nullptr;     // Edit5
  QSpinBox* lengthSpin_ = nullptr;        // SpinEdit8
};

// Shows the dialog on page (0 "Системные", 1 "Опции табло"; another value
// keeps the first). On "OK" the project takes the board parameters from the
// settings and reloads its fonts, showing FontError when that fails (the new
// settings stay); on "Отмена" the settings are put back as they were. The
// settings are clamped afterwards in both cases. True on "OK".
bool ShowSettings(QWidget* parent, TRecProject& project, int page);

// Replaces the list of ports the search probes (tests; an empty function
// restores the ports of this computer).
void SetBoardSearchCandidateSource(std::function<std::vector<comm::SearchCandidate>()> source);

}  // namespace lentar::gui
