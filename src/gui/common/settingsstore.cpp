#include "gui/common/settingsstore.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <utility>

namespace lentar::gui {

namespace {

std::function<void()>& Writer() {
  static std::function<void()> writer;
  return writer;
}

const void*& WriterOwner() {
  static const void* owner = nullptr;
  return owner;
}

// The one timer of the delayed write, made with the application object and
// gone with it.
QTimer* DelayTimer() {
  static QPointer<QTimer> timer;
  if (!timer && QCoreApplication::instance()) {
    timer = new QTimer(QCoreApplication::instance());
    timer->setSingleShot(true);
    timer->setInterval(500);
    QObject::connect(timer, &QTimer::timeout, [] { WriteSettingsNow(); });
  }
  return timer;
}

}  // namespace

void SetSettingsWriter(const void* owner, std::function<void()> writer) {
  WriterOwner() = owner;
  Writer() = std::move(writer);
}

void DropSettingsWriter(const void* owner) {
  if (WriterOwner() != owner) return;
  WriterOwner() = nullptr;
  Writer() = nullptr;
  if (QTimer* timer = DelayTimer()) timer->stop();
}

void WriteSettingsNow() {
  if (QTimer* timer = DelayTimer()) timer->stop();
  if (Writer()) Writer()();
}

void WriteSettingsSoon() {
  if (!Writer()) return;
  if (QTimer* timer = DelayTimer()) timer->start();
}

bool SettingsWritePending() {
  const QTimer* timer = DelayTimer();
  return timer && timer->isActive();
}

}  // namespace lentar::gui
