#include "lines/portlist.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <filesystem>

#include "comm/portname.h"
#include "core/paths.h"
#include "core/textutil.h"

namespace lentar::comm {

namespace {

std::string Text(const QString& text) { return Utf8ToCp1251(text.trimmed().toUtf8().toStdString()); }

}  // namespace

std::vector<SystemPort> ListSystemPorts() {
  std::vector<SystemPort> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    SystemPort p;
    p.device = FromNativePath(std::filesystem::path(info.systemLocation().toStdU16String()));
    p.description = Text(info.description());
    p.manufacturer = Text(info.manufacturer());
    p.serialNumber = Text(info.serialNumber());
    if (info.hasVendorIdentifier()) p.vendorId = info.vendorIdentifier();
    if (info.hasProductIdentifier()) p.productId = info.productIdentifier();
    ports.push_back(std::move(p));
  }
  std::sort(ports.begin(), ports.end(),
            [](const SystemPort& a, const SystemPort& b) { return a.device < b.device; });
  return ports;
}

std::vector<ComName> ListComNames() {
  std::vector<ComName> names;
  for (int n = 1; n <= 256; ++n) {
    const std::string name = "COM" + std::to_string(n);
    const auto device = SystemDeviceOfComName(name);
    if (!device) continue;
#ifdef _WIN32
    // Windows keeps its names itself: the ones it reports are the ones there.
    bool exists = false;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
      exists = exists || info.portName().compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0;
#else
    std::error_code ec;
    const bool exists = std::filesystem::exists(*device, ec);
#endif
    if (exists) names.push_back({name, *device});
  }
  return names;
}

}  // namespace lentar::comm
