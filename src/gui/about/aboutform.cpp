#include "gui/about/aboutform.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QVBoxLayout>
#include <chrono>
#include <fstream>

#include "core/paths.h"
#include "gui/common/messages.h"

namespace lentar::gui {

namespace {

constexpr int kPictureWidth = 480;
constexpr int kPictureHeight = 260;
// Longest part of vendor.ini that is read, and most lines taken from it.
constexpr std::streamsize kMaxVendorBytes = 64 * 1024;
constexpr int kMaxVendorLines = 1000;

QString WithoutControls(const QString& text) {
  QString result;
  for (QChar c : text) {
    if (c == QLatin1Char('\t')) {
      result.append(QLatin1Char(' '));
    } else if (c.unicode() >= 32) {
      result.append(c);
    }
  }
  return result;
}

// The background: a pale sky over a strip of board LEDs.
QImage MakeBackground() {
  QImage picture(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  QPainter painter(&picture);
  QLinearGradient sky(0, 0, 0, kPictureHeight);
  sky.setColorAt(0.0, QColor(255, 255, 255));
  sky.setColorAt(0.75, QColor(214, 232, 250));
  sky.setColorAt(1.0, QColor(170, 200, 235));
  painter.fillRect(picture.rect(), sky);
  // A running-line board at the bottom: a dark frame with a wave of lit LEDs.
  const QRect board(8, 212, kPictureWidth - 16, 40);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(60, 60, 70), 2));
  painter.setBrush(QColor(20, 20, 24));
  painter.drawRoundedRect(board, 4, 4);
  const int pitch = 6;
  for (int x = board.left() + 6; x + 4 < board.right() - 2; x += pitch) {
    const int column = (x - board.left()) / pitch;
    for (int row = 0; row < 5; ++row) {
      const int y = board.top() + 7 + row * pitch;
      const bool lit = ((column / 3 + row) % 5 == 0) || ((column + 2 * row) % 11 == 0);
      const QColor colour = lit ? (column % 2 ? QColor(255, 60, 40) : QColor(255, 200, 0))
                                : QColor(60, 20, 20);
      QRadialGradient glow(QPointF(x + 2, y + 2), 3);
      glow.setColorAt(0, lit ? colour.lighter(150) : colour);
      glow.setColorAt(1, colour);
      painter.setPen(Qt::NoPen);
      painter.setBrush(glow);
      painter.drawEllipse(QRectF(x, y, 4.5, 4.5));
    }
  }
  return picture;
}

}  // namespace

QStringList CreditLines(const std::string& programFolder) {
  QStringList lines;
  std::ifstream in(NativePath(programFolder + "vendor.ini"), std::ios::binary);
  if (in) {
    std::string bytes(static_cast<size_t>(kMaxVendorBytes), '\0');
    in.read(bytes.data(), kMaxVendorBytes);
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    // Lines end in CR LF, LF or a lone CR.
    std::string line;
    bool pendingLine = false;
    for (size_t i = 0; i < bytes.size() && lines.size() < kMaxVendorLines; ++i) {
      const char c = bytes[i];
      if (c == '\r' || c == '\n') {
        lines.append(WithoutControls(FromBoardText(line)));
        line.clear();
        pendingLine = false;
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      } else {
        line.push_back(c);
        pendingLine = true;
      }
    }
    if (pendingLine && lines.size() < kMaxVendorLines) {
      lines.append(WithoutControls(FromBoardText(line)));
    }
  }
  lines.append(QString());
  lines.append(QStringLiteral("Lentar - редактор и загрузчик бегущей строки"));
  lines.append(QStringLiteral("Версия " LENTAR_VERSION));
  lines.append(QString());
  lines.append(QStringLiteral("Поддержка шрифтов высотой 8,16,24 и 32 пиксела"));
  lines.append(QStringLiteral("Поддержка цвета - до 8 цветовых каналов на пиксел"));
  lines.append(QStringLiteral("Импорт изображений из bmp, jpg и ico файлов"));
  return lines;
}

// The full-window panel that shows the frames.
class TAboutForm::TMyPanel : public QWidget {
 public:
  explicit TMyPanel(TAboutForm* form) : QWidget(form), form_(form) {
    setObjectName(QStringLiteral("MyPanel"));
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    const QImage frame = form_->PaintFrame();
    if (frame.isNull()) return;
    QPainter painter(this);
    painter.drawImage(0, 0, frame);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    event->accept();
    form_->accept();
  }

 private:
  TAboutForm* form_;
};

TAboutForm::TAboutForm(const QStringList& lines, QWidget* parent)
    : QDialog(parent), lines_(lines) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral("О программе"));
  setModal(true);
  background_ = MakeBackground();
  buffer_ = QImage(background_.size(), QImage::Format_RGB32);
  textFont_ = QFont(QStringLiteral("MS Sans Serif"));
  textFont_.setPixelSize(16);
  pitch_ = QFontMetrics(textFont_).height() + 2;
  if (pitch_ < 3) pitch_ = 18;

  panel_ = new TMyPanel(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(panel_);
  setFixedSize(background_.size());
}

TAboutForm::~TAboutForm() { StopAnimation(); }

int TAboutForm::Offset() const {
  std::lock_guard<std::mutex> guard(lock_);
  return offset_;
}

void TAboutForm::SetOffset(int offset) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    offset_ = offset;
  }
  if (panel_) panel_->update();
}

QImage TAboutForm::PaintFrame() {
  std::lock_guard<std::mutex> guard(lock_);
  if (painting_) return {};
  painting_ = true;
  int first = offset_ / pitch_;
  if (first > lines_.size()) {
    offset_ = kStartOffset;
    first = offset_ / pitch_;
  }
  int y = kTextTop - offset_ % pitch_;
  {
    QPainter painter(&buffer_);
    painter.drawImage(0, 0, background_);
    // The credits stay inside the text area, off the board at the bottom.
    painter.setClipRect(QRect(0, kTextTop, buffer_.width(), kTextBottom - kTextTop));
    painter.setFont(textFont_);
    painter.setPen(QColor(0, 0, 255));
    painter.setBackgroundMode(Qt::TransparentMode);
    const QFontMetrics metrics(textFont_);
    for (int i = first; i < lines_.size() && y < kTextBottom; ++i, y += pitch_) {
      if (i < 0) continue;  // still below the start of the area
      painter.drawText(kTextLeft, y + metrics.ascent(), lines_[i]);
    }
  }
  painting_ = false;
  return buffer_;
}

void TAboutForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  StartAnimation();
}

void TAboutForm::hideEvent(QHideEvent* event) {
  StopAnimation();
  QDialog::hideEvent(event);
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
  event->accept();
  accept();
}

void TAboutForm::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  accept();
}

void TAboutForm::StartAnimation() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(wakeLock_);
    stopRequested_ = false;
  }
  thread_ = std::thread([this] { Animate(); });
}

void TAboutForm::StopAnimation() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(wakeLock_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TAboutForm::Animate() {
  std::unique_lock<std::mutex> wait(wakeLock_);
  auto next = std::chrono::steady_clock::now();
  for (;;) {
    next += std::chrono::milliseconds(kStepMilliseconds);
    if (wake_.wait_until(wait, next, [this] { return stopRequested_; })) return;
    {
      std::lock_guard<std::mutex> guard(lock_);
      ++offset_;
    }
    // The repaint happens on the interface thread; the thread is joined before
    // the panel goes away.
    QMetaObject::invokeMethod(panel_, qOverload<>(&QWidget::update), Qt::QueuedConnection);
  }
}

void ShowAbout(QWidget* parent) {
  TAboutForm form(CreditLines(SharedDataFolder()), parent);
  form.exec();
}

}  // namespace lentar::gui
