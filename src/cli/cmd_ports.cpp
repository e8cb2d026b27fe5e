// lentar-cli ports: the serial ports of this computer, and the Windows names
// (COMn) the settings file uses for them.
#include <cstdio>
#include <string>

#include "cli/cli_common.h"
#include "comm/portlist.h"

namespace lentar::cli {

namespace {

constexpr const char* kCommand = "ports";

void PrintHelp() {
  std::printf(
      "Usage: lentar-cli ports\n"
      "\n"
      "Lists the serial devices the system reports (device, description,\n"
      "manufacturer, serial number and USB vendor:product ids where known), then\n"
      "the names COMn that map to existing devices. Any of them, or\n"
      "socket://HOST:PORT and rfc2217://HOST:PORT for a board behind a network\n"
      "serial server, goes to --port and to the settings' port keys.\n"
      "\n"
      "Exit status: 0 done, 2 usage error.\n");
}

void Field(const char* label, const std::string& value) {
  if (value.empty()) return;
  std::printf("    %-14s", label);
  PrintCp1251(stdout, value);
  std::fputc('\n', stdout);
}

}  // namespace

int RunPorts(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(args, {}, error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (!parsed->positional.empty())
    return UsageError(kCommand, "unexpected '" + parsed->positional[0] + "'");

  const auto ports = comm::ListSystemPorts();
  std::printf("Serial devices: %zu\n", ports.size());
  for (const auto& p : ports) {
    std::printf("  %s\n", CliPath(p.device).c_str());
    Field("description:", p.description);
    Field("manufacturer:", p.manufacturer);
    Field("serial number:", p.serialNumber);
    if (p.vendorId || p.productId) {
      char ids[16];
      std::snprintf(ids, sizeof ids, "%04x:%04x", p.vendorId.value_or(0), p.productId.value_or(0));
      Field("USB id:", ids);
    }
  }
  const auto names = comm::ListComNames();
  std::printf("Windows names: %zu\n", names.size());
  for (const auto& n : names) {
    bool reported = false;
    for (const auto& p : ports) reported = reported || p.device == n.device;
    std::printf("  %-7s %s%s\n", n.name.c_str(), CliPath(n.device).c_str(),
                reported ? "" : "  (no port reported on it)");
  }
  return kExitOk;
}

}  // namespace lentar::cli
