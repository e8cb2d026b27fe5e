#include "gui/common/dialogs.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <climits>

#include "core/textutil.h"
#include "gui/common/inputform.h"
#include "gui/common/messages.h"
#include "gui/common/rbform.h"

namespace lentar::gui {

namespace {

bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

QString TrimBlanks(const QString& text) {
  qsizetype start = 0;
  qsizetype end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  return text.mid(start, end - start);
}

QString StripControls(const QString& text) {
  QString result;
  result.reserve(text.size());
  for (QChar c : text) {
    if (c.unicode() >= 32) result.append(c);
  }
  return result;
}

// Dialogs are centred on the screen of their owner (or the primary one).
void CentreOnScreen(QWidget* dialog, QWidget* parent) {
  dialog->adjustSize();
  QScreen* screen = parent ? parent->screen() : dialog->screen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
}

}  // namespace

QStringList SplitDialogItems(const QString& items) {
  QStringList result;
  if (items.isEmpty()) return result;
  for (const QString& item : items.split(QLatin1Char('\r'))) {
    result.append(StripControls(TrimBlanks(item)));
  }
  return result;
}

bool InputValues(QWidget* parent, const QString& title, const QString& prompts, int editWidth,
                 QStringList& values, int columns) {
  const QStringList items = SplitDialogItems(prompts);
  if (items.isEmpty()) return false;
  TInputForm form(title, items.mid(0, TInputForm::kMaxFields), editWidth, values, columns,
                  parent);
  CentreOnScreen(&form, parent);
  if (form.exec() != QDialog::Accepted) return false;
  values = form.Values();
  return true;
}

bool InputText(QWidget* parent, const QString& title, const QString& prompt, QString& text) {
  QStringList values{text};
  if (!InputValues(parent, title, prompt, 150, values, 1) || values.isEmpty()) return false;
  text = values.front();
  return true;
}

bool InputPassword(QWidget* parent, const QString& title, const QString& prompt, QString& text) {
  const QStringList items = SplitDialogItems(prompt);
  if (items.isEmpty()) return false;
  TInputForm form(title, items.mid(0, 1), 150, {text}, 1, parent);
  form.HideTyping(0);
  CentreOnScreen(&form, parent);
  if (form.exec() != QDialog::Accepted) return false;
  text = form.Values().value(0);
  return true;
}

bool InputNumber(QWidget* parent, const QString& title, const QString& prompt, int& number) {
  QStringList values{QString::number(number)};
  if (!InputValues(parent, title, prompt, 100, values, 1) || values.isEmpty()) return false;
  const int64_t value = TextToInt(ToBoardText(values.front()));
  number = static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
  return true;
}

bool ChooseOption(QWidget* parent, const QString& title, const QString& options,
                  int defaultIndex, int columns, int& index) {
  index = -1;
  const QStringList items = SplitDialogItems(options);
  if (items.isEmpty()) return false;
  TRBForm form(title, items.mid(0, TRBForm::kMaxOptions), defaultIndex, columns, parent);
  CentreOnScreen(&form, parent);
  if (form.exec() != QDialog::Accepted) return false;
  index = form.CheckedIndex();
  return index >= 0;
}

}  // namespace lentar::gui
