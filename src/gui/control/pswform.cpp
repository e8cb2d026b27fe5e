#include "gui/control/pswform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include "core/settings.h"
#include "gui/common/dialogs.h"
#include "gui/common/messages.h"

namespace lentar::gui {

TPswForm::TPswForm(const std::array<std::string, 8>& stored, const QString& prompt,
                   const QString& extraCaption, const QString& closeCaption, QWidget* parent)
    : QDialog(parent), passwords_(stored) {
  setObjectName(QStringLiteral("PswForm"));
  setWindowTitle(QStringLiteral("Пароли"));
  setModal(true);

  promptLabel_ = new QLabel(QStringLiteral("Нажмите кнопку для смены пароля"), this);
  promptLabel_->setObjectName(QStringLiteral("Label2"));
  if (!prompt.isEmpty()) promptLabel_->setText(prompt);

  auto* slotGrid = new QGridLayout;
  for (int i = 0; i < 8; ++i) {
    auto* button = new QPushButton(QString::number(i + 1), this);
    button->setObjectName(QStringLiteral("Button%1").arg(i + 1));
    button->setAutoDefault(false);
    auto* state = new QLabel(this);
    state->setObjectName(QStringLiteral("StateLabel%1").arg(i + 1));
    const int number = i + 1;
    connect(button, &QPushButton::clicked, this, [this, number] { SlotClick(number); });
    // Two columns of four slotGrid.
    const int row = i % 4;
    const int column = (i / 4) * 2;
    slotGrid->addWidget(button, row, column);
    slotGrid->addWidget(state, row, column + 1);
    slotButtons_[static_cast<size_t>(i)] = button;
    stateLabels_[static_cast<size_t>(i)] = state;
  }
  slotGrid->setColumnMinimumWidth(1, 70);
  slotGrid->setColumnMinimumWidth(3, 70);

  closeButton_ = new QPushButton(closeCaption, this);
  closeButton_->setObjectName(QStringLiteral("Button9"));
  closeButton_->setAutoDefault(false);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
  extraButton_ = new QPushButton(extraCaption, this);
  extraButton_->setObjectName(QStringLiteral("Button10"));
  extraButton_->setAutoDefault(false);
  extraButton_->setVisible(!extraCaption.isEmpty());
  connect(extraButton_, &QPushButton::clicked, this, [this] { ExtraClick(); });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(extraButton_);
  buttons->addStretch(1);
  buttons->addWidget(closeButton_);

  auto* top = new QVBoxLayout(this);
  top->addWidget(promptLabel_);
  top->addLayout(slotGrid);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);
  FormShow();
}

bool TPswForm::SlotActive(int n) const {
  if (n < 1 || n > 8) return false;
  const size_t length = passwords_[static_cast<size_t>(n - 1)].size();
  return length >= 1 && length <= kMaxPasswordLength;
}

void TPswForm::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TPswForm::FormShow() {
  for (int i = 0; i < 8; ++i) {
    stateLabels_[static_cast<size_t>(i)]->setText(
        SlotActive(i + 1) ? QStringLiteral("Активен") : QStringLiteral("Пустой"));
  }
}

void TPswForm::SlotClick(int number) {
  result_ = number;
  accept();
}

void TPswForm::ExtraClick() {
  result_ = -1;
  accept();
}

bool ChoosePassword(QWidget* parent, const std::array<std::string, 8>& stored,
                    const QString& prompt, const QString& title, std::string& password,
                    bool confirm) {
  TPswForm form(stored, prompt, QStringLiteral("Другой"), QStringLiteral("Отмена"), parent);
  if (form.exec() != QDialog::Accepted) return false;
  const int chosen = form.Result();
  if (chosen >= 1 && chosen <= 8) {
    // A slot that is not a valid password is shown as empty and sent as one.
    password = form.SlotActive(chosen) ? stored[static_cast<size_t>(chosen - 1)] : std::string();
    return true;
  }
  if (chosen != -1) return false;

  QStringList values;
  const QString prompts =
      confirm ? QStringLiteral("Пароль\rПодтвердите") : QStringLiteral("Пароль");
  if (!InputValues(parent, title, prompts, 300, values, 1) || values.isEmpty()) return false;
  if (confirm && (values.size() < 2 || values[0] != values[1])) {
    ShowError(QStringLiteral("Пароль и подтверждение не совпадают"));
    return false;
  }
  const std::string text = ToBoardText(values[0]);
  if (text.size() > TPswForm::kMaxPasswordLength) {
    ShowError(QStringLiteral("Слишком длинный пароль"));
    return false;
  }
  password = text;
  return true;
}

int ChoosePasswordSlot(QWidget* parent, const std::array<std::string, 8>& stored,
                       const QString& prompt, const QString& extraCaption) {
  TPswForm form(stored, prompt, extraCaption, QStringLiteral("Закрыть"), parent);
  if (form.exec() != QDialog::Accepted) return 0;
  return form.Result();
}

bool ChangeStoredPassword(QWidget* owner, int slot) {
  TSettings& settings = Settings();
  if (slot < 1 || slot > static_cast<int>(settings.Password.size())) return false;
  QStringList values{QString(), QString()};
  if (!InputValues(owner, QStringLiteral("Сменить пароль №") + QString::number(slot),
                   QStringLiteral("Пароль\rПодтвердите"), 300, values, 1)) {
    return false;
  }
  const QString password = values.value(0);
  if (password != values.value(1)) {
    OwnedMessageBox(owner, QStringLiteral("Ошибка"),
                    QStringLiteral("Пароль и подтверждение не совпадают"), QMessageBox::Ok,
                    QMessageBox::Critical);
    return false;
  }
  const std::string bytes = ToBoardText(password);
  if (bytes.size() > TPswForm::kMaxPasswordLength) {
    OwnedMessageBox(owner, QStringLiteral("Ошибка"), QStringLiteral("Слишком длинный пароль"),
                    QMessageBox::Ok, QMessageBox::Critical);
    return false;
  }
  settings.Password[static_cast<size_t>(slot - 1)] = bytes;
  return true;
}

}  // namespace lentar::gui
