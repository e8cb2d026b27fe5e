#include "gui/common/inputform.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/common/dialogbuttons.h"

namespace lentar::gui {

namespace {

// Gaps of the field layout in pixels: label to edit, between field columns,
// between rows, and the form's margins.
constexpr int kLabelGap = 5;
constexpr int kColumnGap = 25;
constexpr int kRowGap = 6;
constexpr int kSideMargin = 10;
constexpr int kTopMargin = 4;
constexpr int kBottomMargin = 4;

}  // namespace

TInputForm::TInputForm(const QString& title, const QStringList& prompts, int editWidth,
                       const QStringList& values, int columns, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("InputForm"));
  setWindowTitle(title);
  setModal(true);

  const int count = std::min<int>(static_cast<int>(prompts.size()), kMaxFields);
  columns = std::clamp(columns, 1, std::max(count, 1));
  const int perColumn = (count + columns - 1) / columns;
  editWidth = std::clamp(editWidth, 10, 4000);

  auto* fields = new QGridLayout;
  fields->setHorizontalSpacing(kLabelGap);
  fields->setVerticalSpacing(kRowGap);
  for (int i = 0; i < count; ++i) {
    const int column = perColumn > 0 ? i / perColumn : 0;
    const int row = perColumn > 0 ? i % perColumn : i;
    auto* label = new QLabel(prompts[i], this);
    label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
    edit->setFixedWidth(editWidth);
    edit->setEchoMode(QLineEdit::Normal);
    if (i < values.size()) edit->setText(values[i]);
    edit->installEventFilter(this);
    label->setBuddy(edit);
    // Each field column is a label column and an edit column, with a gap
    // column between field columns.
    fields->addWidget(label, row, column * 3);
    fields->addWidget(edit, row, column * 3 + 1);
    if (column + 1 < columns) fields->setColumnMinimumWidth(column * 3 + 2, kColumnGap - 2 * kLabelGap);
    edits_.append(edit);
  }

  // The buttons share the free width in three equal gaps.
  QHBoxLayout* buttons = MakeSpreadOkCancelRow(this, &okButton_, &cancelButton_);

  auto* top = new QVBoxLayout(this);
  fieldsBox_ = top;
  top->setContentsMargins(kSideMargin, kTopMargin, kSideMargin, kBottomMargin);
  top->setSpacing(8);
  top->addLayout(fields);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);
  top->addStrut(TitleBarWidth(this, windowTitle()));
  setMinimumWidth(okButton_->sizeHint().width() + cancelButton_->sizeHint().width() + 30);

  QWidget* previous = nullptr;
  for (QLineEdit* edit : edits_) {
    if (previous) setTabOrder(previous, edit);
    previous = edit;
  }
  if (previous) setTabOrder(previous, okButton_);
  setTabOrder(okButton_, cancelButton_);
}

void TInputForm::HideTyping(int i) {
  QLineEdit* edit = edits_.value(i);
  if (!edit) return;
  edit->setEchoMode(QLineEdit::Password);
  edit->setProperty("hiddenTyping", true);
  if (showTyping_) {
    edit->setEchoMode(showTyping_->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
    return;
  }
  // One toggle shows or hides every hidden field, for an operator who wants
  // to check what was typed where nobody looks over the shoulder.
  showTyping_ = new QCheckBox(QStringLiteral("Показать пароль"), this);
  showTyping_->setObjectName(QStringLiteral("ShowPassword"));
  fieldsBox_->insertWidget(1, showTyping_);
  connect(showTyping_, &QCheckBox::toggled, this, [this](bool shown) {
    for (QLineEdit* e : edits_)
      if (e->property("hiddenTyping").toBool())
        e->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
  });
  setTabOrder(edits_.back(), showTyping_);
  setTabOrder(showTyping_, okButton_);
}

QStringList TInputForm::Values() const {
  QStringList result;
  for (const QLineEdit* edit : edits_) result.append(edit->text());
  return result;
}

bool TInputForm::eventFilter(QObject* watched, QEvent* event) {
  // Enter in a field moves on to the next field; in the last field (the only
  // one of a password or number prompt) it accepts, as "OK" does.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        key->modifiers() == Qt::NoModifier) {
      if (auto* edit = qobject_cast<QLineEdit*>(watched); edit && edits_.contains(edit)) {
        const int i = static_cast<int>(edits_.indexOf(edit));
        if (i + 1 < edits_.size()) {
          edits_[i + 1]->setFocus(Qt::TabFocusReason);
        } else {
          accept();
        }
        return true;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TInputForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!edits_.isEmpty()) edits_.front()->setFocus(Qt::OtherFocusReason);
}

}  // namespace lentar::gui
