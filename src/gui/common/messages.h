// The one message service of the program. Every message box goes through
// here, so that tests can capture caption and text instead of blocking on a
// modal box, and so that the exact Russian texts live next to the windows that
// show them.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

namespace lentar::gui {

// Board and core texts are Windows-1251 bytes; windows hold Unicode.
QString FromBoardText(const std::string& cp1251);
std::string ToBoardText(const QString& text);

// Error box: caption "Ошибка", error icon, one OK button.
void ShowError(const QString& text);
void ShowError(const std::string& cp1251Text);
// Information box: caption "Информация", information icon, one OK button.
void ShowInfo(const QString& text);
void ShowInfo(const std::string& cp1251Text);
// Question with OK and Cancel; true when OK is pressed.
bool AskOkCancel(const QString& text, const QString& caption, bool cancelIsDefault);
// A message box owned by the given window, application-modal; returns the
// button pressed (the caller chooses buttons and icon).
QMessageBox::StandardButton OwnedMessageBox(QWidget* owner, const QString& caption,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::Icon icon);
// The same with the button that Enter presses (and a test's default answer).
QMessageBox::StandardButton OwnedMessageBox(QWidget* owner, const QString& caption,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::Icon icon,
                                            QMessageBox::StandardButton defaultButton);

// Capture mode for tests: while active, no box is shown; each message is
// recorded and answered with the next queued answer (or the box's default:
// OK for OK-only boxes, the default button otherwise).
struct CapturedMessage {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  // Answers given to the following boxes, in order.
  void QueueAnswer(QMessageBox::StandardButton answer);
  const std::vector<CapturedMessage>& Messages() const { return messages_; }
  // Every message so far as "caption: text", to compare in one go.
  QStringList Texts() const;
  void Clear() { messages_.clear(); }

  // Used by the service.
  static MessageCapture* Active();
  QMessageBox::StandardButton Record(const CapturedMessage& message,
                                     QMessageBox::StandardButton defaultAnswer);

 private:
  std::vector<CapturedMessage> messages_;
  std::vector<QMessageBox::StandardButton> answers_;
  MessageCapture* previous_ = nullptr;
};

}  // namespace lentar::gui
