// The board emulation on arbitrary board data images: it never crashes, every
// frame holds indexes of the board's palette only, the lit count matches the
// frame, and a run either ends or is cut by the frame cap here.
//
// Input: byte 0 picks font height and channels, byte 1 the board length
// (8 + 8 * byte), byte 2 the speed level and the shape of the font; the rest
// is the image, run as the board would read it (half the time as tag text
// compiled first).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "markup/compiler.h"
#include "markup/emulation.h"
#include "markup/fontarchive_writer.h"
#include "markup/fonts.h"

namespace {

// Fonts of every height; glyph widths and spacing vary with the code.
const lentar::TTabFontList& Fonts(int variant) {
  static lentar::TTabFontList banks[2];
  static bool made = false;
  if (!made) {
    made = true;
    for (int v = 0; v < 2; ++v) {
      for (int h = 1; h <= 4; ++h) {
        lentar::GlyphColumnsTable glyphs;
        for (int code = 1; code < 256; ++code) {
          const int columns = (code * (v + 3)) % 9;
          for (int i = 0; i < columns * h; ++i)
            glyphs[static_cast<size_t>(code)].push_back(static_cast<uint8_t>(code * 31 + i * 7));
        }
        lentar::TTabFont font;
        std::string error;
        lentar::BuildTabFont("fuzz", h, v * 3, glyphs, font, error);
        banks[v].Add(font);
      }
    }
  }
  return banks[variant];
}

constexpr uint32_t kFrameCap = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  lentar::EmulationSetup setup;
  setup.fontHeightBytes = 1 + (data[0] & 3);
  setup.channelCount = 1 + ((data[0] >> 2) & 7);
  setup.boardColumns = 8 + 8 * data[1];
  setup.speedLevel = data[2] & 7;
  setup.settingSpeed = (data[2] >> 3) & 7;
  const bool compileText = (data[0] & 0x80) != 0;
  const lentar::TTabFontList& fonts = Fonts((data[2] >> 6) & 1);

  std::vector<uint8_t> image(data + 3, data + size);
  if (compileText) {
    const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);
    image = lentar::CompileBoardData(text, setup.fontHeightBytes, setup.channelCount, SIZE_MAX).image;
  }
  lentar::BoardEmulation board(std::move(image), fonts, setup,
                               lentar::FixedStartClock(lentar::DateTime{}));
  CHECK(!board.Refused());
  uint32_t frames = 0;
  while (frames < kFrameCap && board.Step()) {
    ++frames;
    if (frames % 97 != 0) continue;
    int lit = 0;
    for (size_t i = 0; i < board.FrameSize(); ++i) {
      CHECK(board.Frame()[i] < board.PaletteSize());
      lit += board.Colour(board.Frame()[i]) != 0;
    }
    CHECK(lit == board.LitCount());
  }
  CHECK(board.ActiveSlots() >= 0 && board.ActiveSlots() <= lentar::kCommandSlotCount);
  return 0;
}
