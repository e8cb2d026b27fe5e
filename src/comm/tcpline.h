// Serial lines over the network, and the choice of line by port name.
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
//
// A connection that drops closes the line: writes fail and the port's waits
// end at once, and the line's CloseReason says why. Hostile servers are
// bounded: a telnet peer gets at most one answer per option and is dropped
// when it floods the line with option commands; a server that stops reading
// is dropped once more than 64 KiB have waited for it a few seconds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comm/serialline.h"

namespace lentar::comm {

struct NetworkPortName {
  enum class Kind { Raw, Rfc2217 };
  Kind kind = Kind::Raw;
  std::string host;
  uint16_t port = 0;
};

// True when the name starts with socket:// or rfc2217:// (any case).
bool IsNetworkPortName(std::string_view name);
// The parts of a network port name; nullopt when the name is not one or is
// malformed (no host, a port outside 1..65535).
std::optional<NetworkPortName> ParseNetworkPort(std::string_view name);

// Time allowed to reach the server (name look-up and connection), and for a
// telnet server to agree to the com-port option. Process-wide; tests shorten
// them.
struct NetworkTimeouts {
  int connectMs = 5000;
  int negotiateMs = 3000;
};
NetworkTimeouts GetNetworkTimeouts();
void SetNetworkTimeouts(const NetworkTimeouts& timeouts);

// Looks a host name up: its addresses as text, none when the name is not
// known. The system's resolver unless one is set (tests set a slow one; an
// empty function brings the system's back). The look-up counts against
// connectMs: one that takes longer is not waited for.
using NameResolver = std::function<std::vector<std::string>(const std::string& host)>;
void SetNameResolver(NameResolver resolver);

// False for a port that carries no modem lines (raw socket://): a modem
// call through it could never be seen to come up or go down.
bool CarriesModemLines(std::string_view device);

// The system device of a Windows port name "COMn" (any case, n = 1..256):
// /dev/ttyS(n-1) here, the name itself on Windows; nullopt for other names.
std::optional<std::string> SystemDeviceOfComName(std::string_view name);

// A line for one kind of network port. Needs a QCoreApplication.
std::unique_ptr<SerialLine> MakeTcpLine(NetworkPortName::Kind kind);

// The line a port uses by default: it opens a network line for network port
// names and the serial line for everything else (COMn as its system device),
// and lists the serial devices the system reports.
std::unique_ptr<SerialLine> MakePortLine();

}  // namespace lentar::comm
