#include "gui/common/messages.h"

#include <QApplication>

#include "core/textutil.h"

namespace lentar::gui {

namespace {

MessageCapture* gActiveCapture = nullptr;

QMessageBox::StandardButton Show(QWidget* owner, const QString& caption, const QString& text,
                                 QMessageBox::StandardButtons buttons, QMessageBox::Icon icon,
                                 QMessageBox::StandardButton defaultButton) {
  if (MessageCapture* capture = MessageCapture::Active()) {
    return capture->Record({caption, text, icon, buttons}, defaultButton);
  }
  if (!owner) owner = QApplication::activeWindow();
  QMessageBox box(icon, caption, text, buttons, owner);
  box.setWindowModality(Qt::ApplicationModal);
  if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
  const int result = box.exec();
  return static_cast<QMessageBox::StandardButton>(result);
}

}  // namespace

QString FromBoardText(const std::string& cp1251) {
  return QString::fromStdString(Cp1251ToUtf8(cp1251));
}

std::string ToBoardText(const QString& text) { return Utf8ToCp1251(text.toStdString()); }

void ShowError(const QString& text) {
  Show(nullptr, QStringLiteral("Ошибка"), text, QMessageBox::Ok, QMessageBox::Critical,
       QMessageBox::Ok);
}

void ShowError(const std::string& cp1251Text) { ShowError(FromBoardText(cp1251Text)); }

void ShowInfo(const QString& text) {
  Show(nullptr, QStringLiteral("Информация"), text, QMessageBox::Ok, QMessageBox::Information,
       QMessageBox::Ok);
}

void ShowInfo(const std::string& cp1251Text) { ShowInfo(FromBoardText(cp1251Text)); }

bool AskOkCancel(const QString& text, const QString& caption, bool cancelIsDefault) {
  return Show(nullptr, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
              QMessageBox::Question,
              cancelIsDefault ? QMessageBox::Cancel : QMessageBox::Ok) == QMessageBox::Ok;
}

QMessageBox::StandardButton OwnedMessageBox(QWidget* owner, const QString& caption,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::Icon icon) {
  return Show(owner, caption, text, buttons, icon, QMessageBox::NoButton);
}

QMessageBox::StandardButton OwnedMessageBox(QWidget* owner, const QString& caption,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::Icon icon,
                                            QMessageBox::StandardButton defaultButton) {
  return Show(owner, caption, text, buttons, icon, defaultButton);
}

MessageCapture::MessageCapture() : previous_(gActiveCapture) { gActiveCapture = this; }

MessageCapture::~MessageCapture() { gActiveCapture = previous_; }

MessageCapture* MessageCapture::Active() { return gActiveCapture; }

QStringList MessageCapture::Texts() const {
  QStringList texts;
  for (const CapturedMessage& m : messages_) texts << m.caption + QStringLiteral(": ") + m.text;
  return texts;
}

void MessageCapture::QueueAnswer(QMessageBox::StandardButton answer) {
  answers_.push_back(answer);
}

QMessageBox::StandardButton MessageCapture::Record(const CapturedMessage& message,
                                                   QMessageBox::StandardButton defaultAnswer) {
  messages_.push_back(message);
  if (!answers_.empty()) {
    const QMessageBox::StandardButton answer = answers_.front();
    answers_.erase(answers_.begin());
    return answer;
  }
  if (defaultAnswer != QMessageBox::NoButton) return defaultAnswer;
  // No default given: the first button the box offers, in Qt's own order.
  for (int b = QMessageBox::FirstButton; b <= QMessageBox::LastButton; b <<= 1) {
    if (message.buttons.testFlag(static_cast<QMessageBox::StandardButton>(b))) {
      return static_cast<QMessageBox::StandardButton>(b);
    }
  }
  return QMessageBox::NoButton;
}

}  // namespace lentar::gui
