// lentar-cli ports: the serial ports of this computer, and the Windows names
// (COMn) the settings file uses for them.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/cli_common.h"
#include "lines/portlist.h"

namespace lentar::cli {

namespace {

constexpr const char* kCommand = "ports";

void PrintHelp() {
  std::printf(
      "Использование: lentar-cli ports\n"
      "\n"
      "Перечисляет последовательные устройства, о которых сообщает система\n"
      "(устройство, описание, изготовитель, серийный номер и коды USB\n"
      "изготовитель:изделие, где известны), затем имена COMn, которые указывают\n"
      "на существующие устройства. Любое из них, а также socket://УЗЕЛ:ПОРТ и\n"
      "rfc2217://УЗЕЛ:ПОРТ для табло за сетевым сервером последовательных портов,\n"
      "годится для --port и для ключей портов в настройках.\n"
      "\n"
      "Код выхода: 0 выполнено, 2 ошибка вызова.\n");
}

void Field(const char* label, const std::string& value) {
  if (value.empty()) return;
  // Padded by characters, not bytes: the labels are Russian UTF-8.
  std::string padded = label;
  const auto chars = std::count_if(padded.begin(), padded.end(),
                                   [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
  padded.append(static_cast<size_t>(std::max<std::ptrdiff_t>(1, 17 - chars)), ' ');
  std::printf("    %s", padded.c_str());
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
    return UsageError(kCommand, "лишний аргумент '" + parsed->positional[0] + "'");

  const auto ports = comm::ListSystemPorts();
  std::printf("Последовательные устройства: %zu\n", ports.size());
  for (const auto& p : ports) {
    std::printf("  %s\n", CliPath(p.device).c_str());
    Field("описание:", p.description);
    Field("изготовитель:", p.manufacturer);
    Field("серийный номер:", p.serialNumber);
    if (p.vendorId || p.productId) {
      char ids[16];
      std::snprintf(ids, sizeof ids, "%04x:%04x", p.vendorId.value_or(0), p.productId.value_or(0));
      Field("код USB:", ids);
    }
  }
  const auto names = comm::ListComNames();
  std::printf("Имена Windows: %zu\n", names.size());
  for (const auto& n : names) {
    bool reported = false;
    for (const auto& p : ports) reported = reported || p.device == n.device;
    std::printf("  %-7s %s%s\n", n.name.c_str(), CliPath(n.device).c_str(),
                reported ? "" : "  (система не сообщает о порте на нём)");
  }
  return kExitOk;
}

}  // namespace lentar::cli
