// TLangForm ("Корректируемые раскладки ввода"): the loaded layout files, one
// row each, with the commands that add, edit and delete them. Changes go to
// the program's correction rules and to the files in the Langs folder at once,
// so typing follows them immediately.
#pragma once

#include <QDialog>

#include "core/keycorr.h"

class QPushButton;

namespace lentar::gui {

class TTableGrid;

class TLangForm : public QDialog {
  Q_OBJECT

 public:
  TLangForm(TReplaceDefines& defines, QWidget* parent = nullptr);
  TTableGrid* Grid() const { return grid_; }

  // The name the table shows for a language id.
  static QString LanguageText(int32_t languageId);

 private:
  void Refresh();
  void AddClick();
  void EditClick();
  void DeleteClick();
  // The list of the selected row; nullptr when there is none.
  TReplaceCharList* SelectedList() const;
  // Saves list to its file; the error box when that fails.
  void Save(TReplaceCharList& list, const std::string& path);

  TReplaceDefines& defines_;
  TTableGrid* grid_ = nullptr;
};

// Shows the window over the program's correction rules.
void ManageLayouts(QWidget* parent, TReplaceDefines& defines);

}  // namespace lentar::gui
