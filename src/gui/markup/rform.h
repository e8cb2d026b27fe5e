// The emulation window "Табло бегущая строка": a picture of the board's LED
// matrix (TDrawPanel) in which the preview of a set runs, with "Стоп",
// "Закрыть" and the share of lit LEDs ("Включено: N%").
//
// RunEmulation compiles a set, builds the board emulation over the font bank
// and drives it from a timer of the window's thread in board time: every frame is 10 ms of board
// time, and a late timer tick runs the frames it owes, so the preview scrolls
// at the board's real speed while the window stays responsive. Each tick
// paints the last frame into the panel's one off-screen image.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "gui/markup/ledpicture.h"
#include "markup/emulation.h"

class QLabel;
class QPushButton;

namespace lentar {
class TTabFontList;
struct TSettings;
}  // namespace lentar

namespace lentar::gui {

// The LED picture: receives each frame's columns x rows colour indexes and
// paints them, off screen, into one image that is copied to the screen in
// one piece. A lock keeps painting and frame updates apart.
class TDrawPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TDrawPanel(QWidget* parent = nullptr);

  // Board geometry in LEDs and the cell geometry; fixes the panel's size and
  // clears the picture.
  void SetGeometry(int columns, int rows, const LedGeometry& geometry);
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  LedGeometry Geometry() const { return geometry_; }

  // Paints a frame (columns * rows indexes) with the palette (0x00BBGGRR
  // entries) into the off-screen image and schedules a repaint. Returns the
  // lit count.
  int ShowFrame(const uint8_t* frame, const std::array<uint32_t, 256>& palette);
  // A black picture.
  void Clear();
  // A copy of the off-screen image.
  QImage Picture() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  mutable std::mutex lock_;
  QImage image_;
  int columns_ = 8;
  int rows_ = 8;
  LedGeometry geometry_;
};

class TRForm : public QWidget {
  Q_OBJECT

 public:
  explicit TRForm(QWidget* parent = nullptr);

  // Sizes the LED picture for the board (the cell pitch follows the screen)
  // and keeps the palette of 2^channelCount colours; the window fits itself
  // around the picture.
  void SetBoard(int columns, int fontHeightBytes, const std::array<uint32_t, 8>& channelColors,
                int channelCount);
  // Black picture, "Включено: 0%", stop flag cleared.
  void Reset();

  TDrawPanel* Panel() const { return panel_; }
  // Paints a frame; the label follows the lit share when it changes.
  void ShowFrame(const uint8_t* frame, const std::array<uint32_t, 256>& palette);
  // The same with the palette of the board set by SetBoard.
  void ShowFrame(const uint8_t* frame) { ShowFrame(frame, palette_); }
  const std::array<uint32_t, 256>& Palette() const { return palette_; }
  // Shows lit * 100 / (columns * rows) in the label.
  void ShowLitCount(int lit);
  int LitPercent() const { return litPercent_; }

  bool StopRequested() const { return stopRequested_; }
  // Whether a run is going on in the window.
  bool Running() const { return running_; }
  void SetRunning(bool running) { running_ = running; }
  void RequestStop();

 signals:
  // "Стоп" was pressed or the window is closing.
  void stopRequested();
  // The window was closed; the owner releases it and makes a new one for the
  // next preview.
  void closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TDrawPanel* panel_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QLabel* litLabel_ = nullptr;
  std::array<uint32_t, 256> palette_{};
  bool stopRequested_ = false;
  bool running_ = false;
  int lastLit_ = -1;
  int litPercent_ = 0;
};

// Frames a timer tick owes at elapsedMs of wall time since the run started,
// with framesRun frames made so far and frame 0 due at wallBaseMs: one frame
// per 10 ms. At most maxCatchUp frames are owed at once; board time beyond
// that is dropped by moving wallBaseMs on, so a stalled window does not race
// afterwards. 0 when nothing is due yet.
int64_t FramesOwed(int64_t elapsedMs, int64_t& wallBaseMs, int64_t framesRun, int64_t maxCatchUp);

// Extra controls of a run, for tests and tools.
struct EmulationRunOptions {
  // Board time clock for the live values; empty: the computer's clock.
  EmulationClock clock;
  // Pace frames by the wall clock (10 ms per frame). false: as fast as the
  // event loop allows, still painting and handling events every tick.
  bool realTime = true;
  // Stop after this many frames (0: no limit besides the engine's own),
  // leaving the last frame on the window; the run then counts as stopped.
  uint32_t frameLimit = 0;
};

// Starts the preview of text (Windows-1251 set text) at speed level speed
// on a board of boardColumns columns, with the bank's current height and
// font selection, in window (shown and sized for the board), and returns at
// once: the run goes on from a timer of the window's thread, which keeps
// handling its events; no event loop of its own. done gets the emulated time
// in milliseconds once the text has run out, or -1 when stopped, when the
// window was closed or destroyed, at the frame limit, or when the bank has
// no font of the current height (then "В банке нет ни одного шрифта заданной
// высоты!" is shown as an error). A window that is already running a preview
// is not used again (-1). A run refused at the start calls done before
// RunEmulation returns. The bank must outlive the run.
void RunEmulation(const std::string& text, int speed, int boardColumns, TRForm* window,
                  int channelCount, const std::array<uint32_t, 8>& channelColors,
                  TTabFontList& bank, const TSettings& settings,
                  std::function<void(int64_t)> done);
void RunEmulation(const std::string& text, int speed, int boardColumns, TRForm* window,
                  int channelCount, const std::array<uint32_t, 8>& channelColors,
                  TTabFontList& bank, const TSettings& settings,
                  const EmulationRunOptions& options, std::function<void(int64_t)> done);

}  // namespace lentar::gui
