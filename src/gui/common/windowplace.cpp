#include "gui/common/windowplace.h"

#include <QEvent>
#include <QWidget>

#include "gui/common/placement.h"
#include "gui/common/settingsstore.h"

namespace lentar::gui {

TWindowPlace::TWindowPlace(QWidget& window, IntRect TSettings::*place)
    : QObject(&window), window_(window), place_(place) {
  setObjectName(QStringLiteral("WindowPlace"));
  window_.installEventFilter(this);
}

bool TWindowPlace::Restore() {
  restored_ = true;
  return RestoreWindowGeometry(window_, Settings().*place_);
}

bool TWindowPlace::Keep() {
  const IntRect now = WindowGeometryRect(window_);
  if (Settings().*place_ == now) return false;
  Settings().*place_ = now;
  return true;
}

bool TWindowPlace::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &window_ || !restored_) return false;
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
      // A minimised or maximised window keeps the place it had before.
      if (window_.isVisible() && !window_.isMinimized() && !window_.isMaximized() && Keep())
        WriteSettingsSoon();
      break;
    case QEvent::Hide:
      if (!event->spontaneous()) {
        const bool changed = !window_.isMinimized() && !window_.isMaximized() && Keep();
        if (changed || SettingsWritePending()) WriteSettingsNow();
      }
      break;
    default:
      break;
  }
  return false;
}

}  // namespace lentar::gui
