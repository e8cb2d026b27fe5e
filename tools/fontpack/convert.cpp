#include "convert.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "core/textutil.h"
#include "markup/fontarchive_writer.h"

namespace lentar::fontpack {

namespace {

// Stand-ins, 8 rows high in the console style (two-pixel strokes), for the
// characters 8-row console fonts lack. Rows from the top, high bit = left.
struct SmallGlyph {
  char32_t codePoint;
  std::array<uint8_t, 8> rows;
};

constexpr SmallGlyph kSmallGlyphs[] = {
    {0x2026, {0x00, 0x00, 0x00, 0x00, 0x00, 0xDB, 0xDB, 0x00}},  // …
    {0x2020, {0x30, 0xFC, 0x30, 0x30, 0x30, 0x30, 0x30, 0x00}},  // †
    {0x2021, {0x30, 0xFC, 0x30, 0x30, 0x30, 0xFC, 0x30, 0x00}},  // ‡
    {0x2030, {0xC4, 0xC8, 0x10, 0x20, 0x40, 0xB6, 0x36, 0x00}},  // ‰
};

// Characters drawn like another one when the font has nothing for them.
char32_t Substitute(char32_t codePoint) {
  switch (codePoint) {
    case 0x00AD: return U'-';      // soft hyphen
    case 0x00A0: return U' ';      // no-break space
    default: return 0;
  }
}

char32_t DecodeUtf8(const std::string& text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<uint8_t>(text[0]);
  size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (text.size() < length) return 0;
  char32_t cp = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
  for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<uint8_t>(text[k]) & 0x3F);
  return cp;
}

bool IsBlank(int code) { return code == 0x20 || code == 0xA0; }

// Board column bytes of a cell seen through the rows firstRow..firstRow+rows-1,
// cropped to the ink.
std::vector<uint8_t> CellColumns(const Cell& cell, int firstRow, int heightBytes) {
  int left = cell.width, right = -1;
  for (int x = 0; x < cell.width; ++x) {
    for (int r = 0; r < heightBytes * 8; ++r) {
      if (cell.At(x, firstRow + r)) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  }
  std::vector<uint8_t> columns;
  for (int x = left; x <= right; ++x) {
    for (int band = 0; band < heightBytes; ++band) {
      uint8_t byte = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (cell.At(x, firstRow + band * 8 + bit)) byte |= static_cast<uint8_t>(1u << bit);
      }
      columns.push_back(byte);
    }
  }
  return columns;
}

std::vector<uint8_t> SmallGlyphColumns(const SmallGlyph& glyph) {
  Cell cell;
  cell.width = 8;
  cell.height = 8;
  cell.ink.assign(64, 0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      if (glyph.rows[static_cast<size_t>(y)] & (0x80 >> x)) cell.ink[static_cast<size_t>(y * 8 + x)] = 1;
    }
  }
  return CellColumns(cell, 0, 1);
}

bool HasInk(const std::vector<uint8_t>& columns) {
  return std::any_of(columns.begin(), columns.end(), [](uint8_t b) { return b != 0; });
}

}  // namespace

char32_t PrintableUnicodeOf(int code) {
  if (code < 0x20 || code > 0xFF || code == 0x7F || code == 0x98) return 0;
  return DecodeUtf8(Cp1251ToUtf8(std::string(1, static_cast<char>(code))));
}

bool ConvertFont(SourceFont& source, const ConvertOptions& options, TTabFont& font,
                 ConvertReport& report, std::string& error) {
  if (options.heightBytes < 1 || options.heightBytes > 4) {
    error = "the height must be 1 to 4 (8 to 32 rows)";
    return false;
  }
  const int rows = options.heightBytes * 8;
  const int maxColumns = 255 / options.heightBytes;

  // The cells of every printable character the font has.
  std::array<Cell, 256> cells;
  std::array<bool, 256> present{};
  for (int code = 0; code < 256; ++code) {
    const char32_t cp = PrintableUnicodeOf(code);
    if (cp == 0) continue;
    present[static_cast<size_t>(code)] = source.Glyph(cp, cells[static_cast<size_t>(code)]);
    if (!present[static_cast<size_t>(code)] && Substitute(cp) != 0) {
      present[static_cast<size_t>(code)] = source.Glyph(Substitute(cp), cells[static_cast<size_t>(code)]);
    }
  }

  // Which cell rows the board shows: all of them when they fit, else the
  // window that keeps the most ink (the middle one among equals).
  const int cellHeight = source.CellHeight();
  int firstRow = options.firstRow;
  if (firstRow == INT_MIN) {
    if (cellHeight <= rows) {
      firstRow = -((rows - cellHeight + 1) / 2);
    } else {
      std::vector<long> inkPerRow(static_cast<size_t>(cellHeight), 0);
      for (int code = 0; code < 256; ++code) {
        if (!present[static_cast<size_t>(code)]) continue;
        const Cell& cell = cells[static_cast<size_t>(code)];
        for (int y = 0; y < std::min(cell.height, cellHeight); ++y) {
          for (int x = 0; x < cell.width; ++x) inkPerRow[static_cast<size_t>(y)] += cell.At(x, y);
        }
      }
      long best = -1;
      const int middle = (cellHeight - rows) / 2;
      for (int top = 0; top + rows <= cellHeight; ++top) {
        long ink = 0;
        for (int y = top; y < top + rows; ++y) ink += inkPerRow[static_cast<size_t>(y)];
        if (ink > best || (ink == best && std::abs(top - middle) < std::abs(firstRow - middle))) {
          best = ink;
          firstRow = top;
        }
      }
    }
  }
  report.firstRow = firstRow;
  report.missing.clear();

  const int spaceWidth = options.spaceWidth >= 0
                             ? options.spaceWidth
                             : std::max(2, (source.CellWidth() * 3 + 4) / 8);
  GlyphColumnsTable glyphs;
  for (int code = 0; code < 256; ++code) {
    const char32_t cp = PrintableUnicodeOf(code);
    if (cp == 0) continue;  // unused codes share the glyph of no columns
    std::vector<uint8_t>& columns = glyphs[static_cast<size_t>(code)];
    if (IsBlank(code)) {
      columns.assign(static_cast<size_t>(std::min(spaceWidth, maxColumns) * options.heightBytes), 0);
      continue;
    }
    if (present[static_cast<size_t>(code)]) {
      columns = CellColumns(cells[static_cast<size_t>(code)], firstRow, options.heightBytes);
    }
    if (!HasInk(columns) && rows == 8) {
      for (const SmallGlyph& small : kSmallGlyphs) {
        if (small.codePoint == cp) columns = SmallGlyphColumns(small);
      }
    }
    if (columns.size() > static_cast<size_t>(maxColumns * options.heightBytes)) {
      columns.resize(static_cast<size_t>(maxColumns * options.heightBytes));
    }
    if (!HasInk(columns)) {
      columns.clear();
      report.missing.push_back(code);
    }
  }
  return BuildTabFont(options.name, options.heightBytes, options.charSpacing, glyphs, font, error);
}

}  // namespace lentar::fontpack
