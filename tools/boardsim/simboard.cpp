#include "simboard.h"

#include <algorithm>

#include "core/dates.h"
#include "core/textutil.h"

namespace lentar::boardsim {

namespace {

constexpr size_t kBlockSize = 128;
constexpr size_t kMaxImage = 64770;

uint8_t Bcd(int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); }

// A packed BCD field, or -1 when a nibble is not a decimal digit.
int FromBcd(uint8_t b) {
  if ((b >> 4) > 9 || (b & 0x0F) > 9) return -1;
  return (b >> 4) * 10 + (b & 0x0F);
}

}  // namespace

SimBoard::SimBoard(const SimOptions& options) : options_(options) {
  for (int b = 0; b < 2; ++b) buffers_[b].data.assign(static_cast<size_t>(options_.capacity[b]), 0xFF);
  access_ = options_.password.empty();
  modemAccess_ = ModemPassword().empty();
  now_ = [] { return std::time(nullptr); };
}

std::vector<uint8_t> SimBoard::Text(const std::string& text) const {
  std::vector<uint8_t> reply(2 + text.size());
  reply[0] = 0x02;
  reply[1] = 0x01;
  std::copy(text.begin(), text.end(), reply.begin() + 2);
  return reply;
}
std::vector<uint8_t> SimBoard::Ack() const { return Text("OK"); }
std::vector<uint8_t> SimBoard::Refuse() const { return Text("ER"); }

std::vector<uint8_t> SimBoard::Data(const std::vector<uint8_t>& bytes) const {
  std::vector<uint8_t> reply(2 + bytes.size());
  reply[0] = 0x03;
  reply[1] = 0x01;
  std::copy(bytes.begin(), bytes.end(), reply.begin() + 2);
  return reply;
}

std::vector<uint8_t> SimBoard::Status() const {
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
  return Data(s);
}

std::vector<uint8_t> SimBoard::BufferInfo() const {
  std::vector<uint8_t> s(17, 0);
  const Buffer& cur = buffers_[current_];
  s[0] = static_cast<uint8_t>(current_);
  s[1] = 0;
  s[2] = 0;
  s[3] = static_cast<uint8_t>(cur.length & 0xFF);
  s[4] = static_cast<uint8_t>(cur.length >> 8);
  for (int b = 0; b < 2; ++b) {
    s[13 + 2 * b] = static_cast<uint8_t>(options_.capacity[b] & 0xFF);
    s[14 + 2 * b] = static_cast<uint8_t>(options_.capacity[b] >> 8);
  }
  return Data(s);
}

std::vector<uint8_t> SimBoard::Clock() const {
  const std::time_t t = static_cast<std::time_t>(now_() + clockOffset_);
  std::tm tm{};
  localtime_r(&t, &tm);
  std::vector<uint8_t> c = {Bcd(tm.tm_sec),
                            Bcd(tm.tm_min),
                            Bcd(tm.tm_hour),
                            static_cast<uint8_t>(tm.tm_wday == 0 ? 7 : tm.tm_wday),
                            Bcd(tm.tm_mday),
                            Bcd(tm.tm_mon + 1),
                            Bcd(tm.tm_year % 100),
                            0};
  return Data(c);
}

bool SimBoard::SetClock(const uint8_t* b) {
  const int sec = FromBcd(b[0]), min = FromBcd(b[1]), hour = FromBcd(b[2]);
  const int day = FromBcd(b[4]), month = FromBcd(b[5]), year = FromBcd(b[6]);
  if (sec < 0 || sec > 59 || min < 0 || min > 59 || hour < 0 || hour > 23 || month < 1 ||
      month > 12 || day < 1 || year < 0 || day > ClampDay(day, month, 2000 + year))
    return false;
  // The day of week sent along is not kept: the board works it out from the
  // date when the clock is read.
  std::tm tm{};
  tm.tm_sec = sec;
  tm.tm_min = min;
  tm.tm_hour = hour;
  tm.tm_mday = day;
  tm.tm_mon = month - 1;
  tm.tm_year = 100 + year;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return false;
  clockOffset_ = static_cast<long long>(t) - static_cast<long long>(now_());
  return true;
}

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

std::optional<std::vector<uint8_t>> SimBoard::Handle(const std::vector<uint8_t>& request,
                                                     int& newRateIndex) {
  newRateIndex = -1;
  if (request.size() < 3 || request[0] != 0x01) return std::nullopt;
  const uint8_t address = request[1];
  if (options_.address >= 0 && address != 0x0A && address != (0x80 | options_.address))
    return std::nullopt;
  const uint8_t* arg = request.data() + 3;
  const size_t n = request.size() - 3;
  const auto ackIf = [&](bool ok) { return ok ? Ack() : Refuse(); };
  switch (request[2]) {
    case 0x01:  // connect
      return Text("CONOK");
    case 0x03:  // version
      return Text("LENTAR-SIM 1.0");
    case 0x04: {  // automatic brightness block
      std::vector<uint8_t> a = {static_cast<uint8_t>(brightness_),
                                static_cast<uint8_t>(autoBright_ ? 1 : 0),
                                static_cast<uint8_t>(darkBrightness_),
                                static_cast<uint8_t>(darkSensor_ & 0xFF),
                                static_cast<uint8_t>(darkSensor_ >> 8),
                                static_cast<uint8_t>(brightSensor_ & 0xFF),
                                static_cast<uint8_t>(brightSensor_ >> 8),
                                0xF4, 0x01,  // current sensor reading: 500
                                0, 0};
      return Data(a);
    }
    case 0x05:  // write automatic brightness
      if (n != 6) return Refuse();
      autoBright_ = arg[0] != 0;
      darkBrightness_ = arg[1];
      darkSensor_ = arg[2] | arg[3] << 8;
      brightSensor_ = arg[4] | arg[5] << 8;
      return Ack();
    case 0x08:
      return Clock();
    case 0x09:
      return ackIf(n == 7 && SetClock(arg));
    case 0x0C:
      if (n != 1) return Refuse();
      flipped_ = arg[0] != 0;
      return Ack();
    case 0x0D:
      return Status();
    case 0x17:
      if (n != 1 || arg[0] < 1 || arg[0] > 10) return Refuse();
      brightness_ = arg[0];
      return Ack();
    case 0x2C: {  // write block; empty: clear (offset 0) or end of upload
      if (n < 3 || !access_) return Refuse();
      const int buffer = arg[0];
      const size_t offset = arg[1] | size_t{arg[2]} << 8;
      if (buffer > 1) return Refuse();
      Buffer& b = buffers_[buffer];
      if (n == 3) {
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
      return ackIf(WriteData(buffer, offset, arg + 3, n - 3));
    }
    case 0x2D:
      if (n != 1 || arg[0] > 1) return Refuse();
      current_ = arg[0];
      if (clearOnSwitch_) {
        // Switching to a buffer clears the other one.
        Buffer& other = buffers_[1 - current_];
        std::fill(other.data.begin(), other.data.end(), 0xFF);
        other.length = 0;
      }
      return Ack();
    case 0x2F:
      if (n != 1 || arg[0] < 1 || arg[0] > 5) return Refuse();
      speed_ = arg[0];
      return Ack();
    case 0x30:
      if (n != 1 || arg[0] >= fontCount_) return Refuse();
      defaultFont_ = arg[0];
      return Ack();
    case 0x34:
      return BufferInfo();
    case 0x35: {  // enter password
      if (n < 1) return Refuse();
      access_ = PasswordOf(arg, n) == options_.password;
      return ackIf(access_);
    }
    case 0x36:  // set password
      if (!access_ || n > 8) return Refuse();
      options_.password = PasswordOf(arg, n);
      return Ack();
    case 0x37:  // speed switch, after the acknowledgement
      if (n != 1 || arg[0] > 8) return Refuse();
      newRateIndex = arg[0];
      return Ack();
    case 0x3F: {
      std::vector<uint8_t> o(32, 0);
      o[4] = clearOnSwitch_ ? 1 : 0;
      return Data(o);
    }
    case 0x44:
      if (n != 1) return Refuse();
      clearOnSwitch_ = arg[0] != 0;
      return Ack();
    case 0x46:  // modem password
      if (n > 8) return Refuse();
      modemAccess_ = PasswordOf(arg, n) == ModemPassword();
      return ackIf(modemAccess_);
    case 0x47:
      return Text(modemAccess_ ? "OK" : "NO");
    case 0x4E:  // a streamed upload begins: forget the old block map
      if (!access_) return Refuse();
      blockMap_.fill(0);
      return Ack();
    case 0x4F: {  // streamed block: no reply
      if (n < 3 || !access_) return std::nullopt;
      const size_t offset = arg[1] | size_t{arg[2]} << 8;
      if (offset % kBlockSize == 0 && WriteData(arg[0], offset, arg + 3, n - 3)) {
        const size_t k = offset / kBlockSize;
        if (k < 512) blockMap_[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
      }
      return std::nullopt;
    }
    case 0x50:
      return Data(std::vector<uint8_t>(blockMap_.begin(), blockMap_.end()));
    default:
      return std::nullopt;
  }
}

}  // namespace lentar::boardsim
