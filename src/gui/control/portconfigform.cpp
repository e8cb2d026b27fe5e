#include "gui/control/portconfigform.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace lentar::gui {

using comm::FlowControl;
using comm::Parity;
using comm::StopBits;

namespace {

// Selects the item whose data is value.
void SelectData(QComboBox* box, int value) {
  const int index = box->findData(value);
  box->setCurrentIndex(index >= 0 ? index : 0);
}

}  // namespace

PortConfigForm::PortConfigForm(const comm::PortConfig& config, QWidget* parent)
    : QDialog(parent), config_(config) {
  setWindowTitle(QStringLiteral("Параметры порта"));

  rateBox_ = new QComboBox(this);
  rateBox_->setObjectName(QStringLiteral("ComboBox1"));
  for (int32_t rate : comm::RateTable) rateBox_->addItem(QString::number(rate), rate);
  // A rate outside the board's list (kept from an older setting) stays
  // choosable as it is.
  if (rateBox_->findData(config.BaudRate()) < 0)
    rateBox_->addItem(QString::number(config.BaudRate()), config.BaudRate());
  SelectData(rateBox_, config.BaudRate());

  dataBitsBox_ = new QComboBox(this);
  dataBitsBox_->setObjectName(QStringLiteral("ComboBox2"));
  for (int bits = 5; bits <= 8; ++bits) dataBitsBox_->addItem(QString::number(bits), bits);
  SelectData(dataBitsBox_, config.DataBits());

  parityBox_ = new QComboBox(this);
  parityBox_->setObjectName(QStringLiteral("ComboBox3"));
  parityBox_->addItem(QStringLiteral("Нет"), int(Parity::None));
  parityBox_->addItem(QStringLiteral("Нечёт"), int(Parity::Odd));
  parityBox_->addItem(QStringLiteral("Чёт"), int(Parity::Even));
  parityBox_->addItem(QStringLiteral("Маркер"), int(Parity::Mark));
  parityBox_->addItem(QStringLiteral("Пробел"), int(Parity::Space));
  SelectData(parityBox_, int(config.Parity()));

  stopBitsBox_ = new QComboBox(this);
  stopBitsBox_->setObjectName(QStringLiteral("ComboBox4"));
  stopBitsBox_->addItem(QStringLiteral("1"), int(StopBits::One));
  stopBitsBox_->addItem(QStringLiteral("1.5"), int(StopBits::OneAndHalf));
  stopBitsBox_->addItem(QStringLiteral("2"), int(StopBits::Two));
  SelectData(stopBitsBox_, int(config.StopBits()));

  flowBox_ = new QComboBox(this);
  flowBox_->setObjectName(QStringLiteral("ComboBox5"));
  flowBox_->addItem(QStringLiteral("Нет"), int(FlowControl::None));
  flowBox_->addItem(QStringLiteral("Аппаратное"), int(FlowControl::Hardware));
  flowBox_->addItem(QStringLiteral("Xon / Xoff"), int(FlowControl::Software));
  SelectData(flowBox_, int(config.FlowControl()));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Скорость (бит/с):"), rateBox_);
  form->addRow(QStringLiteral("Биты данных:"), dataBitsBox_);
  form->addRow(QStringLiteral("Чётность:"), parityBox_);
  form->addRow(QStringLiteral("Стоповые биты:"), stopBitsBox_);
  form->addRow(QStringLiteral("Управление потоком:"), flowBox_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("Button1"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Button2"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

comm::PortConfig PortConfigForm::Config() const {
  comm::PortConfig c = config_;
  c.SetBaudRate(rateBox_->currentData().toInt());
  c.SetDataBits(dataBitsBox_->currentData().toInt());
  c.SetParity(static_cast<Parity>(parityBox_->currentData().toInt()));
  c.SetStopBits(static_cast<StopBits>(stopBitsBox_->currentData().toInt()));
  c.SetFlowControl(static_cast<FlowControl>(flowBox_->currentData().toInt()));
  return c;
}

bool ConfigDialog(comm::TComPort& port, QWidget* parent) {
  PortConfigForm form(port.Config(), parent);
  if (form.exec() != QDialog::Accepted) return false;
  port.SetConfig(form.Config());
  return true;
}

}  // namespace lentar::gui
