#include "gui/common/rbform.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/common/dialogbuttons.h"

namespace lentar::gui {

TRBForm::TRBForm(const QString& title, const QStringList& options, int defaultIndex,
                 int columns, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("RBForm"));
  setWindowTitle(title);
  setModal(true);

  const int count = std::min<int>(static_cast<int>(options.size()), kMaxOptions);
  columns = std::clamp(columns, 1, std::max(count, 1));
  const int perColumn = (count + columns - 1) / columns;

  group_ = new QButtonGroup(this);
  group_->setExclusive(true);
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(6);
  for (int i = 0; i < count; ++i) {
    auto* option = new QRadioButton(options[i], this);
    option->setObjectName(QStringLiteral("RadioButton%1").arg(i + 1));
    group_->addButton(option, i);
    grid->addWidget(option, perColumn > 0 ? i % perColumn : i, perColumn > 0 ? i / perColumn : 0);
    options_.append(option);
  }
  if (defaultIndex >= 0 && defaultIndex < count) options_[defaultIndex]->setChecked(true);
  connect(group_, &QButtonGroup::buttonClicked, this, [this] { UpdateOkButton(); });

  QHBoxLayout* buttons = MakeSpreadOkCancelRow(this, &okButton_, &cancelButton_);

  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(10, 4, 10, 4);
  top->setSpacing(8);
  top->addLayout(grid);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);
  top->addStrut(TitleBarWidth(this, windowTitle()));
  // The options keep their own width in a dialog widened for its title: a
  // click beside an option's text does not choose it.
  top->setAlignment(grid, Qt::AlignLeft);
  setMinimumWidth(okButton_->sizeHint().width() + cancelButton_->sizeHint().width() + 30);
  UpdateOkButton();
}

int TRBForm::CheckedIndex() const {
  for (int i = 0; i < options_.size(); ++i) {
    if (options_[i]->isChecked()) return i;
  }
  return -1;
}

void TRBForm::showEvent(QShowEvent* event) {
  UpdateOkButton();
  QDialog::showEvent(event);
}

void TRBForm::UpdateOkButton() { okButton_->setEnabled(CheckedIndex() >= 0); }

}  // namespace lentar::gui
