// TProgressForm: the small non-modal progress window shown during uploads.
#pragma once

#include <QWidget>

class QLabel;
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
  // Sets the gauge, clamped to 0..100, and the line under it.
  void SetPercent(int percent);
  int Percent() const;
  // The size of the whole transfer: the line under the gauge then reads
  // "N из M байт (P%)", N worked out from the percentage; without it, "P%".
  void SetTotalBytes(size_t total);
  QString ProgressText() const;

 private:
  void UpdateText();

  QProgressBar* gauge_ = nullptr;
  QLabel* text_ = nullptr;
  size_t total_ = 0;
};

// Progress callback of the upload routines: context is the TProgressForm.
// Sets the gauge and lets the interface handle pending events so the window
// repaints during the transfer. A null context does nothing but the latter.
void StepProgress(void* form, int percent);

}  // namespace lentar::gui
