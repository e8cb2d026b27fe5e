// Reader of board data images, for showing an operator what a board received.
//
// An image is read the way the board reads it: runs of text bytes, and at
// every 0x00 a command record that the board steps over by its length byte.
// Bytes that cannot be a record (an unknown code, a length that does not
// belong to the code, a record cut off by the end of the image) are reported
// as an unparsable range instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lentar {

struct ImageEntry {
  enum class Kind { Text, Record, Unparsable };
  Kind kind = Kind::Text;
  size_t offset = 0;  // first byte in the image
  size_t size = 0;    // bytes covered
  uint8_t code = 0;   // record code (Kind::Record only)
};

// Splits an image into text runs, records and unparsable ranges, in order;
// together they cover every byte exactly once.
std::vector<ImageEntry> ReadBoardImage(const uint8_t* image, size_t n);

// One line describing an entry, without its offset, in the program's
// Windows-1251: "PAUSE 300", "SP 255", "IMG 120 байт", "ТЕКСТ 5 байт",
// "НЕ РАЗОБРАНО 3 байта: 00 07 09" (at most 16 bytes shown). A text run is described by its size only; its bytes are the
// caller's to show in the terminal's encoding. entry must come from
// ReadBoardImage of the same image.
std::string DescribeImageEntry(const ImageEntry& entry, const uint8_t* image);

}  // namespace lentar
