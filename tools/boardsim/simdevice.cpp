#include "simdevice.h"

#include <algorithm>

#include "core/dates.h"

namespace lentar::boardsim {

namespace {

uint8_t Bcd(int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); }

// A packed BCD field, or -1 when a nibble is not a decimal digit.
int FromBcd(uint8_t b) {
  if ((b >> 4) > 9 || (b & 0x0F) > 9) return -1;
  return (b >> 4) * 10 + (b & 0x0F);
}

std::vector<uint8_t> ReplyOf(uint8_t kind, std::span<const uint8_t> bytes) {
  std::vector<uint8_t> reply(2 + bytes.size());
  reply[0] = kind;
  reply[1] = 0x01;
  std::copy(bytes.begin(), bytes.end(), reply.begin() + 2);
  return reply;
}

}  // namespace

std::vector<uint8_t> TextReply(std::string_view text) {
  return ReplyOf(0x02, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

std::vector<uint8_t> DataReply(std::span<const uint8_t> bytes) { return ReplyOf(0x03, bytes); }

SimClock::SimClock() : now_([] { return std::time(nullptr); }) {}

std::array<uint8_t, 7> SimClock::Read() const {
  const std::time_t t = static_cast<std::time_t>(now_() + offset_);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {Bcd(tm.tm_sec),
          Bcd(tm.tm_min),
          Bcd(tm.tm_hour),
          static_cast<uint8_t>(tm.tm_wday == 0 ? 7 : tm.tm_wday),
          Bcd(tm.tm_mday),
          Bcd(tm.tm_mon + 1),
          Bcd(tm.tm_year % 100)};
}

bool SimClock::Set(std::span<const uint8_t, 7> b) {
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
  offset_ = static_cast<long long>(t) - static_cast<long long>(now_());
  return true;
}

}  // namespace lentar::boardsim
