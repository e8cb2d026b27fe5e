#include "gui/common/progressform.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/common/devicework.h"

namespace lentar::gui {

TProgressForm::TProgressForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("ProgressForm"));
  setWindowTitle(QStringLiteral("Идет запись..."));
  gauge_ = new QProgressBar(this);
  gauge_->setObjectName(QStringLiteral("ProgressBar1"));
  gauge_->setRange(0, 100);
  gauge_->setValue(0);
  gauge_->setTextVisible(false);
  gauge_->setMinimumWidth(280);
  QPalette colours = gauge_->palette();
  colours.setColor(QPalette::Highlight, QColor(0, 0, 255));
  gauge_->setPalette(colours);
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("ProgressText"));
  text_->setAlignment(Qt::AlignCenter);
  interruptButton_ = new QPushButton(QStringLiteral("Прервать"), this);
  interruptButton_->setObjectName(QStringLiteral("InterruptButton"));
  interruptButton_->setAutoDefault(false);
  interruptButton_->setVisible(false);
  connect(interruptButton_, &QPushButton::clicked, this, &TProgressForm::InterruptClicked);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->addWidget(gauge_);
  layout->addWidget(text_);
  layout->addWidget(interruptButton_, 0, Qt::AlignHCenter);
  UpdateText();
}

void TProgressForm::SetTitle(const QString& title) { setWindowTitle(title); }

void TProgressForm::ShowProgress() {
  adjustSize();
  if (QScreen* where = screen()) {
    const QRect area = where->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

void TProgressForm::HideProgress() { hide(); }

void TProgressForm::SetPercent(int percent) {
  gauge_->setValue(std::clamp(percent, 0, 100));
  UpdateText();
}

void TProgressForm::SetTotalBytes(size_t total) {
  total_ = total;
  UpdateText();
}

QString TProgressForm::ProgressText() const { return text_->text(); }

void TProgressForm::SetInterruptible(bool interruptible) {
  interruptButton_->setVisible(interruptible);
}

void TProgressForm::Follow(TDeviceWork& work) {
  connect(&work, &TDeviceWork::progress, this, &TProgressForm::SetPercent);
  connect(this, &TProgressForm::interruptRequested, &work, &TDeviceWork::Interrupt);
  SetInterruptible(true);
}

void TProgressForm::InterruptClicked() {
  if (interrupting_) return;
  interrupting_ = true;
  interruptButton_->setEnabled(false);
  UpdateText();
  emit interruptRequested();
}

void TProgressForm::UpdateText() {
  if (interrupting_) {
    text_->setText(QStringLiteral("Прерывание..."));
    return;
  }
  const int percent = gauge_->value();
  if (total_ == 0) {
    text_->setText(QStringLiteral("%1%").arg(percent));
    return;
  }
  const auto done = static_cast<qulonglong>((static_cast<unsigned long long>(total_) * percent + 50) / 100);
  text_->setText(QStringLiteral("%1 из %2 байт (%3%)")
                     .arg(done)
                     .arg(static_cast<qulonglong>(total_))
                     .arg(percent));
}

int TProgressForm::Percent() const { return gauge_->value(); }

void StepProgress(void* form, int percent) {
  if (form) static_cast<TProgressForm*>(form)->SetPercent(percent);
}

}  // namespace lentar::gui
