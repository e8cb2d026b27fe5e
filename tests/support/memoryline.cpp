#include "support/memoryline.h"

namespace lentar::comm {

void MemoryLine::Feed(const std::vector<uint8_t>& bytes) {
  if (!IsOpen()) return;
  if (onData_ && !bytes.empty()) onData_(bytes.data(), bytes.size());
  if (onTick_) onTick_();
}

void MemoryLine::SetPeerDSR(bool on) {
  {
    std::lock_guard guard(peer_->lock);
    peer_->dsr = on;
  }
  if (IsOpen() && onTick_) onTick_();
}

void MemoryLine::SetHandlers(DataHandler onData, TickHandler onTick) {
  onData_ = std::move(onData);
  onTick_ = std::move(onTick);
}

bool MemoryLine::Open(const std::string&, const PortConfig& config, std::string&) {
  std::lock_guard guard(stateLock_);
  open_ = true;
  std::lock_guard peerGuard(peer_->lock);
  peer_->baudRate = config.BaudRate();
  peer_->dtr = config.DtrOn();
  peer_->rts = config.RtsOn();
  return true;
}

void MemoryLine::Close() {
  std::lock_guard guard(stateLock_);
  open_ = false;
}

bool MemoryLine::IsOpen() const {
  std::lock_guard guard(stateLock_);
  return open_;
}

bool MemoryLine::Write(const uint8_t* bytes, size_t count) {
  if (!IsOpen()) return false;
  std::vector<uint8_t> chunk(bytes, bytes + count);
  PeerHandler handler;
  {
    std::lock_guard guard(peer_->lock);
    peer_->written.insert(peer_->written.end(), chunk.begin(), chunk.end());
    handler = peer_->onWrite;
  }
  if (handler) handler(chunk);
  return true;
}

bool MemoryLine::Apply(const PortConfig& config) {
  // Never the peer's lock around stateLock_: Open takes them the other way.
  const bool open = IsOpen();
  std::lock_guard guard(peer_->lock);
  peer_->baudRate = config.BaudRate();
  return open;
}

void MemoryLine::SetDTR(bool on) {
  std::lock_guard guard(peer_->lock);
  peer_->dtr = on;
}

void MemoryLine::SetRTS(bool on) {
  std::lock_guard guard(peer_->lock);
  peer_->rts = on;
}

bool MemoryLine::DSR() {
  if (!IsOpen()) return false;
  std::lock_guard guard(peer_->lock);
  return peer_->dsr;
}

void MemoryLine::Purge() {
  std::lock_guard guard(peer_->lock);
  ++peer_->purges;
}

}  // namespace lentar::comm
