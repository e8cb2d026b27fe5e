// Time to paint one emulation frame into the emulation window's off-screen
// image: the board's colour indexes become LED squares in the panel's picture.
// Geometry follows a 1920 x 1080 screen, as the window computes it:
//   2016 x 8 LEDs, 1 channel:   pitch 2, LED 2  (picture 4032 x 16)
//   504 x 32 LEDs, 8 channels:  pitch 3, LED 2  (picture 1512 x 96)
//   120 x 8 LEDs, 2 channels:   pitch 16, LED 11 (picture 1920 x 128; large LEDs)
// Frames are a realistic mix of dark and lit LEDs (about 40 % lit) in every
// colour of the palette.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "gui/markup/ledpicture.h"
#include "gui/markup/rform.h"
#include "markup/emulation.h"

namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "bench-preview_paint";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QApplication>(argc, argv);
  }();
  return app.get();
}

std::vector<uint8_t> MakeFrame(int columns, int rows, int channels, uint32_t seed) {
  std::vector<uint8_t> frame(static_cast<size_t>(columns) * static_cast<size_t>(rows));
  const unsigned mask = (1u << channels) - 1;
  uint32_t x = seed;
  for (uint8_t& led : frame) {
    x = x * 1664525u + 1013904223u;
    led = ((x >> 24) % 10 < 4) ? static_cast<uint8_t>(((x >> 8) & mask) | 1u) : 0;
  }
  return frame;
}

void PaintFrame(benchmark::State& state, int columns, int heightBytes, int channels) {
  App();
  const int rows = heightBytes * 8;
  const std::array<uint32_t, 8> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0x0000FF,
                                           0x00FF00, 0xFF0000, 0xFFFFFF, 0xFFFFFF};
  std::array<uint32_t, 256> palette{};
  for (unsigned i = 0; i < (1u << channels); ++i) {
    palette[i] = lentar::MixChannelColours(colours, channels, i);
  }
  lentar::gui::TDrawPanel panel;
  panel.SetGeometry(columns, rows, lentar::gui::ComputeLedGeometry(1920, 1080, columns, rows));
  // Two frames in turn, as a scrolling board changes from frame to frame.
  const std::vector<uint8_t> frames[2] = {MakeFrame(columns, rows, channels, 1),
                                          MakeFrame(columns, rows, channels, 2)};
  size_t i = 0;
  int lit = 0;
  for (auto _ : state) {
    lit = panel.ShowFrame(frames[i++ & 1].data(), palette);
    benchmark::DoNotOptimize(lit);
  }
  state.counters["lit"] = lit;
  state.counters["pitch"] = panel.Geometry().pitch;
  state.counters["led"] = panel.Geometry().ledSize;
}

void BM_Paint2016x8(benchmark::State& state) { PaintFrame(state, 2016, 1, 1); }
void BM_Paint504x32x8ch(benchmark::State& state) { PaintFrame(state, 504, 4, 8); }
void BM_Paint120x8LargeLeds(benchmark::State& state) { PaintFrame(state, 120, 1, 2); }

}  // namespace

BENCHMARK(BM_Paint2016x8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Paint504x32x8ch)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Paint120x8LargeLeds)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
