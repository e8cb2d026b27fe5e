#include "gui/markup/rform.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>

#include "core/settings.h"
#include "gui/common/messages.h"
#include "gui/common/placement.h"
#include "markup/compiler.h"
#include "markup/fonts.h"

namespace lentar::gui {

namespace {

// A late timer tick runs at most this many owed frames (one second of board
// time); board time that cannot be caught up is dropped, not piled up.
constexpr int64_t kMaxCatchUpFrames = 100;
// Frames per tick when not pacing by the wall clock.
constexpr int64_t kUnpacedFramesPerTick = 10;

QRect ScreenArea(const QWidget* widget) {
  QScreen* screen = widget ? widget->screen() : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

// ---- TDrawPanel ---------------------------------------------------------------

TDrawPanel::TDrawPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DrawPanel"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  SetGeometry(8, 8, LedGeometry{});
}

void TDrawPanel::SetGeometry(int columns, int rows, const LedGeometry& geometry) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    columns_ = std::max(columns, 1);
    rows_ = std::max(rows, 1);
    geometry_ = geometry;
    image_ = QImage(columns_ * geometry_.pitch, rows_ * geometry_.pitch, QImage::Format_RGB32);
    image_.fill(0xFF000000u);
  }
  setFixedSize(columns_ * geometry_.pitch, rows_ * geometry_.pitch);
  update();
}

int TDrawPanel::ShowFrame(const uint8_t* frame, const std::array<uint32_t, 256>& palette) {
  int lit = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    lit = PaintLedFrame(image_, frame, columns_, rows_, geometry_, palette);
  }
  update();
  return lit;
}

void TDrawPanel::Clear() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    image_.fill(0xFF000000u);
  }
  update();
}

QImage TDrawPanel::Picture() const {
  std::lock_guard<std::mutex> guard(lock_);
  return image_.copy();
}

QSize TDrawPanel::sizeHint() const { return QSize(columns_ * geometry_.pitch, rows_ * geometry_.pitch); }

void TDrawPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  std::lock_guard<std::mutex> guard(lock_);
  painter.drawImage(0, 0, image_);
}

// ---- TRForm -------------------------------------------------------------------

TRForm::TRForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("RForm"));
  setWindowTitle(QStringLiteral("Табло бегущая строка"));

  panel_ = new TDrawPanel(this);
  litLabel_ = new QLabel(QStringLiteral("Включено: 0%"), this);
  litLabel_->setObjectName(QStringLiteral("LitLabel"));
  litLabel_->setMinimumWidth(litLabel_->fontMetrics().horizontalAdvance(
      QStringLiteral("Включено: 100%  ")));
  stopButton_ = new QPushButton(QStringLiteral("Стоп"), this);
  stopButton_->setObjectName(QStringLiteral("StopButton"));
  closeButton_ = new QPushButton(QStringLiteral("Закрыть"), this);
  closeButton_->setObjectName(QStringLiteral("CloseButton"));
  connect(stopButton_, &QPushButton::clicked, this, &TRForm::RequestStop);
  connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);

  auto* controls = new QHBoxLayout;
  controls->setContentsMargins(4, 0, 4, 0);
  controls->addWidget(litLabel_);
  controls->addStretch(1);
  controls->addWidget(stopButton_);
  controls->addWidget(closeButton_);

  auto* top = new QVBoxLayout(this);
  // The picture spans the window's whole width: at full-screen pitch the
  // window is exactly as wide as the screen.
  top->setContentsMargins(0, 0, 0, 4);
  top->addWidget(panel_, 0, Qt::AlignLeft | Qt::AlignTop);
  top->addLayout(controls);
  top->setSizeConstraint(QLayout::SetFixedSize);
}

void TRForm::SetBoard(int columns, int fontHeightBytes,
                      const std::array<uint32_t, 8>& channelColors, int channelCount) {
  const int channels = std::clamp(channelCount, 1, 8);
  palette_.fill(0);
  for (unsigned i = 0; i < (1u << channels); ++i) {
    palette_[i] = MixChannelColours(channelColors, channels, i);
  }
  columns = std::clamp(columns, 8, 2016);
  const int rows = std::clamp(fontHeightBytes, 1, 4) * 8;
  const QRect screen = ScreenArea(this);
  panel_->SetGeometry(columns, rows, ComputeLedGeometry(screen.width(), screen.height(), columns, rows));
  adjustSize();
  // A longer board makes a wider window: it stays on the screen, with "Стоп"
  // and "Закрыть" in reach.
  if (isVisible()) KeepOnScreen(*this);
}

void TRForm::Reset() {
  stopRequested_ = false;
  panel_->Clear();
  lastLit_ = -1;
  ShowLitCount(0);
}

void TRForm::ShowFrame(const uint8_t* frame, const std::array<uint32_t, 256>& palette) {
  const int lit = panel_->ShowFrame(frame, palette);
  if (lit != lastLit_) ShowLitCount(lit);
}

void TRForm::ShowLitCount(int lit) {
  lastLit_ = lit;
  const int total = panel_->Columns() * panel_->Rows();
  litPercent_ = total > 0 ? static_cast<int>(static_cast<int64_t>(lit) * 100 / total) : 0;
  litLabel_->setText(QStringLiteral("Включено: ") + QString::number(litPercent_) +
                     QStringLiteral("%"));
}

void TRForm::RequestStop() {
  stopRequested_ = true;
  emit stopRequested();
}

void TRForm::showEvent(QShowEvent* event) {
  // The stored place, moved where needed so that the whole window is on a
  // screen; the size follows the board.
  if (!RestoreWindowPosition(*this, Settings().DisplayCoor)) KeepOnScreen(*this);
  QWidget::showEvent(event);
}

void TRForm::hideEvent(QHideEvent* event) {
  Settings().DisplayCoor = WindowGeometryRect(*this);
  QWidget::hideEvent(event);
}

void TRForm::keyPressEvent(QKeyEvent* event) {
  // Escape closes the preview, as it closes a dialog.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TRForm::closeEvent(QCloseEvent* event) {
  // The run hears of it at once (stopRequested) and ends.
  RequestStop();
  QWidget::closeEvent(event);
  if (event->isAccepted()) emit closed();
}

// ---- RunEmulation -------------------------------------------------------------

int64_t FramesOwed(int64_t elapsedMs, int64_t& wallBaseMs, int64_t framesRun,
                   int64_t maxCatchUp) {
  int64_t due = (elapsedMs - wallBaseMs) / kFrameMilliseconds - framesRun;
  if (due <= 0) return 0;
  if (due > maxCatchUp) {
    wallBaseMs += (due - maxCatchUp) * kFrameMilliseconds;
    due = maxCatchUp;
  }
  return due;
}

namespace {

// One preview run: the emulation driven by a timer of the window's own
// thread, no event loop of its own. A child of the window, so it goes when
// the window goes (the run then ends with -1).
class EmulationRun : public QObject {
 public:
  EmulationRun(TRForm* form, std::unique_ptr<BoardEmulation> emulation,
               const EmulationRunOptions& options, std::function<void(int64_t)> done)
      : QObject(form),
        form_(form),
        emulation_(std::move(emulation)),
        options_(options),
        done_(std::move(done)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(options_.realTime ? kFrameMilliseconds : 0);
    connect(form_, &TRForm::stopRequested, this, [this] { Finish(-1); });
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    form_->SetRunning(true);
    wallClock_.start();
    timer_.start();
  }

  // The window went away during the run.
  ~EmulationRun() override {
    if (done_) std::exchange(done_, nullptr)(-1);
  }

 private:
  void Tick() {
    if (!done_) return;
    if (form_->StopRequested()) {
      Finish(-1);
      return;
    }
    int64_t due = kUnpacedFramesPerTick;
    if (options_.realTime) {
      due = FramesOwed(wallClock_.elapsed(), wallBase_, framesRun_, kMaxCatchUpFrames);
      if (due <= 0) return;
    }
    int64_t result = 0;
    bool more = true;
    for (int64_t i = 0; i < due; ++i) {
      if (options_.frameLimit != 0 && emulation_->FramesShown() >= options_.frameLimit) {
        result = -1;  // cut: counts as stopped
        more = false;
        break;
      }
      if (!emulation_->Step()) {
        result = emulation_->Result();
        more = false;
        break;
      }
      ++framesRun_;
    }
    form_->ShowFrame(emulation_->Frame(), emulation_->Palette());
    if (!more) Finish(result);
  }

  void Finish(int64_t result) {
    if (!done_) return;
    timer_.stop();
    form_->SetRunning(false);
    deleteLater();
    std::exchange(done_, nullptr)(result);
  }

  TRForm* form_;
  std::unique_ptr<BoardEmulation> emulation_;
  EmulationRunOptions options_;
  std::function<void(int64_t)> done_;
  QTimer timer_;
  QElapsedTimer wallClock_;
  int64_t wallBase_ = 0;  // wall time (ms) at which frame 0 was due
  int64_t framesRun_ = 0;
};

}  // namespace

void RunEmulation(const std::string& text, int speed, int boardColumns, TRForm* window,
                  int channelCount, const std::array<uint32_t, 8>& channelColors,
                  TTabFontList& bank, const TSettings& settings,
                  std::function<void(int64_t)> done) {
  RunEmulation(text, speed, boardColumns, window, channelCount, channelColors, bank, settings,
               EmulationRunOptions{}, std::move(done));
}

void RunEmulation(const std::string& text, int speed, int boardColumns, TRForm* window,
                  int channelCount, const std::array<uint32_t, 8>& channelColors,
                  TTabFontList& bank, const TSettings& settings,
                  const EmulationRunOptions& options, std::function<void(int64_t)> done) {
  if (!done) done = [](int64_t) {};
  const int heightBytes = std::clamp(bank.CurrentHeight(), 1, 4);
  const int channels = std::clamp(channelCount, 1, 8);

  EmulationSetup setup = EmulationSetup::FromSettings(settings);
  setup.boardColumns = boardColumns;
  setup.fontHeightBytes = heightBytes;
  setup.channelCount = channels;
  setup.channelColours = channelColors;
  setup.speedLevel = speed;

  CompileResult compiled = CompileBoardData(text, heightBytes, channels, SIZE_MAX);
  auto emulation = std::make_unique<BoardEmulation>(
      std::move(compiled.image), bank, setup,
      options.clock ? options.clock : EmulationClock(LocalEmulationTime));
  if (emulation->Refused()) {
    ShowError(FromBoardText(emulation->RefusalMessage()));
    done(-1);
    return;
  }
  if (!window || window->Running()) {
    done(-1);
    return;
  }

  window->SetBoard(emulation->BoardColumns(), heightBytes, channelColors, channels);
  window->Reset();
  window->show();
  window->raise();
  new EmulationRun(window, std::move(emulation), options, std::move(done));
}

}  // namespace lentar::gui
