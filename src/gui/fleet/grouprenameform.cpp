#include "gui/fleet/grouprenameform.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/common/dialogbuttons.h"
#include "gui/common/messages.h"

namespace lentar::gui {

namespace {

bool SameName(const QString& a, const QString& b) {
  return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

}  // namespace

TGroupRenameForm::TGroupRenameForm(QWidget* parent, const std::string& group, int boards,
                                   const std::vector<std::string>& groups,
                                   std::function<bool(const std::string&, const std::string&)> rename)
    : QDialog(parent), group_(group), groups_(groups), rename_(std::move(rename)) {
  setObjectName(QStringLiteral("GroupRenameForm"));
  setWindowTitle(QStringLiteral("Группа табло"));

  auto* about = new QLabel(
      QStringLiteral("Группа «%1», табло в ней: %2").arg(FromBoardText(group)).arg(boards), this);
  about->setObjectName(QStringLiteral("AboutLabel"));
  nameBox_ = new QComboBox(this);
  nameBox_->setObjectName(QStringLiteral("NameBox"));
  nameBox_->setEditable(true);
  nameBox_->setInsertPolicy(QComboBox::NoInsert);
  nameBox_->setMinimumContentsLength(24);
  for (const auto& g : groups_)
    if (g != group_) nameBox_->addItem(FromBoardText(g));
  nameBox_->setEditText(FromBoardText(group));
  nameBox_->lineEdit()->selectAll();
  auto* nameLabel = new QLabel(QStringLiteral("&Новое имя:"), this);
  nameLabel->setBuddy(nameBox_);
  hintLabel_ = new QLabel(this);
  hintLabel_->setObjectName(QStringLiteral("HintLabel"));
  hintLabel_->setWordWrap(true);
  // Room for the longest hint from the start: the dialog does not grow
  // while the name is typed.
  hintLabel_->setMinimumHeight(2 * fontMetrics().lineSpacing() + 4);
  hintLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* form = new QFormLayout;
  form->addRow(nameLabel, nameBox_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(about);
  layout->addLayout(form);
  layout->addWidget(hintLabel_);
  layout->addStretch(1);
  layout->addLayout(MakeOkCancelRow(this));
  setMinimumWidth(std::max(440, TitleBarWidth(this, windowTitle())));

  connect(nameBox_, &QComboBox::editTextChanged, this, &TGroupRenameForm::NameChanged);
  NameChanged();
  nameBox_->setFocus();
}

std::string TGroupRenameForm::NewName() const {
  return ToBoardText(nameBox_->currentText().trimmed());
}

std::string TGroupRenameForm::MergedInto() const {
  const QString typed = nameBox_->currentText();
  for (const auto& g : groups_)
    if (!SameName(FromBoardText(g), FromBoardText(group_)) && SameName(FromBoardText(g), typed))
      return g;
  return {};
}

void TGroupRenameForm::NameChanged() {
  const std::string into = MergedInto();
  if (!into.empty())
    hintLabel_->setText(QStringLiteral("Группа «%1» уже есть: табло группы «%2» войдут в неё.")
                            .arg(FromBoardText(into), FromBoardText(group_)));
  else if (nameBox_->currentText().trimmed().isEmpty())
    hintLabel_->setText(QStringLiteral("Введите новое имя группы."));
  else
    hintLabel_->clear();
}

void TGroupRenameForm::done(int result) {
  if (result == QDialog::Accepted) {
    const std::string name = NewName();
    if (name.empty()) {
      ShowError(QStringLiteral("Имя группы не может быть пустым."));
      nameBox_->setFocus();
      return;
    }
    if (rename_ && !rename_(group_, name)) {
      nameBox_->setFocus();
      return;
    }
  }
  QDialog::done(result);
}

}  // namespace lentar::gui
