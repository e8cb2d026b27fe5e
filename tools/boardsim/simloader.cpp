#include "simloader.h"

#include <algorithm>
#include <cstring>

#include "core/dates.h"
#include "core/textutil.h"

namespace lentar::boardsim {

namespace {

constexpr uint8_t kLoaderAddress = 0x06;

uint8_t Bcd(int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); }

int FromBcd(uint8_t b) {
  if ((b >> 4) > 9 || (b & 0x0F) > 9) return -1;
  return (b >> 4) * 10 + (b & 0x0F);
}

uint32_t Address(const uint8_t* arg) {
  return static_cast<uint32_t>(arg[0]) | static_cast<uint32_t>(arg[1]) << 8 |
         static_cast<uint32_t>(arg[2]) << 16;
}

}  // namespace

size_t SimMemorySize(int memoryType) {
  switch (memoryType) {
    case 1: return 32768;
    case 2: return 65536;
    case 3: return 131072;
    // No data memory: only the directory and the passwords.
    default: return 1152;
  }
}

SimLoader::SimLoader(int memoryType, const std::vector<uint8_t>& image)
    : type_(memoryType), memory_(SimMemorySize(memoryType), 0xFF) {
  std::copy_n(image.begin(), std::min(image.size(), memory_.size()), memory_.begin());
  now_ = [] { return std::time(nullptr); };
}

std::vector<uint8_t> SimLoader::Text(const char* text) const {
  const size_t n = std::strlen(text);
  std::vector<uint8_t> reply(2 + n);
  reply[0] = 0x02;
  reply[1] = 0x01;
  std::copy_n(text, n, reply.begin() + 2);
  return reply;
}
std::vector<uint8_t> SimLoader::Ack() const { return Text("OK"); }
std::vector<uint8_t> SimLoader::Refuse() const { return Text("ER"); }

std::vector<uint8_t> SimLoader::Data(const uint8_t* bytes, size_t count) const {
  std::vector<uint8_t> reply(2 + count);
  reply[0] = 0x03;
  reply[1] = 0x01;
  std::copy_n(bytes, count, reply.begin() + 2);
  return reply;
}

std::vector<uint8_t> SimLoader::Clock() const {
  const std::time_t t = static_cast<std::time_t>(now_() + clockOffset_);
  std::tm tm{};
  localtime_r(&t, &tm);
  const uint8_t c[7] = {Bcd(tm.tm_sec),  Bcd(tm.tm_min),
                        Bcd(tm.tm_hour), static_cast<uint8_t>(tm.tm_wday == 0 ? 7 : tm.tm_wday),
                        Bcd(tm.tm_mday), Bcd(tm.tm_mon + 1),
                        Bcd(tm.tm_year % 100)};
  return Data(c, sizeof c);
}

bool SimLoader::SetClock(const uint8_t* b) {
  const int sec = FromBcd(b[0]), min = FromBcd(b[1]), hour = FromBcd(b[2]);
  const int day = FromBcd(b[4]), month = FromBcd(b[5]), year = FromBcd(b[6]);
  if (sec < 0 || sec > 59 || min < 0 || min > 59 || hour < 0 || hour > 23 || month < 1 ||
      month > 12 || day < 1 || year < 0 || day > ClampDay(day, month, 2000 + year))
    return false;
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

bool SimLoader::Write(uint32_t address, const uint8_t* data, size_t length) {
  const size_t page = static_cast<size_t>(PageSize());
  if (readOnly_ || length == 0 || length > page) return false;
  if (size_t{address} + length > memory_.size()) return false;
  if (address / page != (address + length - 1) / page) return false;
  std::copy_n(data, length, memory_.begin() + address);
  return true;
}

std::optional<std::vector<uint8_t>> SimLoader::Handle(const std::vector<uint8_t>& request,
                                                      int& newRateIndex) {
  newRateIndex = -1;
  if (request.size() < 3 || request[0] != 0x01 || request[1] != kLoaderAddress) return std::nullopt;
  const uint8_t* arg = request.data() + 3;
  const size_t n = request.size() - 3;
  switch (request[2]) {
    case 0x01:  // connect
      return Text("CONOK");
    case 0x08:  // clock
      return Clock();
    case 0x09:
      return n == 7 && SetClock(arg) ? Ack() : Refuse();
    case 0x0D: {  // loader information: the memory type at byte 32
      uint8_t info[36] = {};
      std::memcpy(info, "LENTAR-SIM LOADER", 17);
      info[32] = static_cast<uint8_t>(type_);
      return Data(info, sizeof info);
    }
    case 0x14:  // speed switch, after the acknowledgement
      if (n != 1 || arg[0] > 8) return Refuse();
      newRateIndex = arg[0];
      return Ack();
    case 0x15:  // write memory: address (3 bytes), data
      if (n < 4) return Refuse();
      return Write(Address(arg), arg + 3, n - 3) ? Ack() : Refuse();
    case 0x16: {  // read memory: address (3 bytes), count
      if (n != 4 || arg[3] == 0) return Refuse();
      const uint32_t address = Address(arg);
      const size_t count = arg[3];
      if (size_t{address} + count > memory_.size()) return Refuse();
      return Data(memory_.data() + address, count);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace lentar::boardsim
