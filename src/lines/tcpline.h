// Serial lines over the network: the socket:// and rfc2217:// ports that
// comm/portname.h names, each a QTcpSocket in a thread of its own.
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

#include "comm/portname.h"
#include "comm/serialline.h"

namespace lentar::comm {

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

// A line for one kind of network port. Needs a QCoreApplication.
std::unique_ptr<SerialLine> MakeTcpLine(NetworkPortName::Kind kind);

}  // namespace lentar::comm
