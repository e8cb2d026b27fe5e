#include "markup/imagedump.h"

#include <cstdio>
#include <cstring>

#include "core/textutil.h"
#include "markup/encoder.h"

namespace lentar {

namespace {

constexpr size_t kMaxPictureChunk = 120;

// True when the size bytes at rec form a well-made record of a known code.
bool IsWellFormedRecord(const uint8_t* rec, size_t size) {
  if (size < 4) return false;
  const RecordInfo* info = FindRecordInfo(rec[kRecCode]);
  if (info == nullptr) return false;
  if (info->code == RecordCode::Img) {
    if (size < 5 || size > 4 + kMaxPictureChunk) return false;
  } else if (size != info->size) {
    return false;
  }
  if ((rec[kRecKind] & 0x0F) != info->kind) return false;
  if (!info->hasDuration && (rec[kRecKind] & 0xF0) != 0) return false;
  return true;
}

unsigned Duration(const uint8_t* rec) { return ((rec[kRecKind] >> 4) << 8) | rec[6]; }

}  // namespace

std::vector<ImageEntry> ReadBoardImage(const uint8_t* image, size_t n) {
  std::vector<ImageEntry> entries;
  if (image == nullptr) return entries;
  size_t pos = 0;
  while (pos < n) {
    if (image[pos] != 0) {
      const void* zero = std::memchr(image + pos, 0, n - pos);
      const size_t end = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - image) : n;
      entries.push_back({ImageEntry::Kind::Text, pos, end - pos, 0});
      pos = end;
      continue;
    }
    if (pos + 1 >= n) {  // a marker with no length byte
      entries.push_back({ImageEntry::Kind::Unparsable, pos, 1, 0});
      break;
    }
    const size_t size = size_t{image[pos + 1]} + 2;
    if (size > n - pos) {  // cut off by the end of the image
      entries.push_back({ImageEntry::Kind::Unparsable, pos, n - pos, 0});
      break;
    }
    if (IsWellFormedRecord(image + pos, size)) {
      entries.push_back({ImageEntry::Kind::Record, pos, size, image[pos + kRecCode]});
    } else {
      // The board steps over it by its length byte; so does the reader.
      entries.push_back({ImageEntry::Kind::Unparsable, pos, size, 0});
    }
    pos += size;
  }
  return entries;
}

namespace {

// "5 байт", "2 байта", in the program's Windows-1251.
std::string ByteCount(size_t n) {
  return std::to_string(n) + " " +
         Utf8ToCp1251(RussianCountForm(static_cast<long long>(n), "байт", "байта", "байт"));
}

}  // namespace

std::string DescribeImageEntry(const ImageEntry& entry, const uint8_t* image) {
  const uint8_t* p = image + entry.offset;
  char line[160];
  switch (entry.kind) {
    case ImageEntry::Kind::Text:
      return Utf8ToCp1251(u8"ТЕКСТ ") + ByteCount(entry.size);
    case ImageEntry::Kind::Unparsable: {
      std::string text = Utf8ToCp1251(u8"НЕ РАЗОБРАНО ") + ByteCount(entry.size) + ":";
      constexpr size_t kShown = 16;
      for (size_t i = 0; i < entry.size && i < kShown; ++i) {
        std::snprintf(line, sizeof line, " %02X", p[i]);
        text += line;
      }
      if (entry.size > kShown) text += " ...";
      return text;
    }
    case ImageEntry::Kind::Record:
      break;
  }
  const RecordInfo* info = FindRecordInfo(entry.code);
  const char* name = info ? info->name : "?";
  switch (static_cast<RecordCode>(entry.code)) {
    case RecordCode::Img:
      return name + (" " + ByteCount(entry.size - 4));
    case RecordCode::Pause:
    case RecordCode::Spd:
      std::snprintf(line, sizeof line, "%s %u", name,
                    entry.code == static_cast<uint8_t>(RecordCode::Pause) ? Duration(p) : p[5]);
      break;
    case RecordCode::Blink:
      std::snprintf(line, sizeof line, "%s %u %s %u", name, Duration(p),
                    Utf8ToCp1251(u8"маска").c_str(), p[7]);
      break;
    case RecordCode::Par:
      std::snprintf(line, sizeof line, "%s %s %u %s %u", name, Utf8ToCp1251(u8"вид").c_str(), p[7],
                    Utf8ToCp1251(u8"ширина").c_str(), p[5]);
      break;
    case RecordCode::Jmp:
    case RecordCode::Frame:
      std::snprintf(line, sizeof line, "%s %u %s %u", name, Duration(p),
                    Utf8ToCp1251(u8"стоп").c_str(), p[4]);
      break;
    case RecordCode::Eff:
      return std::string(name) + Utf8ToCp1251(u8" тип ") + std::to_string(p[5]) +
             Utf8ToCp1251(u8" длительность ") + std::to_string(Duration(p)) +
             Utf8ToCp1251(u8" пауза ") + std::to_string(p[9]) + Utf8ToCp1251(u8" замедление ") +
             std::to_string(p[10]) + Utf8ToCp1251(u8" фрагмент ") + std::to_string(p[11]);
      break;
    default:  // FONT, SP, INV, BCOL, FCOL: one value in byte 4
      std::snprintf(line, sizeof line, "%s %u", name, p[4]);
      break;
  }
  return line;
}

}  // namespace lentar
