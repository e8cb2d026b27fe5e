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
  // The client area is placed, never the frame: before a window is first
  // shown its frame is not known, and a frame position given then lands the
  // client where the frame should be, one title bar lower each time round.
  const QMargins margins = FrameMargins(window);
  const QRect client(QPoint(stored.left, stored.top), window.size());
  const QRect frame = FitRectToArea(client.marginsAdded(margins), AvailableAreaFor(client));
  window.setGeometry(QRect(frame.marginsRemoved(margins).topLeft(), window.size()));
  return true;
}

void KeepOnScreen(QWidget& window) {
  const QMargins margins = FrameMargins(window);
  const QRect frame = window.geometry().marginsAdded(margins);
  const QRect fitted = FitRectToArea(frame, AvailableAreaFor(frame));
  if (fitted == frame) return;
  window.setGeometry(fitted.marginsRemoved(margins));
}

IntRect WindowGeometryRect(const QWidget& window) { return ToIntRect(window.geometry()); }


}  // namespace lentar::gui
