#include "gui/layouts/keyform.h"

#include <QClipboard>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/common/dialogbuttons.h"
#include "gui/common/editorfont.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"
#include "gui/common/tablegrid.h"
#include "gui/layouts/readkeyform.h"

namespace lentar::gui {

namespace {

// Two upper-case hexadecimal digits.
QString Hex2(int value) { return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper(); }

constexpr int kTableSide = 17;  // a title row or column and 16 of characters

}  // namespace

TKeyForm::TKeyForm(const TReplaceChar& rule, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("KeyForm"));
  setWindowTitle(QStringLiteral("Коррекция клавиши"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  QFormLayout* fields = BuildKeyFields();
  QGroupBox* group = BuildCharacterGroup();
  QFormLayout* unicodeFields = BuildUnicodeFields();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(group, 1);
  layout->addLayout(unicodeFields);
  layout->addLayout(MakeOkCancelRow(this));

  connect(readKeyButton_, &QPushButton::clicked, this, &TKeyForm::ReadKeyClick);
  connect(clipboardButton_, &QPushButton::clicked, this, &TKeyForm::ClipboardClick);
  connect(charTable_, &QTableWidget::cellClicked, this, &TKeyForm::CharacterCellClicked);
  connect(charEdit_, &QSpinBox::valueChanged, this, &TKeyForm::CharCodeChanged);

  keyEdit_->setValue(std::max(rule.KeyCode, 1));
  const int shift = rule.ShiftState >= kShiftReleased && rule.ShiftState <= kShiftAny
                        ? rule.ShiftState
                        : kShiftAny;
  shiftBox_->setCurrentIndex(shift);
  charEdit_->setValue(std::clamp(rule.CharCode, 0, 255));
  CharCodeChanged(charEdit_->value());
  unicodeEdit_->setValue(rule.Unicode);
}

// The key and the state of Shift it is taken in.
QFormLayout* TKeyForm::BuildKeyFields() {
  keyEdit_ = MakeSpin(this, "SpinEdit1", 1, 255);
  readKeyButton_ =
      MakeButton(this, QStringLiteral("Считать с клавиатуры"), "Button1", EnterKey::PressesFocused);
  shiftBox_ = MakeCombo(this, "ComboBox1",
                        {QStringLiteral("Отжата"), QStringLiteral("Нажата"),
                         QStringLiteral("Не имеет значения")});
  auto* keyRow = new QHBoxLayout;
  keyRow->addWidget(keyEdit_);
  keyRow->addWidget(readKeyButton_);
  auto* fields = new QFormLayout;
  fields->addRow(QStringLiteral("Код клавиши:"), keyRow);
  fields->addRow(QStringLiteral("Задействовать, когда Shift:"), shiftBox_);
  return fields;
}

// " Преобразовать в символ ": the board character's code and the table of
// the characters to pick it from.
QGroupBox* TKeyForm::BuildCharacterGroup() {
  QGroupBox* group = MakeGroup(this, QStringLiteral(" Преобразовать в символ "), "GroupBox1");
  charEdit_ = MakeSpin(group, "SpinEdit2", 0, 255);
  charTable_ = new TTableGrid(group);
  charTable_->setObjectName(QStringLiteral("StringGrid1"));
  charTable_->SetColumnCount(kTableSide);
  std::vector<double> shares(kTableSide, 1.0);
  charTable_->SetColumnShares(shares.data(), kTableSide - 1);
  QString titles = QStringLiteral(" ");
  for (int c = 0; c < 16; ++c) titles += QLatin1Char('\n') + Hex2(c);
  charTable_->SetHeaderText(titles);
  charTable_->SetCellFont(EditorFont());
  charTable_->setSelectionMode(QAbstractItemView::SingleSelection);
  charTable_->setSelectionBehavior(QAbstractItemView::SelectItems);
  charTable_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (int r = 1; r < kTableSide; ++r) {
    charTable_->AddRow();
    charTable_->SetCell(0, r, Hex2((r - 1) * 16));
    for (int c = 1; c < kTableSide; ++c) {
      const int code = (r - 1) * 16 + (c - 1);
      charTable_->SetCell(c, r, FromBoardText(std::string(1, static_cast<char>(code))));
    }
    // The first column titles the rows: it is not a character to pick.
    if (QTableWidgetItem* title = charTable_->item(r - 1, 0)) {
      title->setFlags(Qt::ItemIsEnabled);
      title->setBackground(palette().button());
      title->setFont(charTable_->HeaderFont());
    }
  }
  const int rowHeight = charTable_->verticalHeader()->defaultSectionSize();
  charTable_->setMinimumSize(kTableSide * 27,
                             16 * rowHeight + charTable_->horizontalHeader()->sizeHint().height() + 4);
  auto* groupLayout = new QVBoxLayout(group);
  auto* codeRow = new QFormLayout;
  codeRow->addRow(QStringLiteral("Код:"), charEdit_);
  groupLayout->addLayout(codeRow);
  groupLayout->addWidget(charTable_, 1);
  return group;
}

// The Unicode character the key gives besides.
QFormLayout* TKeyForm::BuildUnicodeFields() {
  unicodeEdit_ = MakeSpin(this, "SpinEdit3", 0, 65535);
  clipboardButton_ =
      MakeButton(this, QStringLiteral("Взять из буфера обмена"), "Button2", EnterKey::PressesFocused);
  auto* unicodeRow = new QHBoxLayout;
  unicodeRow->addWidget(unicodeEdit_);
  unicodeRow->addWidget(clipboardButton_);
  auto* unicodeFields = new QFormLayout;
  unicodeFields->addRow(QStringLiteral("Unicode:"), unicodeRow);
  return unicodeFields;
}

TReplaceChar TKeyForm::Rule() const {
  TReplaceChar rule;
  rule.KeyCode = keyEdit_->value();
  rule.ShiftState = shiftBox_->currentIndex();
  rule.CharCode = charEdit_->value();
  rule.Unicode = static_cast<uint16_t>(unicodeEdit_->value());
  return rule;
}

void TKeyForm::ReadKeyClick() {
  const int key = ReadKey(this);
  if (key > 0) keyEdit_->setValue(key);
}

void TKeyForm::ClipboardClick() {
  const QString text = QGuiApplication::clipboard()->text();
  if (text.isEmpty()) {
    ShowError(QStringLiteral("Буфер обмена пуст!"));
    return;
  }
  unicodeEdit_->setValue(text.at(0).unicode());
}

void TKeyForm::CharacterCellClicked(int row, int column) {
  // row is the table's own (0 is the characters 00..0F); column 0 titles the rows.
  if (column < 1 || row < 0 || row >= 16) return;
  charEdit_->setValue(row * 16 + (column - 1));
}

void TKeyForm::CharCodeChanged(int code) {
  charTable_->setCurrentCell(code / 16, code % 16 + 1);
}

bool EditRule(QWidget* parent, TReplaceChar& rule) {
  TKeyForm form(rule, parent);
  if (form.exec() != QDialog::Accepted) return false;
  rule = form.Rule();
  return true;
}

}  // namespace lentar::gui
