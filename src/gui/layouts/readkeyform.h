// TReadKeyForm ("Ожидание..."): waits for one key press and tells which key it
// was, by its virtual-key code, for the key field of a correction rule.
#pragma once

#include <QDialog>

namespace lentar::gui {

class TReadKeyForm : public QDialog {
  Q_OBJECT

 public:
  explicit TReadKeyForm(QWidget* parent = nullptr);
  // The virtual-key code of the key pressed; 0 after Escape or closing.
  int KeyCode() const { return keyCode_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int keyCode_ = 0;
};

// Shows the window until a key is pressed without Shift, Ctrl or Alt held
// (presses with one of them are ignored). The key's virtual-key code, or 0
// for Escape and when the window is closed.
int ReadKey(QWidget* parent);

}  // namespace lentar::gui
