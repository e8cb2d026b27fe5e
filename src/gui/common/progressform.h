// TProgressForm: the small non-modal progress window shown during long
// device work, with "Прервать" when the work can be stopped.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace lentar::gui {

class TDeviceWork;

class TProgressForm : public QWidget {
  Q_OBJECT

 public:
  // A tool window titled "Идет запись..." with one gauge at 0 and the
  // button "Прервать" (hidden until the work can be stopped).
  explicit TProgressForm(QWidget* parent = nullptr);

  void SetTitle(const QString& title);
  // Shows the window centred on the screen without blocking: it repaints
  // as the window's thread runs its events.
  void ShowProgress();
  void HideProgress();
  // Sets the gauge, clamped to 0..100, and the line under it.
  void SetPercent(int percent);
  int Percent() const;
  // The size of the whole transfer: the line under the gauge then reads
  // "N из M байт (P%)", N worked out from the percentage; without it, "P%".
  void SetTotalBytes(size_t total);
  QString ProgressText() const;

  // Shows "Прервать": pressed, it emits interruptRequested once and is
  // disabled, the line under the gauge then reading "Прерывание...".
  void SetInterruptible(bool interruptible);
  // The gauge follows the work's progress and "Прервать" interrupts it.
  void Follow(TDeviceWork& work);

 signals:
  void interruptRequested();

 private:
  void UpdateText();
  void InterruptClicked();

  QProgressBar* gauge_ = nullptr;
  QLabel* text_ = nullptr;
  QPushButton* interruptButton_ = nullptr;
  bool interrupting_ = false;
  size_t total_ = 0;
};

// Progress callback of the transfer routines: context is the TProgressForm
// whose gauge is set; a null context does nothing.
void StepProgress(void* form, int percent);

}  // namespace lentar::gui
