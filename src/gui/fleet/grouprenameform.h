// TGroupRenameForm: "Группа табло", renaming a group of the register or
// merging it into another: the new name is typed or one of the other groups
// chosen. Names are compared without regard to case or surrounding spaces,
// so "центр " joins "Центр" instead of starting a group beside it; the
// dialog says so before OK. On OK the change is handed to the rename
// function (the register's), which shows its refusal; the dialog then stays
// open with what was typed.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;

namespace lentar::gui {

class TGroupRenameForm : public QDialog {
  Q_OBJECT

 public:
  // groups: every group of the register (Windows-1251), group among them.
  // rename(from, to): true when the register took it.
  TGroupRenameForm(QWidget* parent, const std::string& group, int boards,
                   const std::vector<std::string>& groups,
                   std::function<bool(const std::string&, const std::string&)> rename);

  // The name as typed, trimmed (Windows-1251).
  std::string NewName() const;
  // The other group the typed name matches, if any (Windows-1251).
  std::string MergedInto() const;

 protected:
  void done(int result) override;

 private:
  void NameChanged();

  std::string group_;
  std::vector<std::string> groups_;
  std::function<bool(const std::string&, const std::string&)> rename_;
  QComboBox* nameBox_ = nullptr;
  QLabel* hintLabel_ = nullptr;
};

}  // namespace lentar::gui
