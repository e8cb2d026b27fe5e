// Pictures of the board for lentar-cli preview: each emulated frame drawn as
// LEDs on black, written as an animated GIF, as numbered PNG files, or as the
// raw colour indexes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/atomicfile.h"
#include "markup/emulation.h"

namespace lentar::cli {

// How the LEDs are drawn: cell pitch and LED size in picture pixels.
struct LedStyle {
  int pitch = 6;
  int ledSize = 4;
  bool round = true;
};

// The LED size for a pitch, as the emulation window draws it: pitch / 1.5
// rounded, not above the pitch, at least 1.
int LedSizeForPitch(int pitch);

// Draws frames of one board into an indexed picture. The picture palette
// holds black (background), the dim colour of an unlit LED (left out when the
// board's own colours already fill 255 entries) and every colour of the
// board's palette, without repeats.
class BoardPainter {
 public:
  BoardPainter(const BoardEmulation& board, const LedStyle& style);

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Picture palette, 0x00BBGGRR entries; its size is at most 256.
  const std::vector<uint32_t>& Palette() const { return palette_; }
  // Draws a frame of the board's colour indexes; Pixels() holds the result,
  // Width() x Height() palette entries, row after row.
  void Paint(const uint8_t* frame);
  const std::vector<uint8_t>& Pixels() const { return pixels_; }

 private:
  int columns_;
  int rows_;
  LedStyle style_;
  int width_;
  int height_;
  std::vector<uint32_t> palette_;
  std::array<uint8_t, 256> entryOf_{};  // board colour index -> palette entry
  std::vector<uint8_t> cellMask_;        // pitch x pitch: 1 where the LED is
  std::vector<uint8_t> pixels_;
};

// Animated GIF, looping forever. Frames are written with their delay in
// hundredths of a second (one board frame is one hundredth). The picture
// replaces the file at path only when Close() succeeds, so an interrupted run
// never leaves a truncated picture under the operator's name.
class GifWriter {
 public:
  // path: the terminal's spelling (UTF-8), as given on the command line.
  GifWriter(const std::string& path, int width, int height, const std::vector<uint32_t>& palette);
  ~GifWriter();
  GifWriter(const GifWriter&) = delete;
  GifWriter& operator=(const GifWriter&) = delete;

  bool Open(std::string& error);
  // Delays above 65535 are split over repeated frames.
  bool AddFrame(const std::vector<uint8_t>& pixels, int delay);
  bool Close(std::string& error);

 private:
  bool PutFrame(const std::vector<uint8_t>& pixels, int delay);
  std::string path_;
  AtomicFileWriter file_;
  int width_;
  int height_;
  std::vector<uint32_t> palette_;
  void* gif_ = nullptr;  // GifFileType*
};

// One PNG picture of the painter's current pixels.
bool EncodePng(const BoardPainter& painter, std::string& png);

}  // namespace lentar::cli
