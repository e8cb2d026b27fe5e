// The real serial line over QSerialPort, for the port's default line.
#pragma once

#include <memory>

#include "comm/serialline.h"

namespace lentar::comm {

// Needs a QCoreApplication (the line's thread runs an event loop); Open fails
// with a reason when there is none.
std::unique_ptr<SerialLine> MakeQtSerialLine();

}  // namespace lentar::comm
