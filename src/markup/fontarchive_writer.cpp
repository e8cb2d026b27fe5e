#include "markup/fontarchive_writer.h"

#include <algorithm>
#include <cstddef>
#include <map>

namespace lentar {

namespace {

void PutU16(std::vector<uint8_t>& out, size_t at, size_t value) {
  out[at] = static_cast<uint8_t>(value & 0xFF);
  out[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

bool BuildTabFont(const std::string& name, int heightBytes, int charSpacing,
                  const GlyphColumnsTable& glyphs, TTabFont& font, std::string& error) {
  TTabFont result;
  result.FontName = name;
  result.HeightBytes = heightBytes;
  result.CharSpacing = charSpacing;
  result.GlyphOffsets.assign(256, 0);
  std::map<std::vector<uint8_t>, size_t> placed;
  for (size_t code = 0; code < 256; ++code) {
    const std::vector<uint8_t>& columns = glyphs[code];
    if (columns.size() > 255) {
      error = "glyph " + std::to_string(code) + " has " + std::to_string(columns.size()) +
              " column bytes (at most 255)";
      return false;
    }
    auto found = placed.find(columns);
    if (found == placed.end()) {
      const size_t offset = result.GlyphData.size();
      if (offset + 1 + columns.size() > 0xFFFF) {
        error = "glyph data of font '" + name + "' passes 65535 bytes";
        return false;
      }
      result.GlyphData.push_back(static_cast<uint8_t>(columns.size()));
      result.GlyphData.insert(result.GlyphData.end(), columns.begin(), columns.end());
      found = placed.emplace(columns, offset).first;
    }
    result.GlyphOffsets[code] = static_cast<uint16_t>(found->second);
  }
  font = std::move(result);
  return true;
}

size_t FontArchiveSize(const std::vector<TTabFont>& fonts) {
  size_t size = kArchiveHeaderSize;
  for (const TTabFont& font : fonts) size += kFontBlockHeaderSize + font.GlyphData.size();
  return size;
}

bool WriteFontArchive(const std::vector<TTabFont>& fonts, std::vector<uint8_t>& out,
                      std::string& error) {
  if (fonts.size() > static_cast<size_t>(kMaxArchiveFonts)) {
    error = "an archive holds at most 64 fonts";
    return false;
  }
  for (const TTabFont& font : fonts) {
    if (!font.HasTables()) {
      error = "font '" + font.FontName + "' has no glyph tables";
      return false;
    }
    if (font.FontName.size() > kFontNameMaxLength) {
      error = "font name '" + font.FontName + "' is longer than 123 bytes";
      return false;
    }
    if (font.HeightBytes < 0 || font.HeightBytes > 255 || font.CharSpacing < 0 ||
        font.CharSpacing > 255) {
      error = "font '" + font.FontName + "' has a height or spacing outside 0..255";
      return false;
    }
    if (font.GlyphData.size() > 0xFFFF) {
      error = "glyph data of font '" + font.FontName + "' passes 65535 bytes";
      return false;
    }
  }
  const size_t total = FontArchiveSize(fonts);
  if (total > kMaxArchiveSize) {
    error = "the archive would take " + std::to_string(total) + " bytes (at most 65700)";
    return false;
  }

  std::vector<uint8_t> bytes(total, 0);
  PutU16(bytes, 0, kArchiveMagic);
  PutU16(bytes, 2, fonts.size());
  size_t start = kArchiveHeaderSize;
  for (size_t i = 0; i < fonts.size(); ++i) {
    const TTabFont& font = fonts[i];
    PutU16(bytes, 4 + 2 * i, start - kArchiveHeaderSize);
    PutU16(bytes, start, kFontBlockMarker);
    PutU16(bytes, start + 2, font.GlyphData.size());
    bytes[start + kFontNameOffset] = static_cast<uint8_t>(font.FontName.size());
    std::copy(font.FontName.begin(), font.FontName.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(start + kFontNameOffset + 1));
    bytes[start + kFontHeightOffset] = static_cast<uint8_t>(font.HeightBytes);
    bytes[start + kFontSpacingOffset] = static_cast<uint8_t>(font.CharSpacing);
    for (size_t code = 0; code < 256; ++code) {
      PutU16(bytes, start + kGlyphOffsetsOffset + 2 * code, font.GlyphOffsets[code]);
    }
    std::copy(font.GlyphData.begin(), font.GlyphData.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(start + kFontBlockHeaderSize));
    start += kFontBlockHeaderSize + font.GlyphData.size();
  }
  out = std::move(bytes);
  return true;
}

}  // namespace lentar
