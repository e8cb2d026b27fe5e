#include "gui/layouts/layoutform.h"

#include <QComboBox>
#include <QFontInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QVBoxLayout>

#include "core/keyboard.h"
#include "gui/common/dialogbuttons.h"
#include "gui/common/editorfont.h"
#include "gui/common/messages.h"
#include "gui/layouts/keyboardinput.h"
#include "gui/layouts/keyform.h"

namespace lentar::gui {

// ---- TShowGrid -------------------------------------------------------------------

TShowGrid::TShowGrid(QWidget* parent) : TTableGrid(parent) {
  // The header's font with every property set: a font that leaves some to
  // the device would take them from the grid, which shows the editor's font.
  const QFontInfo info(font());
  QFont header(info.family());
  header.setPixelSize(info.pixelSize());
  header.setWeight(static_cast<QFont::Weight>(info.weight()));
  header.setItalic(info.italic());
  SetHeaderFont(header);
}

QFont TShowGrid::ColumnFont(int column) const {
  return column == kCharacterColumn ? CellFont() : HeaderFont();
}

void TShowGrid::PaintCell(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
  const QFont font = ColumnFont(index.column());
  if (option.state & QStyle::State_Selected) {
    PaintSelectedCell(painter, option.rect, index.data(Qt::DisplayRole).toString(), font);
  } else {
    PaintOrdinaryCell(painter, option, index, font);
  }
}

// ---- TLayoutForm -----------------------------------------------------------------

TLayoutForm::TLayoutForm(const TReplaceCharList& list, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("LayoutForm"));
  setWindowTitle(QStringLiteral("Коррекция раскладки"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  edited_.Assign(list);

  languageBox_ = new QComboBox(this);
  languageBox_->setObjectName(QStringLiteral("ComboBox1"));
  for (const KeyboardLayout& layout : KeyboardLayoutList(Keyboard().Layouts())) {
    languageBox_->addItem(FromBoardText(layout.languageName), static_cast<int>(layout.languageId));
  }
  int selected = languageBox_->findData(static_cast<int>(edited_.LangID));
  if (selected < 0 && edited_.LangID != 0) {
    // A language this computer does not have keeps its rules all the same.
    languageBox_->addItem(
        QStringLiteral("%1").arg(static_cast<uint32_t>(edited_.LangID), 8, 16, QLatin1Char('0')).toUpper(),
        static_cast<int>(edited_.LangID));
    selected = languageBox_->count() - 1;
  }
  languageBox_->setCurrentIndex(std::max(selected, 0));

  grid_ = new TShowGrid(this);
  grid_->setObjectName(QStringLiteral("StringGrid1"));
  grid_->SetColumnCount(5);
  const double shares[5] = {1, 1, 1, 1, 1};
  grid_->SetColumnShares(shares, 4);
  grid_->SetHeaderText(QStringLiteral("Код клав.\nShift\nКод симв.\nСимвол\nUnicode"));
  grid_->SetCellFont(EditorFont());
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setMinimumSize(420, 240);

  addButton_ = new QPushButton(QStringLiteral("Добавить"), this);
  addButton_->setObjectName(QStringLiteral("Button1"));
  editButton_ = new QPushButton(QStringLiteral("Изменить"), this);
  editButton_->setObjectName(QStringLiteral("Button2"));
  deleteButton_ = new QPushButton(QStringLiteral("Удалить"), this);
  deleteButton_->setObjectName(QStringLiteral("Button3"));

  auto* language = new QFormLayout;
  language->addRow(QStringLiteral("Язык ввода:"), languageBox_);
  auto* ruleButtons = new QHBoxLayout;
  ruleButtons->addWidget(addButton_);
  ruleButtons->addWidget(editButton_);
  ruleButtons->addWidget(deleteButton_);
  ruleButtons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(language);
  layout->addWidget(grid_, 1);
  layout->addLayout(ruleButtons);
  layout->addLayout(MakeOkCancelRow(this));

  connect(addButton_, &QPushButton::clicked, this, &TLayoutForm::AddClick);
  connect(editButton_, &QPushButton::clicked, this, &TLayoutForm::EditClick);
  connect(deleteButton_, &QPushButton::clicked, this, &TLayoutForm::DeleteClick);
  Refresh();
}

int32_t TLayoutForm::LanguageId() const {
  return languageBox_->currentIndex() >= 0 ? languageBox_->currentData().toInt() : 0;
}

QStringList TLayoutForm::RowTexts(const TReplaceChar& rule) {
  QString shift = QStringLiteral("x");
  if (rule.ShiftState == kShiftReleased) shift = QStringLiteral(" ");
  if (rule.ShiftState == kShiftPressed) shift = QStringLiteral("Да");
  return {QString::number(rule.KeyCode), shift, QString::number(rule.CharCode),
          FromBoardText(std::string(1, static_cast<char>(rule.CharCode))),
          QString::number(rule.Unicode)};
}

void TLayoutForm::Refresh() {
  const int previous = grid_->CurrentRow();
  grid_->Clear();
  for (int i = 0; i < edited_.Count(); ++i) {
    const int row = grid_->AddRow();
    const QStringList texts = RowTexts(*edited_.ItemAt(i));
    for (int c = 0; c < texts.size(); ++c) grid_->SetCell(c, row, texts[c]);
    grid_->SetRowValue(row, i);
  }
  if (!grid_->IsEmpty() && previous > 0) {
    grid_->SelectRow(std::min(previous, grid_->RowCount() - 1));
  }
}

TReplaceChar* TLayoutForm::SelectedRule() const {
  if (grid_->IsEmpty()) return nullptr;
  return edited_.ItemAt(grid_->RowValue(grid_->CurrentRow()));
}

void TLayoutForm::AddClick() {
  TReplaceChar rule{0, 0, 0, 0};  // "Отжата", key 1 when shown
  if (!EditRule(this, rule)) return;
  *edited_.AddRule() = rule;
  Refresh();
  grid_->SelectRow(grid_->RowCount() - 1);
}

void TLayoutForm::EditClick() {
  TReplaceChar* rule = SelectedRule();
  if (!rule) return;
  if (EditRule(this, *rule)) Refresh();
}

void TLayoutForm::DeleteClick() {
  TReplaceChar* rule = SelectedRule();
  if (!rule) return;
  edited_.RemoveItem(rule);
  Refresh();
}

void TLayoutForm::done(int result) {
  if (result == QDialog::Accepted) edited_.LangID = LanguageId();
  QDialog::done(result);
}

bool EditLayout(QWidget* parent, TReplaceCharList& list) {
  TLayoutForm form(list, parent);
  if (form.exec() != QDialog::Accepted) return false;
  list.Assign(form.Edited());
  return true;
}

}  // namespace lentar::gui
