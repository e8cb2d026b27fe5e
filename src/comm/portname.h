// Port names: the serial world's names for a board's line, taken apart.
//
// Boards often hang behind an Ethernet-to-serial converter or a serial
// server. Such a port is named the way the serial world names it:
//   socket://HOST:PORT   raw TCP: bytes only. There are no line settings and
//                        no modem lines: bit-rate changes are accepted and do
//                        nothing, DSR reads as on while connected.
//   rfc2217://HOST:PORT  telnet with Com Port Control (RFC 2217): the server
//                        sets its serial port's bit rate, data bits, parity
//                        and stop bits as the port's configuration says,
//                        drives DTR and RTS, purges its queues, and reports
//                        DSR, so a modem on a remote serial server works.
// HOST may be a name, an IPv4 address or an IPv6 address in brackets.
// Every other name is a serial device; COMn names one by its Windows name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lentar::comm {

struct NetworkPortName {
  enum class Kind { Raw, Rfc2217 };
  Kind kind = Kind::Raw;
  std::string host;
  uint16_t port = 0;
};

// True when the name starts with socket:// or rfc2217:// (any case).
bool IsNetworkPortName(std::string_view name);
// The kind of network port a name's scheme asks for, whatever follows it;
// nullopt for a name that is not a network port's.
std::optional<NetworkPortName::Kind> NetworkPortKind(std::string_view name);
// The parts of a network port name; nullopt when the name is not one or is
// malformed (no host, a port outside 1..65535).
std::optional<NetworkPortName> ParseNetworkPort(std::string_view name);

// False for a port that carries no modem lines (raw socket://): a modem
// call through it could never be seen to come up or go down.
bool CarriesModemLines(std::string_view device);

// The system device of a Windows port name "COMn" (any case, n = 1..256):
// /dev/ttyS(n-1) here, the name itself on Windows; nullopt for other names.
std::optional<std::string> SystemDeviceOfComName(std::string_view name);

}  // namespace lentar::comm
