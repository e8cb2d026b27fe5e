// The "OK" and "Отмена" buttons of a dialog: object names okButton and
// cancelButton, wired to accept and reject.
#pragma once

class QDialog;
class QHBoxLayout;
class QPushButton;
class QString;

namespace lentar::gui {

// Makes the two buttons as children of dialog, OK first; OK is the default
// button when okIsDefault. The caller lays them out.
void MakeOkCancelButtons(QDialog* dialog, QPushButton** ok, QPushButton** cancel,
                         bool okIsDefault = true);

// The buttons (OK the default button) in a row at its right end. ok and
// cancel, when given, receive the buttons.
QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton** ok = nullptr,
                             QPushButton** cancel = nullptr);

// The buttons (no default button) in a row that shares the free width in
// three equal gaps: before OK, between the two and after "Отмена".
QHBoxLayout* MakeSpreadOkCancelRow(QDialog* dialog, QPushButton** ok = nullptr,
                                   QPushButton** cancel = nullptr);

// The width a small dialog needs for its whole title on the title bar, with
// room for the window manager's icon and buttons: small dialogs are sized by
// their fields, and a short field cut their titles to "Встав… обелы".
int TitleBarWidth(const QDialog* dialog, const QString& title);

}  // namespace lentar::gui
