// TSearchForm: the small window shown while the ports are searched for a
// board. It names the port being probed, shows how far the search has got,
// and offers "Прервать", which ends the search once the current port is done
// (the fixed waits make a search of many ports take minutes).
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace lentar::gui {

class TSearchForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSearchForm(int portCount, QWidget* parent = nullptr);

  // Shows which port (0-based position among portCount) is being probed.
  void ShowPort(int position, const QString& name);
  bool AbortRequested() const { return abortRequested_; }

 signals:
  // "Прервать" (once).
  void abortRequested();

 protected:
  void reject() override;  // Escape and the window's close button abort too

 private:
  QLabel* portLabel_ = nullptr;
  QProgressBar* gauge_ = nullptr;
  QPushButton* abortButton_ = nullptr;
  bool abortRequested_ = false;
};

}  // namespace lentar::gui
