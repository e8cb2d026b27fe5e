// Binary command records of the board data.
//
// Every tag of the board text becomes one record (a blank-column run or a
// picture may become several) written between the text bytes:
//
//   byte 0  0x00          marks a record inside the text
//   byte 1  length        bytes that follow this one (record size - 2)
//   byte 2  kind          low nibble 0, 1 or 2 per code; high nibble bits 8..11
//                         of the record's 12-bit duration, where it has one
//   byte 3  code          1..13 (RecordCode)
//   byte 4..              parameters
//
// The board steps over records by their length byte. Each record is built
// from a fixed template whose parameter bytes are then filled in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lentar {

enum class RecordCode : uint8_t {
  Font = 1,
  Img = 2,
  Pause = 3,
  Blink = 4,
  Par = 5,
  Jmp = 6,
  Frame = 7,
  Spd = 8,
  Sp = 9,
  Inv = 10,
  BCol = 11,
  FCol = 12,
  Eff = 13,
};

// Byte positions inside a record.
inline constexpr size_t kRecMarker = 0;
inline constexpr size_t kRecLength = 1;
inline constexpr size_t kRecKind = 2;
inline constexpr size_t kRecCode = 3;

// Fixed facts about one record code, shared by the encoder and the image
// reader.
struct RecordInfo {
  const char* name;  // tag name, upper case
  RecordCode code;
  uint8_t size;       // whole record size in bytes; 0 for the picture record
  uint8_t kind;       // low nibble of byte 2
  bool hasDuration;   // byte 2 high nibble + byte 6 hold a 12-bit duration
};

// The facts of a code, or nullptr for a byte that is no record code.
const RecordInfo* FindRecordInfo(uint8_t code);

// Largest number of picture bytes in one picture record: the largest whole
// number of picture columns (fontHeightBytes * channelCount bytes each) that
// fits in 120 bytes.
size_t PictureChunkSize(int fontHeightBytes, int channelCount);

// Largest number of blank columns in one SP record: 255 div fontHeightBytes.
int BlankColumnsPerRecord(int fontHeightBytes);

// Writes the record(s) of one tag at out and returns the bytes written; 0 for
// an unknown name or a rejected tag. Never writes more than room bytes: a
// record that would not fit is not written, and a run of blank columns stops
// at the last whole record that fits. name must already be upper case; extra
// is not used. fontHeightBytes (1..4) and channelCount (1..8) are clamped to
// their ranges. Matches the TagEncoder signature of ScanTags.
size_t EncodeTag(std::string_view name, std::string_view args, std::string_view extra,
                 uint8_t* out, size_t room, int fontHeightBytes, int channelCount);

}  // namespace lentar
