#include "gui/common/dialogbuttons.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace lentar::gui {

void MakeOkCancelButtons(QDialog* dialog, QPushButton** ok, QPushButton** cancel,
                         bool okIsDefault) {
  auto* okButton = new QPushButton(QStringLiteral("OK"), dialog);
  okButton->setObjectName(QStringLiteral("okButton"));
  if (okIsDefault) okButton->setDefault(true);
  auto* cancelButton = new QPushButton(QStringLiteral("Отмена"), dialog);
  cancelButton->setObjectName(QStringLiteral("cancelButton"));
  QObject::connect(okButton, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancelButton, &QPushButton::clicked, dialog, &QDialog::reject);
  if (ok) *ok = okButton;
  if (cancel) *cancel = cancelButton;
}

namespace {

// The row of both buttons after a stretch; spread adds a stretch after each
// button too. Only the right-aligned row makes OK the default button.
QHBoxLayout* MakeRow(QDialog* dialog, QPushButton** ok, QPushButton** cancel, bool spread) {
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  MakeOkCancelButtons(dialog, &okButton, &cancelButton, !spread);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(okButton);
  if (spread) buttons->addStretch(1);
  buttons->addWidget(cancelButton);
  if (spread) buttons->addStretch(1);
  if (ok) *ok = okButton;
  if (cancel) *cancel = cancelButton;
  return buttons;
}

}  // namespace

QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton** ok, QPushButton** cancel) {
  return MakeRow(dialog, ok, cancel, false);
}

QHBoxLayout* MakeSpreadOkCancelRow(QDialog* dialog, QPushButton** ok, QPushButton** cancel) {
  return MakeRow(dialog, ok, cancel, true);
}

int TitleBarWidth(const QDialog* dialog, const QString& title) {
  // Title bars use a bold face of about the application's size.
  QFont font = dialog->font();
  font.setBold(true);
  constexpr int kIconAndButtons = 110;
  return QFontMetrics(font).horizontalAdvance(title) + kIconAndButtons;
}

}  // namespace lentar::gui
