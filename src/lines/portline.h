// The line a port uses by default: it opens a network line for network port
// names (comm/portname.h) and the serial line for everything else (COMn as
// its system device), and lists the serial devices the system reports. A
// TComPort made without a line factory uses it. Needs a QCoreApplication.
#pragma once

#include <memory>

#include "comm/serialline.h"

namespace lentar::comm {

std::unique_ptr<SerialLine> MakePortLine();

}  // namespace lentar::comm
