// The simulated modem with the simulated board behind it, on the in-memory
// line: a port that talks to a modem as over a serial cable that carries the
// modem lines (DTR to the modem, DSR back), which a pseudo-terminal cannot.
//
// What the port writes reaches the modem at once, on the writer's thread; a
// small pump thread lets the modem's clock run (a dial finishing after its
// delay), follows the port's DTR and reports DSR, every millisecond or two.
// Link with lentar_boardsim_device.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "comm/comport.h"
#include "comm/linkframe.h"
#include "simboard.h"
#include "simmodem.h"
#include "support/memoryline.h"

namespace lentar::comm::testing {

class MemoryModem {
 public:
  explicit MemoryModem(const boardsim::ModemOptions& modem = {},
                       const boardsim::SimOptions& board = {})
      : peer_(std::make_shared<MemoryLine::Peer>()),
        board_(board),
        modem_(
            modem, [this](const uint8_t* b, size_t n) { pending_.insert(pending_.end(), b, b + n); },
            [this](const uint8_t* b, size_t n) { ToBoard(b, n); }),
        port_(true, true, [this] {
          auto line = std::make_unique<MemoryLine>(peer_);
          line_ = line.get();
          return line;
        }) {
    peer_->dsr = false;
    peer_->onWrite = [this](const std::vector<uint8_t>& written) { OnWrite(written); };
    modem_.SetHangUpHook([this] { board_.EndModemCall(); });
    port_.Open("memory");
    pump_ = std::thread([this] { Pump(); });
  }

  ~MemoryModem() {
    stop_ = true;
    pump_.join();
    port_.Open("");
  }

  MemoryModem(const MemoryModem&) = delete;
  MemoryModem& operator=(const MemoryModem&) = delete;

  TComPort& Port() { return port_; }
  // The modem's state, for checks (under the harness's lock).
  boardsim::SimModem::State ModemState() {
    std::lock_guard guard(lock_);
    return modem_.CurrentState();
  }
  std::string LastNumber() {
    std::lock_guard guard(lock_);
    return modem_.LastNumber();
  }
  // Everything the port wrote, in order.
  std::vector<uint8_t> Written() {
    std::lock_guard guard(peer_->lock);
    return peer_->written;
  }

 private:
  static int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  bool PeerDtr() {
    std::lock_guard guard(peer_->lock);
    return peer_->dtr;
  }

  void ToBoard(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (assembler_.Feed(bytes[i], NowMs(), 500) != FrameAssembler::Outcome::Accepted) continue;
      std::vector<uint8_t> payload(256);
      size_t len = 0;
      assembler_.Take(payload.data(), payload.size(), len);
      payload.resize(len);
      int newRate = -1;
      if (const auto reply = board_.Handle(payload, newRate)) {
        const std::vector<uint8_t> frame = BuildFrame(*reply);
        modem_.FromBoard(frame.data(), frame.size());
      }
    }
  }

  // Runs the modem with the lock held, then hands what it produced to the
  // port with the lock released (the port may call back into the line).
  // feedLock_ keeps the modem's output in order when the writer and the
  // pump step at the same time; it is recursive because the port's
  // line-state handler may write from inside a delivery.
  template <class F>
  void Step(F&& f) {
    std::lock_guard feedGuard(feedLock_);
    std::vector<uint8_t> out;
    bool dsr = false;
    {
      std::lock_guard guard(lock_);
      modem_.SetDtr(PeerDtr(), NowMs());
      f();
      modem_.Poll(NowMs());
      out.swap(pending_);
      dsr = modem_.Dsr();
    }
    if (!out.empty()) line_->Feed(out);
    if (dsr != reportedDsr_.exchange(dsr)) line_->SetPeerDSR(dsr);
  }

  void OnWrite(const std::vector<uint8_t>& written) {
    Step([&] { modem_.FromComputer(written.data(), written.size(), NowMs()); });
  }

  void Pump() {
    while (!stop_) {
      Step([] {});
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  std::shared_ptr<MemoryLine::Peer> peer_;
  std::recursive_mutex feedLock_;
  std::mutex lock_;
  boardsim::SimBoard board_;
  boardsim::SimModem modem_;
  FrameAssembler assembler_;
  std::vector<uint8_t> pending_;
  std::atomic<bool> reportedDsr_{false};
  MemoryLine* line_ = nullptr;
  TComPort port_;
  std::atomic<bool> stop_{false};
  std::thread pump_;
};

}  // namespace lentar::comm::testing
