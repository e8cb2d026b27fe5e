// TKeyForm ("Коррекция клавиши"): edits one correction rule: the key, the
// upper-case state it applies in, the byte it types (with a table of the 256
// characters to pick from) and the Unicode character that pastes as that byte.
#pragma once

#include <QDialog>

#include "core/keycorr.h"

class QComboBox;
class QFormLayout;
class QGroupBox;
class QPushButton;
class QSpinBox;

namespace lentar::gui {

class TTableGrid;

class TKeyForm : public QDialog {
  Q_OBJECT

 public:
  // Shows the values of rule; the form edits a copy of its own.
  explicit TKeyForm(const TReplaceChar& rule, QWidget* parent = nullptr);
  // The rule as the fields hold it.
  TReplaceChar Rule() const;
  TTableGrid* CharacterTable() const { return charTable_; }

 private:
  // The form, one function per group.
  QFormLayout* BuildKeyFields();
  QGroupBox* BuildCharacterGroup();
  QFormLayout* BuildUnicodeFields();
  void ReadKeyClick();
  void ClipboardClick();
  void CharacterCellClicked(int row, int column);
  void CharCodeChanged(int code);

  QSpinBox* keyEdit_ = nullptr;
  QPushButton* readKeyButton_ = nullptr;
  QComboBox* shiftBox_ = nullptr;
  QSpinBox* charEdit_ = nullptr;
  TTableGrid* charTable_ = nullptr;
  QSpinBox* unicodeEdit_ = nullptr;
  QPushButton* clipboardButton_ = nullptr;
};

// Edits rule in the window; true, with rule changed, on "OK"; "Отмена"
// leaves it as it was.
bool EditRule(QWidget* parent, TReplaceChar& rule);

}  // namespace lentar::gui
