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

// Looks a host name up: its addresses as text, none when the name is not
// known. The look-up counts against connectMs: one that takes longer is not
// waited for.
using NameResolver = std::function<std::vector<std::string>(const std::string& host)>;

// What a network line allows itself: the time to reach the server (name
// look-up and connection) and for a telnet server to agree to the com-port
// option, and who looks the host name up (the system's resolver when empty).
// Each line has its own; tests shorten the times and set a slow resolver.
struct NetworkLineOptions {
  int connectMs = 5000;
  int negotiateMs = 3000;
  NameResolver resolver;
};

// A line for one kind of network port. Needs a QCoreApplication.
std::unique_ptr<SerialLine> MakeTcpLine(NetworkPortName::Kind kind, NetworkLineOptions options = {});

}  // namespace lentar::comm
