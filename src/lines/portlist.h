// The serial ports of this computer, as the system reports them, and the
// Windows names (COMn) the settings use for them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lentar::comm {

struct SystemPort {
  std::string device;        // the path to open, such as /dev/ttyUSB0
  std::string description;   // empty where the system does not say
  std::string manufacturer;
  std::string serialNumber;
  std::optional<uint16_t> vendorId;   // USB ids, where known
  std::optional<uint16_t> productId;
};

// The serial devices the system reports, sorted by device path. Texts are
// Windows-1251.
std::vector<SystemPort> ListSystemPorts();

struct ComName {
  std::string name;    // "COM1"
  std::string device;  // "/dev/ttyS0"
};

// The names COM1 .. COM256 whose system device exists, in order.
std::vector<ComName> ListComNames();

}  // namespace lentar::comm
