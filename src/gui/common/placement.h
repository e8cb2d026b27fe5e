// Window placement kept in the settings: a rectangle key per window (left,
// top, right, bottom in screen pixels). A stored rectangle may come from
// another screen or another scale factor, so it is fitted to the screen the
// window will appear on before it is used: no window opens larger than the
// available area or with its buttons off screen.
#pragma once

#include <QRect>

#include "core/settings.h"

class QWidget;

namespace lentar::gui {

// rect moved and, when needed, shrunk so that it lies within area: the size
// is capped at the area's, then the rectangle is shifted inside. An empty
// area leaves rect as it is.
QRect FitRectToArea(const QRect& rect, const QRect& area);

// The available area (without panels and task bars) of the screen that shows
// most of rect; the primary screen when none does. Empty without a screen.
QRect AvailableAreaFor(const QRect& rect);

// Gives window the stored client rectangle, fitted to the available area
// with room for the window frame. False (and the window left as it is) when
// the stored rectangle is empty, as on a fresh installation.
bool RestoreWindowGeometry(QWidget& window, const IntRect& stored);

// Moves window's client area to the stored position (a rectangle kept by
// WindowGeometryRect; the size stays the window's own), fitted so that the
// whole frame is on a screen. False when the stored rectangle is empty.
bool RestoreWindowPosition(QWidget& window, const IntRect& stored);

// Moves (and if need be shrinks) a window so that its whole frame is on the
// available area of its screen: for a window that has just grown.
void KeepOnScreen(QWidget& window);

// The window's client rectangle as settings keep it.
IntRect WindowGeometryRect(const QWidget& window);

}  // namespace lentar::gui
