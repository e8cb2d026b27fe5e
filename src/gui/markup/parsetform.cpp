#include "gui/markup/parsetform.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "core/textutil.h"
#include "gui/common/dialogbuttons.h"
#include "markup/fonts.h"
#include "markup/tags.h"
#include "markup/tagtexts.h"

namespace lentar::gui {

TParSetForm::TParSetForm(const TTabFontList& bank, int fontNumber, const std::string& tagText,
                         QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ParSetForm"));
  setWindowTitle(QStringLiteral("Отобразить параметр"));
  setModal(true);
  font_ = bank.FontOfHeight(fontNumber, bank.CurrentHeight());

  auto* kindGroup = new QGroupBox(QStringLiteral(" Вид параметра "), this);
  kindGroup->setObjectName(QStringLiteral("KindGroup"));
  kindList_ = new QListWidget(kindGroup);
  kindList_->setObjectName(QStringLiteral("ListBox1"));
  kindList_->addItems({QStringLiteral("Время"), QStringLiteral("Дата"),
                       QStringLiteral("Температура 1"), QStringLiteral("Температура 2"),
                       QStringLiteral("Влажность"), QStringLiteral("Атмосферное давление"),
                       QStringLiteral("Радиационный фон"), QStringLiteral("Скорость ветра")});
  kindList_->setMinimumHeight(kindList_->sizeHintForRow(0) * kParameterKindCount +
                              2 * kindList_->frameWidth() + 4);
  auto* kindLayout = new QVBoxLayout(kindGroup);
  kindLayout->addWidget(kindList_);

  auto* widthGroup = new QGroupBox(QStringLiteral(" Резервируемое место "), this);
  widthGroup->setObjectName(QStringLiteral("WidthGroup"));
  widthEdit_ = new QSpinBox(widthGroup);
  widthEdit_->setObjectName(QStringLiteral("SpinEdit1"));
  widthEdit_->setRange(1, 255);
  recommendedLabel_ = new QLabel(widthGroup);
  recommendedLabel_->setObjectName(QStringLiteral("RecommendedLabel"));
  auto* widthRow = new QHBoxLayout;
  widthRow->addWidget(new QLabel(QStringLiteral("Значение, пикселей:"), widthGroup));
  widthRow->addWidget(widthEdit_);
  widthRow->addStretch(1);
  auto* widthLayout = new QVBoxLayout(widthGroup);
  widthLayout->addLayout(widthRow);
  widthLayout->addWidget(recommendedLabel_);

  QHBoxLayout* buttons = MakeOkCancelRow(this);

  auto* top = new QVBoxLayout(this);
  top->addWidget(kindGroup, 1);
  top->addWidget(widthGroup);
  top->addLayout(buttons);

  // Kind and width from the tag being edited: a kind the board does not know
  // opens as 0, a tag without a width gets the recommended one.
  int kind = 0;
  int width = -1;
  const SplitTagResult tag = SplitTag(tagText);
  if (tag.ok && tag.parts.name == "PAR") {
    const StringList items = SplitByText(tag.parts.args, ",");
    const std::vector<int64_t> values = ReadTagItems(tag.parts.args, 2);
    if (values[0] >= 0 && values[0] < kParameterKindCount) kind = static_cast<int>(values[0]);
    if (items.size() >= 2) width = static_cast<int>(std::clamp<int64_t>(values[1], 1, 255));
  }
  kindList_->setCurrentRow(kind);
  UpdateRecommendation();
  widthEdit_->setValue(width >= 0 ? width : recommended_);
  connect(kindList_, &QListWidget::currentRowChanged, this, &TParSetForm::KindChanged);
}

void TParSetForm::UpdateRecommendation() {
  recommended_ = RecommendedParameterWidth(Kind(), font_);
  recommendedLabel_->setText(QStringLiteral("Рекомендуемое значение: ") +
                             QString::number(recommended_));
}

void TParSetForm::KindChanged() {
  UpdateRecommendation();
  widthEdit_->setValue(recommended_);
}

int TParSetForm::Kind() const { return std::max(kindList_->currentRow(), 0); }

int TParSetForm::Width() const { return widthEdit_->value(); }

std::string TParSetForm::TagText() const { return ParameterTagText(Kind(), Width()); }

std::string EditParameterTag(QWidget* parent, const TTabFontList& bank, int fontNumber,
                             const std::string& tagText) {
  TParSetForm form(bank, fontNumber, tagText, parent);
  if (form.exec() != QDialog::Accepted) return {};
  return form.TagText();
}

}  // namespace lentar::gui
