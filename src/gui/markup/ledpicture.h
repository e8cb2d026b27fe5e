// The LED picture of the emulation window: cell geometry from the screen size
// and the painting of one frame of colour indexes into an off-screen image.
// Qt Gui only (no widgets).
#pragma once

#include <QImage>
#include <array>
#include <cstdint>

namespace lentar::gui {

struct LedGeometry {
  int pitch = 2;    // cell size in pixels
  int ledSize = 2;  // lit square inside the cell
};

// Cell pitch = screenWidth / columns, lowered to (screenHeight - 20) / rows
// when that is smaller, at most 255; LED size = pitch / 1.5 rounded, not above
// the pitch. An LED below 2 pixels becomes 2 with pitch 2; one above 25
// becomes 25 with pitch 38.
LedGeometry ComputeLedGeometry(int screenWidth, int screenHeight, int columns, int rows);

// Screen colour (0xAARRGGBB) of a palette entry kept as 0x00BBGGRR.
inline uint32_t ScreenColour(uint32_t bgr) {
  return 0xFF000000u | ((bgr & 0xFFu) << 16) | (bgr & 0xFF00u) | ((bgr >> 16) & 0xFFu);
}

// Screen colour of an LED that is off: a dim dot, so that a dark or empty
// board still shows its shape, as a real board's matrix does.
inline constexpr uint32_t kUnlitLedColour = 0xFF282828u;

// Paints a frame of columns x rows colour indexes (column after column, each
// from the top row down) into image: black background, every LED a filled
// square of geometry.ledSize centred in its cell, in its palette colour
// (palette entries 0x00BBGGRR), or kUnlitLedColour when that colour is black.
// image is (re)made as columns * pitch by rows * pitch, 32-bit. Returns the
// number of lit LEDs (colour not black). Without a frame every LED is off.
int PaintLedFrame(QImage& image, const uint8_t* frame, int columns, int rows,
                  const LedGeometry& geometry, const std::array<uint32_t, 256>& palette);

}  // namespace lentar::gui
