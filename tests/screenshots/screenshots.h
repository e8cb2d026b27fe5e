// What the screenshot programs share: the folder the pictures go to, the
// capture of the whole screen and a pause for painting.
#pragma once

#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <QTimer>

namespace lentar::shots {

// The folder LENTAR_SHOTS_DIR names, made when missing; empty (no pictures)
// when it is unset or the program does not run on an X display, where the
// screen can be captured as the operator sees it.
inline QString ShotsFolder() {
  const QString shots = qEnvironmentVariable("LENTAR_SHOTS_DIR");
  if (shots.isEmpty() || QGuiApplication::platformName() != QStringLiteral("xcb")) return {};
  QDir().mkpath(shots);
  return shots;
}

// The whole screen (the root window of the X display), as the operator sees it.
inline bool CaptureScreen(const QString& file) {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen && screen->grabWindow(0).save(file, "PNG");
}

// Lets the event loop run for about ms milliseconds (window painting).
inline void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace lentar::shots

// Skips the slot unless ShotsFolder() gives a folder; shots is set to it.
#define LENTAR_SHOTS_FOLDER_OR_SKIP(shots)                                                 \
  const QString shots = lentar::shots::ShotsFolder();                                      \
  if (shots.isEmpty())                                                                     \
    QSKIP("set LENTAR_SHOTS_DIR and run on an X display (xvfb-run) for the screenshots")
