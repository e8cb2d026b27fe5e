// Importing a photo into a board picture against decoding it whole.
//
// The importer decodes the picture scaled down (the DCT scaling of 1/8 .. 8/8)
// to the smallest size still at least as high as the board, then resamples
// that small picture. At 1/8 only the DC coefficient of each block counts;
// the quick reader (markup/jpegeighth) still walks through every AC
// coefficient, but several per table lookup and without storing them. A
// 4000 x 3000 photo imported into a 32-row board should therefore cost well
// under half of what a plain full-size libjpeg decode of the same file
// costs. The run ends with that ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "markup/picturefile.h"
#include "support/jpeg_test_support.h"

namespace {

// A photo-like 4000 x 3000 JPEG: smooth colour gradients with some texture,
// quality 90, made with libjpeg's compressor.
const std::string& Photo() {
  static const std::string photo = [] {
    constexpr int kWidth = 4000, kHeight = 3000;
    // The compressor asks for the pixels row by row, left to right, so the
    // grain can run as one sequence over the whole picture.
    uint32_t noise = 12345;
    const auto pixel = [&noise](int x, int y) -> uint32_t {
      noise = noise * 1664525u + 1013904223u;
      const int grain = static_cast<int>((noise >> 24) % 24) - 12;
      const double wave = std::sin(x / 180.0) * std::cos(y / 140.0);
      const auto channel = [](int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
      return channel(static_cast<int>(128 + 100 * wave) + grain) |
             channel(x * 255 / kWidth + grain) << 8 | channel(y * 255 / kHeight + grain) << 16;
    };
    return lentar::testing::MakeJpeg(kWidth, kHeight, pixel, 90);
  }();
  return photo;
}

// libjpeg's plain decode of the whole picture at full size.
void BM_FullDecode(benchmark::State& state) {
  const std::string& photo = Photo();
  std::vector<unsigned char> pixels;
  for (auto _ : state) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(photo.data()), photo.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const size_t stride = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetLabel(std::to_string(photo.size()) + " bytes");
}
BENCHMARK(BM_FullDecode)->Unit(benchmark::kMillisecond);

// The editor's import: scaled to a 32-row, 3-channel board picture.
void BM_ImportToBoard(benchmark::State& state) {
  const std::string& photo = Photo();
  const std::array<int32_t, 8> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0, 0, 0};
  const lentar::ImportQuestion scale = [](int, int) { return std::optional(lentar::ImportMode{true, 0}); };
  int width = 0;
  for (auto _ : state) {
    const lentar::PictureLoadResult r =
        lentar::LoadPictureBytes(photo, lentar::PictureFileKind::Jpeg, "photo.jpg",
                                 lentar::PictureGeometry(4, 3), colours, lentar::kPictureImportCapacity, scale);
    if (r.status != lentar::PictureLoadStatus::Ok) state.SkipWithError("import failed");
    width = r.width;
    benchmark::DoNotOptimize(r.pixels.data());
  }
  state.SetLabel(std::to_string(width) + " x 32");
}
BENCHMARK(BM_ImportToBoard)->Unit(benchmark::kMillisecond);

// Keeps the CPU time of every benchmark to print the ratio at the end (CPU
// time, not wall time: the figure stays meaningful on a busy machine).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto full = reporter.times.find("BM_FullDecode");
  const auto import = reporter.times.find("BM_ImportToBoard");
  if (full != reporter.times.end() && import != reporter.times.end() && full->second > 0) {
    const double ratio = import->second / full->second;
    std::printf("import / full decode = %.3f (target at most 0.5): %s\n", ratio,
                ratio <= 0.5 ? "met" : "NOT met");
  }
  benchmark::Shutdown();
  return 0;
}
