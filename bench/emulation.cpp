// Frames per second of the board emulation engine alone, flat out: no
// painting, no pacing. The board shows 100 frames per second; the preview
// command renders whole runs at the engine's speed.
//
// The set mixes Russian and Latin text with colours, pauses, blinking, live
// values, frame markers and the four effects, compiled to about 64 KB. The
// fonts are made here (every code a glyph of 5 to 8 columns) so that the
// figures do not depend on an installed font archive.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "core/textutil.h"
#include "markup/compiler.h"
#include "markup/emulation.h"
#include "markup/fontarchive_writer.h"
#include "markup/fonts.h"

namespace {

using namespace lentar;

TTabFont MakeFont(int heightBytes) {
  GlyphColumnsTable glyphs;
  for (int code = 32; code < 256; ++code) {
    const int columns = 5 + code % 4;
    auto& g = glyphs[static_cast<size_t>(code)];
    for (int c = 0; c < columns; ++c)
      for (int b = 0; b < heightBytes; ++b) g.push_back(static_cast<uint8_t>(code * 37 + c * 11 + b));
  }
  TTabFont font;
  std::string error;
  BuildTabFont("bench", heightBytes, 1, glyphs, font, error);
  return font;
}

TTabFontList& Fonts() {
  static TTabFontList* bank = [] {
    auto* b = new TTabFontList;
    for (int h = 1; h <= 4; ++h) b->Add(MakeFont(h));
    return b;
  }();
  return *bank;
}

// The board data image of a set with about size bytes of image.
std::vector<uint8_t> MakeImage(size_t size, int heightBytes, int channels) {
  const std::string blocks[] = {
      "{[FCol:1]}" + Utf8ToCp1251(u8"Скидки до 50% на всю обувь! ") + "{[Pause:20]}",
      "{[FCol:2]}" + Utf8ToCp1251(u8"Магазин \"Радуга\" — ул. Ленина, 12 ") + "{[Blink:40,4]}",
      "{[FCol:3]}" + Utf8ToCp1251(u8"Время: ") + "{[Par:0,40]} " + Utf8ToCp1251(u8"Дата: ") +
          "{[Par:1,70]} ",
      "Open 24/7, call 8-800-555-35-35 {[Eff:0,30]}" + Utf8ToCp1251(u8"Новинки") + "{[Frame]}" +
          Utf8ToCp1251(u8"Весна-лето ") + "{[Sp:10]}",
      "{[Inv:1]}" + Utf8ToCp1251(u8"Только сегодня") + "{[Inv:0]} {[Eff:1,20,2]}" +
          Utf8ToCp1251(u8"Распродажа") + "{[Frame]}" + Utf8ToCp1251(u8"Курс: 92,50 руб. "),
      "{[Eff:2,30,0,0,16]}Lorem ipsum dolor{[Frame]}sit amet {[Eff:3,30]}consectetur{[Frame]} ",
      "{[Spd:5]}" + Utf8ToCp1251(u8"Обычная строка рекламы без тегов, чтобы текст преобладал. ") +
          "{[Spd:3]}",
  };
  std::string set;
  std::vector<uint8_t> image;
  for (size_t i = 0; image.size() < size; ++i) {
    set += blocks[i % std::size(blocks)];
    if (i % std::size(blocks) == 0) image = CompileBoardData(set, heightBytes, channels, SIZE_MAX).image;
  }
  return image;
}

// Steps one run after another over the same image; each iteration is one frame.
void RunFrames(benchmark::State& state, int columns, int heightBytes, int channels, size_t size) {
  const std::vector<uint8_t> image = MakeImage(size, heightBytes, channels);
  TTabFontList& fonts = Fonts();
  fonts.SetHeight(heightBytes);
  fonts.SelectFont(0);
  EmulationSetup setup;
  setup.boardColumns = columns;
  setup.fontHeightBytes = heightBytes;
  setup.channelCount = channels;
  setup.speedLevel = 3;
  const EmulationClock clock = FixedStartClock(DateTime{.year = 2026, .month = 12, .day = 10, .hour = 12});
#ifdef __GLIBC__
  // Heap taken by one engine beyond its copy of the image: the same for every
  // length of set.
  const size_t heapBefore = mallinfo2().uordblks;
#endif
  auto board = std::make_unique<BoardEmulation>(image, fonts, setup, clock);
#ifdef __GLIBC__
  state.counters["engine_heap_bytes"] =
      static_cast<double>(mallinfo2().uordblks - heapBefore - image.size());
#endif
  int64_t lit = 0;
  for (auto _ : state) {
    if (!board->Step()) {
      state.PauseTiming();
      board = std::make_unique<BoardEmulation>(image, fonts, setup, clock);
      state.ResumeTiming();
      board->Step();
    }
    lit += board->LitCount();
  }
  benchmark::DoNotOptimize(lit);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.counters["image_bytes"] = static_cast<double>(image.size());
  state.counters["x_board_speed"] = benchmark::Counter(
      static_cast<double>(state.iterations()) / 100.0, benchmark::Counter::kIsRate);
}

void BM_Emulation_2016x8_1ch(benchmark::State& state) {
  RunFrames(state, 2016, 1, 1, static_cast<size_t>(state.range(0)));
}
void BM_Emulation_504x32_8ch(benchmark::State& state) {
  RunFrames(state, 504, 4, 8, static_cast<size_t>(state.range(0)));
}
// 64 KB is the figure that matters; the 4 KB run shows that the frame rate
// does not depend on the set's length.
BENCHMARK(BM_Emulation_2016x8_1ch)->Arg(64000)->Arg(4096)->MinTime(2.0);
BENCHMARK(BM_Emulation_504x32_8ch)->Arg(64000)->Arg(4096)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
