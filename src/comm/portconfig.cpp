#include "comm/portconfig.h"

#include "core/textutil.h"

namespace lentar::comm {

namespace {

// Offsets inside the block: the record's size and version, then the device
// control block (its own length, bit rate, flag word, limits, data bits,
// parity, stop bits and the special characters).
constexpr size_t kRecordSizeAt = 0;
constexpr size_t kVersionAt = 4;
constexpr size_t kControlAt = 8;
constexpr size_t kControlSize = 28;
constexpr size_t kBaudAt = kControlAt + 4;
constexpr size_t kFlagsAt = kControlAt + 8;
constexpr size_t kDataBitsAt = kControlAt + 18;
constexpr size_t kParityAt = kControlAt + 19;
constexpr size_t kStopBitsAt = kControlAt + 20;

// Flag word bits.
constexpr uint32_t kBinary = 1u << 0;
constexpr uint32_t kParityCheck = 1u << 1;
constexpr uint32_t kCtsFlow = 1u << 2;
constexpr uint32_t kDtrControlShift = 4;  // two bits: 0 off, 1 on, 2 handshake
constexpr uint32_t kTxContinueOnXoff = 1u << 7;
constexpr uint32_t kOutX = 1u << 8;
constexpr uint32_t kInX = 1u << 9;
constexpr uint32_t kRtsControlShift = 12;  // two bits: 0 off, 1 on, 2 handshake
constexpr uint32_t kControlMask = 3u;

}  // namespace

int32_t RateOfIndex(int index) {
  if (index < 0 || index >= static_cast<int>(RateTable.size())) return RateTable.back();
  return RateTable[static_cast<size_t>(index)];
}

PortConfig PortConfig::Default(bool dtrOn, bool rtsOn) {
  PortConfig c;
  c.Set32(kRecordSizeAt, kSize);
  c.block_[kVersionAt] = 1;
  c.Set32(kControlAt, kControlSize);
  c.Set32(kBaudAt, 9600);
  uint32_t flags = kBinary | kTxContinueOnXoff;
  if (dtrOn) flags |= 1u << kDtrControlShift;
  if (rtsOn) flags |= 1u << kRtsControlShift;
  c.Set32(kFlagsAt, flags);
  c.block_[kDataBitsAt] = 8;
  c.block_[kParityAt] = static_cast<uint8_t>(Parity::None);
  c.block_[kStopBitsAt] = static_cast<uint8_t>(StopBits::Two);
  return c;
}

uint32_t PortConfig::Get32(size_t offset) const {
  return uint32_t{block_[offset]} | uint32_t{block_[offset + 1]} << 8 |
         uint32_t{block_[offset + 2]} << 16 | uint32_t{block_[offset + 3]} << 24;
}

void PortConfig::Set32(size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) block_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

int32_t PortConfig::BaudRate() const { return static_cast<int32_t>(Get32(kBaudAt)); }
void PortConfig::SetBaudRate(int32_t rate) { Set32(kBaudAt, static_cast<uint32_t>(rate)); }
int PortConfig::DataBits() const { return block_[kDataBitsAt]; }
void PortConfig::SetDataBits(int bits) {
  if (bits >= 5 && bits <= 8) block_[kDataBitsAt] = static_cast<uint8_t>(bits);
}
Parity PortConfig::Parity() const { return static_cast<comm::Parity>(block_[kParityAt]); }
void PortConfig::SetParity(comm::Parity parity) {
  block_[kParityAt] = static_cast<uint8_t>(parity);
  uint32_t flags = Get32(kFlagsAt) & ~kParityCheck;
  if (parity != Parity::None) flags |= kParityCheck;
  Set32(kFlagsAt, flags);
}
StopBits PortConfig::StopBits() const { return static_cast<comm::StopBits>(block_[kStopBitsAt]); }
void PortConfig::SetStopBits(comm::StopBits stop) { block_[kStopBitsAt] = static_cast<uint8_t>(stop); }

FlowControl PortConfig::FlowControl() const {
  const uint32_t flags = Get32(kFlagsAt);
  if ((flags & kCtsFlow) && ((flags >> kRtsControlShift) & kControlMask) == 2)
    return FlowControl::Hardware;
  if ((flags & kOutX) && (flags & kInX)) return FlowControl::Software;
  return FlowControl::None;
}

void PortConfig::SetFlowControl(comm::FlowControl flow) {
  uint32_t flags = Get32(kFlagsAt) & ~(kCtsFlow | kOutX | kInX);
  const bool rtsOn = ((flags >> kRtsControlShift) & kControlMask) != 0;
  flags &= ~(kControlMask << kRtsControlShift);
  if (flow == FlowControl::Hardware) {
    flags |= kCtsFlow | (2u << kRtsControlShift);
  } else {
    if (rtsOn) flags |= 1u << kRtsControlShift;
    if (flow == FlowControl::Software) flags |= kOutX | kInX;
  }
  Set32(kFlagsAt, flags);
}

bool PortConfig::DtrOn() const { return ((Get32(kFlagsAt) >> kDtrControlShift) & kControlMask) != 0; }
bool PortConfig::RtsOn() const { return ((Get32(kFlagsAt) >> kRtsControlShift) & kControlMask) != 0; }

std::string PortConfig::ToHex() const { return BytesToHex(block_.data(), block_.size()); }

void PortConfig::FromHex(std::string_view hex) {
  std::array<uint8_t, kSize> decoded{};
  const size_t n = HexToBytes(hex, decoded.data(), decoded.size());
  for (size_t i = 0; i < n; ++i) block_[i] = decoded[i];
  Sanitize();
}

void PortConfig::Sanitize() {
  if (DataBits() < 5 || DataBits() > 8) block_[kDataBitsAt] = 8;
  if (block_[kParityAt] > static_cast<uint8_t>(Parity::Space)) SetParity(Parity::None);
  if (block_[kStopBitsAt] > static_cast<uint8_t>(StopBits::Two))
    block_[kStopBitsAt] = static_cast<uint8_t>(StopBits::Two);
  if (BaudRate() <= 0) SetBaudRate(9600);
}

}  // namespace lentar::comm
