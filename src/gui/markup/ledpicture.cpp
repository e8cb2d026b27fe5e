#include "gui/markup/ledpicture.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace lentar::gui {

LedGeometry ComputeLedGeometry(int screenWidth, int screenHeight, int columns, int rows) {
  columns = std::max(columns, 1);
  rows = std::max(rows, 1);
  int pitch = std::max(screenWidth, 0) / columns;
  const int byHeight = std::max(screenHeight - 20, 0) / rows;
  if (byHeight < pitch) pitch = byHeight;
  pitch = std::min(pitch, 255);
  LedGeometry geometry;
  geometry.pitch = pitch;
  geometry.ledSize = std::min(static_cast<int>(std::lround(pitch / 1.5)), pitch);
  if (geometry.ledSize < 2) {
    geometry.ledSize = 2;
    geometry.pitch = 2;
  } else if (geometry.ledSize > 25) {
    geometry.ledSize = 25;
    geometry.pitch = 38;
  }
  return geometry;
}

int PaintLedFrame(QImage& image, const uint8_t* frame, int columns, int rows,
                  const LedGeometry& geometry, const std::array<uint32_t, 256>& palette) {
  const int pitch = std::max(geometry.pitch, 1);
  const int led = std::clamp(geometry.ledSize, 1, pitch);
  const QSize size(columns * pitch, rows * pitch);
  if (image.size() != size || image.format() != QImage::Format_RGB32) {
    image = QImage(size, QImage::Format_RGB32);
  }
  if (columns <= 0 || rows <= 0) return 0;
  const int inset = (pitch - led) / 2;
  const qsizetype stride = image.bytesPerLine() / 4;
  uint32_t* pixels = reinterpret_cast<uint32_t*>(image.bits());
  // The dark board: one pixel row through a row of unlit LEDs, copied to
  // every pixel row that crosses LEDs; the gaps between rows stay black.
  std::vector<uint32_t> dots(static_cast<size_t>(size.width()), 0xFF000000u);
  for (int c = 0; c < columns; ++c) {
    std::fill_n(dots.begin() + c * pitch + inset, led, kUnlitLedColour);
  }
  for (int y = 0; y < size.height(); ++y) {
    uint32_t* line = pixels + static_cast<qsizetype>(y) * stride;
    const int inCell = y % pitch - inset;
    if (inCell >= 0 && inCell < led) {
      std::copy(dots.begin(), dots.end(), line);
    } else {
      std::fill_n(line, size.width(), 0xFF000000u);
    }
  }
  if (!frame) return 0;

  std::array<uint32_t, 256> colours;
  std::array<bool, 256> lit;
  for (size_t i = 0; i < 256; ++i) {
    colours[i] = ScreenColour(palette[i]);
    lit[i] = (palette[i] & 0xFFFFFFu) != 0;
  }
  int litCount = 0;
  for (int c = 0; c < columns; ++c) {
    const uint8_t* column = frame + static_cast<size_t>(c) * static_cast<size_t>(rows);
    const int x0 = c * pitch + inset;
    for (int r = 0; r < rows; ++r) {
      const uint8_t index = column[r];
      if (!lit[index]) continue;
      ++litCount;
      const uint32_t colour = colours[index];
      uint32_t* line = pixels + static_cast<qsizetype>(r * pitch + inset) * stride + x0;
      for (int y = 0; y < led; ++y, line += stride) std::fill(line, line + led, colour);
    }
  }
  return litCount;
}

}  // namespace lentar::gui
