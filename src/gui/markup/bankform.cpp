#include "gui/markup/bankform.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/settings.h"
#include "gui/common/dialogbuttons.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"
#include "gui/common/tablegrid.h"
#include "markup/fonts.h"

namespace lentar::gui {

namespace {

// The sample is drawn from (2, 3) with 2-pixel dots and a 1-pixel gap.
constexpr int kSampleDot = 2;
constexpr int kSampleGap = 1;
const QPoint kSampleOrigin(2, 3);
// Room for the tallest board font (32 rows) below the origin.
constexpr int kSampleHeight = 3 + 32 * (kSampleDot + kSampleGap) + 3;
constexpr int kSampleWidth = 420;

}  // namespace

void DrawText(QPainter& painter, const std::string& text, const TTabFont* font,
              const QRect& area, QPoint origin, int dotSize, int dotGap) {
  painter.fillRect(area, Qt::black);
  if (!font || !font->HasTables() || dotSize <= 0) return;
  const DotImage dots = RenderText(text, font);
  const int pitch = dotSize + std::max(dotGap, 0);
  // Only the columns that can reach the area are visited.
  const int firstColumn = std::max(0, (area.left() - origin.x() - dotSize) / pitch);
  const int lastColumn = std::min(dots.width - 1, (area.right() - origin.x()) / pitch);
  const QColor green(0, 255, 0);
  for (int x = firstColumn; x <= lastColumn; ++x) {
    for (int y = 0; y < dots.height; ++y) {
      if (!dots.Lit(x, y)) continue;
      const QRect dot(origin.x() + x * pitch, origin.y() + y * pitch, dotSize, dotSize);
      painter.fillRect(dot.intersected(area), green);
    }
  }
}

// The picture in which the sample text is drawn with the selected font.
class TBankForm::SamplePicture : public QWidget {
 public:
  explicit SamplePicture(TBankForm* form) : QWidget(form), form_(form) {
    setObjectName(QStringLiteral("SamplePicture"));
    setFixedSize(kSampleWidth, kSampleHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    DrawText(painter, form_->SampleText(), form_->SelectedFont(), rect(), kSampleOrigin,
             kSampleDot, kSampleGap);
  }

 private:
  TBankForm* form_;
};

TBankForm::TBankForm(TTabFontList& bank, BankFormMode mode, int fontNumber, QWidget* parent)
    : QDialog(parent), bank_(bank), mode_(mode) {
  setObjectName(QStringLiteral("BankForm"));
  setWindowTitle(QStringLiteral("Банки шрифтов"));
  setModal(true);

  BuildFontGrid();
  BuildSampleGroup();

  restoreBox_ = MakeCheck(this, QStringLiteral("Восстановить шрифт по-умолчанию"), "RestoreDefaultBox");
  restoreBox_->setVisible(mode_ == BankFormMode::ChooseWithRestore);

  MakeOkCancelButtons(this, &okButton_, &cancelButton_);
  cancelButton_->setVisible(mode_ != BankFormMode::Browse);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(restoreBox_);
  buttons->addStretch(1);
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);

  auto* top = new QVBoxLayout(this);
  top->addWidget(fontGrid_, 1);
  top->addWidget(sampleGroup_);
  top->addLayout(buttons);

  connect(sampleEdit_, &QLineEdit::textChanged, picture_, qOverload<>(&QWidget::update));
  connect(fontGrid_, &QTableWidget::currentCellChanged, picture_,
          qOverload<>(&QWidget::update));

  // A number below 0 or past the list selects the first row.
  if (!bankIndexes_.empty()) {
    const int count = static_cast<int>(bankIndexes_.size());
    const int number = (fontNumber >= 0 && fontNumber < count) ? fontNumber : 0;
    fontGrid_->SelectRow(number + 1);
  }
  resize(sizeHint());
}

// The fonts of the current height, or every font when browsing.
void TBankForm::BuildFontGrid() {
  fontGrid_ = new TTableGrid(this);
  fontGrid_->setObjectName(QStringLiteral("FontGrid"));
  fontGrid_->SetColumnCount(1);
  const double whole[1] = {1.0};
  fontGrid_->SetColumnShares(whole, 0);
  fontGrid_->SetHeaderText(QStringLiteral("Название"));
  fontGrid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  fontGrid_->setMinimumSize(kSampleWidth, 160);

  const int height = bank_.CurrentHeight();
  for (int i = 0; i < bank_.Count(); ++i) {
    const TTabFont& font = bank_.At(i);
    if (mode_ != BankFormMode::Browse && font.HeightBytes != height) continue;
    const int row = fontGrid_->AddRow();
    fontGrid_->SetCell(0, row, FromBoardText(font.FontName));
    bankIndexes_.push_back(i);
  }
}

// " Пробный текст ": the sample text drawn in the chosen font.
void TBankForm::BuildSampleGroup() {
  sampleGroup_ = MakeGroup(this, QStringLiteral(" Пробный текст "), "SampleGroup");
  sampleEdit_ = new QLineEdit(FromBoardText(Settings().TestText), sampleGroup_);
  sampleEdit_->setObjectName(QStringLiteral("SampleEdit"));
  picture_ = new SamplePicture(this);
  picture_->setParent(sampleGroup_);
  auto* sampleLayout = new QVBoxLayout(sampleGroup_);
  sampleLayout->addWidget(sampleEdit_);
  sampleLayout->addWidget(picture_);
}

int TBankForm::SelectedNumber() const {
  if (bankIndexes_.empty()) return -1;
  const int row = fontGrid_->CurrentRow();
  if (row < 1 || row > static_cast<int>(bankIndexes_.size())) return -1;
  return row - 1;
}

const TTabFont* TBankForm::SelectedFont() const {
  const int number = SelectedNumber();
  if (number < 0) return nullptr;
  const int index = bankIndexes_[static_cast<size_t>(number)];
  if (index < 0 || index >= bank_.Count()) return nullptr;
  return &bank_.At(index);
}

std::optional<int> TBankForm::Choice() const {
  if (mode_ == BankFormMode::ChooseWithRestore && restoreBox_->isChecked()) {
    return kDefaultFontNumber;
  }
  const int number = SelectedNumber();
  if (number < 0) return std::nullopt;
  return number;
}

std::string TBankForm::SampleText() const { return ToBoardText(sampleEdit_->text()); }

void TBankForm::done(int result) {
  Settings().TestText = SampleText();
  QDialog::done(result);
}

std::optional<int> ShowFontBank(QWidget* parent, TTabFontList& bank, BankFormMode mode,
                                int fontNumber) {
  TBankForm form(bank, mode, fontNumber, parent);
  const int result = form.exec();
  if (mode == BankFormMode::Browse || result != QDialog::Accepted) return std::nullopt;
  return form.Choice();
}

}  // namespace lentar::gui
