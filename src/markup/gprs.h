// The GPRS package: the board data image wrapped for delivery over a GPRS
// link in a text file that travels to the board outside the program.
//
// Package (little-endian):
//   0  2  sum of the bytes from offset 4 to the end, modulo 65536
//   2  2  sum of (byte XOR 0x53) over the same bytes, modulo 65536
//   4  4  running version number (signed, 0..0x7FFFFFFE)
//   8  1  package type (the program writes 1)
//   9  4  image length n (signed, above 0)
//  13  3  reserved, zero
//  16  n  the image, unchanged
//
// The file holds the package escaped so that every byte is 0x7F or above: a
// byte below 0x80 is written as 0x7F followed by (byte OR 0x80); bytes from
// 0x80 up are written as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace lentar {

inline constexpr size_t kGprsHeaderSize = 16;
inline constexpr uint8_t kGprsBoardDataType = 1;
inline constexpr uint8_t kGprsEscape = 0x7F;
inline constexpr uint32_t kGprsMaxVersion = 0x7FFFFFFE;

// The package before escaping; empty when n is 0 or image is null.
std::vector<uint8_t> BuildGprsPackage(uint8_t type, const uint8_t* image, size_t n,
                                      int32_t version);

// Escapes a package for the file.
std::vector<uint8_t> EscapeGprs(const uint8_t* bytes, size_t n);

// The escaped package of an image, ready to be written to the file; empty for
// an empty image.
std::vector<uint8_t> EncodeGprsPackage(uint8_t type, const uint8_t* image, size_t n,
                                       int32_t version);

// Restores the package from the file's bytes (every pair 0x7F, x becomes
// x AND 0x7F). Fails on a byte below 0x7F, which the escaping never writes,
// and on a final 0x7F with nothing after it.
std::optional<std::vector<uint8_t>> UnescapeGprs(const uint8_t* bytes, size_t n);

struct GprsPackage {
  int32_t version = 0;
  uint8_t type = 0;
  std::vector<uint8_t> image;
};

// Reads an unescaped package: the header must be whole, the length must match
// the bytes that follow it and both checksums must agree.
std::optional<GprsPackage> ParseGprsPackage(const uint8_t* bytes, size_t n);

// The version number for the next export from the stored one: one more, and
// 0 once that would pass 0x7FFFFFFE.
uint32_t NextGprsVersion(uint32_t stored);

}  // namespace lentar
