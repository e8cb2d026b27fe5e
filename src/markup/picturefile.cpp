#include "markup/picturefile.h"

// clang-format off
#include <cstdio>
#include <csetjmp>
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
// clang-format on

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "core/atomicfile.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "markup/emulation.h"
#include "markup/jpegeighth.h"

namespace lentar {

namespace {

// ---- Little-endian fields -------------------------------------------------

uint32_t U16(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
uint32_t U32(std::string_view b, size_t at) {
  return U16(b, at) | U16(b, at + 2) << 16;
}
int32_t I32(std::string_view b, size_t at) { return static_cast<int32_t>(U32(b, at)); }

void PutU16(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void PutU32(std::string& s, size_t at, uint32_t v) {
  PutU16(s, at, v & 0xFFFF);
  PutU16(s, at + 2, v >> 16);
}

uint32_t Bgr(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

// Colour times alpha / 255: a pixel of an icon drawn onto black.
uint32_t OnBlack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return Bgr((r * a + 127) / 255, (g * a + 127) / 255, (b * a + 127) / 255);
}

bool SizeAllowed(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= (1u << 20) && height <= (1u << 20) &&
         width * height <= kMaxRasterPixels;
}

// ---- Device-independent bitmaps (BMP files and bitmap icon images) ------

// One colour field of a 16- or 32-bit pixel, scaled to 0..255.
struct BitField {
  uint32_t mask = 0;
  int shift = 0;
  uint64_t max = 0;
  explicit BitField(uint32_t m) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    max = (uint64_t{1} << std::popcount(m >> shift)) - 1;
  }
  uint32_t Read(uint32_t pixel) const {
    if (mask == 0 || max == 0) return 0;
    const uint64_t v = (pixel & mask) >> shift;
    return static_cast<uint32_t>(std::min<uint64_t>(255, (v * 255 + max / 2) / max));
  }
};

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3, kBiAlphaBitFields = 6;

// Expands run-length coded pixel indexes (4 or 8 bits) into indexes, bottom
// row first as stored. False when the data ends before the end-of-picture
// code (and before the last row is complete).
bool DecodeRle(std::string_view data, int bits, int width, int height, std::vector<uint8_t>& out) {
  out.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  int64_t x = 0, y = 0;
  size_t at = 0;
  auto put = [&](uint8_t index) {
    if (x < width && y < height) out[static_cast<size_t>(y * width + x)] = index;
    ++x;
  };
  while (at + 2 <= data.size()) {
    const uint8_t count = static_cast<uint8_t>(data[at]);
    const uint8_t value = static_cast<uint8_t>(data[at + 1]);
    at += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i)
        put(bits == 8 ? value : static_cast<uint8_t>(i % 2 == 0 ? value >> 4 : value & 0x0F));
      continue;
    }
    if (value == 0) {  // end of row
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      return true;
    } else if (value == 2) {  // move by dx, dy
      if (at + 2 > data.size()) return false;
      x += static_cast<uint8_t>(data[at]);
      y += static_cast<uint8_t>(data[at + 1]);
      at += 2;
    } else {  // value literal indexes, padded to a whole word
      const size_t bytes = bits == 8 ? value : (value + 1u) / 2;
      if (at + bytes > data.size()) return false;
      for (int i = 0; i < value; ++i) {
        const uint8_t b = static_cast<uint8_t>(data[at + (bits == 8 ? i : i / 2)]);
        put(bits == 8 ? b : static_cast<uint8_t>(i % 2 == 0 ? b >> 4 : b & 0x0F));
      }
      at += (bytes + 1) & ~size_t{1};
    }
    if (y >= height) return true;
  }
  return y >= height;
}

// Decodes a bitmap whose info header starts at dib[0]. pixelOffset is where
// its pixels start within dib, or 0 to take them right after the header,
// the colour masks and the palette. An icon image is twice as high as the
// picture (colours, then the transparency mask); on black only the colours
// (and, at 32 bits, their alpha) matter.
bool DecodeDib(std::string_view dib, size_t pixelOffset, bool icon, RgbImage& out) {
  if (dib.size() < 12) return false;
  const uint32_t headerSize = U32(dib, 0);
  int64_t width = 0, height = 0;
  uint32_t bits = 0, compression = kBiRgb, coloursUsed = 0;
  size_t paletteEntry = 4;
  if (headerSize == 12) {
    width = U16(dib, 4);
    height = static_cast<int16_t>(U16(dib, 6));
    bits = U16(dib, 10);
    paletteEntry = 3;
  } else if (headerSize >= 40 && headerSize <= 124 && headerSize <= dib.size()) {
    width = I32(dib, 4);
    height = I32(dib, 8);
    bits = U16(dib, 14);
    compression = U32(dib, 16);
    coloursUsed = U32(dib, 32);
  } else {
    return false;
  }
  if (headerSize > dib.size()) return false;

  bool topDown = false;
  if (height < 0) {
    topDown = true;
    height = -height;
  }
  if (icon) {
    if (topDown) return false;
    height /= 2;
  }
  if (!SizeAllowed(static_cast<uint64_t>(std::max<int64_t>(width, 0)),
                   static_cast<uint64_t>(height)))
    return false;

  const bool paletted = bits == 1 || bits == 4 || bits == 8;
  if (!paletted && bits != 16 && bits != 24 && bits != 32) return false;
  switch (compression) {
    case kBiRgb: break;
    case kBiRle8: if (bits != 8 || topDown) return false; break;
    case kBiRle4: if (bits != 4 || topDown) return false; break;
    case kBiBitFields:
    case kBiAlphaBitFields: if (bits != 16 && bits != 32) return false; break;
    default: return false;
  }

  // Colour masks: inside a longer header, or right after a 40-byte one.
  size_t at = headerSize;
  uint32_t masks[4] = {0, 0, 0, 0};
  if (compression == kBiBitFields || compression == kBiAlphaBitFields) {
    const int count = compression == kBiAlphaBitFields ? 4 : 3;
    if (headerSize >= 40 + 4u * count) {
      for (int i = 0; i < count; ++i) masks[i] = U32(dib, 40 + 4 * i);
    } else {
      if (at + 4u * count > dib.size()) return false;
      for (int i = 0; i < count; ++i) masks[i] = U32(dib, at + 4 * i);
      at += 4u * count;
    }
  } else if (bits == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (bits == 32) {
    masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF, masks[3] = icon ? 0xFF000000u : 0;
  }

  std::vector<uint32_t> palette;
  if (paletted) {
    const uint32_t most = 1u << bits;
    const uint32_t count = coloursUsed == 0 || coloursUsed > most ? most : coloursUsed;
    if (at + static_cast<size_t>(count) * paletteEntry > dib.size()) return false;
    palette.resize(most, 0);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t e = at + i * paletteEntry;
      palette[i] = Bgr(static_cast<uint8_t>(dib[e + 2]), static_cast<uint8_t>(dib[e + 1]),
                       static_cast<uint8_t>(dib[e]));
    }
    at += static_cast<size_t>(count) * paletteEntry;
  }
  if (pixelOffset == 0) pixelOffset = at;
  if (pixelOffset > dib.size()) return false;
  const std::string_view data = dib.substr(pixelOffset);

  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  out.width = w;
  out.height = h;

  if (compression == kBiRle8 || compression == kBiRle4) {
    std::vector<uint8_t> indexes;
    if (!DecodeRle(data, static_cast<int>(bits), w, h, indexes)) return false;
    out.pixels.assign(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        out.pixels[static_cast<size_t>(h - 1 - y) * w + x] = palette[indexes[static_cast<size_t>(y) * w + x]];
    return true;
  }

  const uint64_t stride = (static_cast<uint64_t>(w) * bits + 31) / 32 * 4;
  if (stride * static_cast<uint64_t>(h) > data.size()) return false;
  out.pixels.assign(static_cast<size_t>(w) * h, 0);
  const BitField red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
  bool anyAlpha = false;
  for (int row = 0; row < h; ++row) {
    const int y = topDown ? row : h - 1 - row;
    const std::string_view line = data.substr(static_cast<size_t>(row * stride), stride);
    uint32_t* dest = out.pixels.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      switch (bits) {
        case 1: dest[x] = palette[(static_cast<uint8_t>(line[x / 8]) >> (7 - x % 8)) & 1]; break;
        case 4: dest[x] = palette[(static_cast<uint8_t>(line[x / 2]) >> (x % 2 == 0 ? 4 : 0)) & 0x0F]; break;
        case 8: dest[x] = palette[static_cast<uint8_t>(line[x])]; break;
        case 24:
          dest[x] = Bgr(static_cast<uint8_t>(line[3 * x + 2]), static_cast<uint8_t>(line[3 * x + 1]),
                        static_cast<uint8_t>(line[3 * x]));
          break;
        default: {
          const uint32_t px = bits == 16 ? U16(line, 2 * static_cast<size_t>(x)) : U32(line, 4 * static_cast<size_t>(x));
          const uint32_t a = alpha.Read(px);
          if (a != 0) anyAlpha = true;
          dest[x] = Bgr(red.Read(px), green.Read(px), blue.Read(px)) | (a << 24);
        }
      }
    }
  }
  // Alpha only counts in an icon that uses it; a zero alpha channel means an
  // icon of the older kind, drawn through its mask.
  for (uint32_t& p : out.pixels) {
    const uint32_t a = p >> 24;
    p &= 0x00FFFFFF;
    if (anyAlpha && masks[3] != 0) p = OnBlack(p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF, a);
  }
  return true;
}

// ---- PNG images inside icons ---------------------------------------------

bool DecodePng(std::string_view bytes, RgbImage& out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  if (!SizeAllowed(image.width, image.height)) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.pixels.resize(static_cast<size_t>(out.width) * out.height);
  for (size_t i = 0; i < out.pixels.size(); ++i)
    out.pixels[i] = OnBlack(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2], rgba[4 * i + 3]);
  return true;
}

// ---- Icon entries -----------------------------------------------------------

uint32_t U32Big(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3]));
}

// One image of an icon as its own header describes it.
struct IconImage {
  std::string_view data;
  bool png = false;
  int width = 0, height = 0, bits = 0;
};

// Deflate shrinks data at most about 1032 times (a run of 258 bytes in two
// bits): PNG data shorter than its pixels over that cannot hold them.
constexpr uint64_t kDeflateMostRatio = 1032;

// Reads the size and colour depth from the image's own header (the directory's
// bytes say at most 256 and are often 0), and whether its data can hold that
// many pixels at all; false for an image not worth decoding.
bool ReadIconImageHeader(IconImage& image) {
  const std::string_view d = image.data;
  if (d.size() >= 8 && d.substr(0, 8) == "\x89PNG\r\n\x1a\n") {
    // The signature, then the IHDR chunk: length 13, width, height, bit
    // depth, colour type.
    if (d.size() < 33 || U32Big(d, 8) != 13 || d.substr(12, 4) != "IHDR") return false;
    const uint32_t width = U32Big(d, 16), height = U32Big(d, 20);
    const uint32_t depth = static_cast<uint8_t>(d[24]), colourType = static_cast<uint8_t>(d[25]);
    int channels = 0;
    switch (colourType) {
      case 0: case 3: channels = 1; break;
      case 2: channels = 3; break;
      case 4: channels = 2; break;
      case 6: channels = 4; break;
      default: return false;
    }
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return false;
    if (!SizeAllowed(width, height)) return false;
    const uint64_t rowBytes = 1 + (uint64_t{width} * depth * channels + 7) / 8;
    if (static_cast<uint64_t>(d.size()) * kDeflateMostRatio < rowBytes * height) return false;
    image.png = true;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.bits = static_cast<int>(depth) * channels;
    return true;
  }
  // A bitmap: its info header (the colour rows and the mask, twice as high).
  if (d.size() < 12) return false;
  const uint32_t headerSize = U32(d, 0);
  int64_t width = 0, doubleHeight = 0;
  uint32_t bits = 0, compression = kBiRgb;
  if (headerSize == 12) {
    width = U16(d, 4);
    doubleHeight = static_cast<int16_t>(U16(d, 6));
    bits = U16(d, 10);
  } else if (headerSize >= 40 && headerSize <= 124 && headerSize <= d.size()) {
    width = I32(d, 4);
    doubleHeight = I32(d, 8);
    bits = U16(d, 14);
    compression = U32(d, 16);
  } else {
    return false;
  }
  if (width <= 0 || doubleHeight <= 0) return false;
  const int64_t height = doubleHeight / 2;
  if (!SizeAllowed(static_cast<uint64_t>(width), static_cast<uint64_t>(height))) return false;
  if (compression == kBiRgb || compression == kBiBitFields || compression == kBiAlphaBitFields) {
    const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    if (stride * static_cast<uint64_t>(height) > d.size()) return false;
  }
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.bits = static_cast<int>(bits);
  return true;
}

// ---- JPEG -----------------------------------------------------------------

// libjpeg's arithmetic decoder takes the end of a scan's data as zero bytes
// and says nothing: a file with data missing decodes to grey where Huffman
// coding would warn. A whole segment needs few such zero bytes (its coder
// leaves its last zero bytes out), so the decoder is given kArithmeticSlack
// real zero bytes after each segment of a scan that carries the blocks' base
// colour (DC): a whole segment leaves some unread, which the marker reader
// skips with a warning; a segment with more data missing reads them all and
// runs into its marker. The other scans of a progressive file (detail, and
// refinement by one more bit) are left alone: in smooth areas they code to
// long runs of zero bytes, and their loss costs detail, never a grey area.
constexpr size_t kArithmeticSlack = 256;
// The most slack added to one file (a segment per restart interval).
constexpr size_t kMostArithmeticSlack = size_t{64} << 20;

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  bool arithmeticSlack = false;  // the source carries the slack
  size_t slackSkipped = 0;       // markers reached with slack left before them
};

[[noreturn]] void JpegFail(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

// Warnings (level -1) mean a truncated or corrupt stream: refuse the file
// rather than show a picture padded with grey. Trace messages are dropped.
// Slack skipped before a marker is the one expected warning.
void JpegMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
  const int skipped = errors->manager.msg_parm.i[0];
  if (errors->arithmeticSlack && errors->manager.msg_code == JWRN_EXTRANEOUS_DATA && skipped >= 1 &&
      static_cast<size_t>(skipped) <= kArithmeticSlack) {
    ++errors->slackSkipped;
    return;
  }
  JpegFail(cinfo);
}

uint32_t U16Big(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 8 | static_cast<uint8_t>(b[at + 1]);
}

// Whether the JPEG's frame header is of an arithmetic-coded kind (SOF9 to
// SOF15; CC is the arithmetic conditioning table).
bool IsArithmeticCoded(std::string_view b) {
  if (b.size() < 4 || static_cast<uint8_t>(b[0]) != 0xFF || static_cast<uint8_t>(b[1]) != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= b.size() && static_cast<uint8_t>(b[at]) == 0xFF) {
    const uint8_t marker = static_cast<uint8_t>(b[at + 1]);
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    if (marker >= 0xC9 && marker <= 0xCF && marker != 0xCC) return true;
    if (marker == 0xDA || marker == 0xD9) return false;
    at += (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) ? 2 : 2 + U16Big(b, at + 2);
  }
  return false;
}

// The file with kArithmeticSlack zero bytes after the entropy-coded data of
// every segment of the first-pass DC scans (before each restart marker and
// the marker ending the scan); markers gets where each such marker now starts.
// What cannot be parsed is copied as it is, for libjpeg to judge. False when the file has
// so many segments that the slack would exceed kMostArithmeticSlack.
bool AddArithmeticSlack(std::string_view b, std::string& out, std::vector<size_t>& markers) {
  out.clear();
  out.reserve(b.size() + 4 * kArithmeticSlack);
  out.append(b.data(), std::min<size_t>(2, b.size()));
  markers.clear();
  const auto slack = [&out, &markers]() {
    if ((markers.size() + 1) * kArithmeticSlack > kMostArithmeticSlack) return false;
    out.append(kArithmeticSlack, '\0');
    markers.push_back(out.size());
    return true;
  };
  const auto byte = [&b](size_t at) { return static_cast<uint8_t>(b[at]); };
  size_t at = 2;
  while (at < b.size()) {
    if (at + 2 > b.size() || byte(at) != 0xFF) break;
    const uint8_t marker = byte(at + 1);
    if (marker == 0xFF) {  // a fill byte
      out += b[at++];
      continue;
    }
    if (marker == 0xD9) break;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
      out.append(b.substr(at, 2));
      at += 2;
      continue;
    }
    if (at + 4 > b.size() || at + 2 + U16Big(b, at + 2) > b.size()) break;
    const size_t length = 2 + U16Big(b, at + 2);
    out.append(b.substr(at, length));
    at += length;
    if (marker != 0xDA) continue;
    // The scan header ends with the spectral range Ss, Se and the successive
    // approximation bits Ah, Al: a first-pass scan from the DC on is checked.
    const bool checked = byte(at - 3) == 0 && (byte(at - 1) >> 4) == 0;
    // The scan's coded data: FF 00 is a coded FF (after any fill bytes), a
    // restart marker ends a segment, any other marker the scan.
    size_t start = at;
    for (;;) {
      const size_t ff = b.find('\xFF', at);
      size_t code = ff == std::string_view::npos ? b.size() : ff + 1;
      while (code < b.size() && byte(code) == 0xFF) ++code;
      if (code >= b.size()) {  // cut inside the scan: libjpeg will refuse it
        out.append(b.substr(start));
        return true;
      }
      if (byte(code) == 0x00) {
        at = code + 1;
        continue;
      }
      out.append(b.substr(start, ff - start));
      if (checked && !slack()) return false;
      if (byte(code) >= 0xD0 && byte(code) <= 0xD7) {
        out.append(b.substr(ff, code + 1 - ff));
        at = start = code + 1;
        continue;
      }
      at = ff;
      break;
    }
  }
  out.append(b.substr(std::min(at, b.size())));
  return true;
}

// The decompressor with its error handling, freed on every path.
class JpegReader {
 public:
  JpegReader() {
    cinfo_.err = jpeg_std_error(&errors_.manager);
    errors_.manager.error_exit = JpegFail;
    errors_.manager.emit_message = JpegMessage;
    jpeg_create_decompress(&cinfo_);
    // Without a backing store libjpeg refuses a picture that needs more.
    cinfo_.mem->max_memory_to_use = 256L * 1024 * 1024;
  }
  // Called after setjmp: libjpeg reports an empty source as an error.
  void Source(std::string_view bytes) {
    jpeg_mem_src(&cinfo_, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
  }
  ~JpegReader() { jpeg_destroy_decompress(&cinfo_); }
  JpegReader(const JpegReader&) = delete;
  JpegReader& operator=(const JpegReader&) = delete;

  jpeg_decompress_struct cinfo_{};
  JpegErrors errors_{};
};

bool JpegHeaderAllowed(const jpeg_decompress_struct& cinfo) {
  const uint64_t w = cinfo.image_width, h = cinfo.image_height;
  return w > 0 && h > 0 && w * h <= kMaxJpegPixels;
}

// The body of DecodeJpeg; setjmp lives in the caller with nothing to destroy
// between it and the libjpeg calls.
bool ReadJpeg(JpegReader& reader, int minHeight, int firstRow, int rowCount, int maxColumns,
              RgbImage& out, std::vector<uint8_t>& line) {
  jpeg_decompress_struct& cinfo = reader.cinfo_;
  jpeg_read_header(&cinfo, TRUE);
  if (!JpegHeaderAllowed(cinfo)) return false;
  // Arithmetic coding is decoded only with the slack that shows missing data.
  if (cinfo.arith_code && !reader.errors_.arithmeticSlack) return false;
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  cinfo.scale_denom = 8;
  cinfo.scale_num = 8;
  if (minHeight > 0) {
    // The picture is averaged down to a few dozen rows afterwards: the fast
    // transform and plain upsampling lose nothing that survives that.
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.do_block_smoothing = FALSE;
    for (unsigned num = 1; num <= 8; ++num) {
      cinfo.scale_num = num;
      jpeg_calc_output_dimensions(&cinfo);
      if (cinfo.output_height >= static_cast<unsigned>(minHeight)) break;
    }
  }
  jpeg_start_decompress(&cinfo);
  const int width = static_cast<int>(cinfo.output_width);
  const int height = static_cast<int>(cinfo.output_height);
  const int components = cinfo.output_components;
  if ((cmyk && components != 4) || (!cmyk && components != 3)) return false;
  const int first = std::clamp(firstRow, 0, height);
  const int last = rowCount < 0 ? height : std::min(height, first + rowCount);
  const int keepColumns = maxColumns < 0 ? width : std::min(width, maxColumns);
  if (last > first && !SizeAllowed(static_cast<uint64_t>(std::max(keepColumns, 1)),
                                   static_cast<uint64_t>(last - first)))
    return false;

  out.width = keepColumns;
  out.height = last - first;
  out.pixels.assign(static_cast<size_t>(out.width) * out.height, 0);
  line.resize(static_cast<size_t>(width) * components);
  JSAMPROW row = line.data();
  while (cinfo.output_scanline < static_cast<unsigned>(last)) {
    const int y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
    if (y < first) continue;
    uint32_t* dest = out.pixels.data() + static_cast<size_t>(y - first) * out.width;
    for (int x = 0; x < keepColumns; ++x) {
      const uint8_t* p = line.data() + static_cast<size_t>(x) * components;
      if (cmyk) {
        // Adobe writes CMYK inverted: each stored value is 255 - ink.
        const uint32_t k = p[3];
        dest[x] = Bgr(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
      } else {
        dest[x] = Bgr(p[0], p[1], p[2]);
      }
    }
  }
  jpeg_abort_decompress(&cinfo);
  return true;
}

// libjpeg's decode for DecodeJpeg; segmentEnds (an arithmetic-coded file with
// its slack) are where the slack's markers start. setjmp lives here with
// nothing to destroy between it and the libjpeg calls.
bool DecodeWithLibjpeg(std::string_view source, const std::vector<size_t>* segmentEnds, int minHeight,
                       int firstRow, int rowCount, int maxColumns, RgbImage& image) {
  std::vector<uint8_t> line;
  JpegReader reader;
  reader.errors_.arithmeticSlack = segmentEnds != nullptr;
  if (setjmp(reader.errors_.jump)) return false;
  reader.Source(source);
  if (!ReadJpeg(reader, minHeight, firstRow, rowCount, maxColumns, image, line)) return false;
  if (reader.errors_.arithmeticSlack) {
    // Every segment end the decoder went past must have had slack left.
    const size_t consumed = source.size() - reader.cinfo_.src->bytes_in_buffer;
    const auto passed = static_cast<size_t>(std::count_if(
        segmentEnds->begin(), segmentEnds->end(), [consumed](size_t at) { return at < consumed; }));
    if (reader.errors_.slackSkipped < passed) return false;
  }
  return true;
}

// ---- Files of the graphics library ----------------------------------------

// The stated size is checked before anything is decoded, so a header that
// claims a giant picture costs nothing; the decoded picture must keep to the
// same cap whatever the library does.
bool DecodeThroughLibrary(std::string_view bytes, PictureFileKind kind, const PictureLibraryReader* library,
                          RgbImage& out) {
  if (library == nullptr || !library->readSize || !library->decode) return false;
  if (kind == PictureFileKind::Gif && !GifFirstFrameIsComplete(bytes)) return false;
  int width = 0, height = 0;
  if (!library->readSize(bytes, kind, width, height) ||
      !SizeAllowed(static_cast<uint64_t>(std::max(width, 0)), static_cast<uint64_t>(std::max(height, 0))))
    return false;
  RgbImage image;
  if (!library->decode(bytes, kind, image)) return false;
  if (!SizeAllowed(static_cast<uint64_t>(std::max(image.width, 0)), static_cast<uint64_t>(std::max(image.height, 0))) ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
    return false;
  out = std::move(image);
  return true;
}

// ---- Import helpers --------------------------------------------------------

std::string LowerExtension(std::string_view fileName) {
  const std::string name = FileNameOf(fileName);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return std::string();
  return LowerCase(std::string_view(name).substr(dot + 1));
}

// Per axis, the source pixels each target pixel takes and their weights.
struct Tap {
  int source;
  double weight;
};
// Only the first count target pixels are worked out.
std::vector<std::vector<Tap>> AxisTaps(int from, int to, int count) {
  std::vector<std::vector<Tap>> taps(static_cast<size_t>(count));
  const double step = static_cast<double>(from) / to;
  for (int i = 0; i < count; ++i) {
    if (step <= 1.0) {
      const int s = std::min(from - 1, static_cast<int>((i + 0.5) * step));
      taps[i].push_back({s, 1.0});
      continue;
    }
    const double begin = i * step, end = (i + 1) * step;
    for (int s = static_cast<int>(begin); s < from && s < end; ++s) {
      const double w = std::min<double>(end, s + 1) - std::max<double>(begin, s);
      if (w > 0) taps[i].push_back({s, w});
    }
  }
  return taps;
}

}  // namespace

// ---- Public readers --------------------------------------------------------

bool DecodeBmp(std::string_view bytes, RgbImage& out) {
  if (bytes.size() < 14 + 12 || bytes[0] != 'B' || bytes[1] != 'M') return false;
  const uint32_t pixelOffset = U32(bytes, 10);
  RgbImage image;
  // Some writers leave the pixel offset 0: the pixels then follow the palette.
  if ((pixelOffset != 0 && pixelOffset < 14 + 12) || pixelOffset > bytes.size()) return false;
  if (!DecodeDib(bytes.substr(14), pixelOffset == 0 ? 0 : pixelOffset - 14, false, image))
    return false;
  out = std::move(image);
  return true;
}

bool DecodeIcon(std::string_view bytes, int rows, RgbImage& out, IconDecodeWork* work) {
  IconDecodeWork spent;
  if (work != nullptr) *work = spent;
  if (bytes.size() < 6 || U16(bytes, 0) != 0) return false;
  const uint32_t type = U16(bytes, 2), count = U16(bytes, 4);
  if ((type != 1 && type != 2) || count == 0 || 6 + 16 * static_cast<size_t>(count) > bytes.size())
    return false;

  std::vector<IconImage> images;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t e = 6 + 16 * static_cast<size_t>(i);
    const uint32_t size = U32(bytes, e + 8), offset = U32(bytes, e + 12);
    if (offset >= bytes.size() || size == 0) continue;
    IconImage image;
    image.data = bytes.substr(offset, size);
    // Several entries may point at the same bytes: those are one image.
    const bool seen = std::any_of(images.begin(), images.end(), [&image](const IconImage& other) {
      return other.data.data() == image.data.data() && other.data.size() == image.data.size();
    });
    if (!seen && ReadIconImageHeader(image)) images.push_back(image);
  }
  // The board's own height first, then the largest, then the deepest colour.
  std::stable_sort(images.begin(), images.end(), [rows](const IconImage& a, const IconImage& b) {
    if ((a.height == rows) != (b.height == rows)) return a.height == rows;
    const uint64_t areaA = uint64_t{static_cast<uint32_t>(a.width)} * static_cast<uint32_t>(a.height);
    const uint64_t areaB = uint64_t{static_cast<uint32_t>(b.width)} * static_cast<uint32_t>(b.height);
    if (areaA != areaB) return areaA > areaB;
    return a.bits > b.bits;
  });
  bool decoded = false;
  for (const IconImage& entry : images) {
    if (spent.images >= kMaxIconImagesTried) break;
    const uint64_t pixels = uint64_t{static_cast<uint32_t>(entry.width)} * static_cast<uint32_t>(entry.height);
    if (spent.pixels + pixels > kMaxIconDecodePixels) continue;  // a smaller one may still fit
    ++spent.images;
    spent.pixels += pixels;
    RgbImage image;
    if (entry.png ? DecodePng(entry.data, image) : DecodeDib(entry.data, 0, true, image)) {
      out = std::move(image);
      decoded = true;
      break;
    }
  }
  if (work != nullptr) *work = spent;
  return decoded;
}

bool ReadJpegSize(std::string_view bytes, int& width, int& height) {
  if (bytes.size() < 4) return false;
  JpegReader reader;
  if (setjmp(reader.errors_.jump)) return false;
  reader.Source(bytes);
  jpeg_read_header(&reader.cinfo_, TRUE);
  if (!JpegHeaderAllowed(reader.cinfo_)) return false;
  width = static_cast<int>(reader.cinfo_.image_width);
  height = static_cast<int>(reader.cinfo_.image_height);
  return true;
}

bool DecodeJpeg(std::string_view bytes, int minHeight, int firstRow, int rowCount, int maxColumns,
                RgbImage& out) {
  RgbImage image;
  // A photo shrunk by 1/8 is mostly decoded by the quick reader, which gives
  // libjpeg's pixels; everything it does not take, damage included, goes to
  // libjpeg.
  if (DecodeJpegEighth(bytes, minHeight, firstRow, rowCount, maxColumns, image)) {
    out = std::move(image);
    return true;
  }
  if (bytes.size() < 4) return false;
  if (!IsArithmeticCoded(bytes)) {
    if (!DecodeWithLibjpeg(bytes, nullptr, minHeight, firstRow, rowCount, maxColumns, image)) return false;
  } else {
    std::string slackened;
    std::vector<size_t> segmentEnds;
    if (!AddArithmeticSlack(bytes, slackened, segmentEnds) ||
        !DecodeWithLibjpeg(slackened, &segmentEnds, minHeight, firstRow, rowCount, maxColumns, image))
      return false;
  }
  out = std::move(image);
  return true;
}

RgbImage ResampleImage(const RgbImage& image, int width, int height, int maxColumns) {
  RgbImage out;
  width = std::max(1, width);
  out.width = maxColumns > 0 ? std::min(width, maxColumns) : width;
  out.height = std::max(1, height);
  out.pixels.assign(static_cast<size_t>(out.width) * out.height, 0);
  if (image.width <= 0 || image.height <= 0) return out;
  const auto xs = AxisTaps(image.width, width, out.width);
  const auto ys = AxisTaps(image.height, out.height, out.height);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      double r = 0, g = 0, b = 0, total = 0;
      for (const Tap& ty : ys[y]) {
        for (const Tap& tx : xs[x]) {
          const uint32_t p = image.At(tx.source, ty.source);
          const double w = tx.weight * ty.weight;
          r += w * (p & 0xFF);
          g += w * ((p >> 8) & 0xFF);
          b += w * ((p >> 16) & 0xFF);
          total += w;
        }
      }
      if (total <= 0) continue;
      auto channel = [total](double v) {
        return static_cast<uint32_t>(std::clamp(std::lround(v / total), 0L, 255L));
      };
      out.pixels[static_cast<size_t>(y) * out.width + x] = Bgr(channel(r), channel(g), channel(b));
    }
  }
  return out;
}

int ScaledWidth(int width, int height, int rows) {
  if (width <= 0 || height <= 0) return 1;
  const uint64_t num = static_cast<uint64_t>(width) * static_cast<uint64_t>(rows);
  const uint64_t den = static_cast<uint64_t>(height);
  uint64_t q = num / den;
  const uint64_t twice = 2 * (num % den);
  if (twice > den || (twice == den && q % 2 == 1)) ++q;
  return static_cast<int>(std::clamp<uint64_t>(q, 1, INT32_MAX));
}

PictureFileKind PictureKindOf(std::string_view fileName) {
  const std::string ext = LowerExtension(fileName);
  if (ext == "bmp") return PictureFileKind::Bmp;
  if (ext == "jpg" || ext == "jpeg") return PictureFileKind::Jpeg;
  if (ext == "png") return PictureFileKind::Png;
  if (ext == "gif") return PictureFileKind::Gif;
  if (ext == "webp") return PictureFileKind::WebP;
  if (ext == "ico") return PictureFileKind::Icon;
  if (ext == "txt") return PictureFileKind::Text;
  return PictureFileKind::Unknown;
}

bool JpegIsComplete(std::string_view bytes) {
  // The end-of-image marker FF D9 closes every whole JPEG after its last
  // scan (FF DA); inside the coded data an FF byte is always followed by 00
  // or a restart marker, so a file cut inside the scan has no FF D9 after
  // it. An embedded thumbnail ends before the main scan begins, and data a
  // camera appends after the end marker does no harm.
  const size_t scan = bytes.rfind("\xFF\xDA");
  if (scan == std::string_view::npos) return false;
  return bytes.find("\xFF\xD9", scan + 2) != std::string_view::npos;
}

bool GifFirstFrameIsComplete(std::string_view bytes) {
  if (bytes.size() < 13 || (bytes.substr(0, 6) != "GIF87a" && bytes.substr(0, 6) != "GIF89a")) return false;
  const auto colourTable = [](uint8_t flags) -> size_t {
    return (flags & 0x80) != 0 ? 3 * (size_t{2} << (flags & 7)) : 0;
  };
  size_t at = 13 + colourTable(static_cast<uint8_t>(bytes[10]));
  // Data sub-blocks: a length byte, that many bytes, until a length of 0.
  const auto skipSubBlocks = [&bytes, &at]() {
    while (at < bytes.size()) {
      const size_t length = static_cast<uint8_t>(bytes[at++]);
      if (length == 0) return true;
      at += length;
    }
    return false;
  };
  while (at < bytes.size()) {
    const uint8_t introducer = static_cast<uint8_t>(bytes[at++]);
    if (introducer == 0x21) {  // an extension: its label, then its blocks
      ++at;
      if (!skipSubBlocks()) return false;
    } else if (introducer == 0x2C) {  // the first image
      if (at + 9 > bytes.size()) return false;
      at += 9 + colourTable(static_cast<uint8_t>(bytes[at + 8]));
      ++at;  // the LZW code size
      return at <= bytes.size() && skipSubBlocks();
    } else {  // the trailer or damage before any image
      return false;
    }
  }
  return false;
}

const char* ReadablePictureKinds() { return "BMP, JPG, PNG, GIF, WebP, ICO, TXT"; }

PictureLoadResult LoadPictureBytes(std::string_view bytes, PictureFileKind kind,
                                   const std::string& fileName, const PictureGeometry& g,
                                   const std::array<int32_t, 8>& channelColours, int capacity,
                                   const ImportQuestion& ask, const PictureLibraryReader* library) {
  PictureLoadResult result;
  if (kind == PictureFileKind::Unknown) kind = PictureKindOf(fileName);
  if (kind == PictureFileKind::Unknown) {
    result.status = PictureLoadStatus::UnknownType;
    return result;
  }
  if (kind == PictureFileKind::Text) {
    result.isText = true;
    result.text = std::string(bytes.substr(0, kMaxPictureTextBytes));
    // A text file ends in a line break more often than not; the tag is the
    // text before it.
    while (!result.text.empty() && (result.text.back() == '\n' || result.text.back() == '\r'))
      result.text.pop_back();
    result.status = PictureLoadStatus::Ok;
    return result;
  }

  const int rows = g.Rows();
  const int maxColumns = std::max(1, capacity / rows);
  RgbImage image;
  int pictureWidth = 0, pictureHeight = 0;
  if (kind == PictureFileKind::Jpeg) {
    // A file cut short is refused before the operator is asked how to take
    // it: it could never be imported whatever the answer.
    if (!ReadJpegSize(bytes, pictureWidth, pictureHeight) || !JpegIsComplete(bytes)) return result;
  } else {
    bool ok = false;
    switch (kind) {
      case PictureFileKind::Bmp: ok = DecodeBmp(bytes, image); break;
      case PictureFileKind::Icon: ok = DecodeIcon(bytes, rows, image); break;
      default: ok = DecodeThroughLibrary(bytes, kind, library, image); break;
    }
    if (!ok) return result;
    pictureWidth = image.width;
    pictureHeight = image.height;
  }

  ImportMode mode{false, 0};
  if (pictureHeight != rows) {
    const std::optional<ImportMode> answer = ask ? ask(rows, pictureHeight) : std::nullopt;
    if (!answer) {
      result.status = PictureLoadStatus::Cancelled;
      return result;
    }
    mode = *answer;
  }
  if (mode.scale && pictureHeight != rows) {
    const int scaledWidth = ScaledWidth(pictureWidth, pictureHeight, rows);
    if (kind == PictureFileKind::Jpeg && !DecodeJpeg(bytes, rows, 0, -1, -1, image)) return result;
    // Only the columns the capacity takes are made: a very wide, low picture
    // stretched to the board's height would otherwise grow without bound.
    image = ResampleImage(image, scaledWidth, rows, maxColumns);
  } else {
    mode.startRow = std::clamp(mode.startRow, 0, std::max(0, pictureHeight - rows));
    if (kind == PictureFileKind::Jpeg) {
      if (!DecodeJpeg(bytes, 0, mode.startRow, rows, maxColumns, image)) return result;
    } else {
      RgbImage window;
      window.width = std::min(image.width, maxColumns);
      window.height = std::min(rows, image.height - mode.startRow);
      window.pixels.resize(static_cast<size_t>(window.width) * window.height);
      for (int y = 0; y < window.height; ++y)
        for (int x = 0; x < window.width; ++x)
          window.pixels[static_cast<size_t>(y) * window.width + x] = image.At(x, y + mode.startRow);
      image = std::move(window);
    }
  }

  const std::vector<uint32_t> palette = PicturePalette(channelColours, g.channelCount);
  result.width = std::min(image.width, maxColumns);
  result.height = rows;
  result.pixels.assign(static_cast<size_t>(result.width) * rows, 0);
  uint32_t lastColour = palette[0];
  uint8_t lastIndex = 0;
  for (int x = 0; x < result.width; ++x) {
    for (int y = 0; y < std::min(rows, image.height); ++y) {
      const uint32_t colour = image.At(x, y);
      if (colour != lastColour) {
        lastColour = colour;
        lastIndex = static_cast<uint8_t>(NearestColourIndex(colour, palette.size(), palette.data()));
      }
      result.pixels[static_cast<size_t>(x) * rows + y] = lastIndex;
    }
  }
  result.name = FileNameOf(fileName);
  result.status = PictureLoadStatus::Ok;
  return result;
}

PictureLoadResult LoadPictureFile(const std::string& path, const PictureGeometry& g,
                                  const std::array<int32_t, 8>& channelColours, int capacity,
                                  const ImportQuestion& ask, const PictureLibraryReader* library) {
  PictureLoadResult result;
  const PictureFileKind kind = PictureKindOf(path);
  if (kind == PictureFileKind::Unknown) {
    result.status = PictureLoadStatus::UnknownType;
    return result;
  }
  // A file larger than any picture the readers accept is not read at all.
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(NativePath(path), error);
  if (error || size > kMaxPictureFileBytes) return result;
  std::string bytes;
  if (ReadFileCapped(path, kMaxPictureFileBytes, bytes) != ReadOutcome::Ok) return result;
  return LoadPictureBytes(bytes, kind, path, g, channelColours, capacity, ask, library);
}

std::string EncodePictureBmp(int width, int rows, const uint8_t* pixels,
                             const std::array<int32_t, 8>& channelColours, int channelCount) {
  width = std::max(1, width);
  rows = std::max(1, rows);
  const std::vector<uint32_t> palette = PicturePalette(channelColours, channelCount);
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  const size_t imageSize = stride * static_cast<size_t>(rows);
  std::string bmp(14 + 40 + imageSize, '\0');
  bmp[0] = 'B';
  bmp[1] = 'M';
  PutU32(bmp, 2, static_cast<uint32_t>(bmp.size()));
  PutU32(bmp, 10, 14 + 40);
  PutU32(bmp, 14, 40);
  PutU32(bmp, 18, static_cast<uint32_t>(width));
  PutU32(bmp, 22, static_cast<uint32_t>(rows));
  PutU16(bmp, 26, 1);
  PutU16(bmp, 28, 24);
  PutU32(bmp, 34, static_cast<uint32_t>(imageSize));
  PutU32(bmp, 38, 2835);  // 72 dots per inch
  PutU32(bmp, 42, 2835);
  for (int y = 0; y < rows; ++y) {
    const size_t line = 14 + 40 + static_cast<size_t>(rows - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      const uint32_t c = palette[pixels[static_cast<size_t>(x) * rows + y] & (palette.size() - 1)];
      bmp[line + 3 * x] = static_cast<char>((c >> 16) & 0xFF);
      bmp[line + 3 * x + 1] = static_cast<char>((c >> 8) & 0xFF);
      bmp[line + 3 * x + 2] = static_cast<char>(c & 0xFF);
    }
  }
  return bmp;
}

bool SavePictureBmp(const std::string& path, int width, int rows, const uint8_t* pixels,
                    const std::array<int32_t, 8>& channelColours, int channelCount) {
  return WriteFileAtomically(path, EncodePictureBmp(width, rows, pixels, channelColours, channelCount));
}

std::string ProposedBmpName(std::string_view pictureName) {
  std::string name = TrimBlanks(pictureName);
  if (name.empty()) return name;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const bool bad = c < 32 || (c >= 128 && c <= 191) || std::strchr("\"*/:<>?\\|", c) != nullptr;
    if (bad || (i == 0 && (c == ' ' || c == '.'))) name[i] = '_';
  }
  if (name.size() > 254) name.resize(254);
  if (LowerExtension(name) != "bmp") name += ".bmp";
  return name;
}

}  // namespace lentar
