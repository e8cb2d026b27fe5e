#include "gui/control/searchform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace lentar::gui {

TSearchForm::TSearchForm(int portCount, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SearchForm"));
  setWindowTitle(QStringLiteral("Поиск табло"));
  portLabel_ = new QLabel(QStringLiteral("Поиск табло на портах..."), this);
  portLabel_->setObjectName(QStringLiteral("PortLabel"));
  portLabel_->setMinimumWidth(340);
  gauge_ = new QProgressBar(this);
  gauge_->setRange(0, portCount > 0 ? portCount : 1);
  gauge_->setValue(0);
  gauge_->setFormat(QStringLiteral("%v из %m"));
  abortButton_ = new QPushButton(QStringLiteral("Прервать"), this);
  abortButton_->setObjectName(QStringLiteral("AbortButton"));
  connect(abortButton_, &QPushButton::clicked, this, &TSearchForm::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(abortButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(portLabel_);
  layout->addWidget(gauge_);
  layout->addLayout(buttons);
}

void TSearchForm::ShowPort(int position, const QString& name) {
  portLabel_->setText(QStringLiteral("Проверяется порт %1").arg(name));
  gauge_->setValue(position);
}

void TSearchForm::reject() {
  if (abortRequested_) return;
  abortRequested_ = true;
  abortButton_->setEnabled(false);
  portLabel_->setText(portLabel_->text() + QStringLiteral(" — поиск будет прерван"));
  emit abortRequested();
}

}  // namespace lentar::gui
