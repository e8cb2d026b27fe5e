#include "markup/fonts.h"

#include <algorithm>
#include <fstream>

#include "core/paths.h"
#include "core/textutil.h"

namespace lentar {

namespace {

// Windows-1251 texts of the archive reader.
const std::string& ReadErrorText() {
  static const std::string text = Utf8ToCp1251("Ошибка чтения архива шрифтов ");
  return text;
}
const std::string& TooBigText() {
  static const std::string text = Utf8ToCp1251("Слишком большой размер архива");
  return text;
}
const std::string& BadSizeText() {
  static const std::string text = Utf8ToCp1251("Неверный размер архива");
  return text;
}
const std::string& BadContentsText() {
  static const std::string text = Utf8ToCp1251("Неверное содержимое архива");
  return text;
}

// Largest picture RenderText makes (dots).
constexpr int64_t kMaxRenderDots = int64_t{1} << 28;

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Where the glyph of code starts in data, when the glyph (its count byte and
// its N column bytes) lies wholly inside data.
bool GlyphSpan(const TTabFont& font, uint8_t code, size_t& start, size_t& count) {
  if (!font.HasTables()) return false;
  const size_t offset = font.GlyphOffsets[code];
  if (offset >= font.GlyphData.size()) return false;
  const size_t n = font.GlyphData[offset];
  if (offset + 1 + n > font.GlyphData.size()) return false;
  start = offset + 1;
  count = n;
  return true;
}

// Builds the font of the block at data[start..] (size bytes in the file).
// Returns false when the block is not a sound font block.
bool ReadFontBlock(const uint8_t* data, size_t size, size_t start, TTabFont& font) {
  if (start > size || size - start < 4) return false;
  const uint8_t* block = data + start;
  if (ReadU16(block) != kFontBlockMarker) return false;
  const size_t dataSize = ReadU16(block + 2);
  if (size - start < kFontBlockHeaderSize + dataSize) return false;

  const size_t nameLength = std::min<size_t>(block[kFontNameOffset], kFontNameMaxLength);
  font.FontName.assign(reinterpret_cast<const char*>(block + kFontNameOffset + 1), nameLength);
  font.HeightBytes = block[kFontHeightOffset];
  font.CharSpacing = block[kFontSpacingOffset];
  font.WindowsFontName.clear();
  font.GlyphOffsets.resize(256);
  for (size_t code = 0; code < 256; ++code) {
    font.GlyphOffsets[code] = ReadU16(block + kGlyphOffsetsOffset + 2 * code);
  }
  font.GlyphData.assign(block + kFontBlockHeaderSize, block + kFontBlockHeaderSize + dataSize);

  // Every glyph must lie inside the font's own data.
  for (int code = 0; code < 256; ++code) {
    size_t glyphStart = 0, count = 0;
    if (!GlyphSpan(font, static_cast<uint8_t>(code), glyphStart, count)) return false;
  }
  return true;
}

}  // namespace

// ---- TTabFont ---------------------------------------------------------------

int TTabFont::GlyphBytes(uint8_t code) const {
  if (!HasTables()) return 1;
  size_t start = 0, count = 0;
  if (!GlyphSpan(*this, code, start, count)) return 0;
  return static_cast<int>(count);
}

std::string_view TTabFont::GlyphColumns(uint8_t code) const {
  size_t start = 0, count = 0;
  if (!GlyphSpan(*this, code, start, count)) return {};
  return std::string_view(reinterpret_cast<const char*>(GlyphData.data() + start), count);
}

int TTabFont::GlyphColumnCount(uint8_t code) const {
  if (HeightBytes <= 0) return 0;
  const int bytes = static_cast<int>(GlyphColumns(code).size());
  return (bytes + HeightBytes - 1) / HeightBytes;
}

int TextBytes(std::string_view text, const TTabFont* font) {
  if (font == nullptr) return 0;
  int total = 0;
  for (char c : text) {
    total += font->GlyphBytes(static_cast<uint8_t>(c)) + font->CharSpacing * font->HeightBytes;
  }
  return total;
}

// ---- TTabFontList -------------------------------------------------------------

void TTabFontList::Clear() {
  current_ = nullptr;
  fonts_.clear();
}

void TTabFontList::Add(const TTabFont& font) {
  fonts_.push_back(std::make_unique<TTabFont>(font));
  Reselect();
}

bool TTabFontList::LoadArchive(const std::string& path, std::string& error) {
  Clear();
  error.clear();
  std::vector<uint8_t> buffer(kMaxArchiveSize + 1);
  std::ifstream file(NativePath(path), std::ios::binary);
  if (!file) {
    error = ReadErrorText() + path;
    return false;
  }
  file.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  if (file.bad()) {
    error = ReadErrorText() + path;
    return false;
  }
  buffer.resize(static_cast<size_t>(file.gcount()));
  // The operator may keep several archives: a message about the contents
  // names the file it is about.
  const bool loaded = LoadArchiveBytes(buffer.data(), buffer.size(), error);
  if (!loaded && !error.empty()) error += " " + path;
  return loaded;
}

bool TTabFontList::LoadArchiveBytes(const uint8_t* data, size_t size, std::string& error) {
  Clear();
  error.clear();
  if (size > kMaxArchiveSize) {
    error = TooBigText();
    return false;
  }
  if (data == nullptr || size <= kArchiveHeaderSize) {
    error = BadSizeText();
    return false;
  }
  const int count = ReadU16(data + 2);
  if (ReadU16(data) != kArchiveMagic || count > kMaxArchiveFonts) {
    error = BadContentsText();
    return false;
  }
  for (int i = 0; i < count; ++i) {
    const size_t start = kArchiveHeaderSize + ReadU16(data + 4 + 2 * i);
    auto font = std::make_unique<TTabFont>();
    if (!ReadFontBlock(data, size, start, *font)) {
      error = BadContentsText();
      Reselect();
      return false;
    }
    fonts_.push_back(std::move(font));
  }
  Reselect();
  return true;
}

int TTabFontList::IndexOfHeight(int n, int height) const {
  if (n < 0) return -1;
  int seen = 0;
  for (size_t i = 0; i < fonts_.size(); ++i) {
    if (fonts_[i]->HeightBytes != height) continue;
    if (seen == n) return static_cast<int>(i);
    ++seen;
  }
  return -1;
}

const TTabFont* TTabFontList::FontOfHeight(int n, int height) const {
  int index = IndexOfHeight(n, height);
  if (index < 0) index = IndexOfHeight(0, height);
  return index < 0 ? nullptr : fonts_[static_cast<size_t>(index)].get();
}

bool TTabFontList::HasFontOfHeight(int n, int height) const {
  return IndexOfHeight(n, height) >= 0;
}

int TTabFontList::CountOfHeight(int height) const {
  return static_cast<int>(std::count_if(fonts_.begin(), fonts_.end(),
                                        [height](const auto& f) { return f->HeightBytes == height; }));
}

void TTabFontList::SetHeight(int heightBytes) {
  current_height_ = heightBytes;
  // The tables at hand must belong to a font of the height in force.
  Reselect();
}

void TTabFontList::SelectFont(int number) {
  if (HasFontOfHeight(number, current_height_)) {
    current_font_no_ = number;
  } else if (!HasFontOfHeight(current_font_no_, current_height_)) {
    current_font_no_ = 0;
  }
  const int index = IndexOfHeight(current_font_no_, current_height_);
  current_ = index < 0 ? nullptr : fonts_[static_cast<size_t>(index)].get();
}

void TTabFontList::Reselect() {
  SelectFont(current_font_no_);
}

int TTabFontList::GlyphBytes(uint8_t code, int fontNo) const {
  const TTabFont* font = FontOfHeight(fontNo, current_height_);
  return font ? font->GlyphBytes(code) : kNoFontGlyphBytes;
}

int TTabFontList::TextBytes(std::string_view text, int fontNo) const {
  return lentar::TextBytes(text, FontOfHeight(fontNo, current_height_));
}


// ---- Drawing ------------------------------------------------------------------

DotImage RenderText(std::string_view text, const TTabFont* font) {
  DotImage image;
  if (font == nullptr) return image;
  image.height = std::max(0, font->HeightBytes) * 8;
  if (!font->HasTables() || font->HeightBytes <= 0) return image;

  const int spacing = std::max(0, font->CharSpacing);
  int64_t total = 0;
  for (char c : text) total += font->GlyphColumnCount(static_cast<uint8_t>(c)) + spacing;
  if (total * image.height > kMaxRenderDots) return image;  // too long to draw in one piece
  const int width = static_cast<int>(total);
  image.width = width;
  image.lit.assign(static_cast<size_t>(width) * static_cast<size_t>(image.height), 0);

  int x0 = 0;
  for (char c : text) {
    const auto code = static_cast<uint8_t>(c);
    const std::string_view columns = font->GlyphColumns(code);
    for (size_t j = 0; j < columns.size(); ++j) {
      const int x = x0 + static_cast<int>(j) / font->HeightBytes;
      const int band = static_cast<int>(j) % font->HeightBytes;
      const auto bits = static_cast<uint8_t>(columns[j]);
      for (int bit = 0; bit < 8; ++bit) {
        if (bits & (1u << bit)) {
          const int y = band * 8 + bit;
          image.lit[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = 1;
        }
      }
    }
    x0 += font->GlyphColumnCount(code) + spacing;
  }
  return image;
}

}  // namespace lentar
