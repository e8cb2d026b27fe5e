#include "gui/editor/imgimpform.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "gui/common/dialogbuttons.h"

namespace lentar::gui {

namespace {
ImportQuestionCapture* activeCapture = nullptr;
}  // namespace

TImgImpForm::TImgImpForm(int rows, int pictureHeight, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ImgImpForm"));
  setWindowTitle(QStringLiteral("Импорт изображения"));
  const bool taller = pictureHeight > rows;

  auto* heightLabel = new QLabel(QStringLiteral("Высота изображения:"), this);
  auto* heightValue = new QLabel(QString::number(pictureHeight), this);
  heightValue->setObjectName(QStringLiteral("Label2"));

  auto* group = new QGroupBox(this);
  scaleButton_ = new QRadioButton(taller ? QStringLiteral("Сжать") : QStringLiteral("Растянуть"), group);
  scaleButton_->setObjectName(QStringLiteral("RadioButton1"));
  keepButton_ = new QRadioButton(QStringLiteral("Оставить как есть"), group);
  keepButton_->setObjectName(QStringLiteral("RadioButton2"));
  scaleButton_->setChecked(true);
  startRowLabel_ = new QLabel(QStringLiteral("Начать с Y:"), group);
  startRowEdit_ = new QSpinBox(group);
  startRowEdit_->setObjectName(QStringLiteral("SpinEdit1"));
  startRowEdit_->setRange(0, std::max(0, pictureHeight - rows));
  startRowLabel_->setVisible(taller);
  startRowEdit_->setVisible(taller);
  startRowEdit_->setEnabled(false);
  connect(keepButton_, &QRadioButton::toggled, startRowEdit_, &QSpinBox::setEnabled);

  auto* groupLayout = new QGridLayout(group);
  groupLayout->addWidget(scaleButton_, 0, 0, 1, 2);
  groupLayout->addWidget(keepButton_, 1, 0, 1, 2);
  groupLayout->addWidget(startRowLabel_, 2, 0);
  groupLayout->addWidget(startRowEdit_, 2, 1);

  auto* heightRow = new QHBoxLayout;
  heightRow->addWidget(heightLabel);
  heightRow->addWidget(heightValue);
  heightRow->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(heightRow);
  layout->addWidget(group);
  layout->addLayout(MakeOkCancelRow(this));
  setFixedSize(sizeHint().expandedTo(QSize(260, 0)));
}

ImportMode TImgImpForm::Mode() const {
  ImportMode mode;
  mode.scale = scaleButton_->isChecked();
  mode.startRow = mode.scale ? 0 : startRowEdit_->value();
  return mode;
}

std::optional<ImportMode> AskImportMode(QWidget* parent, int rows, int pictureHeight) {
  if (ImportQuestionCapture* capture = ImportQuestionCapture::Active())
    return capture->Record(rows, pictureHeight);
  TImgImpForm form(rows, pictureHeight, parent);
  if (form.exec() != QDialog::Accepted) return std::nullopt;
  return form.Mode();
}

ImportQuestionCapture::ImportQuestionCapture() : previous_(activeCapture) { activeCapture = this; }
ImportQuestionCapture::~ImportQuestionCapture() { activeCapture = previous_; }
ImportQuestionCapture* ImportQuestionCapture::Active() { return activeCapture; }

std::optional<ImportMode> ImportQuestionCapture::Record(int rows, int pictureHeight) {
  questions_.push_back({rows, pictureHeight});
  if (answers_.empty()) return std::nullopt;
  const std::optional<ImportMode> answer = answers_.front();
  answers_.erase(answers_.begin());
  return answer;
}

}  // namespace lentar::gui
