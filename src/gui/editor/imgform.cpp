#include "gui/editor/imgform.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/settings.h"
#include "gui/common/dialogbuttons.h"
#include "gui/common/filedialogs.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"
#include "gui/editor/imgimpform.h"
#include "gui/markup/colorform.h"
#include "gui/markup/ledpicture.h"
#include "markup/picturefile.h"
#include "qtpicture/qtpicturereader.h"

namespace lentar::gui {

namespace imageeditor {

TDrawPanel::TDrawPanel(QWidget* parent) : lentar::gui::TDrawPanel(parent) {
  setObjectName(QStringLiteral("ImgDrawPanel"));
  setCursor(Qt::CrossCursor);
}

void TDrawPanel::SetBorder(bool on) {
  border_ = on;
  update();
}

QPoint TDrawPanel::CellAt(const QPoint& point) const {
  const int pitch = std::max(Geometry().pitch, 1);
  if (point.x() < 0 || point.y() < 0) return QPoint(-1, -1);
  const int column = point.x() / pitch, row = point.y() / pitch;
  if (column >= Columns() || row >= Rows()) return QPoint(-1, -1);
  return QPoint(column, row);
}

void TDrawPanel::paintEvent(QPaintEvent* event) {
  lentar::gui::TDrawPanel::paintEvent(event);
  if (!border_) return;
  // A white outline around every cell's square, over its colour.
  const LedGeometry g = Geometry();
  const int pitch = std::max(g.pitch, 1);
  const int led = std::clamp(g.ledSize, 1, pitch);
  const int inset = (pitch - led) / 2;
  const QRect area = event->rect();
  const int firstColumn = std::max(0, area.left() / pitch);
  const int lastColumn = std::min(Columns() - 1, area.right() / pitch);
  const int firstRow = std::max(0, area.top() / pitch);
  const int lastRow = std::min(Rows() - 1, area.bottom() / pitch);
  QPainter painter(this);
  painter.setPen(Qt::white);
  for (int c = firstColumn; c <= lastColumn; ++c)
    for (int r = firstRow; r <= lastRow; ++r)
      painter.drawRect(c * pitch + inset, r * pitch + inset, led - 1, led - 1);
}

void TDrawPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier) {
    const QPoint cell = CellAt(event->position().toPoint());
    if (cell.x() >= 0) emit CellClicked(cell.x(), cell.y());
  }
  lentar::gui::TDrawPanel::mousePressEvent(event);
}

}  // namespace imageeditor

namespace {

QRect ScreenArea(const QWidget* widget) {
  const QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

TImgForm::TImgForm(const std::string& tagText, int heightBytes, int channelCount,
                   const std::array<int32_t, 8>& colours, QWidget* parent)
    : QDialog(parent), colours_(colours) {
  setObjectName(QStringLiteral("ImgForm"));
  setWindowTitle(QStringLiteral("Изображение"));
  setSizeGripEnabled(true);
  picture_.geometry = PictureGeometry(heightBytes, channelCount);
  const std::vector<uint32_t> palette = PicturePalette(colours_, picture_.geometry.channelCount);
  for (size_t i = 0; i < palette_.size(); ++i) palette_[i] = palette[i % palette.size()];

  panel_ = new imageeditor::TDrawPanel;
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("ScrollBox1"));
  scroll_->setWidget(panel_);
  scroll_->setWidgetResizable(false);
  scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  scroll_->setBackgroundRole(QPalette::Dark);
  connect(panel_, &imageeditor::TDrawPanel::CellClicked, this, &TImgForm::CellClick);

  controls_ = new QWidget(this);

  QGroupBox* penGroup = BuildPenGroup();
  QGroupBox* shiftGroup = BuildShiftGroup();
  QGroupBox* rotateGroup = BuildRotateGroup();
  QGroupBox* pictureGroup = BuildPictureGroup();
  QGroupBox* codeGroup = BuildCodeGroup();
  QVBoxLayout* fileColumn = BuildFileColumn();

  // Two rows under the panel: the drawing tools, then the code and the
  // file and closing buttons.
  auto* controlsLayout = new QGridLayout(controls_);
  controlsLayout->setContentsMargins(0, 0, 0, 0);
  controlsLayout->addWidget(penGroup, 0, 0);
  controlsLayout->addWidget(shiftGroup, 0, 1);
  controlsLayout->addWidget(rotateGroup, 0, 2);
  controlsLayout->addWidget(pictureGroup, 0, 3);
  controlsLayout->addWidget(codeGroup, 1, 0, 1, 3);
  controlsLayout->addLayout(fileColumn, 1, 3);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(scroll_, 1);
  layout->addWidget(controls_);

  ConnectControls();

  pen_ = static_cast<int>(picture_.geometry.ColourCount() - 1);
  DecodePictureTag(tagText, picture_);
  savedPixels_ = picture_.pixels;
  savedWidth_ = picture_.width;
  Changed();
  UpdatePenSample();
  openedTag_ = TagText();
}

// "Карандаш": the colour the pen draws with.
QGroupBox* TImgForm::BuildPenGroup() {
  auto* penGroup = MakeGroup(controls_, QStringLiteral("Карандаш"));
  fixedPenButton_ = MakeRadio(penGroup, QStringLiteral("Заданный"), "FixedPenButton");
  fixedPenButton_->setChecked(true);
  cyclePenButton_ = MakeRadio(penGroup, QStringLiteral("Менять последов."), "CyclePenButton");
  penSample_ = new QLabel(penGroup);
  penSample_->setObjectName(QStringLiteral("PenSample"));
  penSample_->setFixedSize(24, 24);
  penSample_->setFrameShape(QFrame::Box);
  penSample_->setAutoFillBackground(true);
  chooseButton_ = MakeButton(penGroup, QStringLiteral("Выбор"), "ChooseButton");
  auto* penLayout = new QGridLayout(penGroup);
  penLayout->addWidget(fixedPenButton_, 0, 0, 1, 2);
  penLayout->addWidget(cyclePenButton_, 1, 0, 1, 2);
  penLayout->addWidget(penSample_, 2, 0);
  penLayout->addWidget(chooseButton_, 2, 1);
  return penGroup;
}

// "Сдвиг": shifts and fill.
QGroupBox* TImgForm::BuildShiftGroup() {
  auto* shiftGroup = MakeGroup(controls_, QStringLiteral("Сдвиг"));
  leftButton_ = MakeButton(shiftGroup, QStringLiteral("Влево"), "LeftButton");
  rightButton_ = MakeButton(shiftGroup, QStringLiteral("Вправо"), "RightButton");
  upButton_ = MakeButton(shiftGroup, QStringLiteral("Вверх"), "UpButton");
  downButton_ = MakeButton(shiftGroup, QStringLiteral("Вниз"), "DownButton");
  fillButton_ = MakeButton(shiftGroup, QStringLiteral("Заливка"), "FillButton");
  auto* shiftLayout = new QGridLayout(shiftGroup);
  shiftLayout->addWidget(upButton_, 0, 0, 1, 2, Qt::AlignHCenter);
  shiftLayout->addWidget(leftButton_, 1, 0);
  shiftLayout->addWidget(rightButton_, 1, 1);
  shiftLayout->addWidget(downButton_, 2, 0, 1, 2, Qt::AlignHCenter);
  shiftLayout->addWidget(fillButton_, 3, 0, 1, 2);
  return shiftGroup;
}

// "Поворот".
QGroupBox* TImgForm::BuildRotateGroup() {
  auto* rotateGroup = MakeGroup(controls_, QStringLiteral("Поворот"));
  auto* rotateLayout = new QGridLayout(rotateGroup);
  const int angles[] = {0, 90, 180, 270};
  for (int i = 0; i < 4; ++i) {
    angleButtons_[i] = new QRadioButton(QString::number(angles[i]) + QChar(0x00B0), rotateGroup);
    angleButtons_[i]->setObjectName(QStringLiteral("Angle%1Button").arg(angles[i]));
    rotateLayout->addWidget(angleButtons_[i], i / 2, i % 2);
  }
  angleButtons_[1]->setChecked(true);
  mirrorXBox_ = MakeCheck(rotateGroup, QStringLiteral("Зеркально отн. X"), "MirrorXBox");
  mirrorYBox_ = MakeCheck(rotateGroup, QStringLiteral("Зеркально отн. Y"), "MirrorYBox");
  rotateButton_ = MakeButton(rotateGroup, QStringLiteral("Вращать"), "RotateButton");
  rotateLayout->addWidget(mirrorXBox_, 2, 0, 1, 2);
  rotateLayout->addWidget(mirrorYBox_, 3, 0, 1, 2);
  rotateLayout->addWidget(rotateButton_, 4, 0, 1, 2);
  return rotateGroup;
}

// "Рисунок": width, name, border and the remembered state.
QGroupBox* TImgForm::BuildPictureGroup() {
  auto* pictureGroup = MakeGroup(controls_, QStringLiteral("Рисунок"));
  widthEdit_ = new QSpinBox(pictureGroup);
  widthEdit_->setObjectName(QStringLiteral("WidthEdit"));
  widthEdit_->setRange(1, picture_.geometry.MaxWidth());
  nameEdit_ = MakeEdit(pictureGroup, "NameEdit");
  borderBox_ = MakeCheck(pictureGroup, QStringLiteral("Граница"), "BorderBox");
  rememberButton_ = MakeButton(pictureGroup, QStringLiteral("Запомнить"), "RememberButton");
  restoreButton_ = MakeButton(pictureGroup, QStringLiteral("Восстан."), "RestoreButton");
  auto* pictureLayout = new QGridLayout(pictureGroup);
  pictureLayout->addWidget(new QLabel(QStringLiteral("Ширина:"), pictureGroup), 0, 0);
  pictureLayout->addWidget(widthEdit_, 0, 1);
  pictureLayout->addWidget(new QLabel(QStringLiteral("Имя:"), pictureGroup), 1, 0);
  pictureLayout->addWidget(nameEdit_, 1, 1);
  pictureLayout->addWidget(borderBox_, 2, 0, 1, 2);
  pictureLayout->addWidget(rememberButton_, 3, 0);
  pictureLayout->addWidget(restoreButton_, 3, 1);
  return pictureGroup;
}

// "Код": the tag text.
QGroupBox* TImgForm::BuildCodeGroup() {
  auto* codeGroup = MakeGroup(controls_, QStringLiteral("Код"));
  codeEdit_ = new QPlainTextEdit(codeGroup);
  codeEdit_->setObjectName(QStringLiteral("CodeEdit"));
  codeEdit_->setMinimumWidth(200);
  codeEdit_->setMaximumHeight(110);
  applyButton_ = MakeButton(codeGroup, QStringLiteral("Применить"), "ApplyButton");
  auto* codeLayout = new QVBoxLayout(codeGroup);
  codeLayout->addWidget(codeEdit_);
  codeLayout->addWidget(applyButton_, 0, Qt::AlignRight);
  return codeGroup;
}

// The file buttons and the closing buttons.
QVBoxLayout* TImgForm::BuildFileColumn() {
  fromFileButton_ = MakeButton(controls_, QStringLiteral("Из файла"), "FromFileButton");
  toFileButton_ = MakeButton(controls_, QStringLiteral("В файл"), "ToFileButton");
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  MakeOkCancelButtons(this, &ok, &cancel, false);
  ok->setAutoDefault(false);
  cancel->setAutoDefault(false);
  auto* fileColumn = new QVBoxLayout;
  fileColumn->addWidget(fromFileButton_);
  fileColumn->addWidget(toFileButton_);
  fileColumn->addStretch(1);
  fileColumn->addWidget(ok);
  fileColumn->addWidget(cancel);
  return fileColumn;
}

void TImgForm::ConnectControls() {
  connect(chooseButton_, &QPushButton::clicked, this, &TImgForm::ChooseClick);
  connect(fillButton_, &QPushButton::clicked, this, &TImgForm::FillClick);
  connect(leftButton_, &QPushButton::clicked, this, [this] { ShiftPictureLeft(picture_); Changed(); });
  connect(rightButton_, &QPushButton::clicked, this, [this] { ShiftPictureRight(picture_); Changed(); });
  connect(upButton_, &QPushButton::clicked, this, [this] { ShiftPictureUp(picture_); Changed(); });
  connect(downButton_, &QPushButton::clicked, this, [this] { ShiftPictureDown(picture_); Changed(); });
  connect(widthEdit_, &QSpinBox::valueChanged, this, &TImgForm::WidthChanged);
  connect(nameEdit_, &QLineEdit::textEdited, this, &TImgForm::NameEdited);
  connect(borderBox_, &QCheckBox::toggled, panel_, &imageeditor::TDrawPanel::SetBorder);
  connect(rememberButton_, &QPushButton::clicked, this, &TImgForm::RememberClick);
  connect(restoreButton_, &QPushButton::clicked, this, &TImgForm::RestoreClick);
  connect(applyButton_, &QPushButton::clicked, this, &TImgForm::ApplyClick);
  connect(rotateButton_, &QPushButton::clicked, this, &TImgForm::RotateClick);
  connect(fromFileButton_, &QPushButton::clicked, this, &TImgForm::FromFileClick);
  connect(toFileButton_, &QPushButton::clicked, this, &TImgForm::ToFileClick);
}

std::string TImgForm::TagText() const { return EncodePictureTag(picture_); }

std::array<uint32_t, 8> TImgForm::ColourArray() const {
  std::array<uint32_t, 8> colours{};
  for (size_t i = 0; i < colours.size(); ++i) colours[i] = static_cast<uint32_t>(colours_[i]) & 0xFFFFFFu;
  return colours;
}

void TImgForm::UpdatePanelGeometry() {
  const QRect screen = ScreenArea(this);
  const int rows = picture_.geometry.Rows();
  // The panel may take the screen's height less the rest of the window.
  const int rest = controls_->sizeHint().height() + 60;
  LedGeometry g = ComputeLedGeometry(screen.width(), screen.height() - rest, picture_.width, rows);
  const int minDot = screen.width() / 150;
  g.pitch = std::min(g.pitch, 20);
  g.ledSize = std::min(g.ledSize, g.pitch);
  if (g.ledSize < minDot) {
    g.ledSize = minDot;
    g.pitch = std::max(g.pitch, static_cast<int>(std::lround(minDot * 1.5)));
    g.pitch = std::min(g.pitch, 20);
    g.ledSize = std::min(g.ledSize, g.pitch);
  }
  const LedGeometry old = panel_->Geometry();
  if (panelColumns_ != picture_.width || old.pitch != g.pitch || old.ledSize != g.ledSize ||
      panel_->Rows() != rows) {
    panel_->SetGeometry(picture_.width, rows, g);
    panelColumns_ = picture_.width;
  }
}

void TImgForm::Changed() {
  if (updating_) return;
  updating_ = true;
  UpdatePanelGeometry();
  panel_->ShowFrame(picture_.pixels.data(), palette_);
  widthEdit_->setValue(picture_.width);
  const QString name = FromBoardText(picture_.name);
  if (nameEdit_->text() != name) nameEdit_->setText(name);
  codeEdit_->setPlainText(FromBoardText(EncodePictureTag(picture_)));
  updating_ = false;
}

void TImgForm::UpdatePenSample() {
  const uint32_t bgr = MixChannelColours(colours_, picture_.geometry.channelCount, static_cast<unsigned>(pen_));
  QPalette pal = penSample_->palette();
  pal.setColor(QPalette::Window, QColor::fromRgb(ScreenColour(bgr)));
  penSample_->setPalette(pal);
  penSample_->setToolTip(QString::number(pen_));
}

void TImgForm::CellClick(int column, int row) {
  if (column < 0 || row < 0 || column >= picture_.width || row >= picture_.geometry.Rows()) return;
  const unsigned count = picture_.geometry.ColourCount();
  const uint8_t old = picture_.Pixel(column, row);
  const unsigned value = cyclePenButton_->isChecked() ? (old + 1u) % count : static_cast<unsigned>(pen_);
  picture_.SetPixel(column, row, static_cast<uint8_t>(value));
  Changed();
}

void TImgForm::ChooseClick() {
  const std::optional<int> value = PickColorValue(this, picture_.geometry.channelCount, ColourArray(), pen_,
                                                  QStringLiteral("Цвет карандаша"));
  if (!value) return;
  pen_ = std::clamp(*value, 0, static_cast<int>(picture_.geometry.ColourCount() - 1));
  UpdatePenSample();
}

void TImgForm::FillClick() {
  const std::optional<int> value = PickColorValue(this, picture_.geometry.channelCount, ColourArray(), pen_,
                                                  QStringLiteral("Цвет заливки"));
  if (!value) return;
  const uint8_t index =
      static_cast<uint8_t>(std::clamp(*value, 0, static_cast<int>(picture_.geometry.ColourCount() - 1)));
  std::fill_n(picture_.pixels.begin(), static_cast<size_t>(picture_.width) * picture_.geometry.Rows(), index);
  Changed();
}

void TImgForm::WidthChanged(int width) {
  if (updating_) return;
  picture_.SetWidth(width);
  Changed();
}

void TImgForm::NameEdited(const QString& name) {
  if (updating_) return;
  picture_.name = ToBoardText(name);
  Changed();
}

void TImgForm::RememberClick() {
  savedPixels_ = picture_.pixels;
  savedWidth_ = picture_.width;
}

void TImgForm::RestoreClick() {
  const auto answer = OwnedMessageBox(this, QStringLiteral("Внимание!"),
                                      QStringLiteral("Будет восстановлено запомненное состояние! Продолжить?"),
                                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning, QMessageBox::No);
  if (answer != QMessageBox::Yes) return;
  picture_.pixels = savedPixels_;
  picture_.SetWidth(savedWidth_);
  Changed();
}

void TImgForm::ApplyClick() {
  if (updating_) return;
  DecodePictureTag(ToBoardText(codeEdit_->toPlainText()), picture_);
  Changed();
}

void TImgForm::RotateClick() {
  int angle = 0;
  for (int i = 0; i < 4; ++i)
    if (angleButtons_[i]->isChecked()) angle = 90 * i;
  const int width = RotatePicture(picture_.width, picture_.pixels.data(), angle,
                                  picture_.geometry.fontHeightBytes, mirrorXBox_->isChecked(),
                                  mirrorYBox_->isChecked());
  picture_.SetWidth(width);
  Changed();
}

void TImgForm::FromFileClick() {
  std::string folder = DialogStartFolder(Settings().ImageDir);
  std::string path;
  if (!ChooseOpenFile(this, QStringLiteral("Загрузить рисунок из файла:"),
                      QStringLiteral("Файлы рисунков (*.bmp;*.jpg;*.png;*.gif;*.webp)|"
                                     "*.bmp;*.jpg;*.jpeg;*.png;*.gif;*.webp|Иконки (*.ico)|*.ico|"
                                     "BMP файлы (*.bmp)|*.bmp|JPG файлы (*.jpg)|*.jpg;*.jpeg|"
                                     "PNG файлы (*.png)|*.png|GIF файлы (*.gif)|*.gif|"
                                     "WebP файлы (*.webp)|*.webp|Текстовые файлы (*.txt)|*.txt"),
                      folder, 0, path, false, true))
    return;
  Settings().ImageDir = folder;
  const PictureLoadResult result = LoadPictureFile(
      path, picture_.geometry, colours_, kPictureImportCapacity,
      [this](int rows, int height) { return AskImportMode(this, rows, height); }, &QtPictureReader());
  switch (result.status) {
    case PictureLoadStatus::UnknownType:
      ShowError(QStringLiteral("Неизвестный тип файла!\nЧитаются файлы %1.")
                    .arg(QLatin1String(ReadablePictureKinds())));
      return;
    case PictureLoadStatus::ReadError:
      ShowError(QStringLiteral("Ошибка чтения файла!"));
      return;
    case PictureLoadStatus::Cancelled:
      return;
    case PictureLoadStatus::Ok:
      break;
  }
  if (result.isText) {
    DecodePictureTag(result.text, picture_);
  } else {
    picture_.Clear();
    const size_t rows = static_cast<size_t>(picture_.geometry.Rows());
    std::copy_n(result.pixels.begin(), std::min(result.pixels.size(), picture_.pixels.size() / rows * rows),
                picture_.pixels.begin());
    picture_.SetWidth(result.width);
    picture_.name = result.name;
  }
  Changed();
}

void TImgForm::ToFileClick() {
  std::string folder = DialogStartFolder(Settings().ImageDir);
  std::string path = ProposedBmpName(ToBoardText(nameEdit_->text()));
  if (!ChooseSaveFile(this, QStringLiteral("Сохранить рисунок как:"), QStringLiteral("BMP файлы (*.bmp)|*.bmp"),
                      QStringLiteral("bmp"), 0, path, true, true, folder))
    return;
  Settings().ImageDir = folder;
  if (!SavePictureBmp(path, picture_.width, picture_.geometry.Rows(), picture_.pixels.data(), colours_,
                      picture_.geometry.channelCount))
    ShowError(QStringLiteral("Ошибка записи файла ") + FromBoardText(path));
}

void TImgForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    FormShow();
  }
}

void TImgForm::FormShow() {
  picture_.SetWidth(widthEdit_->value());
  savedPixels_ = picture_.pixels;
  savedWidth_ = picture_.width;
  pen_ = static_cast<int>(picture_.geometry.ColourCount() - 1);
  UpdatePenSample();
  Changed();
  FitWindow();
}

void TImgForm::FitWindow() {
  const QRect screen = ScreenArea(this);
  const IntRect& r = Settings().ImCoor;
  const QRect stored(r.left, r.top, r.right - r.left, r.bottom - r.top);
  if (stored.width() >= 300 && stored.height() >= 300) {
    // The stored place, pulled back onto the screen.
    QRect place(stored.topLeft(), stored.size().boundedTo(screen.size()).expandedTo(minimumSizeHint()));
    place.moveLeft(std::clamp(place.left(), screen.left(), screen.right() + 1 - place.width()));
    place.moveTop(std::clamp(place.top(), screen.top(), screen.bottom() + 1 - place.height()));
    setGeometry(place);
    return;
  }
  // Around the panel, within the screen.
  const QSize frame = scroll_->frameSize() - scroll_->viewport()->size();
  const QSize wanted(std::max(panel_->width() + frame.width() + 30, controls_->sizeHint().width() + 20),
                     panel_->height() + frame.height() + controls_->sizeHint().height() + 40);
  resize(wanted.boundedTo(screen.size()).expandedTo(minimumSizeHint()).expandedTo(QSize(300, 300)));
}

void TImgForm::done(int result) {
  const QRect g = geometry();
  Settings().ImCoor = IntRect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  QDialog::done(result);
}

void TImgForm::reject() {
  // Nothing to lose: the picture is still the one the editor opened.
  if (TagText() == openedTag_) {
    QDialog::reject();
    return;
  }
  const auto answer = OwnedMessageBox(this, QStringLiteral("Внимание!"),
                                      QStringLiteral("Все изменения будут потеряны! Продолжить?"),
                                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning, QMessageBox::No);
  if (answer == QMessageBox::Yes) QDialog::reject();
}

bool EditPicture(QWidget* parent, std::string& tagText, int heightBytes, int channelCount,
                 const std::array<int32_t, 8>& colours) {
  TImgForm form(tagText, heightBytes, channelCount, colours, parent);
  if (form.exec() != QDialog::Accepted) return false;
  tagText = form.TagText();
  return true;
}

}  // namespace lentar::gui
