#include "gui/markup/effform.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/common/dialogbuttons.h"
#include "gui/common/formparts.h"
#include "markup/tagtexts.h"
#include "markup/tags.h"

namespace lentar::gui {

namespace {

// A tag item put into a control of range min..max.
int Fit(int64_t value, int min, int max) {
  return static_cast<int>(std::clamp<int64_t>(value, min, max));
}

}  // namespace

TEffForm::TEffForm(const std::string& tagText, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("EffForm"));
  setWindowTitle(QStringLiteral("Параметры эффекта"));
  setModal(true);

  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("PageControl1"));
  pages_->setUsesScrollButtons(false);  // all six page tabs in view

  BuildPausePage();
  BuildBlinkPage();
  BuildFramePage();
  BuildSpeedPage();
  BuildInversionPage();
  BuildVisualPage();

  QHBoxLayout* buttons = MakeOkCancelRow(this);

  auto* top = new QVBoxLayout(this);
  top->addWidget(pages_, 1);
  top->addLayout(buttons);

  FillFromTag(tagText);
  EffectTypeChanged();
}

QWidget* TEffForm::AddPage(const QString& caption, const char* objectName) {
  auto* page = new QWidget;
  page->setObjectName(QLatin1String(objectName));
  pages_->addTab(page, caption);
  return page;
}

// The page "Пауза".
void TEffForm::BuildPausePage() {
  QWidget* pause = AddPage(QStringLiteral("Пауза"), "TabSheet1");
  pauseDuration_ = MakeSpin(pause, "PauseDurationEdit", 1, 4095, 1);
  auto* pauseLayout = new QFormLayout(pause);
  pauseLayout->addRow(QStringLiteral("Длительность:"), pauseDuration_);
}

// The page "Мигание".
void TEffForm::BuildBlinkPage() {
  QWidget* blink = AddPage(QStringLiteral("Мигание"), "TabSheet2");
  blinkDuration_ = MakeSpin(blink, "BlinkDurationEdit", 1, 4095, 1);
  blinkMask_ = MakeSpin(blink, "BlinkMaskEdit", 1, 255, 1);
  auto* blinkLayout = new QFormLayout(blink);
  blinkLayout->addRow(QStringLiteral("Длительность:"), blinkDuration_);
  blinkLayout->addRow(QStringLiteral("Маска мигания:"), blinkMask_);
}

// The page "Покадровый режим".
void TEffForm::BuildFramePage() {
  QWidget* frame = AddPage(QStringLiteral("Покадровый режим"), "TabSheet3");
  frameMarker_ = MakeRadio(frame, QStringLiteral("Маркер кадра"), "FrameMarkerButton");
  frameMarker_->setChecked(true);
  frameJump_ = MakeRadio(frame, QStringLiteral("Переход к следующему кадру"), "FrameJumpButton");
  frameDuration_ = MakeSpin(frame, "FrameDurationEdit", 1, 4095, 1);
  frameStop_ = MakeCheck(frame, QStringLiteral("Остановка"), "FrameStopBox");
  auto* frameLayout = new QFormLayout(frame);
  frameLayout->addRow(frameMarker_);
  frameLayout->addRow(frameJump_);
  frameLayout->addRow(QStringLiteral("Длительность:"), frameDuration_);
  frameLayout->addRow(frameStop_);
}

// The page "Скорость".
void TEffForm::BuildSpeedPage() {
  QWidget* speed = AddPage(QStringLiteral("Скорость"), "TabSheet4");
  speed_ = MakeSpin(speed, "SpeedEdit", 1, 5, 1);
  auto* speedLayout = new QFormLayout(speed);
  speedLayout->addRow(QStringLiteral("Установить скорость:"), speed_);
}

// The page "Инверсия".
void TEffForm::BuildInversionPage() {
  QWidget* inversion = AddPage(QStringLiteral("Инверсия"), "TabSheet5");
  inversionOff_ = MakeRadio(inversion, QStringLiteral("Выключить"), "InversionOffButton");
  inversionOff_->setChecked(true);
  inversionOn_ = MakeRadio(inversion, QStringLiteral("Включить"), "InversionOnButton");
  auto* inversionLayout = new QVBoxLayout(inversion);
  inversionLayout->addWidget(inversionOff_);
  inversionLayout->addWidget(inversionOn_);
  inversionLayout->addStretch(1);
}

// The page "Визуальный эффект".
void TEffForm::BuildVisualPage() {
  QWidget* visual = AddPage(QStringLiteral("Визуальный эффект"), "TabSheet6");
  effectType_ = new QListWidget(visual);
  effectType_->setObjectName(QStringLiteral("EffectTypeList"));
  effectType_->addItems({QStringLiteral("Замещение россыпью"), QStringLiteral("Случайное замещение"),
                         QStringLiteral("Выезд снизу"), QStringLiteral("Выезд сверху")});
  effectType_->setCurrentRow(0);
  effectType_->setMaximumHeight(effectType_->sizeHintForRow(0) * 4 + 2 * effectType_->frameWidth() + 4);
  effectDuration_ = MakeSpin(visual, "EffectDurationEdit", 1, 4095, 40);
  effectPause_ = MakeSpin(visual, "EffectPauseEdit", 1, 4095, 5);
  effectReduction_ = MakeSpin(visual, "EffectReductionEdit", 0, 50, 0);
  effectFragment_ = MakeSpin(visual, "EffectFragmentEdit", 0, 255, 0);
  fragmentLabel_ = MakeLabel(visual, QStringLiteral("Размер фрагмента:"), "FragmentLabel");
  QLabel* note = MakeLabel(visual,
                           QStringLiteral("Не забудьте поставить маркер\nкадра в место, куда будет\n"
                                          "осуществляться переход"),
                           "NoteLabel");
  auto* visualForm = new QFormLayout;
  visualForm->addRow(QStringLiteral("Длительность:"), effectDuration_);
  visualForm->addRow(QStringLiteral("Предв. пауза:"), effectPause_);
  visualForm->addRow(QStringLiteral("Уменьш. скор.:"), effectReduction_);
  visualForm->addRow(fragmentLabel_, effectFragment_);
  auto* visualLayout = new QHBoxLayout(visual);
  auto* left = new QVBoxLayout;
  left->addWidget(effectType_);
  left->addWidget(note);
  left->addStretch(1);
  visualLayout->addLayout(left);
  visualLayout->addLayout(visualForm);
  connect(effectType_, &QListWidget::currentRowChanged, this, &TEffForm::EffectTypeChanged);
}

void TEffForm::FillFromTag(const std::string& tagText) {
  const SplitTagResult tag = SplitTag(tagText);
  if (!tag.ok) {
    pages_->setCurrentIndex(0);
    return;
  }
  const EffectPage page = EffectPageOfTag(tag.parts.name);
  const std::vector<int64_t> items = ReadTagItems(tag.parts.args);
  switch (page) {
    case EffectPage::Pause:
      pauseDuration_->setValue(Fit(items[0], 1, 4095));
      break;
    case EffectPage::Blink:
      blinkDuration_->setValue(Fit(items[0], 1, 4095));
      blinkMask_->setValue(Fit(items[1], 1, 255));
      break;
    case EffectPage::Frame:
      (tag.parts.name == "JMP" ? frameJump_ : frameMarker_)->setChecked(true);
      frameDuration_->setValue(Fit(items[0], 1, 4095));
      frameStop_->setChecked((items[1] & 1) != 0);
      break;
    case EffectPage::Speed:
      speed_->setValue(Fit(items[0], 1, 5));
      break;
    case EffectPage::Inversion:
      (items[0] != 0 ? inversionOn_ : inversionOff_)->setChecked(true);
      break;
    case EffectPage::Visual:
      // A type the list does not offer opens on the first one.
      effectType_->setCurrentRow(items[0] >= 0 && items[0] < effectType_->count()
                                     ? static_cast<int>(items[0])
                                     : 0);
      effectDuration_->setValue(Fit(items[1], 1, 4095));
      effectPause_->setValue(Fit(items[2], 1, 4095));
      effectReduction_->setValue(Fit(items[3], 0, 50));
      effectFragment_->setValue(Fit(items[4], 0, 255));
      break;
  }
  pages_->setCurrentIndex(static_cast<int>(page));
}

void TEffForm::EffectTypeChanged() {
  const bool fragment = EffectHasFragment(effectType_->currentRow());
  fragmentLabel_->setVisible(fragment);
  effectFragment_->setVisible(fragment);
}

std::string TEffForm::TagText() const {
  switch (static_cast<EffectPage>(pages_->currentIndex())) {
    case EffectPage::Pause:
      return PauseTagText(pauseDuration_->value());
    case EffectPage::Blink:
      return BlinkTagText(blinkDuration_->value(), blinkMask_->value());
    case EffectPage::Frame:
      return FrameTagText(frameJump_->isChecked(), frameDuration_->value(), frameStop_->isChecked());
    case EffectPage::Speed:
      return SpeedTagText(speed_->value());
    case EffectPage::Inversion:
      return InversionTagText(inversionOn_->isChecked());
    case EffectPage::Visual:
      return EffectTagText(std::max(effectType_->currentRow(), 0), effectDuration_->value(),
                           effectPause_->value(), effectReduction_->value(),
                           effectFragment_->value());
  }
  return {};
}

std::string EditEffectTag(QWidget* parent, const std::string& tagText) {
  TEffForm form(tagText, parent);
  if (form.exec() != QDialog::Accepted) return {};
  return form.TagText();
}

}  // namespace lentar::gui
