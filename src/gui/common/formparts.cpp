#include "gui/common/formparts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

namespace lentar::gui {

namespace {

template <typename W>
W* Named(W* widget, const char* objectName) {
  if (objectName) widget->setObjectName(QLatin1String(objectName));
  return widget;
}

}  // namespace

QPushButton* MakeButton(QWidget* parent, const QString& caption, const char* objectName,
                        EnterKey enter) {
  auto* button = Named(new QPushButton(caption, parent), objectName);
  if (enter == EnterKey::PressesDefault) button->setAutoDefault(false);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, const char* objectName) {
  return Named(new QLabel(text, parent), objectName);
}

QCheckBox* MakeCheck(QWidget* parent, const QString& caption, const char* objectName) {
  return Named(new QCheckBox(caption, parent), objectName);
}

QRadioButton* MakeRadio(QWidget* parent, const QString& caption, const char* objectName) {
  return Named(new QRadioButton(caption, parent), objectName);
}

QGroupBox* MakeGroup(QWidget* parent, const QString& title, const char* objectName) {
  return Named(new QGroupBox(title, parent), objectName);
}

QLineEdit* MakeEdit(QWidget* parent, const char* objectName) {
  return Named(new QLineEdit(parent), objectName);
}

QSpinBox* MakeSpin(QWidget* parent, const char* objectName, int min, int max) {
  auto* spin = Named(new QSpinBox(parent), objectName);
  spin->setRange(min, max);
  return spin;
}

QSpinBox* MakeSpin(QWidget* parent, const char* objectName, int min, int max, int value) {
  QSpinBox* spin = MakeSpin(parent, objectName, min, max);
  spin->setValue(value);
  return spin;
}

QComboBox* MakeCombo(QWidget* parent, const char* objectName, const QStringList& items) {
  auto* box = Named(new QComboBox(parent), objectName);
  box->addItems(items);
  return box;
}

}  // namespace lentar::gui
