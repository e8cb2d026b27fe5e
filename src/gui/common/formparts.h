// The small parts every window builds its form from: buttons, labels, check
// and radio boxes, spin boxes, line edits, lists and group boxes, each made as
// a child of its parent and given the object name the tests and the operator's
// scripts find it by. All take their arguments in one order: the parent, then
// what the operator reads on the control (when it has a caption), then the
// object name, then the control's own values.
#pragma once

#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QWidget;

namespace lentar::gui {

// What Enter does in a dialog while a button made here has the focus.
enum class EnterKey {
  // Enter presses the dialog's default button; a focused button is pressed
  // by Space or a click only. For windows whose buttons start work on a
  // board: a stray Enter must not start an upload.
  PressesDefault,
  // Qt's own rule for dialogs: the focused button is pressed by Enter.
  PressesFocused,
};

// An object name of nullptr leaves the control unnamed.
QPushButton* MakeButton(QWidget* parent, const QString& caption, const char* objectName,
                        EnterKey enter = EnterKey::PressesDefault);
QLabel* MakeLabel(QWidget* parent, const QString& text, const char* objectName = nullptr);
QCheckBox* MakeCheck(QWidget* parent, const QString& caption, const char* objectName);
QRadioButton* MakeRadio(QWidget* parent, const QString& caption, const char* objectName);
QGroupBox* MakeGroup(QWidget* parent, const QString& title, const char* objectName = nullptr);
QLineEdit* MakeEdit(QWidget* parent, const char* objectName);
// A spin box of min..max showing value; without one it shows Qt's 0 brought
// into the range.
QSpinBox* MakeSpin(QWidget* parent, const char* objectName, int min, int max);
QSpinBox* MakeSpin(QWidget* parent, const char* objectName, int min, int max, int value);
// A drop-down list of items, the first one chosen.
QComboBox* MakeCombo(QWidget* parent, const char* objectName, const QStringList& items = {});

}  // namespace lentar::gui
