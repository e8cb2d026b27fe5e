// TBoardEditForm: "Табло парка", the dialog that adds a board to the register
// or changes one: its name, groups, line and address, the line's speeds, the
// modem call, the passwords, the settings file its sets are compiled with and
// a note.
//
// The groups are typed (separated by commas) or chosen from the register's
// groups in the menu beside the field; a typed group that differs from an
// existing one only in case or spaces is taken as that group.
//
// The line is checked as the settings dialog checks a port. On OK the record
// is handed to the store function (the register's add or update), which shows
// its refusal; the dialog stays open then, with what was typed, so that the
// operator can put it right. Cancel changes nothing.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "fleet/register.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QToolButton;

namespace lentar::gui {

class TBoardEditForm : public QDialog {
  Q_OBJECT

 public:
  // store: true when the record was taken (it reports its own refusal);
  // groups: the register's groups to choose from (Windows-1251).
  TBoardEditForm(QWidget* parent, const fleet::BoardRecord& board,
                 std::function<bool(const fleet::BoardRecord&)> store,
                 const std::vector<std::string>& groups = {});

  // The record as the fields give it now.
  fleet::BoardRecord Record() const;

 protected:
  void done(int result) override;

 private:
  void ChooseSettingsFile();
  void ModemToggled();
  void FillGroupMenu();
  // The groups as typed, each once, in the register's spelling when it has
  // the group.
  std::vector<std::string> TypedGroups() const;

  fleet::BoardRecord original_;
  std::function<bool(const fleet::BoardRecord&)> store_;
  QLineEdit* nameEdit_ = nullptr;
  std::vector<std::string> knownGroups_;
  QLineEdit* groupsEdit_ = nullptr;
  QToolButton* groupsButton_ = nullptr;
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
