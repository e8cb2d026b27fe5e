#include "source_font.h"

#include <zlib.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <map>

namespace lentar::fontpack {

namespace {

bool ReadGzipFile(const std::string& path, std::vector<uint8_t>& out) {
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<uint8_t> bytes;
  uint8_t chunk[16384];
  for (;;) {
    const int got = gzread(file, chunk, sizeof chunk);
    if (got < 0) {
      gzclose(file);
      return false;
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > (64u << 20)) {  // no console font is this big
      gzclose(file);
      return false;
    }
  }
  gzclose(file);
  out = std::move(bytes);
  return true;
}

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Console font: fixed cells, rows of bytes with the leftmost pixel in the
// high bit, and a table from Unicode characters to glyph positions.
class PsfFont : public SourceFont {
 public:
  int CellHeight() const override { return height_; }
  int CellWidth() const override { return width_; }

  bool Glyph(char32_t codePoint, Cell& cell) override {
    auto found = map_.find(codePoint);
    if (found == map_.end()) return false;
    const size_t rowBytes = (static_cast<size_t>(width_) + 7) / 8;
    const uint8_t* glyph = bytes_.data() + glyphsAt_ + found->second * bytesPerGlyph_;
    cell.width = width_;
    cell.height = height_;
    cell.ink.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0);
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const uint8_t byte = glyph[static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x) / 8];
        if (byte & (0x80 >> (x % 8))) cell.ink[static_cast<size_t>(y * width_ + x)] = 1;
      }
    }
    return true;
  }

  bool Parse(std::vector<uint8_t> bytes, std::string& error) {
    bytes_ = std::move(bytes);
    const size_t size = bytes_.size();
    size_t count = 0, tableAt = 0;
    bool hasTable = false, utf8Table = false;
    if (size >= 4 && bytes_[0] == 0x36 && bytes_[1] == 0x04) {
      const uint8_t mode = bytes_[2];
      height_ = bytes_[3];
      width_ = 8;
      count = (mode & 1) ? 512 : 256;
      glyphsAt_ = 4;
      bytesPerGlyph_ = static_cast<size_t>(height_);
      hasTable = (mode & 6) != 0;
    } else if (size >= 32 && ReadU32(bytes_.data()) == 0x864AB572u) {
      const uint32_t headerSize = ReadU32(&bytes_[8]);
      const uint32_t flags = ReadU32(&bytes_[12]);
      count = ReadU32(&bytes_[16]);
      bytesPerGlyph_ = ReadU32(&bytes_[20]);
      height_ = static_cast<int>(std::min<uint32_t>(ReadU32(&bytes_[24]), 255));
      width_ = static_cast<int>(std::min<uint32_t>(ReadU32(&bytes_[28]), 255));
      glyphsAt_ = headerSize;
      hasTable = (flags & 1) != 0;
      utf8Table = true;
      if (count > 65536) {
        error = "too many glyphs";
        return false;
      }
    } else {
      error = "not a PSF console font";
      return false;
    }
    const size_t rowBytes = (static_cast<size_t>(width_) + 7) / 8;
    if (height_ <= 0 || width_ <= 0 || bytesPerGlyph_ < rowBytes * static_cast<size_t>(height_) ||
        glyphsAt_ > size || count * bytesPerGlyph_ > size - glyphsAt_) {
      error = "damaged PSF console font";
      return false;
    }
    tableAt = glyphsAt_ + count * bytesPerGlyph_;
    if (!hasTable) {
      for (size_t i = 0; i < count && i < 256; ++i) map_.emplace(static_cast<char32_t>(i), i);
      return true;
    }
    size_t p = tableAt;
    for (size_t glyph = 0; glyph < count && p < size; ++glyph) {
      bool sequence = false;  // after a sequence start: combining sequences are skipped
      while (p < size) {
        if (!utf8Table) {
          if (p + 2 > size) return true;
          const uint32_t unit = bytes_[p] | (bytes_[p + 1] << 8);
          p += 2;
          if (unit == 0xFFFF) break;
          if (unit == 0xFFFE) sequence = true;
          else if (!sequence) map_.emplace(static_cast<char32_t>(unit), glyph);
          continue;
        }
        const uint8_t lead = bytes_[p];
        if (lead == 0xFF) {
          ++p;
          break;
        }
        if (lead == 0xFE) {
          ++p;
          sequence = true;
          continue;
        }
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (p + length > size) return true;
        char32_t cp = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (bytes_[p + k] & 0x3F);
        p += length;
        if (!sequence) map_.emplace(cp, glyph);
      }
    }
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  std::map<char32_t, size_t> map_;
  size_t glyphsAt_ = 0;
  size_t bytesPerGlyph_ = 0;
  int width_ = 0;
  int height_ = 0;
};

// Any font FreeType opens, rendered one bit per pixel.
class FreeTypeFont : public SourceFont {
 public:
  ~FreeTypeFont() override {
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
  }

  int CellHeight() const override { return ascent_ + descent_; }
  int CellWidth() const override { return advance_; }
  bool Scalable() const override { return FT_IS_SCALABLE(face_); }

  bool Open(const std::string& path, int pixelSize, std::string& error) {
    if (FT_Init_FreeType(&library_) != 0) {
      error = "FreeType does not start";
      return false;
    }
    if (FT_New_Face(library_, path.c_str(), 0, &face_) != 0) {
      error = "not a font file FreeType can open";
      return false;
    }
    FT_Select_Charmap(face_, FT_ENCODING_UNICODE);
    if (FT_IS_SCALABLE(face_)) {
      if (FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
        error = "cannot set the pixel size";
        return false;
      }
    } else if (face_->num_fixed_sizes > 0) {
      int best = 0;
      for (int i = 1; i < face_->num_fixed_sizes; ++i) {
        if (std::abs(face_->available_sizes[i].height - pixelSize) <
            std::abs(face_->available_sizes[best].height - pixelSize)) {
          best = i;
        }
      }
      if (FT_Select_Size(face_, best) != 0) {
        error = "cannot select the bitmap size";
        return false;
      }
    } else {
      error = "the font has no sizes";
      return false;
    }
    ascent_ = static_cast<int>((face_->size->metrics.ascender + 32) >> 6);
    descent_ = static_cast<int>((std::abs(face_->size->metrics.descender) + 32) >> 6);
    // The usual advance: that of the digit zero (the widest glyph would
    // make the space far too wide).
    advance_ = static_cast<int>((face_->size->metrics.max_advance + 32) >> 6);
    if (FT_Load_Char(face_, U'0', FT_LOAD_DEFAULT) == 0) {
      advance_ = static_cast<int>((face_->glyph->advance.x + 32) >> 6);
    }
    if (ascent_ + descent_ <= 0) {
      error = "the font has no height";
      return false;
    }
    return true;
  }

  bool Glyph(char32_t codePoint, Cell& cell) override {
    const FT_UInt index = FT_Get_Char_Index(face_, codePoint);
    if (index == 0) return false;
    if (FT_Load_Glyph(face_, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0) {
      return false;
    }
    const FT_GlyphSlot slot = face_->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    const int left = std::max(0, slot->bitmap_left);
    const int top = ascent_ - slot->bitmap_top;
    const int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    cell.width = std::max(advance, left + static_cast<int>(bitmap.width));
    cell.height = CellHeight();
    cell.ink.assign(static_cast<size_t>(cell.width) * static_cast<size_t>(cell.height), 0);
    for (int y = 0; y < static_cast<int>(bitmap.rows); ++y) {
      const int row = top + y;
      if (row < 0 || row >= cell.height) continue;
      const unsigned char* line = bitmap.buffer + static_cast<ptrdiff_t>(y) * bitmap.pitch;
      for (int x = 0; x < static_cast<int>(bitmap.width); ++x) {
        bool on;
        if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) on = line[x / 8] & (0x80 >> (x % 8));
        else on = line[x] >= 128;
        if (on) cell.ink[static_cast<size_t>(row * cell.width + left + x)] = 1;
      }
    }
    return true;
  }

 private:
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  int ascent_ = 0;
  int descent_ = 0;
  int advance_ = 0;
};

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::unique_ptr<SourceFont> OpenSourceFont(const std::string& path, int pixelSize,
                                           std::string& error) {
  if (EndsWith(path, ".psf") || EndsWith(path, ".psf.gz") || EndsWith(path, ".psfu") ||
      EndsWith(path, ".psfu.gz")) {
    std::vector<uint8_t> bytes;
    if (!ReadGzipFile(path, bytes)) {
      error = "cannot read " + path;
      return nullptr;
    }
    auto font = std::make_unique<PsfFont>();
    if (!font->Parse(std::move(bytes), error)) {
      error = path + ": " + error;
      return nullptr;
    }
    return font;
  }
  auto font = std::make_unique<FreeTypeFont>();
  if (!font->Open(path, pixelSize, error)) {
    error = path + ": " + error;
    return nullptr;
  }
  return font;
}

}  // namespace lentar::fontpack
