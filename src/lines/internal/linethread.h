// The thread a line's Qt objects live in (the serial port, the socket), and
// the way every call from another thread is carried into it and waited for.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace lentar::comm {

class LineThread {
 public:
  explicit LineThread(QString name) : name_(std::move(name)) {}
  ~LineThread() {
    Stop();
    context_.reset();  // its thread has ended: nothing of it runs any more
  }
  LineThread(const LineThread&) = delete;
  LineThread& operator=(const LineThread&) = delete;

  // Starts the thread and its event loop; nothing when it runs already.
  void Start() {
    if (thread_.isRunning()) return;
    context_ = std::make_unique<QObject>();
    context_->moveToThread(&thread_);
    thread_.setObjectName(name_);
    thread_.start(QThread::HighestPriority);
  }

  // Ends the event loop and joins the thread. From then on Run calls f on
  // the caller's thread: nothing else uses the objects that lived there.
  void Stop() {
    if (!thread_.isRunning()) return;
    thread_.quit();
    thread_.wait();
  }

  bool IsRunning() const { return thread_.isRunning(); }
  bool IsCurrent() const { return QThread::currentThread() == &thread_; }
  // The parent for objects that are to live in the thread.
  QObject* Context() const { return context_.get(); }

  // Runs f in the thread and waits for it; directly when already there (a
  // handler running in the thread calls back into the line) and when the
  // thread does not run (before Start nothing lives there yet; after Stop
  // nothing uses what lived there). Without the application object (a line
  // still open when the statics go after main) no call reaches the thread
  // any more: it is stopped, and f runs here.
  //
  // The caller holds the hand-over lock while it posts the call and until it
  // waits, and the call takes the lock before it reads anything of the
  // caller's and again when f is done: so everything the caller did happens
  // before f, and f before Run returns, through a lock the race detector sees
  // (Qt's own queue is not instrumented). The lock is the process's, never
  // destroyed: a caller may return, and destroy the line, the moment it sees
  // its call done, while the line's thread is still leaving the lock.
  template <class F>
  void Run(F&& f) {
    if (!QCoreApplication::instance() && !IsCurrent()) Stop();
    if (!thread_.isRunning() || IsCurrent()) {
      f();
      return;
    }
    HandOver& handOver = TheHandOver();
    bool done = false;
    std::unique_lock lock(handOver.lock);
    QMetaObject::invokeMethod(
        context_.get(),
        [&] {
          std::unique_lock callLock(TheHandOver().lock);
          callLock.unlock();
          f();
          callLock.lock();
          done = true;
          handOver.finished.notify_all();
        },
        Qt::QueuedConnection);
    handOver.finished.wait(lock, [&] { return done; });
  }

 private:
  struct HandOver {
    std::mutex lock;
    std::condition_variable finished;  // some call's f is done
  };
  static HandOver& TheHandOver() {
    static HandOver* const handOver = new HandOver;  // never destroyed
    return *handOver;
  }

  QString name_;
  QThread thread_;
  // The receiver of the calls carried into the thread; it lives there.
  std::unique_ptr<QObject> context_;
};

}  // namespace lentar::comm
