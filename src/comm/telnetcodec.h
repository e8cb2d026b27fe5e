// Telnet with the Com Port Control option (RFC 854 and RFC 2217): the byte
// codec both ends of a network serial line share.
//
// A serial server (ser2net, an Ethernet-to-serial converter) carries the
// serial line's bytes inside a telnet session: the byte 255 (IAC) starts a
// command, so data bytes of value 255 travel doubled; options are agreed by
// WILL/WONT/DO/DONT; the serial settings (bit rate, data bits, parity, stop
// bits, DTR, RTS, purges) go to the server as COM-PORT-OPTION subnegotiations,
// and the server reports the modem lines (DSR among them) back the same way.
//
// The codec keeps the option states and turns received bytes into data,
// answers to send back and com-port events. It is plain C++ with no I/O, so
// the network line, the simulated serial server and a fuzzer drive the same
// code. Nothing a peer sends can make it grow without bound: a subnegotiation
// longer than kMaxSubnegotiation is dropped whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lentar::comm::telnet {

// Telnet commands.
inline constexpr uint8_t kSE = 240;
inline constexpr uint8_t kNOP = 241;
inline constexpr uint8_t kSB = 250;
inline constexpr uint8_t kWILL = 251;
inline constexpr uint8_t kWONT = 252;
inline constexpr uint8_t kDO = 253;
inline constexpr uint8_t kDONT = 254;
inline constexpr uint8_t kIAC = 255;

// Options.
inline constexpr uint8_t kOptBinary = 0;
inline constexpr uint8_t kOptEcho = 1;
inline constexpr uint8_t kOptSuppressGoAhead = 3;
inline constexpr uint8_t kOptComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers and
// notifies with the same command plus kServerOffset.
enum class ComCommand : uint8_t {
  SetBaudRate = 1,
  SetDataSize = 2,
  SetParity = 3,
  SetStopSize = 4,
  SetControl = 5,
  NotifyLineState = 6,
  NotifyModemState = 7,
  FlowControlSuspend = 8,
  FlowControlResume = 9,
  SetLineStateMask = 10,
  SetModemStateMask = 11,
  PurgeData = 12,
};
inline constexpr uint8_t kServerOffset = 100;

// SET-CONTROL values used here.
inline constexpr uint8_t kControlNoFlow = 1;
inline constexpr uint8_t kControlHardwareFlow = 3;
inline constexpr uint8_t kControlSoftwareFlow = 2;
inline constexpr uint8_t kControlRequestDtr = 7;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRequestRts = 10;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;
// PARITY values: 1 none, 2 odd, 3 even, 4 mark, 5 space. STOPSIZE values:
// 1 one, 2 two, 3 one and a half.
// PURGE-DATA values: 1 the server's receive buffer, 2 its transmit buffer,
// 3 both.
inline constexpr uint8_t kPurgeBoth = 3;
// Modem state bits of NOTIFY-MODEMSTATE (the low nibble holds the deltas).
inline constexpr uint8_t kModemCd = 0x80;
inline constexpr uint8_t kModemRi = 0x40;
inline constexpr uint8_t kModemDsr = 0x20;
inline constexpr uint8_t kModemCts = 0x10;
inline constexpr uint8_t kModemDeltaDsr = 0x02;

inline constexpr size_t kMaxSubnegotiation = 64;
// A serial server settles its options in a handful of commands. A peer that
// sends more option commands than this in one connection is flooding the
// line, not negotiating.
inline constexpr size_t kMaxOptionCommands = 1000;

// One COM-PORT-OPTION subnegotiation received: the command (the server's
// offset taken off, so both ends see 1..12) and its value bytes.
struct ComEvent {
  uint8_t command = 0;
  std::vector<uint8_t> value;
  bool operator==(const ComEvent&) const = default;
};

class Codec {
 public:
  // The client is the program's side; the server is the serial server's.
  enum class Role { Client, Server };

  explicit Codec(Role role);

  // The offers that open a session: binary both ways, no go-ahead, and the
  // com-port option.
  std::vector<uint8_t> Start();

  // Decodes received bytes. Serial data is appended to data; answers the
  // protocol requires (option replies) to reply; com-port subnegotiations of
  // the peer to events.
  void Receive(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data,
               std::vector<uint8_t>& reply, std::vector<ComEvent>& events);

  // Appends serial data to out as it travels: 255 doubled, and a carriage
  // return followed by a zero byte while this side does not send binary.
  void EncodeData(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out) const;

  // Appends a com-port subnegotiation (the server's offset added when this
  // side is the server) to out; value bytes of 255 are doubled.
  void EncodeCommand(ComCommand command, const uint8_t* value, size_t count,
                     std::vector<uint8_t>& out) const;
  void EncodeCommand(ComCommand command, uint8_t value, std::vector<uint8_t>& out) const {
    EncodeCommand(command, &value, 1, out);
  }
  // SET-BAUDRATE and its answer carry the rate as four bytes, high first.
  void EncodeBaudRate(uint32_t rate, std::vector<uint8_t>& out) const;
  static uint32_t BaudRateOf(const std::vector<uint8_t>& value);

  // The com-port option is agreed (either side enabled it).
  bool ComPortAgreed() const;
  // The peer refused the com-port option both ways.
  bool ComPortRefused() const;
  // The peer has sent more than kMaxOptionCommands option commands.
  bool Flooding() const { return optionCommands_ > kMaxOptionCommands; }
  bool SendsBinary() const;
  bool ReceivesBinary() const;

 private:
  enum class State { Data, Iac, Option, SbOption, SbData, SbIac };
  enum class Q : uint8_t { No, Yes, WantYes };

  bool LocalSupported(uint8_t option) const;
  bool RemoteSupported(uint8_t option) const;
  void OnOption(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply);
  void EndSubnegotiation(std::vector<ComEvent>& events);

  Role role_;
  State state_ = State::Data;
  uint8_t verb_ = 0;
  bool afterCr_ = false;
  uint8_t sbOption_ = 0;
  bool sbOverflow_ = false;
  std::vector<uint8_t> sb_;
  std::array<Q, 256> local_{};   // this side's options (we WILL)
  std::array<Q, 256> remote_{};  // the peer's options (they WILL)
  // Options of each side this side has answered for: every option is
  // answered at most once, so a peer that repeats its requests (or flips an
  // option back and forth) gets at most one reply per option, however much
  // it sends.
  std::array<bool, 256> localAnswered_{};
  std::array<bool, 256> remoteAnswered_{};
  size_t optionCommands_ = 0;
  bool localComRefused_ = false;
  bool remoteComRefused_ = false;
};

}  // namespace lentar::comm::telnet
