// TLayoutForm ("Коррекция раскладки"): edits the rules of one input language
// and which language they are for. TShowGrid is its rule table.
#pragma once

#include <QDialog>

#include "core/keycorr.h"
#include "gui/common/tablegrid.h"

class QComboBox;
class QPushButton;

namespace lentar::gui {

// The rule table: the character column in the editor's font (the board's
// characters as the operator knows them from the editor), the other columns in
// the header's font.
class TShowGrid : public TTableGrid {
  Q_OBJECT

 public:
  static constexpr int kCharacterColumn = 3;
  explicit TShowGrid(QWidget* parent = nullptr);
  // The font a data cell of column is drawn in.
  QFont ColumnFont(int column) const;

 protected:
  void PaintCell(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
};

class TLayoutForm : public QDialog {
  Q_OBJECT

 public:
  // Shows the language and the rules of list; the form edits a copy.
  explicit TLayoutForm(const TReplaceCharList& list, QWidget* parent = nullptr);

  // The language chosen in the list.
  int32_t LanguageId() const;
  // The rules as edited, with the chosen language.
  const TReplaceCharList& Edited() const { return edited_; }
  TShowGrid* RuleGrid() const { return grid_; }

  // The rule table's texts of one rule, column by column.
  static QStringList RowTexts(const TReplaceChar& rule);

 protected:
  void done(int result) override;

 private:
  void Refresh();
  void AddClick();
  void EditClick();
  void DeleteClick();
  // The rule of the selected row; nullptr when the table has none.
  TReplaceChar* SelectedRule() const;

  TReplaceCharList edited_;
  QComboBox* languageBox_ = nullptr;
  TShowGrid* grid_ = nullptr;
  QPushButton* addButton_ = nullptr;
  QPushButton* editButton_ = nullptr;
  QPushButton* deleteButton_ = nullptr;
};

// Edits list in the window. On "OK" the list takes the chosen language and
// the edited rules (its file name stays) and the result is true.
bool EditLayout(QWidget* parent, TReplaceCharList& list);

}  // namespace lentar::gui
