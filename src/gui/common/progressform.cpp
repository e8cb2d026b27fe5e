#include "gui/common/progressform.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

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
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->addWidget(gauge_);
  layout->addWidget(text_);
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
  QCoreApplication::processEvents();
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

void TProgressForm::UpdateText() {
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
  QCoreApplication::processEvents();
}

}  // namespace lentar::gui
