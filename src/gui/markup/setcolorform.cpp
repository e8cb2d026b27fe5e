#include "gui/markup/setcolorform.h"

#include <QColor>
#include <QColorDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/common/dialogbuttons.h"

namespace lentar::gui {

namespace {

// Client height: one row of 25 pixels per channel and 50 for the buttons.
constexpr int kRowHeight = 25;
constexpr int kButtonsHeight = 50;

QColor ScreenColour(int32_t bgr) {
  const auto v = static_cast<uint32_t>(bgr);
  return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                static_cast<int>((v >> 16) & 0xFF));
}

int32_t BoardColour(const QColor& c) {
  return static_cast<int32_t>(static_cast<uint32_t>(c.red()) |
                              (static_cast<uint32_t>(c.green()) << 8) |
                              (static_cast<uint32_t>(c.blue()) << 16));
}

QString SwatchStyle(int32_t colour) {
  return QStringLiteral("background-color: %1; border: 1px solid black;")
      .arg(ScreenColour(colour).name());
}

}  // namespace

TSetColorForm::TSetColorForm(int channelCount, const std::array<int32_t, 8>& colours,
                             QWidget* parent)
    : QDialog(parent), channels_(std::clamp(channelCount, 1, 8)), colours_(colours) {
  setObjectName(QStringLiteral("SetColorForm"));
  setWindowTitle(QStringLiteral("Цвета каналов"));
  setModal(true);

  auto* grid = new QGridLayout;
  grid->setVerticalSpacing(2);
  for (int i = 0; i < channels_; ++i) {
    auto* label = new QLabel(QStringLiteral("Канал %1:").arg(i + 1), this);
    label->setObjectName(QStringLiteral("ChannelLabel%1").arg(i + 1));
    auto* swatch = new QLabel(this);
    swatch->setObjectName(QStringLiteral("Shape%1").arg(i + 1));
    swatch->setFixedSize(60, kRowHeight - 6);
    swatch->setStyleSheet(SwatchStyle(colours_[static_cast<size_t>(i)]));
    auto* choose = new QPushButton(QStringLiteral("Выбрать"), this);
    choose->setObjectName(QStringLiteral("ChooseButton%1").arg(i + 1));
    choose->setFixedHeight(kRowHeight - 2);
    connect(choose, &QPushButton::clicked, this, [this, i] { ChooseClick(i); });
    grid->addWidget(label, i, 0);
    grid->addWidget(swatch, i, 1);
    grid->addWidget(choose, i, 2);
    swatches_.push_back(swatch);
  }

  QHBoxLayout* buttons = MakeOkCancelRow(this);

  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(8, 4, 8, 4);
  top->setSpacing(0);
  top->addLayout(grid);
  top->addStretch(1);
  top->addLayout(buttons);
  setFixedSize(std::max(sizeHint().width(), 240), kRowHeight * channels_ + kButtonsHeight);
}

void TSetColorForm::SetColour(int channel, int32_t colour) {
  if (channel < 0 || channel >= channels_) return;
  colours_[static_cast<size_t>(channel)] = colour;
  swatches_[static_cast<size_t>(channel)]->setStyleSheet(SwatchStyle(colour));
}

void TSetColorForm::ChooseClick(int channel) {
  QColorDialog dialog(ScreenColour(colours_[static_cast<size_t>(channel)]), this);
  dialog.setObjectName(QStringLiteral("ColorDialog"));
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  if (dialog.exec() == QDialog::Accepted && dialog.selectedColor().isValid()) {
    SetColour(channel, BoardColour(dialog.selectedColor()));
  }
}

bool EditChannelColours(QWidget* parent, int channelCount, std::array<int32_t, 8>& colours) {
  TSetColorForm form(channelCount, colours, parent);
  if (form.exec() != QDialog::Accepted) return false;
  colours = form.Colours();
  return true;
}

}  // namespace lentar::gui
