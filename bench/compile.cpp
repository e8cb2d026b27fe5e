// Speed of the board data compiler on message sets of realistic make-up:
// Russian and Latin text, line breaks, entities and the common tags, with a
// small picture now and then.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "core/textutil.h"
#include "markup/compiler.h"

namespace {

// A message set of exactly size bytes built from typical advertising lines.
std::string MakeSet(size_t size) {
  const std::string lines[] = {
      "{[Font:1]}{[FCol:1]}" + lentar::Utf8ToCp1251("Скидки до 50% на всю обувь!") + "\r\n",
      "{[Spd:3]}" + lentar::Utf8ToCp1251("Магазин \"Радуга\" — ул. Ленина, 12") + "{[Pause:300]}\r\n",
      "{[Eff:2,40,5,0,3]}" + lentar::Utf8ToCp1251("Время: ") + "{[Par:0,30]} " +
          lentar::Utf8ToCp1251("Температура: ") + "{[Par:2,24]}&#176;C\r\n",
      "{[FCol:2]}Open 24/7 &#8212; call 8-800-555-35-35{[Sp:20]}{[Blink:200,3]}!!!\r\n",
      "{[Img:255,129,129,255,0,60,66,66,60,0 /logo]}" +
          lentar::Utf8ToCp1251("  Новая коллекция весна-лето") + " &#65;&#66;\r\n",
      "{[BCol:0]}{[Inv:1]}" + lentar::Utf8ToCp1251("Только сегодня") + "{[Inv:0]}{[Jmp:5,1]}\r\n",
      lentar::Utf8ToCp1251("Обычная строка рекламы без тегов, чтобы текст преобладал.") + "\r\n",
      "{[Frame:100,0]}" + lentar::Utf8ToCp1251("Курс: 1 USD = 92,50 руб.") + "{[Sp:8]}\r\n",
  };
  std::string set;
  set.reserve(size + 256);
  for (size_t i = 0; set.size() < size; ++i) set += lines[i % std::size(lines)];
  // Cut at a line end so that no tag is left half-written.
  while (set.size() > size) {
    const size_t cut = set.rfind("\r\n", set.size() - 3);
    if (cut == std::string::npos || cut + 2 < size) break;
    set.resize(cut + 2);
  }
  while (set.size() < size) set += ' ';
  set.resize(size);
  return set;
}

void BM_CompileBoardData(benchmark::State& state) {
  const std::string set = MakeSet(static_cast<size_t>(state.range(0)));
  size_t imageSize = 0;
  for (auto _ : state) {
    const lentar::CompileResult result = lentar::CompileBoardData(set, 1, 1, SIZE_MAX);
    imageSize = result.length();
    benchmark::DoNotOptimize(result.image.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(set.size()));
  state.counters["image_bytes"] = static_cast<double>(imageSize);
}
BENCHMARK(BM_CompileBoardData)->Arg(64000)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
