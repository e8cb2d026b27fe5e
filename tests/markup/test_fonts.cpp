// Font archive reader, font bank selection, measuring and drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "markup/fontarchive_writer.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace lentar {
namespace {

const std::string kBadSize = Utf8ToCp1251("Неверный размер архива");
const std::string kBadContents = Utf8ToCp1251("Неверное содержимое архива");
const std::string kTooBig = Utf8ToCp1251("Слишком большой размер архива");
const std::string kReadError = Utf8ToCp1251("Ошибка чтения архива шрифтов ");

// A small font: 'A' two columns, 'B' one column, '.' no columns, every other
// code no columns; column bytes are made up from the code so fonts differ.
TTabFont MakeFont(const std::string& name, int heightBytes, int spacing) {
  GlyphColumnsTable glyphs;
  const auto h = static_cast<size_t>(heightBytes);
  glyphs['A'].assign(2 * h, 0);
  for (size_t i = 0; i < glyphs['A'].size(); ++i) glyphs['A'][i] = static_cast<uint8_t>(0x11 * (i + 1));
  glyphs['B'].assign(h, 0x81);
  TTabFont font;
  std::string error;
  EXPECT_TRUE(BuildTabFont(name, heightBytes, spacing, glyphs, font, error)) << error;
  return font;
}

std::vector<uint8_t> MakeArchive(const std::vector<TTabFont>& fonts) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(WriteFontArchive(fonts, bytes, error)) << error;
  return bytes;
}

// Archive of three fonts of heights 1, 2, 1.
std::vector<uint8_t> MixedArchive() {
  return MakeArchive({MakeFont("one", 1, 1), MakeFont("two", 2, 3), MakeFont("three", 1, 0)});
}

void PutU16(std::vector<uint8_t>& bytes, size_t at, unsigned value) {
  bytes[at] = static_cast<uint8_t>(value & 0xFF);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

size_t BlockStart(const std::vector<uint8_t>& bytes, int font) {
  return kArchiveHeaderSize + (bytes[4 + 2 * font] | (bytes[5 + 2 * font] << 8));
}

class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& bytes) {
    path_ = (std::filesystem::temp_directory_path() /
             ("lentar_fonts_" + std::to_string(counter_++) + "_" +
              std::to_string(reinterpret_cast<uintptr_t>(this)) + ".tfa"))
                .string();
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::string path_;
};

std::vector<uint8_t> Header(size_t size, unsigned magic, unsigned count) {
  std::vector<uint8_t> bytes(size, 0);
  if (size >= 4) {
    PutU16(bytes, 0, magic);
    PutU16(bytes, 2, count);
  }
  return bytes;
}

// ---- Whole-file checks ---------------------------------------------------------

TEST(FontArchive, FileLevelChecks) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool ok;
    std::string error;
  };
  const Case cases[] = {
      {"empty file", {}, false, kBadSize},
      {"164 bytes", Header(164, kArchiveMagic, 0), false, kBadSize},
      {"165 bytes, wrong magic", Header(165, 0xFA46, 0), false, kBadContents},
      {"magic bytes swapped", Header(165, 0x45FA, 0), false, kBadContents},
      {"65 fonts", Header(200, kArchiveMagic, 65), false, kBadContents},
      {"no fonts", Header(165, kArchiveMagic, 0), true, ""},
      {"largest size", Header(kMaxArchiveSize, kArchiveMagic, 0), true, ""},
      {"one byte too big", Header(kMaxArchiveSize + 1, kArchiveMagic, 0), false, kTooBig},
      {"far too big", Header(200000, kArchiveMagic, 0), false, kTooBig},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFile file(c.bytes);
    TTabFontList bank;
    bank.Add(MakeFont("old", 1, 1));  // whatever was loaded before goes
    std::string error = "stale";
    EXPECT_EQ(bank.LoadArchive(file.path(), error), c.ok);
    // Every message names the archive it is about.
    EXPECT_EQ(error, c.error.empty() ? "" : c.error + " " + file.path());
    EXPECT_EQ(bank.Count(), 0);
    EXPECT_EQ(bank.CurrentFont(), nullptr);
  }
}

TEST(FontArchive, MissingFileNamesTheFile) {
  TTabFontList bank;
  std::string error;
  const std::string path = "/nonexistent/folder/fonts.tfa";
  EXPECT_FALSE(bank.LoadArchive(path, error));
  EXPECT_EQ(error, kReadError + path);
}

TEST(FontArchive, RoundTripKeepsEveryField) {
  const std::vector<TTabFont> fonts = {MakeFont("one", 1, 1), MakeFont(Utf8ToCp1251("Жирный 16"), 2, 3),
                                       MakeFont(std::string(123, 'n'), 4, 0)};
  const std::vector<uint8_t> bytes = MakeArchive(fonts);
  TempFile file(bytes);
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchive(file.path(), error)) << error;
  ASSERT_EQ(bank.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const TTabFont& got = bank.At(i);
    const TTabFont& want = fonts[static_cast<size_t>(i)];
    EXPECT_EQ(got.FontName, want.FontName);
    EXPECT_EQ(got.HeightBytes, want.HeightBytes);
    EXPECT_EQ(got.CharSpacing, want.CharSpacing);
    EXPECT_EQ(got.GlyphOffsets, want.GlyphOffsets);
    EXPECT_EQ(got.GlyphData, want.GlyphData);
    EXPECT_TRUE(got.WindowsFontName.empty());
  }
}

TEST(FontArchive, WriterSharesTheEmptyGlyph) {
  const TTabFont font = MakeFont("f", 1, 1);
  // Every code but 'A' and 'B' points at the one zero-column glyph.
  for (int code = 0; code < 256; ++code) {
    if (code == 'A' || code == 'B') continue;
    EXPECT_EQ(font.GlyphOffsets[static_cast<size_t>(code)], font.GlyphOffsets[0]) << code;
  }
  EXPECT_EQ(font.GlyphData.size(), 1u + 3u + 2u);
}

TEST(FontArchive, LongNameIsCutAtTheNameField) {
  std::vector<uint8_t> bytes = MakeArchive({MakeFont("x", 1, 1)});
  bytes[BlockStart(bytes, 0) + kFontNameOffset] = 250;
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchiveBytes(bytes.data(), bytes.size(), error)) << error;
  EXPECT_EQ(bank.At(0).FontName.size(), kFontNameMaxLength);
  EXPECT_EQ(bank.At(0).FontName[0], 'x');
}

// ---- Damaged font blocks --------------------------------------------------------

TEST(FontArchive, DamagedSecondBlockKeepsTheFirstFont) {
  struct Case {
    const char* what;
    void (*damage)(std::vector<uint8_t>&);
  };
  const Case cases[] = {
      {"block marker", [](std::vector<uint8_t>& b) { PutU16(b, BlockStart(b, 1), 0xFFFE); }},
      {"glyph offset at the end of the data",
       [](std::vector<uint8_t>& b) {
         const size_t block = BlockStart(b, 1);
         const unsigned dataSize = b[block + 2] | (b[block + 3] << 8);
         PutU16(b, block + kGlyphOffsetsOffset + 2 * 'A', dataSize);
       }},
      {"glyph offset far outside",
       [](std::vector<uint8_t>& b) { PutU16(b, BlockStart(b, 1) + kGlyphOffsetsOffset + 2 * 7, 0xFFFF); }},
      {"glyph columns past the data",
       [](std::vector<uint8_t>& b) {
         const size_t block = BlockStart(b, 1);
         const unsigned offsetOfA = b[block + kGlyphOffsetsOffset + 2 * 'A'] |
                                    (b[block + kGlyphOffsetsOffset + 2 * 'A' + 1] << 8);
         b[block + kFontBlockHeaderSize + offsetOfA] = 255;
       }},
      {"data size past the end of the file",
       [](std::vector<uint8_t>& b) {
         const size_t block = BlockStart(b, 1);
         const unsigned dataSize = b[block + 2] | (b[block + 3] << 8);
         PutU16(b, block + 2, dataSize + 1);
       }},
      {"block header cut off", [](std::vector<uint8_t>& b) { b.resize(BlockStart(b, 1) + 600); }},
      {"block starts past the end", [](std::vector<uint8_t>& b) { PutU16(b, 6, 0xFF00); }},
      {"block starts at the last byte",
       [](std::vector<uint8_t>& b) { PutU16(b, 6, static_cast<unsigned>(b.size() - 1 - kArchiveHeaderSize)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = MakeArchive({MakeFont("first", 1, 1), MakeFont("second", 1, 1)});
    c.damage(bytes);
    TTabFontList bank;
    std::string error;
    EXPECT_FALSE(bank.LoadArchiveBytes(bytes.data(), bytes.size(), error));
    EXPECT_EQ(error, kBadContents);
    ASSERT_EQ(bank.Count(), 1);
    EXPECT_EQ(bank.At(0).FontName, "first");
    EXPECT_EQ(bank.CurrentFont(), &bank.At(0));
  }
}

// ---- Fonts by height and selection ------------------------------------------------

TEST(FontBank, FontsAreNumberedWithinTheirHeight) {
  const std::vector<uint8_t> bytes = MixedArchive();
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchiveBytes(bytes.data(), bytes.size(), error)) << error;

  struct Case {
    int n, height;
    const char* font;  // nullptr: none
    bool exists;
  };
  const Case cases[] = {
      {0, 1, "one", true},   {1, 1, "three", true}, {2, 1, "one", false},
      {0, 2, "two", true},   {5, 2, "two", false},  {-1, 2, "two", false},
      {0, 3, nullptr, false}, {0, 0, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "n=" << c.n << " height=" << c.height);
    const TTabFont* font = bank.FontOfHeight(c.n, c.height);
    if (c.font == nullptr) {
      EXPECT_EQ(font, nullptr);
    } else {
      ASSERT_NE(font, nullptr);
      EXPECT_EQ(font->FontName, c.font);
    }
    EXPECT_EQ(bank.HasFontOfHeight(c.n, c.height), c.exists);
  }
  EXPECT_EQ(bank.CountOfHeight(1), 2);
  EXPECT_EQ(bank.CountOfHeight(2), 1);
  EXPECT_EQ(bank.CountOfHeight(3), 0);
}

TEST(FontBank, SelectionFallsBack) {
  const std::vector<uint8_t> bytes = MixedArchive();
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchiveBytes(bytes.data(), bytes.size(), error)) << error;

  // Steps: a height (0 keeps it) and a font number to select; then the
  // number in force and the selected font.
  struct Step {
    int height, select;
    int number;
    const char* font;
  };
  const Step steps[] = {
      {1, 1, 1, "three"},
      {0, 7, 1, "three"},  // no font 7: the previous number stays
      {2, 1, 0, "two"},    // height 2 has no font 1 and the previous 1 is gone: 0
      {1, 1, 1, "three"},
      {3, 0, 0, nullptr},  // no font of height 3
      {1, -5, 0, "one"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "height=" << s.height << " select=" << s.select);
    if (s.height != 0) bank.SetHeight(s.height);
    bank.SelectFont(s.select);
    EXPECT_EQ(bank.CurrentFontNo(), s.number);
    if (s.font == nullptr) {
      EXPECT_EQ(bank.CurrentFont(), nullptr);
      EXPECT_EQ(bank.CurrentSpacing(), 1);
    } else {
      ASSERT_NE(bank.CurrentFont(), nullptr);
      EXPECT_EQ(bank.CurrentFont()->FontName, s.font);
    }
  }
}

TEST(FontBank, ReselectAfterHeightChange) {
  const std::vector<uint8_t> bytes = MixedArchive();
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchiveBytes(bytes.data(), bytes.size(), error)) << error;
  bank.SelectFont(1);
  bank.SetHeight(2);
  bank.Reselect();
  EXPECT_EQ(bank.CurrentFontNo(), 0);
  ASSERT_NE(bank.CurrentFont(), nullptr);
  EXPECT_EQ(bank.CurrentFont()->FontName, "two");
  EXPECT_EQ(bank.CurrentSpacing(), 3);
}

TEST(FontBank, ReloadingDropsTheOldSelection) {
  const std::vector<uint8_t> three = MixedArchive();
  const std::vector<uint8_t> single = MakeArchive({MakeFont("only", 1, 2)});
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchiveBytes(three.data(), three.size(), error));
  bank.SelectFont(1);
  ASSERT_EQ(bank.CurrentFont()->FontName, "three");
  ASSERT_TRUE(bank.LoadArchiveBytes(single.data(), single.size(), error));
  EXPECT_EQ(bank.CurrentFontNo(), 0);
  ASSERT_NE(bank.CurrentFont(), nullptr);
  EXPECT_EQ(bank.CurrentFont()->FontName, "only");
  ASSERT_FALSE(bank.LoadArchiveBytes(single.data(), 10, error));
  EXPECT_EQ(bank.CurrentFont(), nullptr);
}

// ---- Measuring ---------------------------------------------------------------------

TEST(FontBank, GlyphAndTextBytes) {
  const std::vector<uint8_t> bytes = MixedArchive();
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchiveBytes(bytes.data(), bytes.size(), error)) << error;

  struct Case {
    int height, font;
    std::string text;
    int glyphBytesOfFirst;
    int textBytes;
  };
  const Case cases[] = {
      // "one": height 1, spacing 1. 'A' 2 bytes, 'B' 1, '.' none.
      {1, 0, "A", 2, 3},
      {1, 0, "AB.", 2, 2 + 1 + 0 + 3 * 1},
      {1, 0, ".", 0, 1},  // a glyph of no columns still adds the spacing
      {1, 0, "", 0, 0},
      // "three": height 1, spacing 0.
      {1, 1, "..", 0, 0},
      // "two": height 2, spacing 3: 'A' 4 bytes, spacing 3 columns of 2 bytes.
      {2, 0, "A.", 4, 4 + 6 + 0 + 6},
      {2, 9, "A", 4, 10},  // no font 9: the first font of the height
      // no font of height 4 at all
      {4, 0, "AB", kNoFontGlyphBytes, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "height=" << c.height << " font=" << c.font << " text=" << c.text);
    bank.SetHeight(c.height);
    const uint8_t first = c.text.empty() ? '.' : static_cast<uint8_t>(c.text[0]);
    EXPECT_EQ(bank.GlyphBytes(first, c.font), c.glyphBytesOfFirst);
    EXPECT_EQ(bank.TextBytes(c.text, c.font), c.textBytes);
  }
}

TEST(FontBank, FontWithoutTables) {
  TTabFont bare;
  EXPECT_FALSE(bare.HasTables());
  EXPECT_EQ(bare.GlyphBytes('A'), 1);
  EXPECT_EQ(TextBytes("AB", &bare), 2 * (1 + 1));
  EXPECT_EQ(TextBytes("AB", nullptr), 0);
  const DotImage image = RenderText("AB", &bare);
  EXPECT_EQ(image.width, 0);
  EXPECT_EQ(RenderText("AB", nullptr).width, 0);
}

// ---- Drawing ---------------------------------------------------------------------

TEST(FontDrawing, BitZeroIsTheTopRowOfItsBand) {
  GlyphColumnsTable glyphs;
  // Two columns of a 2-byte font: column 0 lights rows 0 and 15, column 1
  // lights rows 7 and 8.
  glyphs['x'] = {0x01, 0x80, 0x80, 0x01};
  glyphs['y'] = {0xFF, 0x00};
  TTabFont font;
  std::string error;
  ASSERT_TRUE(BuildTabFont("t", 2, 2, glyphs, font, error)) << error;

  const DotImage image = RenderText("x.y", &font);
  EXPECT_EQ(image.height, 16);
  EXPECT_EQ(image.width, (2 + 2) + (0 + 2) + (1 + 2));
  EXPECT_EQ(image.width, TextBytes("x.y", &font) / font.HeightBytes);
  std::vector<std::pair<int, int>> lit;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.Lit(x, y)) lit.emplace_back(x, y);
    }
  }
  std::vector<std::pair<int, int>> want = {{0, 0}, {1, 7}, {1, 8}, {0, 15}};
  for (int row = 0; row < 8; ++row) want.emplace_back(6, row);  // 'y' after 'x'+2 and '.'+2
  std::sort(lit.begin(), lit.end(), [](auto a, auto b) { return a.second != b.second ? a.second < b.second : a.first < b.first; });
  std::sort(want.begin(), want.end(), [](auto a, auto b) { return a.second != b.second ? a.second < b.second : a.first < b.first; });
  EXPECT_EQ(lit, want);
  EXPECT_FALSE(image.Lit(-1, 0));
  EXPECT_FALSE(image.Lit(0, 16));
}

// ---- Writer limits -------------------------------------------------------------------

TEST(FontArchiveWriter, RefusesWhatTheFormatCannotHold) {
  std::string error;
  TTabFont font;
  GlyphColumnsTable glyphs;
  glyphs['W'].assign(256, 1);
  EXPECT_FALSE(BuildTabFont("wide", 1, 1, glyphs, font, error));

  std::vector<uint8_t> out;
  EXPECT_FALSE(WriteFontArchive(std::vector<TTabFont>(65, MakeFont("f", 1, 1)), out, error));
  EXPECT_NE(error.find("64 fonts"), std::string::npos) << error;
  // 63 small fonts fit (64 would pass 65700 bytes with any glyph data at all).
  EXPECT_TRUE(WriteFontArchive(std::vector<TTabFont>(63, MakeFont("f", 1, 1)), out, error)) << error;
  EXPECT_EQ(out.size(), kArchiveHeaderSize + 63 * (kFontBlockHeaderSize + 6));
  EXPECT_FALSE(WriteFontArchive({TTabFont{}}, out, error));  // no tables
  EXPECT_FALSE(WriteFontArchive({MakeFont(std::string(124, 'n'), 1, 1)}, out, error));

  // About 64 KB of glyph data (256 distinct glyphs of 251 bytes) in one font and a second font: over 65700 bytes.
  GlyphColumnsTable big;
  for (int code = 0; code < 256; ++code) big[static_cast<size_t>(code)].assign(250, static_cast<uint8_t>(code));
  TTabFont large;
  ASSERT_TRUE(BuildTabFont("large", 1, 1, big, large, error)) << error;
  EXPECT_FALSE(WriteFontArchive({large, MakeFont("f", 1, 1)}, out, error));
  EXPECT_NE(error.find("65700"), std::string::npos);
}

// ---- The project's bank -----------------------------------------------------------------

TEST(FontBank, ProjectOwnsTheBank) {
  TRecProject project;
  TTabFontList& bank = project.Fonts();
  // The parameters drive this very bank.
  EXPECT_EQ(static_cast<const ProjectBase&>(project).Fonts(), static_cast<FontBankBase*>(&bank));
  const std::vector<uint8_t> bytes = MixedArchive();
  std::string error;
  ASSERT_TRUE(bank.LoadArchiveBytes(bytes.data(), bytes.size(), error)) << error;
  // A new height from the project takes the bank's selection with it.
  project.SetFontHeight(2);
  ASSERT_NE(bank.CurrentFont(), nullptr);
  EXPECT_EQ(bank.CurrentFont()->FontName, "two");

  TRecProject bare;
  EXPECT_EQ(bare.Fonts().Count(), 0);
}

}  // namespace
}  // namespace lentar
