// TDeviceWork: a window's device work (an upload, a search, a call, a
// loader transfer) on a worker thread of its own, so that the window keeps
// repainting, moving and answering while a slow line takes minutes.
//
// One worker thread per window (per session): one piece of work at a time.
// The work runs on the worker and must not touch widgets; what it has to
// show or ask goes through this object:
//  - Progress(percent) from the work reaches the window as the queued signal
//    progress(percent);
//  - Post(fn) runs fn on the window's thread without waiting;
//  - Ask(fn, ifGone) runs fn on the window's thread (a password, a yes/no)
//    while the work waits for the answer; when the window goes away first,
//    the work gets ifGone.
// When the work returns, its result is handed to the continuation on the
// window's thread, then finished() is emitted.
//
// "Прервать" (Interrupt) sets the stop flag given with SetStop (the
// session's): the work ends at its next safe point and says so in its
// result. Each new piece of work starts with the flag cleared.
//
// Destroying this object while work runs stops the work (the flag set, a
// pending question answered with its ifGone value) and waits for the worker
// to end; the continuation is then not called.
#pragma once

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "comm/stopflag.h"

namespace lentar::gui {

class TDeviceWork : public QObject {
  Q_OBJECT

 public:
  // Lives on the thread that makes it: the window's.
  explicit TDeviceWork(QObject* parent = nullptr);
  ~TDeviceWork() override;

  // The flag Interrupt sets and each Run clears (not owned; may be null).
  void SetStop(comm::StopFlag* stop) { stop_ = stop; }

  // Work is running (from Run until its continuation has returned).
  bool Busy() const { return busy_; }

  // Starts work on the worker; done(result) runs on this object's thread
  // when it has returned. False (and nothing started) while other work runs.
  template <typename R>
  bool Run(std::function<R()> work, std::function<void(R)> done) {
    auto result = std::make_shared<std::optional<R>>();
    return Start([work = std::move(work), result] { result->emplace(work()); },
                 [done = std::move(done), result] {
                   if (done) done(std::move(**result));
                 });
  }
  bool Run(std::function<void()> work, std::function<void()> done) {
    return Start(std::move(work), std::move(done));
  }

  // From the work: the gauge's new value, delivered as progress(percent).
  void Progress(int percent) { emit progress(percent); }
  // From the work: fn runs on the window's thread soon; the work goes on.
  void Post(std::function<void()> fn);
  // From the work: fn runs on the window's thread and its answer is
  // returned; ifGone when this object is destroyed before fn could run. On
  // the window's thread itself fn is simply called.
  template <typename R>
  R Ask(std::function<R()> fn, R ifGone) {
    if (QThread::currentThread() == thread()) return fn();
    auto pending = std::make_shared<Pending<R>>();
    if (!Enlist(pending)) return ifGone;
    Post([fn = std::move(fn), pending] { pending->Give(fn()); });
    return pending->Take(std::move(ifGone));
  }

  // "Прервать": sets the stop flag; the work stops at its next safe point.
  void Interrupt();
  // Interrupt was called during the current (or last) work.
  bool Interrupted() const { return interrupted_; }

 signals:
  void started();
  void progress(int percent);
  // After the continuation of the work has run.
  void finished();

 private:
  // A question waiting for the window's answer.
  struct PendingBase {
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;
    void Abandon() {
      std::lock_guard guard(lock);
      done = true;
      answered.notify_all();
    }
  };
  template <typename R>
  struct Pending : PendingBase {
    std::optional<R> answer;
    void Give(R value) {
      std::lock_guard guard(lock);
      answer.emplace(std::move(value));
      done = true;
      answered.notify_all();
    }
    R Take(R ifGone) {
      std::unique_lock guard(lock);
      answered.wait(guard, [this] { return done; });
      return answer ? std::move(*answer) : std::move(ifGone);
    }
  };

  bool Start(std::function<void()> work, std::function<void()> done);
  // Registers a question; false once this object is going away.
  bool Enlist(const std::shared_ptr<PendingBase>& pending);

  QThread thread_;
  QObject* worker_ = nullptr;  // lives on thread_
  comm::StopFlag* stop_ = nullptr;
  bool busy_ = false;
  bool interrupted_ = false;
  std::mutex pendingLock_;
  bool closing_ = false;
  std::vector<std::weak_ptr<PendingBase>> pending_;
};

}  // namespace lentar::gui
