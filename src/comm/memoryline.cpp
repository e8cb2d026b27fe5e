#include "comm/memoryline.h"

namespace lentar::comm {

void TMemoryLine::Feed(const std::vector<uint8_t>& bytes) {
  if (!IsOpen()) return;
  if (onData_ && !bytes.empty()) onData_(bytes.data(), bytes.size());
  if (onTick_) onTick_();
}

void TMemoryLine::SetPeerDSR(bool on) {
  {
    std::lock_guard guard(peer_->lock);
    peer_->dsr = on;
  }
  if (IsOpen() && onTick_) onTick_();
}

void TMemoryLine::SetHandlers(DataHandler onData, TickHandler onTick) {
  onData_ = std::move(onData);
  onTick_ = std::move(onTick);
}

bool TMemoryLine::Open(const std::string&, const TPortConfig& config, std::string&) {
  std::lock_guard guard(stateLock_);
  open_ = true;
  std::lock_guard peerGuard(peer_->lock);
  peer_->baudRate = config.BaudRate();
  peer_->dtr = config.DtrOn();
  peer_->rts = config.RtsOn();
  return true;
}

void TMemoryLine::Close() {
  std::lock_guard guard(stateLock_);
  open_ = false;
}

bool TMemoryLine::IsOpen() const {
  std::lock_guard guard(stateLock_);
  return open_;
}

bool TMemoryLine::Write(const uint8_t* bytes, size_t count) {
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

bool TMemoryLine::Apply(const TPortConfig& config) {
  std::lock_guard guard(peer_->lock);
  peer_->baudRate = config.BaudRate();
  return IsOpen();
}

void TMemoryLine::SetDTR(bool on) {
  std::lock_guard guard(peer_->lock);
  peer_->dtr = on;
}

void TMemoryLine::SetRTS(bool on) {
  std::lock_guard guard(peer_->lock);
  peer_->rts = on;
}

bool TMemoryLine::DSR() {
  if (!IsOpen()) return false;
  std::lock_guard guard(peer_->lock);
  return peer_->dsr;
}

void TMemoryLine::Purge() {
  std::lock_guard guard(peer_->lock);
  ++peer_->purges;
}

}  // namespace lentar::comm
