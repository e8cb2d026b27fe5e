// Pictures of the picture tag "{[Img:...]}".
//
// A picture is a run of columns as tall as the board's font: H = 8 * B pixel
// rows for a font of B bytes. Each pixel holds a colour index 0 .. 2^C - 1 over
// the board's C colour channels (bit p = channel p lit, 0 = dark).
//
// The tag carries the picture as decimal byte values, column after column;
// within a column the C channel planes in order, within a plane its B bytes
// from the top band down; bit k of byte b of plane p is bit p of the pixel in
// row 8 * b + k (bit 0 the upper pixel of its band). The same bytes go into
// the board's picture records unchanged, so the compiler, the emulation and
// the image editor all read this one layout (PackPictureColumn,
// UnpackPictureBytes).
//
// The editor works on a pixel store of kPictureStoreSize bytes, one colour
// index per pixel, column after column (pixel (x, y) at x * H + y). Only the
// first `width` columns are the picture; what lies beyond stays in the store,
// so a picture shifted right and back left comes back whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lentar {

inline constexpr size_t kPictureStoreSize = 131072;
inline constexpr int kMaxPictureWidth = 2016;
// Values of a tag beyond this many are ignored when it is read.
inline constexpr size_t kMaxPictureTagValues = 16384;

// Geometry of the board the picture is made for: B clamped to 1..4, C to 1..8.
struct PictureGeometry {
  int fontHeightBytes = 1;
  int channelCount = 1;

  PictureGeometry() = default;
  PictureGeometry(int heightBytes, int channels);
  int Rows() const { return 8 * fontHeightBytes; }
  int ColumnBytes() const { return fontHeightBytes * channelCount; }
  unsigned ColourCount() const { return 1u << channelCount; }
  // Widest picture the store and the board allow: 1 .. 2016, at most
  // kPictureStoreSize / (C * B).
  int MaxWidth() const;
};

// The picture being edited: the pixel store, its width and its name.
struct PictureData {
  PictureGeometry geometry;
  std::vector<uint8_t> pixels = std::vector<uint8_t>(kPictureStoreSize, 0);
  int width = 1;
  std::string name;  // Windows-1251, the tag's text after " /"

  uint8_t Pixel(int x, int y) const { return pixels[Index(x, y)]; }
  void SetPixel(int x, int y, uint8_t index) { pixels[Index(x, y)] = index; }
  size_t Index(int x, int y) const {
    return static_cast<size_t>(x) * static_cast<size_t>(geometry.Rows()) + static_cast<size_t>(y);
  }
  // Width forced into 1 .. geometry.MaxWidth().
  void SetWidth(int columns);
  void Clear();
};

// Writes the C * B tag bytes of one column (pixels: its H colour indexes,
// top first) to out.
void PackPictureColumn(const uint8_t* columnPixels, const PictureGeometry& g, uint8_t* out);
// Ors the picture bytes into pixels: byte i belongs to column i / (C * B);
// bytes whose pixels would fall beyond pixelCount are ignored.
void UnpackPictureBytes(const uint8_t* bytes, size_t count, const PictureGeometry& g,
                        uint8_t* pixels, size_t pixelCount);

// "{[Img:" values "," joined " /" name "]}", width * C * B values. A "]}"
// inside the name would end the tag early in the board text, so it is left
// out of the name.
std::string EncodePictureTag(const PictureData& picture);

// Reads a tag text into picture, tolerant of blanks and letter case: the
// trimmed text must start with "{[" and end with its first "]}"; the body must
// start with "IMG", then ":" (blanks allowed around them); values before the
// first "/" (at least one, each a lenient number 0..255, only the first 16384
// used), the name after it (unchanged). The pixels are cleared, the values
// unpacked and the width set to values / (C * B) (at least 1, at most the
// widest picture). Any fault leaves the pixels cleared, the name unchanged
// and the width max(1, 24 / H), and returns false.
bool DecodePictureTag(std::string_view text, PictureData& picture);

// Shifts the whole store by one column (left/right: H bytes) or every column
// of it by one row (up/down); what enters is cleared.
void ShiftPictureLeft(PictureData& picture);
void ShiftPictureRight(PictureData& picture);
void ShiftPictureUp(PictureData& picture);
void ShiftPictureDown(PictureData& picture);

// Rotates the picture of `width` columns of H = 8 * fontHeightBytes rows in
// pixels (column-major store of at least kPictureStoreSize bytes): angle 0
// copies, 90 turns counter-clockwise, 180 turns over, 270 turns clockwise;
// then mirrorX flips top to bottom and mirrorY left to right. The box of lit
// pixels becomes the picture: its width is the new width; vertically it is
// centred in the H rows (the odd spare row above, for 270 below) or, when
// taller, its middle H rows kept (the odd extra row dropped from the top, for
// 270 from the bottom). A picture with no lit pixel becomes 5 blank columns.
// Other angles count as 0. Returns the new width.
int RotatePicture(int width, uint8_t* pixels, int angle, int fontHeightBytes, bool mirrorX,
                  bool mirrorY);

// Index of the palette colour (0x00BBGGRR) nearest to colour: the smallest sum
// of squared red, green and blue differences, ties to the lowest index; 0 when
// count is 0.
int NearestColourIndex(uint32_t colour, size_t count, const uint32_t* palette);

// The 2^C screen colours of a board's pixel values.
std::vector<uint32_t> PicturePalette(const std::array<int32_t, 8>& channelColours,
                                     int channelCount);

}  // namespace lentar
