#include "markup/picture.h"

#include <algorithm>
#include <cstring>

#include "core/textutil.h"
#include "markup/emulation.h"
#include "markup/tags.h"

namespace lentar {

PictureGeometry::PictureGeometry(int heightBytes, int channels)
    : fontHeightBytes(std::clamp(heightBytes, 1, 4)), channelCount(std::clamp(channels, 1, 8)) {}

int PictureGeometry::MaxWidth() const {
  return std::clamp(static_cast<int>(kPictureStoreSize / static_cast<size_t>(ColumnBytes())), 1,
                    kMaxPictureWidth);
}

void PictureData::SetWidth(int columns) { width = std::clamp(columns, 1, geometry.MaxWidth()); }

void PictureData::Clear() { std::fill(pixels.begin(), pixels.end(), uint8_t{0}); }

void PackPictureColumn(const uint8_t* columnPixels, const PictureGeometry& g, uint8_t* out) {
  const int bands = g.fontHeightBytes;
  for (int p = 0; p < g.channelCount; ++p) {
    for (int b = 0; b < bands; ++b) {
      uint8_t byte = 0;
      for (int k = 0; k < 8; ++k)
        if (columnPixels[8 * b + k] & (1u << p)) byte |= static_cast<uint8_t>(1u << k);
      out[p * bands + b] = byte;
    }
  }
}

void UnpackPictureBytes(const uint8_t* bytes, size_t count, const PictureGeometry& g,
                        uint8_t* pixels, size_t pixelCount) {
  const size_t unit = static_cast<size_t>(g.ColumnBytes());
  const size_t rows = static_cast<size_t>(g.Rows());
  const size_t bands = static_cast<size_t>(g.fontHeightBytes);
  for (size_t i = 0; i < count; ++i) {
    const size_t x = i / unit;
    const size_t plane = (i % unit) / bands;
    const size_t band = i % bands;
    const size_t base = x * rows + 8 * band;
    if (base + 8 > pixelCount) break;
    const uint8_t value = bytes[i];
    for (int k = 0; k < 8; ++k)
      if (value & (1u << k)) pixels[base + k] |= static_cast<uint8_t>(1u << plane);
  }
}

std::string EncodePictureTag(const PictureData& picture) {
  const PictureGeometry& g = picture.geometry;
  const int width = std::clamp(picture.width, 1, g.MaxWidth());
  std::string tag = "{[Img:";
  tag.reserve(tag.size() + static_cast<size_t>(width) * g.ColumnBytes() * 4 + picture.name.size() + 4);
  std::vector<uint8_t> column(static_cast<size_t>(g.ColumnBytes()));
  char digits[4];
  bool first = true;
  for (int x = 0; x < width; ++x) {
    PackPictureColumn(picture.pixels.data() + picture.Index(x, 0), g, column.data());
    for (uint8_t v : column) {
      if (!first) tag += ',';
      first = false;
      int n = 0;
      if (v >= 100) digits[n++] = static_cast<char>('0' + v / 100);
      if (v >= 10) digits[n++] = static_cast<char>('0' + v / 10 % 10);
      digits[n++] = static_cast<char>('0' + v % 10);
      tag.append(digits, static_cast<size_t>(n));
    }
  }
  tag += " /";
  std::string name = picture.name;
  for (size_t at; (at = name.find("]}")) != std::string::npos;) name.erase(at, 2);
  tag += name;
  tag += "]}";
  return tag;
}

namespace {

bool ParsePictureTag(std::string_view text, std::vector<uint8_t>& values, std::string& name) {
  text = TrimBlankView(text);
  if (text.size() < 4 || text.substr(0, 2) != kTagOpen) return false;
  const size_t close = text.find(kTagClose);
  if (close != text.size() - 2) return false;
  std::string_view inner = TrimBlankView(text.substr(2, close - 2));
  if (inner.size() < 3 || UpperCase(inner.substr(0, 3)) != "IMG") return false;
  inner = TrimBlankView(inner.substr(3));
  if (inner.empty() || inner[0] != ':') return false;
  const std::string_view body = TrimBlankView(inner.substr(1));

  std::string_view list = body;
  const size_t slash = body.find('/');
  if (slash != std::string_view::npos) {
    list = body.substr(0, slash);
    name = std::string(body.substr(slash + 1));
  } else {
    name.clear();
  }
  if (list.empty()) return false;

  values.clear();
  while (values.size() < kMaxPictureTagValues) {
    const size_t comma = list.find(',');
    const int64_t v = TextToInt(list.substr(0, comma));
    if (v < 0 || v > 255) return false;
    values.push_back(static_cast<uint8_t>(v));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return !values.empty();
}

}  // namespace

bool DecodePictureTag(std::string_view text, PictureData& picture) {
  std::vector<uint8_t> values;
  std::string name;
  picture.Clear();
  const PictureGeometry& g = picture.geometry;
  if (!ParsePictureTag(text, values, name)) {
    picture.width = std::max(1, 24 / g.Rows());
    return false;
  }
  UnpackPictureBytes(values.data(), values.size(), g, picture.pixels.data(), picture.pixels.size());
  picture.SetWidth(static_cast<int>(values.size() / static_cast<size_t>(g.ColumnBytes())));
  picture.name = std::move(name);
  return true;
}

void ShiftPictureLeft(PictureData& picture) {
  const size_t rows = static_cast<size_t>(picture.geometry.Rows());
  auto& p = picture.pixels;
  std::memmove(p.data(), p.data() + rows, p.size() - rows);
  std::fill(p.end() - static_cast<std::ptrdiff_t>(rows), p.end(), uint8_t{0});
}

void ShiftPictureRight(PictureData& picture) {
  const size_t rows = static_cast<size_t>(picture.geometry.Rows());
  auto& p = picture.pixels;
  std::memmove(p.data() + rows, p.data(), p.size() - rows);
  std::fill(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(rows), uint8_t{0});
}

void ShiftPictureUp(PictureData& picture) {
  const size_t rows = static_cast<size_t>(picture.geometry.Rows());
  uint8_t* p = picture.pixels.data();
  for (size_t c = 0; c + rows <= picture.pixels.size(); c += rows) {
    std::memmove(p + c, p + c + 1, rows - 1);
    p[c + rows - 1] = 0;
  }
}

void ShiftPictureDown(PictureData& picture) {
  const size_t rows = static_cast<size_t>(picture.geometry.Rows());
  uint8_t* p = picture.pixels.data();
  for (size_t c = 0; c + rows <= picture.pixels.size(); c += rows) {
    std::memmove(p + c + 1, p + c, rows - 1);
    p[c] = 0;
  }
}

int RotatePicture(int width, uint8_t* pixels, int angle, int fontHeightBytes, bool mirrorX,
                  bool mirrorY) {
  const int rows = 8 * std::clamp(fontHeightBytes, 1, 4);
  const int w = std::clamp(width, 1, static_cast<int>(kPictureStoreSize) / rows);
  if (angle != 90 && angle != 180 && angle != 270) angle = 0;

  // The turned picture, column-major, tw columns of th rows.
  const bool quarter = angle == 90 || angle == 270;
  const int tw = quarter ? rows : w;
  const int th = quarter ? w : rows;
  std::vector<uint8_t> turned(static_cast<size_t>(tw) * static_cast<size_t>(th), 0);
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < rows; ++y) {
      int nx = x, ny = y;
      switch (angle) {
        case 90: nx = y; ny = w - 1 - x; break;
        case 180: nx = w - 1 - x; ny = rows - 1 - y; break;
        case 270: nx = rows - 1 - y; ny = x; break;
        default: break;
      }
      if (mirrorX) ny = th - 1 - ny;
      if (mirrorY) nx = tw - 1 - nx;
      turned[static_cast<size_t>(nx) * th + ny] = pixels[static_cast<size_t>(x) * rows + y];
    }
  }

  int left = tw, right = -1, top = th, bottom = -1;
  for (int x = 0; x < tw; ++x) {
    for (int y = 0; y < th; ++y) {
      if (turned[static_cast<size_t>(x) * th + y] == 0) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  std::memset(pixels, 0, kPictureStoreSize);
  if (right < 0) return 5;

  const int newWidth = right - left + 1;
  const int boxHeight = bottom - top + 1;
  // Source row of the box shown in the first row of the column, and the first
  // column row it lands in.
  int firstRow = top;
  int offset = 0;
  if (boxHeight < rows) {
    const int spare = rows - boxHeight;
    offset = angle == 270 ? spare / 2 : (spare + 1) / 2;
  } else if (boxHeight > rows) {
    const int extra = boxHeight - rows;
    firstRow = top + (angle == 270 ? extra / 2 : (extra + 1) / 2);
  }
  const int copyRows = std::min(rows, boxHeight);
  for (int x = 0; x < newWidth; ++x) {
    for (int r = 0; r < copyRows; ++r) {
      pixels[static_cast<size_t>(x) * rows + offset + r] =
          turned[static_cast<size_t>(left + x) * th + firstRow + r];
    }
  }
  return newWidth;
}

int NearestColourIndex(uint32_t colour, size_t count, const uint32_t* palette) {
  int best = 0;
  int64_t bestDistance = INT64_MAX;
  for (size_t i = 0; i < count; ++i) {
    int64_t d = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      const int64_t diff = static_cast<int64_t>((colour >> shift) & 0xFF) -
                           static_cast<int64_t>((palette[i] >> shift) & 0xFF);
      d += diff * diff;
    }
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

std::vector<uint32_t> PicturePalette(const std::array<int32_t, 8>& channelColours,
                                     int channelCount) {
  const int channels = std::clamp(channelCount, 1, 8);
  std::vector<uint32_t> palette(size_t{1} << channels);
  for (size_t i = 0; i < palette.size(); ++i)
    palette[i] = MixChannelColours(channelColours, channels, static_cast<unsigned>(i));
  return palette;
}

}  // namespace lentar
