// Line settings of a serial port and their stored form.
//
// The settings are kept as a 52-byte block laid out like the Windows port
// configuration record (COMMCONFIG with its device control block at offset 8),
// so a configuration saved as hex text by the program on Windows reads the
// same on every platform, and bytes this program does not interpret survive a
// round trip unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lentar::comm {

// Bit rates by index; the protocols address speeds by this index (3 = 9600,
// the base rate).
inline constexpr std::array<int32_t, 9> RateTable = {1200,  2400,  4800,  9600,  19200,
                                                     28800, 38400, 57600, 115200};
// The rate of an index; an index outside 0..8 means 115200.
int32_t RateOfIndex(int index);

enum class Parity : uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
enum class FlowControl : uint8_t { None = 0, Hardware = 1, Software = 2 };

class PortConfig {
 public:
  static constexpr size_t kSize = 52;

  // The settings every port is opened with: 9600 bit/s, 8 data bits, no
  // parity, two stop bits, no flow control, DTR and RTS raised as asked.
  static PortConfig Default(bool dtrOn, bool rtsOn);

  int32_t BaudRate() const;
  void SetBaudRate(int32_t rate);
  int DataBits() const;  // 5..8
  void SetDataBits(int bits);
  // The enumerations are named in full: inside the class the plain names
  // are the accessors.
  comm::Parity Parity() const;
  void SetParity(comm::Parity parity);
  comm::StopBits StopBits() const;
  void SetStopBits(comm::StopBits stop);
  comm::FlowControl FlowControl() const;
  void SetFlowControl(comm::FlowControl flow);
  bool DtrOn() const;  // DTR raised while the port is open
  bool RtsOn() const;

  // 104 upper-case hex digits.
  std::string ToHex() const;
  // Copies at most 52 decoded bytes over the start of the block (bytes not
  // given keep their values; characters other than 0-9 and A-F are skipped).
  // Values the line cannot take (data bits, parity, stop bits out of range)
  // are put back to the defaults.
  void FromHex(std::string_view hex);

  const std::array<uint8_t, kSize>& Bytes() const { return block_; }
  bool operator==(const PortConfig&) const = default;

 private:
  uint32_t Get32(size_t offset) const;
  void Set32(size_t offset, uint32_t value);
  void Sanitize();
  std::array<uint8_t, kSize> block_{};
};

}  // namespace lentar::comm
