// The font archive that ships with the programs, `lentar-cli fonts` and
// `lentar-fontpack`, run as built.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace lentar {
namespace {

const std::string kBinDir = LENTAR_BIN_DIR;
const std::string kDefaultArchive = kBinDir + "/Fonts/default.tfa";
const std::string kCli = kBinDir + "/lentar-cli";
const std::string kFontpack = kBinDir + "/lentar-fontpack";

struct RunResult {
  int status = -1;
  std::string out, err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("lentar_cli_fonts_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  TempDir dir;
  std::string command = Quote(program);
  for (const std::string& a : args) command += " " + Quote(a);
  command += " >" + Quote(dir.File("out")) + " 2>" + Quote(dir.File("err"));
  RunResult result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadFile(dir.File("out"));
  result.err = ReadFile(dir.File("err"));
  return result;
}

bool IsPrintable(int code) { return code >= 0x20 && code != 0x7F && code != 0x98; }
bool IsBlank(int code) { return code == 0x20 || code == 0xA0; }

// ---- The shipped archive -----------------------------------------------------------

TEST(DefaultFontArchive, HasFontsOfEveryHeight) {
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchive(kDefaultArchive, error)) << Cp1251ToUtf8(error);
  EXPECT_LE(std::filesystem::file_size(kDefaultArchive), kMaxArchiveSize);
  for (int height = 1; height <= 4; ++height) EXPECT_GE(bank.CountOfHeight(height), 1) << height;
}

TEST(DefaultFontArchive, EveryPrintableCodeHasLitPixels) {
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchive(kDefaultArchive, error)) << Cp1251ToUtf8(error);
  for (int i = 0; i < bank.Count(); ++i) {
    const TTabFont& font = bank.At(i);
    SCOPED_TRACE(Cp1251ToUtf8(font.FontName));
    ASSERT_GE(font.HeightBytes, 1);
    ASSERT_LE(font.HeightBytes, 4);
    EXPECT_GE(font.CharSpacing, 1);
    for (int code = 0; code < 256; ++code) {
      SCOPED_TRACE(code);
      const std::string_view columns = font.GlyphColumns(static_cast<uint8_t>(code));
      EXPECT_EQ(columns.size() % static_cast<size_t>(font.HeightBytes), 0u);
      const bool ink = columns.find_first_not_of('\0') != std::string_view::npos;
      if (!IsPrintable(code)) {
        EXPECT_TRUE(columns.empty());
      } else if (IsBlank(code)) {
        EXPECT_FALSE(columns.empty());
        EXPECT_FALSE(ink);
      } else {
        EXPECT_TRUE(ink);
        // Cropped to the ink: the first and the last column are lit.
        const auto h = static_cast<size_t>(font.HeightBytes);
        EXPECT_NE(columns.substr(0, h).find_first_not_of('\0'), std::string_view::npos);
        EXPECT_NE(columns.substr(columns.size() - h).find_first_not_of('\0'), std::string_view::npos);
      }
    }
  }
}

// The glyph of code as one row mask per column (bit r = row r, top row 0).
std::vector<uint32_t> GlyphRows(const TTabFont& font, uint8_t code) {
  const std::string_view bytes = font.GlyphColumns(code);
  const auto h = static_cast<size_t>(font.HeightBytes);
  std::vector<uint32_t> columns(bytes.size() / h);
  for (size_t j = 0; j < bytes.size(); ++j) {
    columns[j / h] |= uint32_t{static_cast<uint8_t>(bytes[j])} << (8 * (j % h));
  }
  return columns;
}

// Topmost row with ink; 32 for a glyph without any.
int TopRow(const std::vector<uint32_t>& columns) {
  uint32_t all = 0;
  for (uint32_t c : columns) all |= c;
  for (int row = 0; row < 32; ++row) {
    if (all & (1u << row)) return row;
  }
  return 32;
}

uint8_t Code(const char* utf8) { return static_cast<uint8_t>(Utf8ToCp1251(utf8)[0]); }

// A console font's Unicode table can send a letter to a glyph that is really
// something else (box-drawing pieces for Г, П, Ф in some VGA fonts). Two
// shapes catch that: the letters made of a bar on top carry it across their
// whole width, as high as the top of Н; and every Cyrillic letter has a
// glyph of its own (a capital never looks like its small letter).
TEST(DefaultFontArchive, CyrillicLettersHaveTheirOwnShapes) {
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchive(kDefaultArchive, error)) << Cp1251ToUtf8(error);
  for (int i = 0; i < bank.Count(); ++i) {
    const TTabFont& font = bank.At(i);
    SCOPED_TRACE(Cp1251ToUtf8(font.FontName));
    const int capTop = TopRow(GlyphRows(font, Code("Н")));
    for (const char* letter : {"Г", "П", "Т"}) {
      SCOPED_TRACE(letter);
      const std::vector<uint32_t> columns = GlyphRows(font, Code(letter));
      ASSERT_FALSE(columns.empty());
      const int top = TopRow(columns);
      EXPECT_EQ(top, capTop);
      size_t across = 0;
      for (uint32_t c : columns) across += (c >> top) & 1u;
      EXPECT_GE(across + 1, columns.size());  // one column of a serif may stand back
    }
    std::vector<uint8_t> letters;
    for (int code = 0xC0; code <= 0xFF; ++code) letters.push_back(static_cast<uint8_t>(code));
    letters.push_back(Code("Ё"));
    letters.push_back(Code("ё"));
    for (size_t a = 0; a < letters.size(); ++a) {
      for (size_t b = a + 1; b < letters.size(); ++b) {
        EXPECT_NE(GlyphRows(font, letters[a]), GlyphRows(font, letters[b]))
            << Cp1251ToUtf8(std::string(1, static_cast<char>(letters[a]))) << " and "
            << Cp1251ToUtf8(std::string(1, static_cast<char>(letters[b]))) << " share a glyph";
      }
    }
  }
}

TEST(DefaultFontArchive, ProjectUsesItWhenTheSettingsNameNone) {
  const std::string savedFolder = ProgramFolder();
  SetProgramFolder(kBinDir);
  TRecProject project;
  TSettings settings;
  settings.DefFontArc.clear();
  settings.DefFontHeight = 2;
  project.LoadFromSettings(settings);
  EXPECT_TRUE(project.LoadFonts()) << Cp1251ToUtf8(project.FontError);
  EXPECT_TRUE(project.FontError.empty());
  TTabFontList& bank = project.Fonts();
  ASSERT_NE(bank.CurrentFont(), nullptr);
  EXPECT_EQ(bank.CurrentFont()->HeightBytes, 2);
  EXPECT_GT(bank.TextBytes(Utf8ToCp1251("Привет"), 0), 0);
  SetProgramFolder(savedFolder);
}

// ---- lentar-cli fonts -----------------------------------------------------------------

TEST(CliFonts, ListsTheFonts) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"fonts", kDefaultArchive}, std::vector<std::string>{"fonts"}}) {
    const RunResult r = RunProgram(kCli, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Жирный 16"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Обычный 8"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("222"), std::string::npos) << r.out;
  }
}

TEST(CliFonts, RendersEveryHeightToPng) {
  TempDir dir;
  for (int height = 1; height <= 4; ++height) {
    SCOPED_TRACE(height);
    const std::string png = dir.File("h" + std::to_string(height) + ".png");
    const RunResult r = RunProgram(kCli, {"fonts", kDefaultArchive, "--render", "Съешь ещё, №1 «Ёж»",
                                   "--font", "0", "--height", std::to_string(height), "-o", png});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string bytes = ReadFile(png);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_NE(r.out.find(std::to_string(height * 8) + " точек"), std::string::npos) << r.out;
  }
}

TEST(CliFonts, RefusesBadInput) {
  TempDir dir;
  const std::string shortFile = dir.File("short.tfa");
  std::ofstream(shortFile, std::ios::binary) << std::string(164, '\0');
  const std::string png = dir.File("x.png");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"missing archive", {"fonts", dir.File("none.tfa")}, 1, "Ошибка чтения архива шрифтов "},
      {"short archive", {"fonts", shortFile}, 1, "Неверный размер архива"},
      {"no such font", {"fonts", kDefaultArchive, "--render", "a", "--font", "9", "-o", png}, 1, "нет шрифта 9"},
      {"height 5", {"fonts", kDefaultArchive, "--render", "a", "--height", "5", "-o", png}, 2, "--height"},
      {"no output", {"fonts", kDefaultArchive, "--render", "a"}, 2, "-o"},
      {"font without render", {"fonts", kDefaultArchive, "--font", "1"}, 2, "--render"},
      {"unknown option", {"fonts", kDefaultArchive, "--bogus"}, 2, ""},
      {"two archives", {"fonts", kDefaultArchive, kDefaultArchive}, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = RunProgram(kCli, c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(png));
}

// ---- lentar-fontpack ------------------------------------------------------------------

TEST(Fontpack, BuildsAnArchiveFromChosenFonts) {
  TempDir dir;
  const std::string out = dir.File("mine.tfa");
  const RunResult r = RunProgram(kFontpack, {"--default", "--heights", "1,3", "--font",
                                      "/usr/share/fonts/X11/misc/ter-u16n_unicode.pcf.gz", "--name",
                                      "Тонкий 16", "--spacing", "2", "-o", out});
  ASSERT_EQ(r.status, 0) << r.err;
  TTabFontList bank;
  std::string error;
  ASSERT_TRUE(bank.LoadArchive(out, error)) << Cp1251ToUtf8(error);
  ASSERT_EQ(bank.Count(), 4);
  EXPECT_EQ(bank.CountOfHeight(1), 1);
  EXPECT_EQ(bank.CountOfHeight(3), 2);
  const TTabFont* added = bank.FontOfHeight(0, 2);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->FontName, Utf8ToCp1251("Тонкий 16"));
  EXPECT_EQ(added->CharSpacing, 2);
  EXPECT_GT(added->GlyphBytes(static_cast<uint8_t>(Utf8ToCp1251("Ж")[0])), 0);
}

// Each font's line: its name, then the rows, bytes and source in columns that
// line up on a terminal whether the name is Cyrillic or Latin.
TEST(Fontpack, ListingColumnsAlignByLetters) {
  TempDir dir;
  const RunResult r = RunProgram(kFontpack, {"--default", "--font",
                                      "/usr/share/fonts/X11/misc/ter-u16n_unicode.pcf.gz", "--name",
                                      "Thin 16", "-o", dir.File("all.tfa")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::vector<size_t> columns;  // in letters, where " rows" ends
  while (std::getline(lines, line)) {
    const size_t rows = line.find(" rows ");
    if (rows == std::string::npos) continue;
    size_t letters = 0;
    for (size_t i = 0; i < rows; ++i) {
      if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++letters;
    }
    columns.push_back(letters);
  }
  ASSERT_EQ(columns.size(), 8u) << r.out;
  for (size_t c : columns) EXPECT_EQ(c, columns.front()) << r.out;
}

TEST(Fontpack, RefusesBadRequests) {
  TempDir dir;
  const std::string out = dir.File("x.tfa");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {"no output", {"--default"}, 2},
      {"no fonts", {"-o", out}, 2},
      {"bad height", {"--font", "/usr/share/consolefonts/Uni2-VGA8.psf.gz", "--height", "5", "-o", out}, 2},
      {"option before any font", {"--spacing", "1", "--default", "-o", out}, 2},
      {"missing font file", {"--font", dir.File("none.psf.gz"), "-o", out}, 1},
      {"not a font", {"--font", kCli, "-o", out}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = RunProgram(kFontpack, c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

}  // namespace
}  // namespace lentar
