#include "markup/gprs.h"

#include <cstring>

namespace lentar {

namespace {

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetLe16(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8); }

uint32_t GetLe32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Both checksums over bytes[4..n).
void Checksums(const uint8_t* bytes, size_t n, uint32_t& sum, uint32_t& xorSum) {
  sum = 0;
  xorSum = 0;
  for (size_t i = 4; i < n; ++i) {
    sum += bytes[i];
    xorSum += bytes[i] ^ 0x53u;
  }
  sum &= 0xFFFF;
  xorSum &= 0xFFFF;
}

}  // namespace

std::vector<uint8_t> BuildGprsPackage(uint8_t type, const uint8_t* image, size_t n,
                                      int32_t version) {
  std::vector<uint8_t> package;
  // The length field is a signed 32-bit count.
  if (image == nullptr || n == 0 || n > 0x7FFFFFFF) return package;
  package.assign(kGprsHeaderSize + n, 0);
  PutLe32(&package[4], static_cast<uint32_t>(version));
  package[8] = type;
  PutLe32(&package[9], static_cast<uint32_t>(n));
  std::memcpy(&package[kGprsHeaderSize], image, n);
  uint32_t sum = 0, xorSum = 0;
  Checksums(package.data(), package.size(), sum, xorSum);
  PutLe16(&package[0], sum);
  PutLe16(&package[2], xorSum);
  return package;
}

std::vector<uint8_t> EscapeGprs(const uint8_t* bytes, size_t n) {
  std::vector<uint8_t> out;
  if (bytes == nullptr) return out;
  out.resize(2 * n);
  size_t w = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    if (b < 0x80) {
      out[w++] = kGprsEscape;
      out[w++] = static_cast<uint8_t>(b | 0x80);
    } else {
      out[w++] = b;
    }
  }
  out.resize(w);
  return out;
}

std::vector<uint8_t> EncodeGprsPackage(uint8_t type, const uint8_t* image, size_t n,
                                       int32_t version) {
  const std::vector<uint8_t> package = BuildGprsPackage(type, image, n, version);
  return EscapeGprs(package.data(), package.size());
}

std::optional<std::vector<uint8_t>> UnescapeGprs(const uint8_t* bytes, size_t n) {
  std::vector<uint8_t> out;
  if (bytes == nullptr) return n == 0 ? std::optional(out) : std::nullopt;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    if (b == kGprsEscape) {
      if (i + 1 >= n) return std::nullopt;
      out.push_back(static_cast<uint8_t>(bytes[++i] & 0x7F));
    } else if (b < kGprsEscape) {
      return std::nullopt;
    } else {
      out.push_back(b);
    }
  }
  return out;
}

std::optional<GprsPackage> ParseGprsPackage(const uint8_t* bytes, size_t n) {
  if (bytes == nullptr || n < kGprsHeaderSize) return std::nullopt;
  const uint32_t length = GetLe32(bytes + 9);
  if (length == 0 || length > 0x7FFFFFFF || length != n - kGprsHeaderSize) return std::nullopt;
  uint32_t sum = 0, xorSum = 0;
  Checksums(bytes, n, sum, xorSum);
  if (sum != GetLe16(bytes) || xorSum != GetLe16(bytes + 2)) return std::nullopt;
  GprsPackage package;
  package.version = static_cast<int32_t>(GetLe32(bytes + 4));
  package.type = bytes[8];
  package.image.assign(bytes + kGprsHeaderSize, bytes + n);
  return package;
}

uint32_t NextGprsVersion(uint32_t stored) {
  const uint64_t next = uint64_t{stored} + 1;
  return next > kGprsMaxVersion ? 0 : static_cast<uint32_t>(next);
}

}  // namespace lentar
