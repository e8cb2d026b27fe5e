// TProgressForm: the small non-modal progress window shown during uploads.
#pragma once

#include <QWidget>

class QProgressBar;

namespace lentar::gui {

class TProgressForm : public QWidget {
  Q_OBJECT

 public:
  // A tool window titled "Идет запись..." with one gauge at 0.
  explicit TProgressForm(QWidget* parent = nullptr);

  void SetTitle(const QString& title);
  // Shows the window centred on the screen without blocking.
  void ShowProgress();
  void HideProgress();
  // Sets the gauge, clamped to 0..100.
  void SetPercent(int percent);
  int Percent() const;

 private:
  QProgressBar* gauge_ = nullptr;
};

// Progress callback of the upload routines: context is the TProgressForm.
// Sets the gauge and lets the interface handle pending events so the window
// repaints during the transfer. A null context does nothing but the latter.
void StepProgress(void* form, int percent);

}  // namespace lentar::gui
