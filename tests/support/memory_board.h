// A port over the in-memory line, and a scripted board behind it that answers
// each request frame synchronously.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "comm/comport.h"
#include "comm/linkframe.h"
#include "support/memoryline.h"

namespace lentar::comm::testing {

using Bytes = std::vector<uint8_t>;

class MemoryBoard {
 public:
  // The answer to one request payload: a reply payload, or nothing.
  using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;

  MemoryBoard()
      : peer_(std::make_shared<MemoryLine::Peer>()),
        port_(true, true, [this] {
          auto line = std::make_unique<MemoryLine>(peer_);
          line_ = line.get();
          return line;
        }) {
    peer_->onWrite = [this](const Bytes& written) { OnWrite(written); };
    port_.Open("memory");
  }

  TComPort& Port() { return port_; }
  MemoryLine& Line() { return *line_; }
  MemoryLine::Peer& Peer() { return *peer_; }
  void SetResponder(Responder r) { responder_ = std::move(r); }
  // Every request payload received, in order.
  const std::vector<Bytes>& Requests() const { return requests_; }
  // Sends a reply payload to the port as a frame.
  void Reply(const Bytes& payload) { line_->Feed(BuildFrame(payload)); }

 private:
  void OnWrite(const Bytes& written) {
    // Each write the port makes is one whole frame.
    if (written.size() < 4 || written[0] != written.size()) return;
    Bytes payload(written.begin() + 3, written.end());
    requests_.push_back(payload);
    if (!responder_) return;
    if (auto reply = responder_(payload)) Reply(*reply);
  }

  std::shared_ptr<MemoryLine::Peer> peer_;
  MemoryLine* line_ = nullptr;
  TComPort port_;
  Responder responder_;
  std::vector<Bytes> requests_;
};

inline Bytes Ack() { return {0x02, 0x01, 'O', 'K'}; }

}  // namespace lentar::comm::testing
