// PortConfigForm "Параметры порта": the line settings of a serial port (bit
// rate, data bits, parity, stop bits, flow control), edited on a copy and
// applied to the port only on OK.
#pragma once

#include <QDialog>

#include "comm/comport.h"
#include "comm/portconfig.h"

class QComboBox;

namespace lentar::gui {

class PortConfigForm : public QDialog {
  Q_OBJECT

 public:
  explicit PortConfigForm(const comm::PortConfig& config, QWidget* parent = nullptr);

  // The settings as the controls show them.
  comm::PortConfig Config() const;

 private:
  comm::PortConfig config_;
  QComboBox* rateBox_;      // ComboBox1
  QComboBox* dataBitsBox_;  // ComboBox2
  QComboBox* parityBox_;    // ComboBox3
  QComboBox* stopBitsBox_;  // ComboBox4
  QComboBox* flowBox_;      // ComboBox5
};

// Shows the dialog over the port's current settings; on OK applies them to
// the port (and to the open line) and returns true.
bool ConfigDialog(comm::TComPort& port, QWidget* parent);

}  // namespace lentar::gui
