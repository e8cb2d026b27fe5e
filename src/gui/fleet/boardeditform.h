// TBoardEditForm: "Табло парка", the dialog that adds a board to the register
// or changes one: its name, groups, line and address, the line's speeds, the
// modem call, the passwords, the settings file its sets are compiled with and
// a note.
//
// The line is checked as the settings dialog checks a port. On OK the record
// is handed to the store function (the register's add or update), which shows
// its refusal; the dialog stays open then, with what was typed, so that the
// operator can put it right. Cancel changes nothing.
#pragma once

#include <QDialog>
#include <functional>

#include "fleet/register.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace lentar::gui {

class TBoardEditForm : public QDialog {
  Q_OBJECT

 public:
  // store: true when the record was taken (it reports its own refusal).
  TBoardEditForm(QWidget* parent, const fleet::BoardRecord& board,
                 std::function<bool(const fleet::BoardRecord&)> store);

  // The record as the fields give it now.
  fleet::BoardRecord Record() const;

 protected:
  void done(int result) override;

 private:
  void ChooseSettingsFile();
  void ModemToggled();

  fleet::BoardRecord original_;
  std::function<bool(const fleet::BoardRecord&)> store_;
  QLineEdit* nameEdit_ = nullptr;
  QLineEdit* groupsEdit_ = nullptr;
  QLineEdit* lineEdit_ = nullptr;
  QSpinBox* addressSpin_ = nullptr;
  QComboBox* speedBox_ = nullptr;
  QComboBox* loadSpeedBox_ = nullptr;
  QCheckBox* modemBox_ = nullptr;
  QLineEdit* dialEdit_ = nullptr;
  QCheckBox* pulseBox_ = nullptr;
  QPlainTextEdit* initEdit_ = nullptr;
  QLineEdit* modemPasswordEdit_ = nullptr;
  QLineEdit* passwordEdit_ = nullptr;
  QLineEdit* iniEdit_ = nullptr;
  QLineEdit* noteEdit_ = nullptr;
};

}  // namespace lentar::gui
