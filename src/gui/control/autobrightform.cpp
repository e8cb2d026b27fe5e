#include "gui/control/autobrightform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/textutil.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"

namespace lentar::gui {

namespace {

// A field of the brightness table: room for a number of a few digits.
QLineEdit* MakeValueEdit(QWidget* parent, const char* name) {
  QLineEdit* edit = MakeEdit(parent, name);
  edit->setFixedWidth(80);
  return edit;
}

// A whole decimal number within lo..hi; anything else is refused rather than
// read as 0, which would silently write a wrong table to the board.
bool ReadField(const QLineEdit* edit, int lo, int hi, int& value) {
  int32_t v = 0;
  if (!StrictTextToInt(TrimBlanks(ToBoardText(edit->text())), v) || v < lo || v > hi) return false;
  value = v;
  return true;
}

}  // namespace

TAutoBrightForm::TAutoBrightForm(comm::BoardSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName(QStringLiteral("AutoBrightForm"));
  setWindowTitle(QStringLiteral("Настройки автояркости"));
  setModal(true);

  brightnessLabel_ = MakeLabel(this, QString(), "Label2");
  timerLabel_ = MakeLabel(this, QString(), "Label4");
  sensorLabel_ = MakeLabel(this, QString(), "Label6");
  auto* readings = new QGridLayout;
  readings->addWidget(MakeLabel(this, QStringLiteral("Установленная яркость:"), "Label1"), 0, 0);
  readings->addWidget(brightnessLabel_, 0, 1);
  readings->addWidget(MakeLabel(this, QStringLiteral("Таймер яркости:"), "Label3"), 1, 0);
  readings->addWidget(timerLabel_, 1, 1);
  readings->addWidget(MakeLabel(this, QStringLiteral("Текущие показания АЦП:"), "Label5"), 2, 0);
  readings->addWidget(sensorLabel_, 2, 1);
  readings->setColumnStretch(1, 1);

  darkSensorEdit_ = MakeValueEdit(this, "Edit1");
  darkBrightnessEdit_ = MakeValueEdit(this, "Edit2");
  brightSensorEdit_ = MakeValueEdit(this, "Edit3");
  darkCurrentButton_ = MakeButton(this, QStringLiteral("Текущие"), "Button3");
  brightCurrentButton_ = MakeButton(this, QStringLiteral("Текущие"), "Button4");
  auto* table = new QGridLayout;
  table->addWidget(MakeLabel(this, QStringLiteral("Яркость"), "Label7"), 0, 1);
  table->addWidget(MakeLabel(this, QStringLiteral("АЦП"), "Label8"), 0, 2);
  table->addWidget(MakeLabel(this, QStringLiteral("Темнота:"), "Label9"), 1, 0);
  table->addWidget(darkBrightnessEdit_, 1, 1);
  table->addWidget(darkSensorEdit_, 1, 2);
  table->addWidget(darkCurrentButton_, 1, 3);
  table->addWidget(MakeLabel(this, QStringLiteral("Яркий свет:"), "Label10"), 2, 0);
  table->addWidget(brightSensorEdit_, 2, 2);
  table->addWidget(brightCurrentButton_, 2, 3);

  refreshButton_ = MakeButton(this, QStringLiteral("Обновить"), "Button1");
  applyButton_ = MakeButton(this, QStringLiteral("Применить"), "Button5");
  closeButton_ = MakeButton(this, QStringLiteral("Закрыть"), "Button2");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(refreshButton_);
  buttons->addWidget(applyButton_);
  buttons->addStretch(1);
  buttons->addWidget(closeButton_);

  auto* top = new QVBoxLayout(this);
  top->addLayout(readings);
  top->addSpacing(8);
  top->addLayout(table);
  top->addSpacing(8);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  connect(refreshButton_, &QPushButton::clicked, this, &TAutoBrightForm::RefreshClick);
  connect(darkCurrentButton_, &QPushButton::clicked, this, &TAutoBrightForm::DarkCurrentClick);
  connect(brightCurrentButton_, &QPushButton::clicked, this, &TAutoBrightForm::BrightCurrentClick);
  connect(applyButton_, &QPushButton::clicked, this, &TAutoBrightForm::ApplyClick);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);
  UpdateEnabled();
}

void TAutoBrightForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TAutoBrightForm::FormShow() { RefreshClick(); }

void TAutoBrightForm::RefreshClick() {
  valid_ = comm::CmdReadAutoBright(session_, block_);
  if (valid_) Fill();
  else Clear();
  UpdateEnabled();
  if (!valid_) ShowError(QStringLiteral("Ошибка связи с контроллером!"));
}

void TAutoBrightForm::Fill() {
  brightnessLabel_->setText(QString::number(block_.Brightness()));
  timerLabel_->setText(QString::number(block_.Timer()));
  sensorLabel_->setText(QString::number(block_.CurrentSensor()));
  darkBrightnessEdit_->setText(QString::number(block_.DarkBrightness()));
  darkSensorEdit_->setText(QString::number(block_.DarkSensor()));
  brightSensorEdit_->setText(QString::number(block_.BrightSensor()));
}

// A read that failed leaves nothing of an earlier one on show: what the
// fields held may no longer be the board's.
void TAutoBrightForm::Clear() {
  for (QLabel* label : {brightnessLabel_, timerLabel_, sensorLabel_}) label->clear();
  for (QLineEdit* edit : {darkBrightnessEdit_, darkSensorEdit_, brightSensorEdit_}) edit->clear();
}

void TAutoBrightForm::UpdateEnabled() {
  darkCurrentButton_->setEnabled(valid_);
  brightCurrentButton_->setEnabled(valid_);
  applyButton_->setEnabled(valid_);
}

void TAutoBrightForm::DarkCurrentClick() {
  if (valid_) darkSensorEdit_->setText(QString::number(block_.CurrentSensor()));
}

void TAutoBrightForm::BrightCurrentClick() {
  if (valid_) brightSensorEdit_->setText(QString::number(block_.CurrentSensor()));
}

void TAutoBrightForm::ApplyClick() {
  if (!valid_) return;
  int darkBrightness = 0, darkSensor = 0, brightSensor = 0;
  if (!ReadField(darkBrightnessEdit_, 0, 255, darkBrightness)) {
    ShowError(QStringLiteral("Яркость в темноте должна быть целым числом от 0 до 255"));
    return;
  }
  if (!ReadField(darkSensorEdit_, 0, 65535, darkSensor) ||
      !ReadField(brightSensorEdit_, 0, 65535, brightSensor)) {
    ShowError(QStringLiteral("Показания АЦП должны быть целыми числами от 0 до 65535"));
    return;
  }
  std::array<uint8_t, 6> settable = block_.Settable();
  settable[1] = static_cast<uint8_t>(darkBrightness);
  settable[2] = static_cast<uint8_t>(darkSensor & 0xFF);
  settable[3] = static_cast<uint8_t>(darkSensor >> 8);
  settable[4] = static_cast<uint8_t>(brightSensor & 0xFF);
  settable[5] = static_cast<uint8_t>(brightSensor >> 8);
  valid_ = comm::CmdWriteAutoBright(session_, settable);
  UpdateEnabled();
  if (!valid_) {
    ShowError(QStringLiteral("Ошибка связи с контроллером!"));
    return;
  }
  RefreshClick();
}

bool ShowAutoBrightDialog(QWidget* parent, comm::BoardSession& session) {
  TAutoBrightForm form(session, parent);
  return form.exec() == QDialog::Accepted;
}

}  // namespace lentar::gui
