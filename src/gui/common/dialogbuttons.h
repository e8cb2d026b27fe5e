// The "OK" and "Отмена" buttons of a dialog: object names okButton and
// cancelButton, wired to accept and reject.
#pragma once

class QDialog;
class QHBoxLayout;
class QPushButton;

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

}  // namespace lentar::gui
