// Writes small JPEG files for the import tests with libjpeg's compressor.
#pragma once

#include <cstdio>
#include <jpeglib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lentar::testing {

// A width x height JPEG whose pixel (x, y) has the colour rgb(x, y)
// (0x00BBGGRR).
inline std::string MakeJpeg(int width, int height,
                            const std::function<uint32_t(int, int)>& rgb, int quality = 90) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> line(static_cast<size_t>(width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < width; ++x) {
      const uint32_t c = rgb(x, y);
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

}  // namespace lentar::testing
