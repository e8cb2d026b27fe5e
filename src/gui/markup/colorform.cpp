#include "gui/markup/colorform.h"

#include <QColor>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/textutil.h"
#include "gui/common/dialogbuttons.h"
#include "gui/common/formparts.h"
#include "markup/emulation.h"
#include "markup/tags.h"
#include "markup/tagtexts.h"

namespace lentar::gui {

namespace {

QColor ScreenColour(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

const QColor kTeal(0, 128, 128);

// A colour entry is always drawn in its own colour; the chosen one is framed
// in teal instead of being covered by the selection colour.
class ColourEntryDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    painter->save();
    painter->fillRect(option.rect, index.data(Qt::BackgroundRole).value<QBrush>());
    painter->setPen(index.data(Qt::ForegroundRole).value<QBrush>().color());
    painter->drawText(option.rect.adjusted(4, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                      index.data(Qt::DisplayRole).toString());
    if (option.state & QStyle::State_Selected) {
      painter->setPen(QPen(kTeal, 2));
      painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
    }
    painter->restore();
  }
};

}  // namespace

QString ChannelToggleStyle(uint32_t colour, bool on) {
  const QString frame = on ? kTeal.name() : QStringLiteral("palette(button)");
  return QStringLiteral("QToolButton { background-color: %1; border: 3px solid %2; }")
      .arg(ScreenColour(colour).name(), frame);
}

TColorForm::TColorForm(int channelCount, const std::array<uint32_t, 8>& colours,
                       const std::string& tagText, bool withTarget, QWidget* parent)
    : QDialog(parent), channels_(std::clamp(channelCount, 1, 8)), colours_(colours) {
  setObjectName(QStringLiteral("ColorForm"));
  setWindowTitle(QStringLiteral("Выбор цвета"));
  setModal(true);

  QHBoxLayout* targetRow = BuildTargetRow(withTarget);
  QHBoxLayout* toggleRow = BuildChannelToggles();
  QHBoxLayout* valueRow = BuildColourList();

  QHBoxLayout* buttons = MakeOkCancelRow(this);

  auto* top = new QVBoxLayout(this);
  if (withTarget) top->addLayout(targetRow);
  top->addLayout(toggleRow);
  top->addLayout(valueRow, 1);
  top->addLayout(buttons);

  const SplitTagResult tag = SplitTag(tagText);
  const bool background = tag.ok && tag.parts.name == "BCOL";
  (background ? backgroundButton_ : textButton_)->setChecked(true);
  int value = 0;
  if (tag.ok && (tag.parts.name == "BCOL" || tag.parts.name == "FCOL")) {
    // As the board reads it: FCOL without a value is colour 1; 8 bits kept.
    const StringList items = SplitByText(tag.parts.args, ",");
    value = items.empty() && tag.parts.name == "FCOL"
                ? 1
                : static_cast<int>(ReadTagItems(tag.parts.args, 1)[0] & 0xFF);
  }
  updating_ = true;  // every control is set below, whatever the value
  SetValue(std::clamp(value, 0, (1 << channels_) - 1));
  updating_ = false;
  resize(sizeHint().width(), std::min(sizeHint().height() + 80, 480));
}

// "Цвет фона" / "Цвет текста", shown when the window is asked to offer the
// choice.
QHBoxLayout* TColorForm::BuildTargetRow(bool withTarget) {
  backgroundButton_ = MakeRadio(this, QStringLiteral("Цвет фона"), "RadioButton1");
  textButton_ = MakeRadio(this, QStringLiteral("Цвет текста"), "RadioButton2");
  auto* targetRow = new QHBoxLayout;
  targetRow->addWidget(backgroundButton_);
  targetRow->addWidget(textButton_);
  targetRow->addStretch(1);
  backgroundButton_->setVisible(withTarget);
  textButton_->setVisible(withTarget);
  return targetRow;
}

// A toggle per channel: the colour is the sum of the channels switched on.
QHBoxLayout* TColorForm::BuildChannelToggles() {
  auto* toggleRow = new QHBoxLayout;
  for (int i = 0; i < channels_; ++i) {
    auto* toggle = new QToolButton(this);
    toggle->setObjectName(QStringLiteral("SpeedButton%1").arg(i + 1));
    toggle->setCheckable(true);
    toggle->setFixedSize(32, 32);
    toggle->setToolTip(QString::number(i + 1));
    toggle->setStyleSheet(ChannelToggleStyle(colours_[static_cast<size_t>(i)], false));
    connect(toggle, &QToolButton::toggled, this, [this, i](bool on) {
      if (updating_) return;
      SetValue(on ? (value_ | (1 << i)) : (value_ & ~(1 << i)));
    });
    toggles_.push_back(toggle);
    toggleRow->addWidget(toggle);
  }
  toggleRow->addStretch(1);
  return toggleRow;
}

// Every colour of these channels, and its number.
QHBoxLayout* TColorForm::BuildColourList() {
  colourList_ = new QListWidget(this);
  colourList_->setObjectName(QStringLiteral("ListBox1"));
  colourList_->setItemDelegate(new ColourEntryDelegate(colourList_));
  for (int v = 0; v < (1 << channels_); ++v) {
    auto* item = new QListWidgetItem(QStringLiteral("Цвет ") + QString::number(v), colourList_);
    const QColor mixed =
        ScreenColour(MixChannelColours(colours_, channels_, static_cast<unsigned>(v)));
    item->setBackground(mixed);
    item->setForeground(mixed.lightness() < 128 ? Qt::white : Qt::black);
  }
  connect(colourList_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!updating_ && row >= 0) SetValue(row);
  });

  // Only values that name a colour of these channels can be entered: a
  // larger one would be cut to another colour by the board.
  valueEdit_ = MakeSpin(this, "SpinEdit1", 0, (1 << channels_) - 1);
  connect(valueEdit_, &QSpinBox::valueChanged, this, [this](int v) {
    if (!updating_) SetValue(v);
  });
  auto* valueRow = new QHBoxLayout;
  valueRow->addWidget(colourList_, 1);
  valueRow->addWidget(valueEdit_, 0, Qt::AlignTop);
  return valueRow;
}

void TColorForm::SetValue(int value) {
  value_ = std::clamp(value, 0, (1 << channels_) - 1);
  const bool wasUpdating = updating_;
  updating_ = true;
  for (int i = 0; i < channels_; ++i) {
    const bool on = (value_ >> i) & 1;
    toggles_[static_cast<size_t>(i)]->setChecked(on);
    toggles_[static_cast<size_t>(i)]->setStyleSheet(
        ChannelToggleStyle(colours_[static_cast<size_t>(i)], on));
  }
  colourList_->setCurrentRow(value_);
  valueEdit_->setValue(value_);
  updating_ = wasUpdating;
}

bool TColorForm::Background() const { return backgroundButton_->isChecked(); }

std::string TColorForm::TagText() const { return ColorTagText(Background(), value_); }

std::string EditColorTag(QWidget* parent, int channelCount, const std::array<uint32_t, 8>& colours,
                         const std::string& tagText) {
  TColorForm form(channelCount, colours, tagText, true, parent);
  if (form.exec() != QDialog::Accepted) return {};
  return form.TagText();
}

std::optional<int> PickColorValue(QWidget* parent, int channelCount,
                                  const std::array<uint32_t, 8>& colours, int value,
                                  const QString& caption) {
  TColorForm form(channelCount, colours, std::string(), false, parent);
  form.SetValue(value);
  if (!caption.isEmpty()) form.setWindowTitle(caption);
  if (form.exec() != QDialog::Accepted) return std::nullopt;
  return form.Value();
}

}  // namespace lentar::gui
