#include "fleet/linelocks.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "core/textutil.h"
#include "fleet/boardline.h"

namespace lentar::fleet {

namespace {

std::string T(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

class FileHeld : public LineLocks::Held {
 public:
  explicit FileHeld(comm::StopFlagPtr stop) : stop_(std::move(stop)) {}
  comm::StopFlagPtr Stop() const override { return stop_; }
  LineLock lock;

 private:
  comm::StopFlagPtr stop_;
};

}  // namespace

// The thread that owns the connection to the shared register, and a watch
// over the leases.
//
// The register's thread takes, renews and gives back the lines. A call to
// the server may hang (a link that stops forwarding, a server that stops
// answering) for as long as the connection's own time limits allow; the
// work on a line must not go on meanwhile, since the lease may run out and
// another program take the line. So each line held carries the time until
// which it is surely held: the start of its last successful renewal (or
// taking) plus the lease, less a margin. The watch, a thread of its own that
// never talks to the server, stops the work on a line the moment that time
// has passed, whatever the register's thread is doing.
struct LineLocks::Shared {
  using Task = std::function<void(Register&)>;
  using Clock = std::chrono::steady_clock;

  Shared(const std::string& address, int lease, const std::string& operatorName,
         comm::StopFlagPtr stop)
      : leaseMs(std::max(lease, 300)),
        marginMs(leaseMs / 5),
        runStop(std::move(stop)) {
    me.host = Utf8ToCp1251(QSysInfo::machineHostName().toStdString());
    me.pid = QCoreApplication::applicationPid();
    me.operatorName = operatorName.empty() ? Register::OperatorName() : operatorName;
    me.token = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    std::promise<void> ready;
    auto opened = ready.get_future();
    thread = std::thread([this, address, &ready] { Run(address, ready); });
    opened.wait();
    watch = std::thread([this] { Watch(); });
  }

  ~Shared() {
    {
      std::lock_guard guard(lock);
      quit = true;
    }
    wake.notify_all();
    watchWake.notify_all();
    watch.join();
    thread.join();
  }

  // Runs task on the register's thread and waits for it.
  void Call(const Task& task) {
    std::promise<void> done;
    auto finished = done.get_future();
    {
      std::lock_guard guard(lock);
      tasks.push_back([&](Register& reg) {
        task(reg);
        done.set_value();
      });
    }
    wake.notify_all();
    finished.wait();
  }

  // Runs task on the register's thread without waiting for it.
  void Post(Task task) {
    {
      std::lock_guard guard(lock);
      tasks.push_back(std::move(task));
    }
    wake.notify_all();
  }

  // The time until which a line taken or renewed at start is surely held.
  Clock::time_point HeldUntil(Clock::time_point start) const {
    return start + std::chrono::milliseconds(leaseMs - marginMs);
  }

  // Marks key lost and stops the work on it; lock held.
  void LoseLocked(const std::string& key) {
    lost.insert(key);
    if (const auto flag = flags.find(key); flag != flags.end()) flag->second->Request();
  }

  void Run(const std::string& address, std::promise<void>& ready) {
    Register reg;
    openedOk = reg.Open(address, openError);
    ready.set_value();
    // Renewed four times a lease: a renewal or two that come late (a busy
    // server) do not yet stop the work.
    const auto every = std::chrono::milliseconds(std::max(leaseMs / 4, 50));
    auto nextRenewal = Clock::now() + every;
    std::unique_lock guard(lock);
    while (true) {
      wake.wait_until(guard, nextRenewal, [&] { return quit || !tasks.empty(); });
      while (!tasks.empty()) {
        Task task = std::move(tasks.front());
        tasks.pop_front();
        guard.unlock();
        task(reg);
        guard.lock();
      }
      if (quit) break;
      if (Clock::now() < nextRenewal) continue;
      nextRenewal = Clock::now() + every;
      if (!openedOk || held.empty()) continue;
      const auto start = Clock::now();
      guard.unlock();
      std::vector<std::string> still;
      std::string error;
      const bool renewed = reg.RenewLines(me.token, leaseMs, still, error);
      guard.lock();
      if (!renewed) continue;  // the watch stops the lines whose time is up
      for (const auto& key : held) {
        if (std::find(still.begin(), still.end(), key) == still.end()) {
          // Taken over after our lease had run out.
          LoseLocked(key);
        } else if (!lost.count(key)) {
          heldUntil[key] = HeldUntil(start);
        }
      }
    }
    guard.unlock();
    // Whatever is still held is given back before the connection goes.
    std::string error;
    if (openedOk)
      for (const auto& key : std::set<std::string>(held)) reg.ReleaseLine(key, me.token, error);
  }

  // Passes the run's stop on to every line, and stops the work on a line
  // whose lease is no longer surely held; ten times a second, on a thread
  // that never waits for the server.
  void Watch() {
    std::unique_lock guard(lock);
    while (!quit) {
      watchWake.wait_for(guard, std::chrono::milliseconds(50), [&] { return quit; });
      const bool stopping = runStop && runStop->Requested();
      const auto now = Clock::now();
      for (auto& [key, flag] : flags) {
        if (stopping) flag->Request();
        const auto until = heldUntil.find(key);
        if (!lost.count(key) && (until == heldUntil.end() || now >= until->second))
          LoseLocked(key);
      }
    }
  }

  bool Lost(const std::string& key) {
    std::lock_guard guard(lock);
    if (lost.count(key)) return true;
    const auto until = heldUntil.find(key);
    if (until == heldUntil.end() || Clock::now() >= until->second) LoseLocked(key);
    return lost.count(key) > 0;
  }

  const int leaseMs;
  const int marginMs;  // a lease is taken as lost this long before it runs out
  Register::LineHolder me;
  std::thread thread;
  std::thread watch;
  std::mutex lock;
  std::condition_variable wake;
  std::condition_variable watchWake;
  std::deque<Task> tasks;
  bool quit = false;
  bool openedOk = false;
  std::string openError;
  std::set<std::string> held;  // guarded by lock
  std::set<std::string> lost;  // guarded by lock
  std::map<std::string, Clock::time_point> heldUntil;  // guarded by lock
  comm::StopFlagPtr runStop;
  std::map<std::string, comm::StopFlagPtr> flags;  // of the lines held; guarded by lock
};

namespace {

class SharedHeld : public LineLocks::Held {
 public:
  SharedHeld(LineLocks::Shared* shared, std::string key) : shared_(shared), key_(std::move(key)) {
    std::lock_guard guard(shared_->lock);
    if (shared_->runStop && shared_->runStop->Requested()) stop_->Request();
    shared_->flags[key_] = stop_;
  }
  // The line is given back on the register's thread; the work on the line
  // does not wait for a server that may not answer.
  ~SharedHeld() override {
    {
      std::lock_guard guard(shared_->lock);
      shared_->flags.erase(key_);
    }
    LineLocks::Shared* shared = shared_;
    shared_->Post([shared, key = key_](Register& reg) {
      std::string error;
      reg.ReleaseLine(key, shared->me.token, error);
      std::lock_guard guard(shared->lock);
      shared->held.erase(key);
      shared->lost.erase(key);
      shared->heldUntil.erase(key);
    });
  }
  comm::StopFlagPtr Stop() const override { return stop_; }
  bool Lost() const override { return shared_->Lost(key_); }

 private:
  LineLocks::Shared* shared_;
  std::string key_;
  comm::StopFlagPtr stop_ = std::make_shared<comm::StopFlag>();
};

std::string HolderText(const Register::LineHolder& h) {
  if (h.operatorName.empty() && h.host.empty()) return {};
  return h.operatorName + T(u8" на ") + h.host + T(u8", процесс ") + std::to_string(h.pid);
}

}  // namespace

LineLocks::LineLocks(const Register* reg, const std::string& folder, int leaseMs,
                     const std::string& operatorName, comm::StopFlagPtr runStop)
    : folder_(folder.empty() ? DefaultLockFolder() : folder), runStop_(std::move(runStop)) {
  if (reg && reg->Shared())
    shared_ = std::make_unique<Shared>(reg->Path(), leaseMs, operatorName, runStop_);
}

LineLocks::~LineLocks() = default;

std::unique_ptr<LineLocks::Held> LineLocks::Take(
    const std::string& key, const comm::StopFlag* stop,
    const std::function<void(const std::string&)>& busy, std::string& why) {
  why.clear();
  if (!shared_) {
    auto held = std::make_unique<FileHeld>(runStop_);
    if (!held->lock.Take(folder_, key, stop, [&] { if (busy) busy({}); }, why)) return nullptr;
    return held;
  }
  if (!shared_->openedOk) {
    why = T(u8"линию не удалось заблокировать в реестре: ") + shared_->openError;
    return nullptr;
  }
  bool said = false;
  while (true) {
    bool ok = false, taken = false;
    Register::LineHolder current;
    std::string error;
    shared_->Call([&](Register& reg) {
      const auto start = Shared::Clock::now();
      ok = reg.TakeLine(key, shared_->me, shared_->leaseMs, taken, current, error);
      if (ok && taken) {
        std::lock_guard guard(shared_->lock);
        shared_->held.insert(key);
        shared_->lost.erase(key);
        shared_->heldUntil[key] = shared_->HeldUntil(start);
      }
    });
    if (!ok) {
      why = T(u8"линию не удалось заблокировать в реестре: ") + error;
      return nullptr;
    }
    if (taken) return std::make_unique<SharedHeld>(shared_.get(), key);
    if (!said && busy) busy(HolderText(current));
    said = true;
    if (!comm::PauseUnlessStopped(stop, 250)) return nullptr;
  }
}

}  // namespace lentar::fleet
