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

// The thread that owns the connection to the shared register.
struct LineLocks::Shared {
  using Task = std::function<void(Register&)>;

  Shared(const std::string& address, int lease, const std::string& operatorName,
         comm::StopFlagPtr stop)
      : leaseMs(std::max(lease, 300)), runStop(std::move(stop)) {
    me.host = Utf8ToCp1251(QSysInfo::machineHostName().toStdString());
    me.pid = QCoreApplication::applicationPid();
    me.operatorName = operatorName.empty() ? Register::OperatorName() : operatorName;
    me.token = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    std::promise<void> ready;
    auto opened = ready.get_future();
    thread = std::thread([this, address, &ready] { Run(address, ready); });
    opened.wait();
  }

  ~Shared() {
    {
      std::lock_guard guard(lock);
      quit = true;
    }
    wake.notify_all();
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

  void Run(const std::string& address, std::promise<void>& ready) {
    Register reg;
    openedOk = reg.Open(address, openError);
    ready.set_value();
    using Clock = std::chrono::steady_clock;
    const auto every = std::chrono::milliseconds(std::max(leaseMs / 3, 100));
    auto lastRenewed = Clock::now();
    auto nextRenewal = lastRenewed + every;
    std::unique_lock guard(lock);
    while (true) {
      // Woken at least every tenth of a second to pass a stop on.
      wake.wait_until(guard, std::min(nextRenewal, Clock::now() + std::chrono::milliseconds(100)),
                      [&] { return quit || !tasks.empty(); });
      if (runStop && runStop->Requested())
        for (auto& [key, flag] : flags) flag->Request();
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
      if (!openedOk || held.empty()) {
        lastRenewed = Clock::now();
        continue;
      }
      guard.unlock();
      std::vector<std::string> still;
      std::string error;
      const bool renewed = reg.RenewLines(me.token, leaseMs, still, error);
      guard.lock();
      if (renewed) {
        lastRenewed = Clock::now();
        // A line no longer ours was taken over after our lease ran out.
        for (const auto& key : held)
          if (std::find(still.begin(), still.end(), key) == still.end()) lost.insert(key);
      } else if (Clock::now() - lastRenewed > std::chrono::milliseconds(leaseMs)) {
        // The server out of reach for a whole lease: another program may
        // have the lines by now.
        lost.insert(held.begin(), held.end());
      }
      for (const auto& key : lost)
        if (const auto flag = flags.find(key); flag != flags.end()) flag->second->Request();
    }
    guard.unlock();
    // Whatever is still held is given back before the connection goes.
    std::string error;
    if (openedOk)
      for (const auto& key : std::set<std::string>(held)) reg.ReleaseLine(key, me.token, error);
  }

  const int leaseMs;
  Register::LineHolder me;
  std::thread thread;
  std::mutex lock;
  std::condition_variable wake;
  std::deque<Task> tasks;
  bool quit = false;
  bool openedOk = false;
  std::string openError;
  std::set<std::string> held;  // guarded by lock
  std::set<std::string> lost;  // guarded by lock
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
  ~SharedHeld() override {
    shared_->Call([&](Register& reg) {
      std::string error;
      reg.ReleaseLine(key_, shared_->me.token, error);
      std::lock_guard guard(shared_->lock);
      shared_->held.erase(key_);
      shared_->lost.erase(key_);
      shared_->flags.erase(key_);
    });
  }
  comm::StopFlagPtr Stop() const override { return stop_; }
  bool Lost() const override {
    std::lock_guard guard(shared_->lock);
    return shared_->lost.count(key_) > 0;
  }

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
      ok = reg.TakeLine(key, shared_->me, shared_->leaseMs, taken, current, error);
      if (ok && taken) {
        std::lock_guard guard(shared_->lock);
        shared_->held.insert(key);
        shared_->lost.erase(key);
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
