#include "markup/jpegeighth.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lentar {

namespace {

// Zig-zag position -> position in the 8 x 8 block, row after row. A corrupt
// run may walk past the block's end; libjpeg then puts the coefficient at the
// last position, which the 16 extra entries reproduce.
constexpr uint8_t kNatural[80] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// One Huffman code per lookup of this many bits (longer codes bit by bit).
constexpr int kLookBits = 9;
// Several skipped AC coefficients (code and value bits) per lookup.
constexpr int kSkipBits = 14;
// Zero bytes after the entropy data: one MCU of the longest codes may be
// decoded past a segment's end before the check after the MCU notices.
constexpr size_t kPadding = 2048;
// Largest dequantised coefficient the 2 x 2 transform takes here: libjpeg's
// SIMD version of it works in 16 bits, and beyond this bound its
// intermediate values may saturate where the plain arithmetic would not. No
// photo comes near it (an 8-bit block's coefficients stay below about 1900).
constexpr int32_t kMaxDequantised = 3000;

struct HuffmanTable {
  bool defined = false;
  std::array<uint8_t, 17> counts{};  // counts[l]: codes of l bits
  std::array<uint8_t, 256> symbols{};
};

// A Huffman table ready for decoding, built as libjpeg builds its own.
struct HuffmanDecoder {
  std::array<int32_t, 17> maxCode{};  // largest code of l bits, -1 when none
  std::array<int32_t, 17> offset{};   // symbol index = code + offset[l]
  std::array<uint8_t, 256> symbols{};
  // (length << 8) | symbol for every kLookBits-bit prefix starting with a
  // code of at most kLookBits bits; 0 otherwise.
  std::array<uint16_t, 1 << kLookBits> look{};
};

// Skipping AC coefficients, one entry per kSkipBits-bit window: the bits
// that a run of whole codes with their value bits takes at the window's start
// (bits 0-3; 0: the first code does not fit and is decoded alone), the
// zig-zag positions the run spans (bits 4-10; the end-of-block code, when it
// ends the run, counts as one) and whether it ends with the end-of-block code
// (bit 11). Two bytes an entry keep the table in the first-level cache.
using SkipEntry = uint16_t;

struct Component {
  int id = 0;
  int h = 1, v = 1;
  int quant = 0;
  int dcTable = 0, acTable = 0;
};

struct Header {
  bool sawFrame = false;
  int width = 0, height = 0;
  int count = 0;
  std::array<Component, 3> components{};
  std::array<std::array<uint16_t, 64>, 4> quant{};  // natural order
  std::array<bool, 4> quantDefined{};
  std::array<HuffmanTable, 4> dc{}, ac{};
  int restartInterval = 0;
  size_t dataStart = 0;
};

uint32_t Be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

bool ParseFrame(const uint8_t* s, size_t length, Header& h) {
  if (h.sawFrame || length < 6) return false;
  const int precision = s[0];
  h.height = static_cast<int>(Be16(s + 1));
  h.width = static_cast<int>(Be16(s + 3));
  h.count = s[5];
  if (precision != 8 || h.width == 0 || h.height == 0 || h.width > 65500 || h.height > 65500) return false;
  if (static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height) > kMaxJpegPixels) return false;
  if ((h.count != 1 && h.count != 3) || length != 6 + 3 * static_cast<size_t>(h.count)) return false;
  for (int i = 0; i < h.count; ++i) {
    Component& c = h.components[i];
    c.id = s[6 + 3 * i];
    c.h = s[7 + 3 * i] >> 4;
    c.v = s[7 + 3 * i] & 15;
    c.quant = s[8 + 3 * i];
    if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.quant > 3) return false;
    for (int j = 0; j < i; ++j)
      if (h.components[j].id == c.id) return false;
  }
  h.sawFrame = true;
  return true;
}

bool ParseQuantTables(const uint8_t* s, size_t length, Header& h) {
  while (length > 0) {
    const int precision = s[0] >> 4, id = s[0] & 15;
    if (precision > 1 || id > 3) return false;
    const size_t size = 1 + 64 * static_cast<size_t>(precision + 1);
    if (length < size) return false;
    for (int i = 0; i < 64; ++i)
      h.quant[id][kNatural[i]] = static_cast<uint16_t>(precision ? Be16(s + 1 + 2 * i) : s[1 + i]);
    h.quantDefined[id] = true;
    s += size;
    length -= size;
  }
  return true;
}

bool ParseHuffmanTables(const uint8_t* s, size_t length, Header& h) {
  while (length > 0) {
    if (length < 17) return false;
    const int tableClass = s[0] >> 4, id = s[0] & 15;
    if (tableClass > 1 || id > 3) return false;
    size_t total = 0;
    for (int l = 1; l <= 16; ++l) total += s[l];
    if (total > 256 || length < 17 + total) return false;
    HuffmanTable& t = tableClass ? h.ac[id] : h.dc[id];
    t = HuffmanTable{};
    t.defined = true;
    for (int l = 1; l <= 16; ++l) t.counts[l] = s[l];
    std::memcpy(t.symbols.data(), s + 17, total);
    s += 17 + total;
    length -= 17 + total;
  }
  return true;
}

bool ParseScan(const uint8_t* s, size_t length, Header& h) {
  if (!h.sawFrame || length < 1) return false;
  const int n = s[0];
  // One scan with every component, in the frame's order.
  if (n != h.count || length != 4 + 2 * static_cast<size_t>(n)) return false;
  for (int i = 0; i < n; ++i) {
    Component& c = h.components[i];
    if (s[1 + 2 * i] != c.id) return false;
    c.dcTable = s[2 + 2 * i] >> 4;
    c.acTable = s[2 + 2 * i] & 15;
    if (c.dcTable > 3 || c.acTable > 3) return false;
  }
  // Sequential: all 64 coefficients, no successive approximation.
  return s[1 + 2 * n] == 0 && s[2 + 2 * n] == 63 && s[3 + 2 * n] == 0;
}

// The markers up to the start of the scan's data.
bool ParseHeader(const uint8_t* b, size_t size, Header& h) {
  if (size < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
  size_t pos = 2;
  for (;;) {
    // A marker must follow at once (fill bytes 0xFF allowed).
    if (pos >= size || b[pos] != 0xFF) return false;
    while (pos < size && b[pos] == 0xFF) ++pos;
    if (pos + 3 > size) return false;
    const int marker = b[pos++];
    const bool known = marker == 0xC0 || marker == 0xC1 || marker == 0xC4 || marker == 0xDB ||
                       marker == 0xDD || marker == 0xDA || (marker >= 0xE0 && marker <= 0xEF) ||
                       marker == 0xFE;
    if (!known) return false;
    const size_t length = Be16(b + pos);
    if (length < 2 || length > size - pos) return false;
    const uint8_t* s = b + pos + 2;
    const size_t n = length - 2;
    pos += length;
    switch (marker) {
      case 0xC0:  // baseline
      case 0xC1:  // extended sequential, Huffman
        if (!ParseFrame(s, n, h)) return false;
        break;
      case 0xC4:
        if (!ParseHuffmanTables(s, n, h)) return false;
        break;
      case 0xDB:
        if (!ParseQuantTables(s, n, h)) return false;
        break;
      case 0xDD:
        if (n != 2) return false;
        h.restartInterval = static_cast<int>(Be16(s));
        break;
      case 0xE0:
        // libjpeg warns about a JFIF version other than 1.x or 2.x; the
        // importer counts a warning as damage.
        if (n >= 14 && std::memcmp(s, "JFIF", 5) == 0 && s[5] != 1 && s[5] != 2) return false;
        break;
      case 0xEE:
        // Adobe's marker may declare RGB or CMYK data, or a transform.
        if (n >= 5 && std::memcmp(s, "Adobe", 5) == 0) return false;
        break;
      case 0xDA:
        if (!ParseScan(s, n, h)) return false;
        h.dataStart = pos;
        return true;
      default:  // other application markers and comments
        break;
    }
  }
}

// The Huffman decoder of a table, refusing what libjpeg refuses: codes that
// overflow their length, DC categories above 15.
bool BuildDecoder(const HuffmanTable& t, bool dc, HuffmanDecoder& d) {
  if (!t.defined) return false;
  std::array<uint8_t, 257> sizes{};
  std::array<uint32_t, 256> codes{};
  int n = 0;
  for (int l = 1; l <= 16; ++l)
    for (int i = 0; i < t.counts[l]; ++i) sizes[n++] = static_cast<uint8_t>(l);
  uint32_t code = 0;
  int length = sizes[0];
  for (int p = 0; sizes[p] != 0;) {
    while (sizes[p] == length) codes[p++] = code++;
    if (code >= (1u << length)) return false;
    code <<= 1;
    ++length;
  }
  int p = 0;
  for (int l = 1; l <= 16; ++l) {
    d.maxCode[l] = -1;
    if (t.counts[l] == 0) continue;
    d.offset[l] = p - static_cast<int32_t>(codes[p]);
    p += t.counts[l];
    d.maxCode[l] = static_cast<int32_t>(codes[p - 1]);
  }
  d.symbols = t.symbols;
  d.look.fill(0);
  for (int i = 0; i < n; ++i) {
    if (dc && t.symbols[i] > 15) return false;
    if (sizes[i] > kLookBits) continue;
    const int spare = kLookBits - sizes[i];
    const uint32_t first = codes[i] << spare;
    for (uint32_t j = 0; j < (1u << spare); ++j)
      d.look[first + j] = static_cast<uint16_t>(sizes[i] << 8 | t.symbols[i]);
  }
  return true;
}

void BuildSkipTable(const HuffmanDecoder& d, std::vector<SkipEntry>& skip) {
  skip.assign(size_t{1} << kSkipBits, 0);
  for (uint32_t window = 0; window < (1u << kSkipBits); ++window) {
    int used = 0, advance = 0;
    bool endOfBlock = false;
    while (advance < 64) {
      const int room = kSkipBits - used;
      int length = 0, symbol = -1;
      for (int l = 1; l <= std::min(room, 16); ++l) {
        const int32_t code = static_cast<int32_t>((window >> (room - l)) & ((1u << l) - 1));
        if (code <= d.maxCode[l]) {
          length = l;
          symbol = d.symbols[code + d.offset[l]];
          break;
        }
      }
      if (symbol < 0) break;
      const int run = symbol >> 4, category = symbol & 15;
      if (category == 0 && run != 15) {
        used += length;
        endOfBlock = true;
        break;
      }
      if (length + category > room) break;
      used += length + category;
      advance += category ? run + 1 : 16;
    }
    const int eob = endOfBlock ? 1 : 0;
    skip[window] = static_cast<SkipEntry>(used | (advance + eob) << 4 | eob << 11);
  }
}

inline uint64_t LoadBigEndian64(const uint8_t* p) {
#if defined(__GNUC__) || defined(__clang__)
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
#else
  uint64_t word = 0;
  for (int i = 0; i < 8; ++i) word = word << 8 | p[i];
  return word;
#endif
}

// Bits of the entropy data (byte stuffing already removed), most significant
// first; the buffer holds 56..63 bits after Refill.
class BitReader {
 public:
  explicit BitReader(const uint8_t* p) : p_(p), start_(p) {}
  void Refill() {
    buffer_ |= LoadBigEndian64(p_) >> bits_;
    p_ += (63 - bits_) >> 3;
    bits_ |= 56;
  }
  uint32_t Peek(int n) const { return static_cast<uint32_t>(buffer_ >> (64 - n)); }
  void Drop(int n) {
    buffer_ <<= n;
    bits_ -= n;
  }
  int Take(int n) {
    const int v = static_cast<int>(Peek(n));
    Drop(n);
    return v;
  }
  uint64_t Consumed() const { return static_cast<uint64_t>(p_ - start_) * 8 - static_cast<uint64_t>(bits_); }

 private:
  const uint8_t* p_;
  const uint8_t* start_;
  uint64_t buffer_ = 0;
  int bits_ = 0;
};

// The next symbol, -1 for a code the table lacks. Needs 16 bits in the buffer.
inline int DecodeSymbol(const HuffmanDecoder& d, BitReader& bits) {
  const uint16_t e = d.look[bits.Peek(kLookBits)];
  if (e != 0) {
    bits.Drop(e >> 8);
    return e & 0xFF;
  }
  for (int l = kLookBits + 1; l <= 16; ++l) {
    const int32_t code = static_cast<int32_t>(bits.Peek(l));
    if (code <= d.maxCode[l]) {
      bits.Drop(l);
      return d.symbols[code + d.offset[l]];
    }
  }
  return -1;
}

inline int Extend(int v, int category) {
  return v < (1 << (category - 1)) ? v - (1 << category) + 1 : v;
}

// The DC difference added to the prediction. libjpeg keeps coefficients in
// 16 bits; a prediction outside them is left to it.
inline bool DecodeDc(const HuffmanDecoder& d, BitReader& bits, int& prediction) {
  bits.Refill();
  const int category = DecodeSymbol(d, bits);
  if (category < 0) return false;
  if (category != 0) prediction += Extend(bits.Take(category), category);
  return prediction >= -32768 && prediction <= 32767;
}

// Steps over a block's AC coefficients.
inline bool SkipAc(const HuffmanDecoder& d, const SkipEntry* skip, BitReader& bits) {
  int k = 1;
  for (;;) {
    bits.Refill();
    const SkipEntry e = skip[bits.Peek(kSkipBits)];
    const int used = e & 15, span = (e >> 4) & 127, eob = e >> 11;
    if (used != 0 && k + span <= 64) {
      bits.Drop(used);
      k += span - eob;
      if (eob != 0 || k >= 64) return true;
      continue;
    }
    const int symbol = DecodeSymbol(d, bits);
    if (symbol < 0) return false;
    const int run = symbol >> 4, category = symbol & 15;
    if (category != 0) {
      bits.Drop(category);
      k += run + 1;
    } else if (run == 15) {
      k += 16;
    } else {
      return true;
    }
    if (k >= 64) return true;
  }
}

// A block's AC coefficients into coef (natural order, zeroed beforehand),
// step for step as libjpeg stores them; stored gets a bit for every position
// written.
inline bool DecodeAc(const HuffmanDecoder& d, BitReader& bits, int16_t* coef, uint64_t& stored) {
  stored = 0;
  for (int k = 1; k < 64; ++k) {
    bits.Refill();
    const int symbol = DecodeSymbol(d, bits);
    if (symbol < 0) return false;
    const int run = symbol >> 4, category = symbol & 15;
    if (category != 0) {
      k += run;
      coef[kNatural[k]] = static_cast<int16_t>(Extend(bits.Take(category), category));
      stored |= uint64_t{1} << kNatural[k];
    } else {
      if (run != 15) break;
      k += 15;
    }
  }
  return true;
}

// libjpeg's sample range limiting after an inverse DCT: the value plus 128,
// clamped, taken modulo 1024 first (so a wildly corrupt value wraps rather
// than clamps, exactly as there).
inline uint8_t IdctLimit(int64_t v) {
  const int m = static_cast<int>(v & 1023);
  if (m < 128) return static_cast<uint8_t>(m + 128);
  if (m < 512) return 255;
  if (m < 896) return 0;
  return static_cast<uint8_t>(m - 896);
}

inline int64_t Descale(int64_t v, int n) { return (v + (int64_t{1} << (n - 1))) >> n; }

// The 1 x 1 inverse DCT: the block's mean from its DC coefficient.
inline uint8_t Idct1x1(int dc, int quant) { return IdctLimit(Descale(static_cast<int64_t>(dc) * quant, 3)); }

// Positions of the block that libjpeg's 2 x 2 reduced inverse DCT reads:
// rows and columns 0, 1, 3, 5 and 7.
constexpr int kDct2Lines[5] = {0, 1, 3, 5, 7};
constexpr uint64_t kDct2Positions = [] {
  uint64_t mask = 0;
  for (const int row : kDct2Lines)
    for (const int column : kDct2Lines) mask |= uint64_t{1} << (row * 8 + column);
  return mask;
}();
constexpr uint64_t kColumnMask = 0x0101010101010101ull;

// libjpeg's 2 x 2 reduced inverse DCT, integer step for integer step. nonzero
// marks the AC positions that may hold a coefficient other than 0. False when
// a coefficient is beyond kMaxDequantised.
bool Idct2x2(const int16_t* coef, const uint16_t* quant, uint64_t nonzero, uint8_t* out /* [2][2] */) {
  nonzero = (nonzero | 1) & kDct2Positions;
  for (uint64_t m = nonzero; m != 0; m &= m - 1) {
    const int at = std::countr_zero(m);
    const int32_t v = static_cast<int32_t>(coef[at]) * quant[at];
    if (v > kMaxDequantised || v < -kMaxDequantised) return false;
  }
  // Columns 0, 1, 3, 5 and 7 down to two rows each.
  int64_t top[5], bottom[5];
  for (int j = 0; j < 5; ++j) {
    const int column = kDct2Lines[j];
    if ((nonzero & (kColumnMask << column)) == 0) {
      top[j] = bottom[j] = 0;
      continue;
    }
    const int16_t* c = coef + column;
    const uint16_t* q = quant + column;
    const int64_t even = int64_t{c[0]} * q[0] * (int64_t{1} << 15);
    const int64_t odd = int64_t{c[56]} * q[56] * -5906 + int64_t{c[40]} * q[40] * 6967 +
                        int64_t{c[24]} * q[24] * -10426 + int64_t{c[8]} * q[8] * 29692;
    top[j] = Descale(even + odd, 13);
    bottom[j] = Descale(even - odd, 13);
  }
  for (int row = 0; row < 2; ++row) {
    const int64_t* w = row == 0 ? top : bottom;
    const int64_t even = w[0] * (int64_t{1} << 15);
    const int64_t odd = w[4] * -5906 + w[3] * 6967 + w[2] * -10426 + w[1] * 29692;
    out[2 * row] = IdctLimit(Descale(even + odd, 20));
    out[2 * row + 1] = IdctLimit(Descale(even - odd, 20));
  }
  return true;
}

// libjpeg's YCbCr -> RGB tables (16 fraction bits).
struct ColourTables {
  int crRed[256], cbBlue[256];
  int32_t crGreen[256], cbGreen[256];
  ColourTables() {
    const auto fix = [](double x) { return static_cast<int32_t>(x * 65536 + 0.5); };
    for (int i = 0; i < 256; ++i) {
      const int32_t x = i - 128;
      crRed[i] = (fix(1.40200) * x + 32768) >> 16;
      cbBlue[i] = (fix(1.77200) * x + 32768) >> 16;
      crGreen[i] = -fix(0.71414) * x;
      cbGreen[i] = -fix(0.34414) * x + 32768;
    }
  }
};

inline uint32_t Clamp255(int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); }

// The entropy data of the scan without byte stuffing, cut at the restart
// markers into segments (ends: where each ends in data), as far as the
// segments needed. False when a marker is missing or out of order, or the
// data ends without a marker.
bool Unstuff(const uint8_t* b, size_t size, size_t pos, size_t segmentsNeeded, std::vector<uint8_t>& data,
             std::vector<size_t>& ends) {
  data.reserve(size - pos + kPadding);
  for (;;) {
    const void* found = std::memchr(b + pos, 0xFF, size - pos);
    if (found == nullptr) return false;
    const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(found) - b);
    data.insert(data.end(), b + pos, b + at);
    if (at + 1 >= size) return false;
    const uint8_t c = b[at + 1];
    pos = at + 2;
    if (c == 0x00) {
      data.push_back(0xFF);
      continue;
    }
    // Runs of 0xFF are left to libjpeg, which reads them two ways.
    if (c == 0xFF) return false;
    ends.push_back(data.size());
    if (ends.size() == segmentsNeeded) break;
    if (c != 0xD0 + static_cast<int>((ends.size() - 1) % 8)) return false;
  }
  data.resize(data.size() + kPadding, 0);
  return true;
}

}  // namespace

bool DecodeJpegEighth(std::string_view bytes, int minHeight, int firstRow, int rowCount, int maxColumns,
                      RgbImage& out) {
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  Header h;
  if (minHeight <= 0 || !ParseHeader(b, bytes.size(), h)) return false;
  const int outWidth = (h.width + 7) / 8, outHeight = (h.height + 7) / 8;
  if (outHeight < minHeight) return false;

  const bool grey = h.count == 1;
  const Component& luma = h.components[0];
  int hMax = 1, vMax = 1;
  if (!grey) {
    // An RGB file (told by its component names) is left to libjpeg.
    if (h.components[0].id == 'R' && h.components[1].id == 'G' && h.components[2].id == 'B') return false;
    if (luma.h > 2 || luma.v > 2) return false;
    for (int i = 1; i < 3; ++i)
      if (h.components[i].h != 1 || h.components[i].v != 1) return false;
    hMax = luma.h;
    vMax = luma.v;
  }
  // At scale 1/8 libjpeg makes the chroma of 2x2 luma with its 2 x 2 DCT.
  const bool chromaDct2 = hMax == 2 && vMax == 2;
  for (int i = 0; i < h.count; ++i) {
    const Component& c = h.components[i];
    if (!h.quantDefined[c.quant]) return false;
    for (const uint16_t q : h.quant[c.quant])
      if (q > 255) return false;
  }

  // The window kept, as DecodeJpeg keeps it.
  const int first = std::clamp(firstRow, 0, outHeight);
  const int last = rowCount < 0 ? outHeight
                                : static_cast<int>(std::min<int64_t>(outHeight, int64_t{first} + rowCount));
  const int keep = maxColumns < 0 ? outWidth : std::min(outWidth, maxColumns);

  std::array<HuffmanDecoder, 4> dcDecoders, acDecoders;
  std::array<std::vector<SkipEntry>, 4> skipTables;
  std::array<bool, 4> dcBuilt{}, acBuilt{};
  for (int i = 0; i < h.count; ++i) {
    const Component& c = h.components[i];
    if (!dcBuilt[c.dcTable] && !BuildDecoder(h.dc[c.dcTable], true, dcDecoders[c.dcTable])) return false;
    dcBuilt[c.dcTable] = true;
    if (!acBuilt[c.acTable]) {
      if (!BuildDecoder(h.ac[c.acTable], false, acDecoders[c.acTable])) return false;
      acBuilt[c.acTable] = true;
    }
    const bool skips = i == 0 || !chromaDct2;
    if (skips && skipTables[c.acTable].empty()) BuildSkipTable(acDecoders[c.acTable], skipTables[c.acTable]);
  }

  // libjpeg decodes MCU rows only as far as the last row read.
  const int mcusPerRow = (h.width + 8 * hMax - 1) / (8 * hMax);
  const int mcuRows = last == 0 ? 0 : (last + vMax - 1) / vMax;
  const int64_t mcuCount = int64_t{mcusPerRow} * mcuRows;
  const int lumaWidth = mcusPerRow * hMax, lumaHeight = mcuRows * vMax;
  std::vector<uint8_t> lumaPlane(static_cast<size_t>(lumaWidth) * lumaHeight);
  const int chromaWidth = grey ? 0 : chromaDct2 ? lumaWidth : mcusPerRow;
  const int chromaHeight = grey ? 0 : chromaDct2 ? lumaHeight : mcuRows;
  std::vector<uint8_t> cbPlane(static_cast<size_t>(chromaWidth) * chromaHeight);
  std::vector<uint8_t> crPlane(cbPlane.size());

  if (mcuCount > 0) {
    const int64_t interval = h.restartInterval;
    const size_t segmentsNeeded = interval > 0 ? static_cast<size_t>((mcuCount + interval - 1) / interval) : 1;
    std::vector<uint8_t> data;
    std::vector<size_t> ends;
    if (!Unstuff(b, bytes.size(), h.dataStart, segmentsNeeded, data, ends)) return false;

    const uint16_t* lumaQuant = h.quant[luma.quant].data();
    int64_t mcu = 0;
    for (size_t segment = 0; segment < ends.size(); ++segment) {
      const size_t begin = segment == 0 ? 0 : ends[segment - 1];
      const uint64_t available = static_cast<uint64_t>(ends[segment] - begin) * 8;
      BitReader bits(data.data() + begin);
      int predictions[3] = {0, 0, 0};
      // A chroma block's coefficients; only the positions written are
      // cleared after each block.
      int16_t coef[64] = {};
      const int64_t end = interval > 0 ? std::min(mcuCount, mcu + interval) : mcuCount;
      for (; mcu < end; ++mcu) {
        const int mx = static_cast<int>(mcu % mcusPerRow), my = static_cast<int>(mcu / mcusPerRow);
        for (int by = 0; by < vMax; ++by) {
          for (int bx = 0; bx < hMax; ++bx) {
            if (!DecodeDc(dcDecoders[luma.dcTable], bits, predictions[0]) ||
                !SkipAc(acDecoders[luma.acTable], skipTables[luma.acTable].data(), bits))
              return false;
            lumaPlane[static_cast<size_t>(my * vMax + by) * lumaWidth + mx * hMax + bx] =
                Idct1x1(predictions[0], lumaQuant[0]);
          }
        }
        for (int i = 1; i < h.count; ++i) {
          const Component& c = h.components[i];
          std::vector<uint8_t>& plane = i == 1 ? cbPlane : crPlane;
          if (!DecodeDc(dcDecoders[c.dcTable], bits, predictions[i])) return false;
          if (chromaDct2) {
            coef[0] = static_cast<int16_t>(predictions[i]);
            uint8_t samples[4];
            uint64_t stored = 0;
            if (!DecodeAc(acDecoders[c.acTable], bits, coef, stored)) return false;
            if ((stored & kDct2Positions) != 0) {
              if (!Idct2x2(coef, h.quant[c.quant].data(), stored, samples)) return false;
            } else {
              // Flat as far as the transform looks: it reduces to the 1 x 1 one.
              const int32_t dc = predictions[i] * h.quant[c.quant][0];
              if (dc > kMaxDequantised || dc < -kMaxDequantised) return false;
              samples[0] = samples[1] = samples[2] = samples[3] = Idct1x1(predictions[i], h.quant[c.quant][0]);
            }
            for (uint64_t m = stored; m != 0; m &= m - 1) coef[std::countr_zero(m)] = 0;
            const size_t at = static_cast<size_t>(2 * my) * chromaWidth + 2 * static_cast<size_t>(mx);
            plane[at] = samples[0];
            plane[at + 1] = samples[1];
            plane[at + chromaWidth] = samples[2];
            plane[at + chromaWidth + 1] = samples[3];
          } else {
            if (!SkipAc(acDecoders[c.acTable], skipTables[c.acTable].data(), bits)) return false;
            plane[static_cast<size_t>(my) * chromaWidth + mx] = Idct1x1(predictions[i], h.quant[c.quant][0]);
          }
        }
        // Past the segment's end libjpeg would have run into the marker.
        if (bits.Consumed() > available) return false;
      }
      // Whole bytes left before a restart marker are left to libjpeg.
      if (segment + 1 < ends.size() && available - bits.Consumed() >= 8) return false;
    }
  }

  static const ColourTables tables;
  RgbImage image;
  image.width = keep;
  image.height = std::max(0, last - first);
  image.pixels.resize(static_cast<size_t>(image.width) * image.height);
  for (int y = first; y < last; ++y) {
    uint32_t* dest = image.pixels.data() + static_cast<size_t>(y - first) * image.width;
    const uint8_t* lumaRow = lumaPlane.data() + static_cast<size_t>(y) * lumaWidth;
    for (int x = 0; x < keep; ++x) {
      const int luminance = lumaRow[x];
      if (grey) {
        dest[x] = static_cast<uint32_t>(luminance) * 0x010101u;
        continue;
      }
      const size_t at = chromaDct2 ? static_cast<size_t>(y) * chromaWidth + x
                                   : static_cast<size_t>(y / vMax) * chromaWidth + x / hMax;
      const int cb = cbPlane[at], cr = crPlane[at];
      const uint32_t red = Clamp255(luminance + tables.crRed[cr]);
      const uint32_t green = Clamp255(luminance + ((tables.cbGreen[cb] + tables.crGreen[cr]) >> 16));
      const uint32_t blue = Clamp255(luminance + tables.cbBlue[cb]);
      dest[x] = red | green << 8 | blue << 16;
    }
  }
  out = std::move(image);
  return true;
}

}  // namespace lentar
