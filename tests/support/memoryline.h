// An in-memory line for tests: the peer side sees every byte the port writes
// and feeds bytes and the DSR signal back, synchronously.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/serialline.h"

namespace lentar::comm {

class MemoryLine : public SerialLine {
 public:
  // Called with every chunk the port writes (on the writer's thread). It may
  // answer at once with Feed.
  using PeerHandler = std::function<void(const std::vector<uint8_t>& written)>;

  // The shared state a test keeps after handing the line to a port.
  struct Peer {
    std::mutex lock;
    PeerHandler onWrite;
    std::vector<uint8_t> written;  // everything written, in order
    bool dsr = true;
    bool dtr = false;
    bool rts = false;
    int32_t baudRate = 0;
    int purges = 0;
  };

  explicit MemoryLine(std::shared_ptr<Peer> peer) : peer_(std::move(peer)) {}

  // Delivers bytes from the peer to the port, then one line-state tick.
  void Feed(const std::vector<uint8_t>& bytes);
  // Changes DSR and delivers a line-state tick.
  void SetPeerDSR(bool on);

  void SetHandlers(DataHandler onData, TickHandler onTick) override;
  bool Open(const std::string& device, const PortConfig& config, std::string& error) override;
  void Close() override;
  bool IsOpen() const override;
  bool Write(const uint8_t* bytes, size_t count) override;
  bool Apply(const PortConfig& config) override;
  void SetDTR(bool on) override;
  void SetRTS(bool on) override;
  bool DSR() override;
  void Purge() override;
  std::vector<std::string> ListPorts() override { return {"memory"}; }

 private:
  std::shared_ptr<Peer> peer_;
  DataHandler onData_;
  TickHandler onTick_;
  mutable std::mutex stateLock_;
  bool open_ = false;
};

}  // namespace lentar::comm
