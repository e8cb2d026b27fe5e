// The line a port uses by default: it opens a network line for network port
// names (comm/portname.h) and the serial line for everything else (COMn as
// its system device), and lists the serial devices the system reports. A
// TComPort made without a line factory uses it. A network line it opens
// takes its times and resolver from the options it was made with. Needs a
// QCoreApplication.
#pragma once

#include <memory>

#include "comm/serialline.h"
#include "lines/tcpline.h"

namespace lentar::comm {

std::unique_ptr<SerialLine> MakePortLine(NetworkLineOptions network = {});
// Makes such lines: for a TComPort or a session whose network lines need
// other times or another resolver.
LineFactory PortLineFactory(NetworkLineOptions network = {});

}  // namespace lentar::comm
