// TAutoBrightForm "Настройки автояркости": the board's light-sensor table.
//
// The board dims itself by a light sensor: below the darkness reading it
// shows the darkness brightness, above the bright-light reading its set
// brightness. The dialog reads that table (and the sensor's current reading,
// the brightness in force and the brightness timer), lets the operator edit
// the darkness brightness and both readings, and writes them back. The
// switch that turns automatic brightness on and off belongs to the board
// window. Each exchange uses the address byte the caller has set.
#pragma once

#include <QDialog>

#include "comm/boardprotocol.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace lentar::gui {

class TAutoBrightForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAutoBrightForm(comm::BoardSession& session, QWidget* parent = nullptr);

  // The last read or write succeeded; "Текущие" and "Применить" work only then.
  bool Valid() const { return valid_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  // Button1 "Обновить": reads the table and fills the labels and edits.
  void RefreshClick();
  // "Текущие" of the darkness (Button3) and of the bright-light row (Button4).
  void DarkCurrentClick();
  void BrightCurrentClick();
  // Button5 "Применить": checks the three edits, then writes them.
  void ApplyClick();
  void Fill();
  void Clear();
  void UpdateEnabled();

  comm::BoardSession& session_;
  comm::AutoBrightBlock block_;
  bool valid_ = false;
  bool shown_ = false;

  QLabel* brightnessLabel_ = nullptr;  // Label2
  QLabel* timerLabel_ = nullptr;       // Label4
  QLabel* sensorLabel_ = nullptr;      // Label6
  QLineEdit* darkSensorEdit_ = nullptr;      // Edit1
  QLineEdit* darkBrightnessEdit_ = nullptr;  // Edit2
  QLineEdit* brightSensorEdit_ = nullptr;    // Edit3
  QPushButton* refreshButton_ = nullptr;     // Button1
  QPushButton* closeButton_ = nullptr;       // Button2
  QPushButton* darkCurrentButton_ = nullptr;    // Button3
  QPushButton* brightCurrentButton_ = nullptr;  // Button4
  QPushButton* applyButton_ = nullptr;          // Button5
};

// Shows the dialog modally over the board session; true when it
// was closed with "Закрыть", false when closed from the title bar or Esc.
bool ShowAutoBrightDialog(QWidget* parent, comm::BoardSession& session);

}  // namespace lentar::gui
