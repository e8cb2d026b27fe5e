#include "comm/portname.h"

#include <cctype>

namespace lentar::comm {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

constexpr std::string_view kRawScheme = "socket://";
constexpr std::string_view kRfc2217Scheme = "rfc2217://";

}  // namespace

bool IsNetworkPortName(std::string_view name) { return NetworkPortKind(name).has_value(); }

std::optional<NetworkPortName::Kind> NetworkPortKind(std::string_view name) {
  if (StartsWithNoCase(name, kRawScheme)) return NetworkPortName::Kind::Raw;
  if (StartsWithNoCase(name, kRfc2217Scheme)) return NetworkPortName::Kind::Rfc2217;
  return std::nullopt;
}

std::optional<NetworkPortName> ParseNetworkPort(std::string_view name) {
  NetworkPortName result;
  std::string_view rest;
  if (StartsWithNoCase(name, kRawScheme)) {
    result.kind = NetworkPortName::Kind::Raw;
    rest = name.substr(kRawScheme.size());
  } else if (StartsWithNoCase(name, kRfc2217Scheme)) {
    result.kind = NetworkPortName::Kind::Rfc2217;
    rest = name.substr(kRfc2217Scheme.size());
  } else {
    return std::nullopt;
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view portText;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
      return std::nullopt;
    result.host = std::string(rest.substr(1, close - 1));
    portText = rest.substr(close + 2);
  } else {
    const size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    result.host = std::string(rest.substr(0, colon));
    portText = rest.substr(colon + 1);
    if (result.host.find(':') != std::string::npos) return std::nullopt;
  }
  if (result.host.empty() || portText.empty() || portText.size() > 5) return std::nullopt;
  for (char c : result.host)
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '[' || c == ']' || c == '@')
      return std::nullopt;
  unsigned port = 0;
  for (char c : portText) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  result.port = static_cast<uint16_t>(port);
  return result;
}

std::optional<std::string> SystemDeviceOfComName(std::string_view name) {
  if (!StartsWithNoCase(name, "com") || name.size() < 4 || name.size() > 6) return std::nullopt;
  unsigned n = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n < 1 || n > 256 || name[3] == '0') return std::nullopt;
#ifdef _WIN32
  return std::string(name);
#else
  return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

bool CarriesModemLines(std::string_view device) {
  const auto network = ParseNetworkPort(device);
  return !network || network->kind != NetworkPortName::Kind::Raw;
}

}  // namespace lentar::comm
