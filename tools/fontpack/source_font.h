// Fonts installed on the computer, read as cells of pixels: console fonts
// (PSF 1 and 2, gzip or plain) and everything FreeType opens (PCF, BDF,
// TrueType, OpenType; scalable fonts rasterised without anti-aliasing).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lentar::fontpack {

// One character in its cell: width x height pixels, row-major, 1 = ink. All
// cells of a font share the height and the baseline.
struct Cell {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> ink;

  bool At(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height &&
           ink[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] != 0;
  }
};

class SourceFont {
 public:
  virtual ~SourceFont() = default;
  // Rows of every cell.
  virtual int CellHeight() const = 0;
  // Usual advance of a character, in pixels.
  virtual int CellWidth() const = 0;
  // The cell of a Unicode character; false when the font lacks it.
  virtual bool Glyph(char32_t codePoint, Cell& cell) = 0;
  // Whether the font is drawn at any pixel size (outline fonts).
  virtual bool Scalable() const { return false; }
};

// Opens a font file. pixelSize applies to scalable fonts (for bitmap fonts
// with several sizes, the size nearest to it is taken). On failure returns
// nullptr with the reason in error.
std::unique_ptr<SourceFont> OpenSourceFont(const std::string& path, int pixelSize,
                                           std::string& error);

}  // namespace lentar::fontpack
