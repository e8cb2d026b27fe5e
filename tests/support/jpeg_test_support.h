// Writes small JPEG files for the import tests with libjpeg's compressor, and
// decodes them with libjpeg as the importer did before its quick reader.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lentar::testing {

// How a test JPEG is written (libjpeg's defaults otherwise: YCbCr with 2x2
// luma, a JFIF marker, baseline Huffman coding).
struct JpegOptions {
  int quality = 90;
  int components = 3;             // 1: grey
  int lumaH = 2, lumaV = 2;       // luma sampling factors (chroma 1x1)
  int chromaH = 1, chromaV = 1;
  int restartInterval = 0;        // in MCUs
  bool progressive = false;
  bool arithmetic = false;
  bool rgb = false;               // RGB components (Adobe marker), no YCbCr
  bool separateScans = false;     // one sequential scan per component
};

// A width x height JPEG whose pixel (x, y) has the colour rgb(x, y)
// (0x00BBGGRR; grey files take the green byte).
inline std::string MakeJpeg(int width, int height, const std::function<uint32_t(int, int)>& rgb,
                            const JpegOptions& options) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = options.components;
  cinfo.in_color_space = options.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  if (options.rgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  if (options.components == 3) {
    cinfo.comp_info[0].h_samp_factor = options.lumaH;
    cinfo.comp_info[0].v_samp_factor = options.lumaV;
    for (int i = 1; i < 3; ++i) {
      cinfo.comp_info[i].h_samp_factor = options.chromaH;
      cinfo.comp_info[i].v_samp_factor = options.chromaV;
    }
  }
  cinfo.restart_interval = static_cast<unsigned>(options.restartInterval);
  cinfo.arith_code = options.arithmetic ? TRUE : FALSE;
  if (options.progressive) jpeg_simple_progression(&cinfo);
  std::vector<jpeg_scan_info> scans(static_cast<size_t>(options.components));
  if (options.separateScans) {
    for (int i = 0; i < options.components; ++i) {
      scans[i].comps_in_scan = 1;
      scans[i].component_index[0] = i;
      scans[i].Ss = 0;
      scans[i].Se = 63;
    }
    cinfo.scan_info = scans.data();
    cinfo.num_scans = options.components;
  }
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> line(static_cast<size_t>(width) * options.components);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < width; ++x) {
      const uint32_t c = rgb(x, y);
      if (options.components == 1) {
        line[x] = (c >> 8) & 0xFF;
        continue;
      }
      line[3 * x] = c & 0xFF;
      line[3 * x + 1] = (c >> 8) & 0xFF;
      line[3 * x + 2] = (c >> 16) & 0xFF;
    }
    JSAMPROW row = line.data();
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

inline std::string MakeJpeg(int width, int height, const std::function<uint32_t(int, int)>& rgb,
                            int quality = 90) {
  JpegOptions options;
  options.quality = quality;
  return MakeJpeg(width, height, rgb, options);
}

// The importer's libjpeg decode at scale 1/8 (fast transform, plain
// upsampling, RGB out, any warning a failure), rows first .. first + count - 1
// (count < 0: all) and the first maxColumns columns (< 0: all), packed as
// 0x00BBGGRR. nullopt when libjpeg refuses the file.
struct JpegDecodeResult {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};
namespace detail {
struct JpegTestErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
[[noreturn]] inline void JpegTestFail(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegTestErrors*>(cinfo->err)->jump, 1);
}
inline void JpegTestMessage(j_common_ptr cinfo, int level) {
  if (level < 0) JpegTestFail(cinfo);
}
// Separate from the caller so that nothing with a destructor lives between
// setjmp and longjmp.
inline bool LibjpegEighthBody(jpeg_decompress_struct& cinfo, int first, int count, int maxColumns,
                              JpegDecodeResult& r, std::vector<unsigned char>& line) {
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  cinfo.scale_num = 1;
  cinfo.scale_denom = 8;
  cinfo.dct_method = JDCT_IFAST;
  cinfo.do_fancy_upsampling = FALSE;
  cinfo.do_block_smoothing = FALSE;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3) return false;
  const int height = static_cast<int>(cinfo.output_height), width = static_cast<int>(cinfo.output_width);
  first = std::clamp(first, 0, height);
  const int last = count < 0 ? height : std::min(height, first + count);
  r.width = maxColumns < 0 ? width : std::min(width, maxColumns);
  r.height = last - first;
  r.pixels.assign(static_cast<size_t>(r.width) * r.height, 0);
  line.resize(static_cast<size_t>(width) * 3);
  JSAMPROW row = line.data();
  while (cinfo.output_scanline < static_cast<unsigned>(last)) {
    const int y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
    if (y < first) continue;
    for (int x = 0; x < r.width; ++x)
      r.pixels[static_cast<size_t>(y - first) * r.width + x] =
          line[3 * x] | line[3 * x + 1] << 8 | line[3 * x + 2] << 16;
  }
  jpeg_abort_decompress(&cinfo);
  return true;
}
}  // namespace detail

inline std::optional<JpegDecodeResult> LibjpegDecodeEighth(const std::string& bytes, int first = 0,
                                                           int count = -1, int maxColumns = -1) {
  JpegDecodeResult r;
  std::vector<unsigned char> line;
  jpeg_decompress_struct cinfo{};
  detail::JpegTestErrors errors{};
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = detail::JpegTestFail;
  errors.manager.emit_message = detail::JpegTestMessage;
  jpeg_create_decompress(&cinfo);
  volatile bool ok = false;
  if (setjmp(errors.jump) == 0) {
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    ok = detail::LibjpegEighthBody(cinfo, first, count, maxColumns, r, line);
  }
  jpeg_destroy_decompress(&cinfo);
  if (!ok) return std::nullopt;
  return r;
}

}  // namespace lentar::testing
