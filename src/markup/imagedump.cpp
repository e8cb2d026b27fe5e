#include "markup/imagedump.h"

#include <cstdio>
#include <cstring>

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

std::string DescribeImageEntry(const ImageEntry& entry, const uint8_t* image) {
  const uint8_t* p = image + entry.offset;
  char line[160];
  switch (entry.kind) {
    case ImageEntry::Kind::Text:
      return "TEXT " + std::to_string(entry.size) + " bytes";
    case ImageEntry::Kind::Unparsable: {
      std::string text = "UNPARSABLE " + std::to_string(entry.size) + " bytes:";
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
      std::snprintf(line, sizeof line, "%s %zu bytes", name, entry.size - 4);
      break;
    case RecordCode::Pause:
    case RecordCode::Spd:
      std::snprintf(line, sizeof line, "%s %u", name,
                    entry.code == static_cast<uint8_t>(RecordCode::Pause) ? Duration(p) : p[5]);
      break;
    case RecordCode::Blink:
      std::snprintf(line, sizeof line, "%s %u mask %u", name, Duration(p), p[7]);
      break;
    case RecordCode::Par:
      std::snprintf(line, sizeof line, "%s kind %u width %u", name, p[7], p[5]);
      break;
    case RecordCode::Jmp:
    case RecordCode::Frame:
      std::snprintf(line, sizeof line, "%s %u stop %u", name, Duration(p), p[4]);
      break;
    case RecordCode::Eff:
      std::snprintf(line, sizeof line, "%s type %u duration %u pause %u slowdown %u fragment %u",
                    name, p[5], Duration(p), p[9], p[10], p[11]);
      break;
    default:  // FONT, SP, INV, BCOL, FCOL: one value in byte 4
      std::snprintf(line, sizeof line, "%s %u", name, p[4]);
      break;
  }
  return line;
}

}  // namespace lentar
