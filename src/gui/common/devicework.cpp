#include "gui/common/devicework.h"

namespace lentar::gui {

TDeviceWork::TDeviceWork(QObject* parent) : QObject(parent), worker_(new QObject) {
  thread_.setObjectName(QStringLiteral("DeviceWork"));
  worker_->moveToThread(&thread_);
}

TDeviceWork::~TDeviceWork() {
  std::vector<std::weak_ptr<PendingBase>> pending;
  {
    std::lock_guard guard(pendingLock_);
    closing_ = true;
    pending.swap(pending_);
  }
  // The work is told to stop and a question it waits on is left unanswered:
  // it gets its ifGone value and ends at its next safe point.
  if (busy_ && stop_) stop_->Request();
  for (const std::weak_ptr<PendingBase>& p : pending)
    if (std::shared_ptr<PendingBase> alive = p.lock()) alive->Abandon();
  thread_.quit();
  thread_.wait();
  delete worker_;
}

bool TDeviceWork::Start(std::function<void()> work, std::function<void()> done) {
  if (busy_) return false;
  busy_ = true;
  interrupted_ = false;
  if (stop_) stop_->Clear();
  if (!thread_.isRunning()) thread_.start();
  emit started();
  QMetaObject::invokeMethod(
      worker_,
      [this, work = std::move(work), done = std::move(done)] {
        if (work) work();
        QMetaObject::invokeMethod(
            this,
            [this, done] {
              busy_ = false;
              if (done) done();
              emit finished();
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
  return true;
}

void TDeviceWork::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

bool TDeviceWork::Enlist(const std::shared_ptr<PendingBase>& pending) {
  std::lock_guard guard(pendingLock_);
  if (closing_) return false;
  // Answered questions are dropped on the way.
  std::erase_if(pending_, [](const std::weak_ptr<PendingBase>& p) { return p.expired(); });
  pending_.push_back(pending);
  return true;
}

void TDeviceWork::Interrupt() {
  if (!busy_) return;
  interrupted_ = true;
  if (stop_) stop_->Request();
}

}  // namespace lentar::gui
