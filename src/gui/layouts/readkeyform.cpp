#include "gui/layouts/readkeyform.h"

#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "core/virtualkeys.h"
#include "gui/layouts/keyboardinput.h"

namespace lentar::gui {

TReadKeyForm::TReadKeyForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ReadKeyForm"));
  setWindowTitle(QStringLiteral("Ожидание..."));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 20);
  auto* label = new QLabel(QStringLiteral("Нажмите нужную клавишу"), this);
  label->setObjectName(QStringLiteral("Label1"));
  label->setAlignment(Qt::AlignCenter);
  layout->addWidget(label);
  setFocusPolicy(Qt::StrongFocus);
  setFixedSize(sizeHint().expandedTo(QSize(240, 80)));
}

void TReadKeyForm::keyPressEvent(QKeyEvent* event) {
  event->accept();
  if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) return;
  const int key = Keyboard().VirtualKey(*event);
  // The modifier keys themselves are held while they go down; a key without
  // a code is no answer either.
  if (key == 0 || key == kVkShift || key == kVkControl || key == kVkMenu) return;
  if (key == kVkEscape) {
    keyCode_ = 0;
    reject();
    return;
  }
  keyCode_ = key;
  accept();
}

int ReadKey(QWidget* parent) {
  TReadKeyForm form(parent);
  return form.exec() == QDialog::Accepted ? form.KeyCode() : 0;
}

}  // namespace lentar::gui
