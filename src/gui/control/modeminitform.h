// TModemInitForm "Строки инициализации модема": the modem's initialisation
// commands, one AT command line per memo line, sent before every call.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace lentar::gui {

class TModemInitForm : public QDialog {
  Q_OBJECT

 public:
  // strings: Windows-1251 text, lines separated by CR LF (or LF).
  explicit TModemInitForm(const std::string& strings, QWidget* parent = nullptr);

  // The memo's text as Windows-1251 with CR LF between lines.
  std::string Strings() const;

 private:
  QPlainTextEdit* memo_ = nullptr;  // Memo1
};

// Shows the memo with strings; on "OK" the memo's text replaces them and the
// result is true. "Отмена" leaves strings as they were.
bool EditModemInit(QWidget* parent, std::string& strings);

}  // namespace lentar::gui
