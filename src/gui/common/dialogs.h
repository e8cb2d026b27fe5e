// The common input and choice dialogs.
//
// Each call builds its dialog at run time, shows it modally and destroys it
// before returning. Lists of prompts or options are one text with the items
// separated by "\r"; each item is trimmed of blanks and shown without control
// characters.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace lentar::gui {

// Up to 32 labelled edit fields (more prompts are ignored), editWidth pixels
// wide, arranged in `columns` columns. values[i], when present, is the initial
// text of field i; after "OK" values holds exactly one text per field, in
// order. Fields show their text in clear. Returns true when closed with "OK";
// false at once, without showing anything, when there is no prompt. On cancel
// values is left unchanged.
bool InputValues(QWidget* parent, const QString& title, const QString& prompts, int editWidth,
                 QStringList& values, int columns);

// One field 150 pixels wide holding text; on "OK" text receives the field.
bool InputText(QWidget* parent, const QString& title, const QString& prompt, QString& text);
// The same for a password: dots instead of the typed characters, with a
// "Показать пароль" toggle.
bool InputPassword(QWidget* parent, const QString& title, const QString& prompt, QString& text);

// One field 100 pixels wide showing number in decimal; on "OK" number receives
// TextToInt of the field (clamped to the int range).
bool InputNumber(QWidget* parent, const QString& title, const QString& prompt, int& number);

// One of up to 128 options (more are ignored) as radio buttons in `columns`
// columns; the option at defaultIndex is checked at opening (none when out of
// range). "OK" is enabled only while an option is checked. index is set to -1
// first and, after "OK", to the checked option's 0-based position. Returns
// true when closed with "OK"; false at once when there is no option.
bool ChooseOption(QWidget* parent, const QString& title, const QString& options,
                  int defaultIndex, int columns, int& index);

// The items of a "\r"-separated list as the dialogs use them: split at every
// "\r", each trimmed of spaces and tabs, control characters dropped. An empty
// text gives no items.
QStringList SplitDialogItems(const QString& items);

}  // namespace lentar::gui
