#include "gui/control/modeminitform.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "gui/common/dialogbuttons.h"
#include "gui/common/messages.h"

namespace lentar::gui {

TModemInitForm::TModemInitForm(const std::string& strings, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ModemInitForm"));
  setWindowTitle(QStringLiteral("Строки инициализации модема"));
  setModal(true);
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName(QStringLiteral("Memo1"));
  memo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QString text = FromBoardText(strings);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  memo_->setPlainText(text);
  auto* top = new QVBoxLayout(this);
  top->addWidget(memo_);
  top->addLayout(MakeOkCancelRow(this));
  resize(360, 220);
}

std::string TModemInitForm::Strings() const {
  QString text = memo_->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return ToBoardText(text);
}

bool EditModemInit(QWidget* parent, std::string& strings) {
  TModemInitForm form(strings, parent);
  if (form.exec() != QDialog::Accepted) return false;
  strings = form.Strings();
  return true;
}

}  // namespace lentar::gui
