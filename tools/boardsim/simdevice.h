// What the simulated devices (board, loader) have in common: the shape of
// their replies, their battery-backed calendar clock, and the table of named
// command handlers each device kind answers requests from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace lentar::boardsim {

// A reply payload, or nullopt when the device stays silent.
using Reply = std::optional<std::vector<uint8_t>>;

// Text replies start 0x02 0x01, data replies 0x03 0x01.
std::vector<uint8_t> TextReply(std::string_view text);
std::vector<uint8_t> DataReply(std::span<const uint8_t> bytes);
inline std::vector<uint8_t> Ack() { return TextReply("OK"); }
inline std::vector<uint8_t> Refuse() { return TextReply("ER"); }
inline std::vector<uint8_t> AckIf(bool ok) { return ok ? Ack() : Refuse(); }

// One request as a handler sees it.
struct Request {
  std::span<const uint8_t> arg;  // the bytes after the command code
  // Set by a handler whose reply must go out before the line switches to
  // that speed (an index into the rate table).
  int newRateIndex = -1;
};

// One command a device answers: its code and the member function answering it.
template <class Device>
struct Command {
  uint8_t code;
  Reply (Device::*answer)(Request&);
};

// The device's answer to the command with the given code; silence for a code
// that is not in its table, as a real device ignores what it does not know.
template <class Device, size_t N>
Reply Answer(Device& device, const std::array<Command<Device>, N>& table, uint8_t code,
             Request& request) {
  for (const Command<Device>& c : table)
    if (c.code == code) return (device.*c.answer)(request);
  return std::nullopt;
}

// A device's calendar clock: it runs from the computer's clock at an offset
// that setting it changes. Its wire form is 7 BCD bytes: seconds, minutes,
// hours, day of week (1 = Monday .. 7 = Sunday), day, month, year - 2000.
class SimClock {
 public:
  SimClock();
  // The computer's clock the device's clock runs from (tests).
  void SetTimeSource(std::function<std::time_t()> now) { now_ = std::move(now); }
  std::array<uint8_t, 7> Read() const;
  // Takes the 7 bytes of the wire form. False, and the clock unchanged, for a
  // time that does not exist. The day of week sent along is not kept: it is
  // worked out from the date when the clock is read.
  bool Set(std::span<const uint8_t, 7> bytes);

 private:
  long long offset_ = 0;  // device time minus computer time, seconds
  std::function<std::time_t()> now_;
};

}  // namespace lentar::boardsim
