// Board fonts: one bitmap font (TTabFont), the font bank (TTabFontList) read
// from a font archive (.tfa), text measuring and drawing text as lit dots.
//
// Archive layout (little-endian, offsets from the start of the file):
//   0    u16  magic 0xFA45
//   2    u16  font count, at most 64
//   4    64 x u16  font block offsets, counted from file offset 164
//   132  32 bytes reserved
//   164  font blocks:
//        +0 u16 block marker 0xFFFF   +2 u16 glyph data size
//        +4 name: length byte L, then L Windows-1251 characters (to +127)
//        +128 u8 height in bytes of 8 rows   +129 u8 blank columns after a character
//        +512 256 x u16 glyph offsets into the glyph data
//        +1024 glyph data
// A glyph is a byte N (column bytes that follow, at most 255), then N bytes,
// column by column from left to right, each column HeightBytes bytes from the
// top band down; bit 0 of a byte is the top row of its band.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/fontbank.h"

namespace lentar {

inline constexpr uint16_t kArchiveMagic = 0xFA45;
inline constexpr uint16_t kFontBlockMarker = 0xFFFF;
inline constexpr size_t kArchiveHeaderSize = 164;
inline constexpr size_t kMaxArchiveSize = 65700;
inline constexpr int kMaxArchiveFonts = 64;
inline constexpr size_t kFontBlockHeaderSize = 1024;
inline constexpr size_t kFontNameOffset = 4;
inline constexpr size_t kFontNameMaxLength = 123;  // name bytes end at block offset 127
inline constexpr size_t kFontHeightOffset = 128;
inline constexpr size_t kFontSpacingOffset = 129;
inline constexpr size_t kGlyphOffsetsOffset = 512;

// GlyphBytes when the font number has no font at all.
inline constexpr int kNoFontGlyphBytes = 20;

// One board font. Copies are deep (the tables are values).
class TTabFont {
 public:
  std::string FontName;                // Windows-1251
  std::vector<uint16_t> GlyphOffsets;  // 256 entries, or empty: no tables yet
  std::vector<uint8_t> GlyphData;      // DataSize bytes of glyphs
  int HeightBytes = 1;                 // bytes of 8 rows per column
  int CharSpacing = 1;                 // blank columns after every character
  std::string WindowsFontName;         // screen font with the same characters; never in an archive

  bool HasTables() const { return GlyphOffsets.size() == 256; }
  // Column bytes of the glyph of code (its byte N); 1 without tables; 0 when
  // the glyph lies outside GlyphData (only possible for fonts built in memory).
  int GlyphBytes(uint8_t code) const;
  // The glyph's column bytes (without the count byte); empty when it has none
  // or lies outside GlyphData.
  std::string_view GlyphColumns(uint8_t code) const;
  // Number of pixel columns of the glyph (a partial last column counts).
  int GlyphColumnCount(uint8_t code) const;
};

// Sum over the characters of (GlyphBytes + CharSpacing * HeightBytes); 0 for
// no font, so measuring still works with an empty bank.
int TextBytes(std::string_view text, const TTabFont* font);

// The font bank: the fonts of one archive, numbered within each height.
class TTabFontList : public FontBankBase {
 public:
  TTabFontList() = default;
  TTabFontList(const TTabFontList&) = delete;
  TTabFontList& operator=(const TTabFontList&) = delete;

  // Replaces the bank with the archive's fonts. On failure returns false with
  // the error text; fonts read before a bad font block stay in the bank.
  bool LoadArchive(const std::string& path, std::string& error) override;
  // The same for an archive already in memory (size is the file's size).
  bool LoadArchiveBytes(const uint8_t* data, size_t size, std::string& error);

  void Clear();
  void Add(const TTabFont& font);
  int Count() const { return static_cast<int>(fonts_.size()); }
  const TTabFont& At(int index) const { return *fonts_[static_cast<size_t>(index)]; }

  // The n-th font of that height (archive order); the first font of that
  // height when there is no n-th one; nullptr when the height has no font.
  const TTabFont* FontOfHeight(int n, int height) const;
  bool HasFontOfHeight(int n, int height) const;
  int CountOfHeight(int height) const;
  // Bank position of the n-th font of that height, or -1.
  int IndexOfHeight(int n, int height) const;

  void SetHeight(int heightBytes) override;
  // Selects font n of the current height; when it does not exist the previous
  // number is kept if it exists at this height, otherwise 0.
  void SelectFont(int number) override;
  // Repeats the selection with the current number.
  void Reselect();

  int CurrentHeight() const { return current_height_; }
  int CurrentFontNo() const { return current_font_no_; }
  // The selected font, or nullptr when the current height has none.
  const TTabFont* CurrentFont() const { return current_; }
  // Spacing of the selected font; 1 without one.
  int CurrentSpacing() const { return current_ ? current_->CharSpacing : 1; }

  // Measures with font number fontNo of the current height (FontOfHeight's
  // fallback applies). GlyphBytes gives kNoFontGlyphBytes when the height has
  // no font; TextBytes gives 0 then.
  int GlyphBytes(uint8_t code, int fontNo) const;
  int TextBytes(std::string_view text, int fontNo) const;

 private:
  std::vector<std::unique_ptr<TTabFont>> fonts_;
  int current_height_ = 1;
  int current_font_no_ = 0;
  const TTabFont* current_ = nullptr;
};

// Text drawn as dots: width x height pixels, row-major, lit[y * width + x] is
// 1 for a lit dot and 0 otherwise.
struct DotImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> lit;

  bool Lit(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height &&
           lit[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] != 0;
  }
};

// Draws text with the font as the board does: each character's columns, then
// CharSpacing blank columns. The height is HeightBytes * 8 rows. A font
// without tables (or none), or a text too long for one picture (over 2^28
// dots), gives an image of no columns.
DotImage RenderText(std::string_view text, const TTabFont* font);

}  // namespace lentar
