// Font archive reader on arbitrary bytes: nothing is read outside the buffer
// (the sanitizers watch the exact-size copy), the bank only ever holds fonts
// whose glyphs lie inside their own data, and measuring and drawing every
// code with every font stay inside the glyph data too.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "markup/fonts.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy, so any read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  lentar::TTabFontList bank;
  std::string error;
  const bool ok = bank.LoadArchiveBytes(bytes.empty() ? nullptr : bytes.data(), bytes.size(), error);
  Check(ok == error.empty());
  Check(bank.Count() <= lentar::kMaxArchiveFonts);
  if (size <= lentar::kArchiveHeaderSize || size > lentar::kMaxArchiveSize) Check(!ok && bank.Count() == 0);

  std::string allCodes(256, '\0');
  for (int code = 0; code < 256; ++code) allCodes[static_cast<size_t>(code)] = static_cast<char>(code);
  for (int i = 0; i < bank.Count(); ++i) {
    const lentar::TTabFont& font = bank.At(i);
    Check(font.HasTables());
    Check(font.GlyphData.size() <= 0xFFFF);
    Check(font.FontName.size() <= lentar::kFontNameMaxLength);
    for (int code = 0; code < 256; ++code) {
      const size_t offset = font.GlyphOffsets[static_cast<size_t>(code)];
      Check(offset < font.GlyphData.size());
      Check(offset + 1 + font.GlyphData[offset] <= font.GlyphData.size());
      Check(font.GlyphBytes(static_cast<uint8_t>(code)) == font.GlyphData[offset]);
    }
    if (font.HeightBytes > 8) continue;  // tall pictures only cost time
    const lentar::DotImage image = lentar::RenderText(allCodes, &font);
    Check(image.lit.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    if (font.HeightBytes > 0) {
      Check(image.width * font.HeightBytes <= lentar::TextBytes(allCodes, &font) + 255 * font.HeightBytes);
    }
  }
  // Selection over every height the archive can name.
  for (int height = 0; height < 256; height += 17) {
    bank.SetHeight(height);
    bank.SelectFont(1);
    Check(bank.TextBytes(allCodes, 0) >= 0);
    if (bank.CountOfHeight(height) == 0) Check(bank.CurrentFont() == nullptr);
  }
  return 0;
}
