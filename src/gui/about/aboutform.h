// TAboutForm "О программе": a picture with the credits scrolling slowly
// upwards over it.
//
// The credits are the lines of the dealer's optional "vendor.ini" (plain
// Windows-1251 text lines beside the program) followed by an empty line and
// the fixed description of the program. An animation thread moves the scroll
// offset by one pixel every 50 ms (20 pixels per second) under the window's
// lock and asks for a repaint; only the interface thread paints. Any key or a
// double click closes the window.
#pragma once

#include <QDialog>
#include <QImage>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace lentar::gui {

// The credit lines: every line of folder + "vendor.ini" (without line ends or
// control characters; a missing or unreadable file gives none), an empty line,
// then the fixed description.
QStringList CreditLines(const std::string& programFolder);

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  // Text area: lines start at x = 5, from y = 2 down to y = 202.
  static constexpr int kTextLeft = 5;
  static constexpr int kTextTop = 2;
  static constexpr int kTextBottom = 202;
  // The offset the text starts from: the first line rises from the bottom of
  // the text area.
  static constexpr int kStartOffset = -200;
  static constexpr int kStepMilliseconds = 50;

  explicit TAboutForm(const QStringList& lines, QWidget* parent = nullptr);
  ~TAboutForm() override;

  const QStringList& Lines() const { return lines_; }
  int LinePitch() const { return pitch_; }
  int Offset() const;
  void SetOffset(int offset);
  // Whether the animation thread runs (from show to hide).
  bool Animating() const { return thread_.joinable(); }
  // Paints one frame into the off-screen buffer at the current offset (with
  // the wrap-around rule) and returns it.
  QImage PaintFrame();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  class TMyPanel;
  friend class TMyPanel;

  void StartAnimation();
  void StopAnimation();
  void Animate();

  QStringList lines_;
  QImage background_;
  QImage buffer_;
  QFont textFont_;
  int pitch_ = 18;
  TMyPanel* panel_ = nullptr;

  mutable std::mutex lock_;  // guards offset_ and buffer_
  int offset_ = kStartOffset;
  bool painting_ = false;

  std::thread thread_;
  std::mutex wakeLock_;
  std::condition_variable wake_;
  bool stopRequested_ = false;
};

// Shows the about box modally with the credits of the vendor.ini that ships
// with the program (SharedDataFolder()).
void ShowAbout(QWidget* parent);

}  // namespace lentar::gui
