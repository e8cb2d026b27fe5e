#include "simboard.h"

#include <algorithm>

namespace lentar::boardsim {

namespace {

constexpr size_t kBlockSize = 128;
constexpr size_t kMaxImage = 64770;

uint8_t Low(int v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t High(int v) { return static_cast<uint8_t>(v >> 8); }

}  // namespace

const std::array<Command<SimBoard>, 24> SimBoard::kCommands = {{
    {0x01, &SimBoard::Connect},
    {0x03, &SimBoard::Version},
    {0x04, &SimBoard::ReadAutoBrightness},
    {0x05, &SimBoard::WriteAutoBrightness},
    {0x08, &SimBoard::ReadClock},
    {0x09, &SimBoard::SetClock},
    {0x0C, &SimBoard::Flip},
    {0x0D, &SimBoard::ReadStatus},
    {0x17, &SimBoard::SetBrightness},
    {0x2C, &SimBoard::WriteBlock},
    {0x2D, &SimBoard::SwitchBuffer},
    {0x2F, &SimBoard::SetSpeed},
    {0x30, &SimBoard::SetDefaultFont},
    {0x34, &SimBoard::ReadBufferInfo},
    {0x35, &SimBoard::EnterPassword},
    {0x36, &SimBoard::ChangePassword},
    {0x37, &SimBoard::SwitchRate},
    {0x3F, &SimBoard::ReadOptions},
    {0x44, &SimBoard::SetClearOnSwitch},
    {0x46, &SimBoard::EnterModemPassword},
    {0x47, &SimBoard::ReadModemAccess},
    {0x4E, &SimBoard::BeginStream},
    {0x4F, &SimBoard::StreamBlock},
    {0x50, &SimBoard::ReadBlockMap},
}};

SimBoard::SimBoard(const SimOptions& options) : options_(options) {
  for (int b = 0; b < 2; ++b) buffers_[b].data.assign(static_cast<size_t>(options_.capacity[b]), 0xFF);
  access_ = options_.password.empty();
  modemAccess_ = ModemPassword().empty();
}

// The memory block: "LBRD", the buffer on show, then per buffer its capacity
// and loaded length (2 bytes each), the block map, and the buffers' bytes.
namespace {
constexpr char kMemoryMagic[4] = {'L', 'B', 'R', 'D'};
constexpr size_t kMemoryHead = 4 + 1 + 2 * 4 + 64;
}  // namespace

std::vector<uint8_t> SimBoard::Memory() const {
  std::vector<uint8_t> m(kMemoryMagic, kMemoryMagic + 4);
  m.push_back(static_cast<uint8_t>(current_));
  for (const Buffer& b : buffers_) {
    const int capacity = static_cast<int>(b.data.size());
    m.insert(m.end(), {Low(capacity), High(capacity), Low(b.length), High(b.length)});
  }
  m.insert(m.end(), blockMap_.begin(), blockMap_.end());
  for (const Buffer& b : buffers_) m.insert(m.end(), b.data.begin(), b.data.end());
  return m;
}

bool SimBoard::RestoreMemory(const std::vector<uint8_t>& m) {
  if (m.size() < kMemoryHead || !std::equal(kMemoryMagic, kMemoryMagic + 4, m.begin()) || m[4] > 1)
    return false;
  size_t capacity[2], length[2];
  for (int b = 0; b < 2; ++b) {
    const size_t at = 5 + 4 * static_cast<size_t>(b);
    capacity[b] = m[at] | size_t{m[at + 1]} << 8;
    length[b] = m[at + 2] | size_t{m[at + 3]} << 8;
  }
  if (m.size() != kMemoryHead + capacity[0] + capacity[1]) return false;
  current_ = m[4];
  std::copy(m.begin() + 13, m.begin() + 13 + 64, blockMap_.begin());
  auto from = m.begin() + static_cast<std::ptrdiff_t>(kMemoryHead);
  for (int b = 0; b < 2; ++b) {
    Buffer& buffer = buffers_[b];
    std::fill(buffer.data.begin(), buffer.data.end(), 0xFF);
    const size_t n = std::min(capacity[b], buffer.data.size());
    std::copy(from, from + static_cast<std::ptrdiff_t>(n), buffer.data.begin());
    buffer.length = static_cast<int>(std::min(length[b], buffer.data.size()));
    from += static_cast<std::ptrdiff_t>(capacity[b]);
  }
  return true;
}

Reply SimBoard::Handle(const std::vector<uint8_t>& request, int& newRateIndex) {
  newRateIndex = -1;
  if (request.size() < 3 || request[0] != 0x01) return std::nullopt;
  const uint8_t address = request[1];
  if (options_.address >= 0 && address != 0x0A && address != (0x80 | options_.address))
    return std::nullopt;
  Request r{std::span<const uint8_t>(request).subspan(3)};
  Reply reply = Answer(*this, kCommands, request[2], r);
  newRateIndex = r.newRateIndex;
  return reply;
}

Reply SimBoard::Connect(Request&) { return TextReply("CONOK"); }

Reply SimBoard::Version(Request&) { return TextReply("LENTAR-SIM 1.0"); }

Reply SimBoard::ReadAutoBrightness(Request&) {
  const uint8_t a[] = {static_cast<uint8_t>(brightness_),
                       static_cast<uint8_t>(autoBright_ ? 1 : 0),
                       static_cast<uint8_t>(darkBrightness_),
                       Low(darkSensor_), High(darkSensor_),
                       Low(brightSensor_), High(brightSensor_),
                       0xF4, 0x01,  // current sensor reading: 500
                       0, 0};
  return DataReply(a);
}

Reply SimBoard::WriteAutoBrightness(Request& r) {
  const auto arg = r.arg;
  if (arg.size() != 6) return Refuse();
  autoBright_ = arg[0] != 0;
  darkBrightness_ = arg[1];
  darkSensor_ = arg[2] | arg[3] << 8;
  brightSensor_ = arg[4] | arg[5] << 8;
  return Ack();
}

Reply SimBoard::ReadClock(Request&) {
  std::vector<uint8_t> c(8, 0);  // the clock's 7 bytes and a spare
  const auto now = clock_.Read();
  std::copy(now.begin(), now.end(), c.begin());
  return DataReply(c);
}

Reply SimBoard::SetClock(Request& r) {
  return AckIf(r.arg.size() == 7 && clock_.Set(r.arg.first<7>()));
}

Reply SimBoard::Flip(Request& r) {
  if (r.arg.size() != 1) return Refuse();
  flipped_ = r.arg[0] != 0;
  return Ack();
}

Reply SimBoard::ReadStatus(Request&) {
  std::vector<uint8_t> s(22, 0);
  s[2] = flipped_ ? 1 : 0;
  s[4] = static_cast<uint8_t>(speed_);
  s[5] = static_cast<uint8_t>(brightness_);
  s[8] = static_cast<uint8_t>(defaultFont_);
  s[9] = static_cast<uint8_t>(fontCount_);
  s[11] = static_cast<uint8_t>(defaultFont_);
  s[19] = options_.password.empty() ? 0 : 1;
  s[20] = access_ ? 1 : 0;
  s[21] = autoBright_ ? 1 : 0;
  return DataReply(s);
}

Reply SimBoard::SetBrightness(Request& r) {
  if (r.arg.size() != 1 || r.arg[0] < 1 || r.arg[0] > 10) return Refuse();
  brightness_ = r.arg[0];
  return Ack();
}

// A block of an upload: buffer, offset (2 bytes), data. Without data it
// clears the buffer (offset 0) or ends the upload (offset = image length).
Reply SimBoard::WriteBlock(Request& r) {
  const auto arg = r.arg;
  if (arg.size() < 3 || !access_) return Refuse();
  const int buffer = arg[0];
  const size_t offset = arg[1] | size_t{arg[2]} << 8;
  if (buffer > 1) return Refuse();
  Buffer& b = buffers_[buffer];
  if (arg.size() == 3) {
    if (offset == 0) {
      std::fill(b.data.begin(), b.data.end(), 0xFF);
      b.length = 0;
      return Ack();
    }
    if (offset > b.data.size()) return Refuse();
    b.length = static_cast<int>(offset);
    blockMap_.fill(0);
    if (onUpload_) onUpload_(buffer, std::vector<uint8_t>(b.data.begin(), b.data.begin() + b.length));
    return Ack();
  }
  return AckIf(WriteData(buffer, offset, arg.data() + 3, arg.size() - 3));
}

Reply SimBoard::SwitchBuffer(Request& r) {
  if (r.arg.size() != 1 || r.arg[0] > 1) return Refuse();
  current_ = r.arg[0];
  if (clearOnSwitch_) {
    // Switching to a buffer clears the other one.
    Buffer& other = buffers_[1 - current_];
    std::fill(other.data.begin(), other.data.end(), 0xFF);
    other.length = 0;
  }
  return Ack();
}

Reply SimBoard::SetSpeed(Request& r) {
  if (r.arg.size() != 1 || r.arg[0] < 1 || r.arg[0] > 5) return Refuse();
  speed_ = r.arg[0];
  return Ack();
}

Reply SimBoard::SetDefaultFont(Request& r) {
  if (r.arg.size() != 1 || r.arg[0] >= fontCount_) return Refuse();
  defaultFont_ = r.arg[0];
  return Ack();
}

Reply SimBoard::ReadBufferInfo(Request&) {
  std::vector<uint8_t> s(17, 0);
  const Buffer& cur = buffers_[current_];
  s[0] = static_cast<uint8_t>(current_);
  s[3] = Low(cur.length);
  s[4] = High(cur.length);
  for (int b = 0; b < 2; ++b) {
    s[13 + 2 * b] = Low(options_.capacity[b]);
    s[14 + 2 * b] = High(options_.capacity[b]);
  }
  return DataReply(s);
}

Reply SimBoard::EnterPassword(Request& r) {
  if (r.arg.empty()) return Refuse();
  access_ = PasswordOf(r.arg.data(), r.arg.size()) == options_.password;
  return AckIf(access_);
}

Reply SimBoard::ChangePassword(Request& r) {
  if (!access_ || r.arg.size() > 8) return Refuse();
  options_.password = PasswordOf(r.arg.data(), r.arg.size());
  return Ack();
}

// The acknowledgement goes out at the old speed; the line switches after it.
Reply SimBoard::SwitchRate(Request& r) {
  if (r.arg.size() != 1 || r.arg[0] > 8) return Refuse();
  r.newRateIndex = r.arg[0];
  return Ack();
}

Reply SimBoard::ReadOptions(Request&) {
  std::vector<uint8_t> o(32, 0);
  o[4] = clearOnSwitch_ ? 1 : 0;
  return DataReply(o);
}

Reply SimBoard::SetClearOnSwitch(Request& r) {
  if (r.arg.size() != 1) return Refuse();
  clearOnSwitch_ = r.arg[0] != 0;
  return Ack();
}

Reply SimBoard::EnterModemPassword(Request& r) {
  if (r.arg.size() > 8) return Refuse();
  modemAccess_ = PasswordOf(r.arg.data(), r.arg.size()) == ModemPassword();
  return AckIf(modemAccess_);
}

Reply SimBoard::ReadModemAccess(Request&) { return TextReply(modemAccess_ ? "OK" : "NO"); }

// A streamed upload begins: the old block map is forgotten.
Reply SimBoard::BeginStream(Request&) {
  if (!access_) return Refuse();
  blockMap_.fill(0);
  return Ack();
}

// A streamed block gets no reply; the block map tells later which arrived.
Reply SimBoard::StreamBlock(Request& r) {
  const auto arg = r.arg;
  if (arg.size() < 3 || !access_) return std::nullopt;
  const size_t offset = arg[1] | size_t{arg[2]} << 8;
  if (offset % kBlockSize == 0 && WriteData(arg[0], offset, arg.data() + 3, arg.size() - 3)) {
    const size_t k = offset / kBlockSize;
    if (k < 512) blockMap_[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
  }
  return std::nullopt;
}

Reply SimBoard::ReadBlockMap(Request&) { return DataReply(blockMap_); }

bool SimBoard::WriteData(int buffer, size_t offset, const uint8_t* data, size_t length) {
  if (buffer < 0 || buffer > 1 || length > kBlockSize || offset + length > kMaxImage) return false;
  Buffer& b = buffers_[buffer];
  if (offset >= b.data.size()) return false;
  // Filler beyond the buffer's end is not kept.
  const size_t n = std::min(length, b.data.size() - offset);
  std::copy(data, data + n, b.data.begin() + static_cast<std::ptrdiff_t>(offset));
  return true;
}

std::string SimBoard::PasswordOf(const uint8_t* bytes, size_t length) {
  std::string text(reinterpret_cast<const char*>(bytes), std::min<size_t>(length, 8));
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

}  // namespace lentar::boardsim
