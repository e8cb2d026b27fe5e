#include "gui/common/placement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace lentar::gui {

namespace {

QRect ToQRect(const IntRect& r) {
  return QRect(QPoint(r.left, r.top), QSize(r.right - r.left, r.bottom - r.top));
}

IntRect ToIntRect(const QRect& r) {
  return IntRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

bool IsEmpty(const IntRect& r) { return r.right <= r.left || r.bottom <= r.top; }

// Room the window system's frame takes around the client area. Known once the
// window has been shown; before that, the title bar's height is assumed on
// top and a thin border elsewhere.
QMargins FrameMargins(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  const QRect client = window.geometry();
  if (window.isVisible() && frame != client) {
    return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                    frame.right() - client.right(), frame.bottom() - client.bottom());
  }
  const int title = window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  const int border = 4;
  return QMargins(border, title + border, border, border);
}

}  // namespace

QRect FitRectToArea(const QRect& rect, const QRect& area) {
  if (area.isEmpty()) return rect;
  const int width = std::min(rect.width(), area.width());
  const int height = std::min(rect.height(), area.height());
  const int left = std::clamp(rect.left(), area.left(), area.left() + area.width() - width);
  const int top = std::clamp(rect.top(), area.top(), area.top() + area.height() - height);
  return QRect(left, top, width, height);
}

QRect AvailableAreaFor(const QRect& rect) {
  QScreen* best = nullptr;
  qint64 bestOverlap = 0;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect overlap = screen->geometry().intersected(rect);
    const qint64 size = overlap.isEmpty() ? 0 : qint64{overlap.width()} * overlap.height();
    if (size > bestOverlap) {
      best = screen;
      bestOverlap = size;
    }
  }
  if (!best) best = QGuiApplication::primaryScreen();
  return best ? best->availableGeometry() : QRect();
}

bool RestoreWindowGeometry(QWidget& window, const IntRect& stored) {
  if (IsEmpty(stored)) return false;
  const QRect client = ToQRect(stored);
  const QMargins margins = FrameMargins(window);
  const QRect frame = FitRectToArea(client.marginsAdded(margins), AvailableAreaFor(client));
  QRect fitted = frame.marginsRemoved(margins);
  // A window cannot be made smaller than its minimum size.
  fitted.setSize(fitted.size().expandedTo(window.minimumSize()));
  window.setGeometry(fitted);
  return true;
}

bool RestoreWindowPosition(QWidget& window, const IntRect& stored) {
  if (IsEmpty(stored)) return false;
  const QMargins margins = FrameMargins(window);
  const QRect frame(QPoint(stored.left, stored.top), window.size().grownBy(margins));
  const QRect fitted = FitRectToArea(frame, AvailableAreaFor(frame));
  window.move(fitted.topLeft());
  return true;
}

IntRect WindowGeometryRect(const QWidget& window) { return ToIntRect(window.geometry()); }

IntRect WindowFrameRect(const QWidget& window) { return ToIntRect(window.frameGeometry()); }

}  // namespace lentar::gui
