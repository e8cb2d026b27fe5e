// The port's default line, chosen by the port name: the real serial line for
// a device.
#include <gtest/gtest.h>

#include "comm/comport.h"

namespace {

using lentar::comm::TComPort;

TEST(ComPort, OpenWithAMissingDeviceReportsTheSystemsReason) {
  TComPort port(true, true);
  port.Open("/nonexistent/lentar-no-such-port");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.OpenFailed());
  EXPECT_FALSE(port.LastErrorText().empty());
}

}  // namespace
