// TWindowPlace: a window that comes back where the operator left it.
//
// Made with the window and the settings rectangle that keeps its place:
//
//   place_ = new TWindowPlace(*this, &TSettings::TabloCoor);  // in the constructor
//   place_->Restore();  // when the window first shows, after its own sizing
//
// Restore puts the window at the stored place, fitted to the screen it will
// appear on (a fresh installation keeps the window's default place). From
// then on every move and resize is kept in the settings record and written
// to lentar.ini half a second after the operator stopped (WriteSettingsSoon);
// hiding the window keeps and writes its place at once. The object is a child
// of the window and goes with it.
#pragma once

#include <QObject>

#include "core/settings.h"

class QWidget;

namespace lentar::gui {

class TWindowPlace : public QObject {
  Q_OBJECT

 public:
  TWindowPlace(QWidget& window, IntRect TSettings::*place);

  // Puts the window at the stored place; false (the window left as it is)
  // when none is stored. Until this has been called a move is not kept: the
  // window's first placement by the system is not the operator's choice.
  bool Restore();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The window's place into the record; true when it changed.
  bool Keep();

  QWidget& window_;
  IntRect TSettings::*place_;
  bool restored_ = false;
};

}  // namespace lentar::gui
