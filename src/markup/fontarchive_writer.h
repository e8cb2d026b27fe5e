// Building font archives (.tfa): packing per-character column bytes into a
// board font, and laying fonts out as archive bytes that TTabFontList reads.
// Used by lentar-fontpack and by tests that need archives.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "markup/fonts.h"

namespace lentar {

// Column bytes of each character code 0..255, in the glyph layout: columns
// from left to right, each column HeightBytes bytes from the top band down,
// bit 0 = top row of its band. An empty entry is a glyph of no columns.
using GlyphColumnsTable = std::array<std::vector<uint8_t>, 256>;

// Packs glyphs into a font. Identical glyphs share one copy in GlyphData (so
// every unused code points to the same zero-column glyph). Fails, with the
// reason in error, when a glyph has more than 255 bytes or the glyph data
// would pass 65535 bytes.
bool BuildTabFont(const std::string& name, int heightBytes, int charSpacing,
                  const GlyphColumnsTable& glyphs, TTabFont& font, std::string& error);

// Lays the fonts out as an archive. Fails, with the reason in error, for more
// than 64 fonts, a font without tables, a name longer than 123 bytes, a height
// or spacing outside 0..255, glyph data over 65535 bytes, or a file over
// 65700 bytes.
bool WriteFontArchive(const std::vector<TTabFont>& fonts, std::vector<uint8_t>& out,
                      std::string& error);

// Size in bytes of the archive that WriteFontArchive would make of these fonts.
size_t FontArchiveSize(const std::vector<TTabFont>& fonts);

}  // namespace lentar
