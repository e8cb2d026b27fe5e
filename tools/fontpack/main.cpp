// lentar-fontpack: builds a board font archive (.tfa) from fonts installed on
// this computer.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert.h"
#include "core/atomicfile.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "markup/fontarchive_writer.h"

namespace {

using lentar::fontpack::ConvertOptions;

constexpr const char* kConsoleFontsDir = "/usr/share/consolefonts";

// The archive that ships with the program: console fonts with the whole
// Windows-1251 repertoire, bold first at each height (it reads best on a board).
// The 8-row font is FullCyrSlav-VGA8: several other VGA8 fonts of the same
// package map Г, П and Ф to glyphs that are really box-drawing pieces.
struct DefaultFont {
  const char* file;
  int heightBytes;
  int charSpacing;
  const char* name;  // UTF-8
};

constexpr DefaultFont kDefaultFonts[] = {
    {"FullCyrSlav-VGA8.psf.gz", 1, 1, "Обычный 8"},
    {"Uni2-TerminusBold16.psf.gz", 2, 1, "Жирный 16"},
    {"Uni2-Terminus16.psf.gz", 2, 1, "Обычный 16"},
    {"Uni2-TerminusBold24x12.psf.gz", 3, 2, "Жирный 24"},
    {"Uni2-Terminus24x12.psf.gz", 3, 2, "Обычный 24"},
    {"Uni2-TerminusBold32x16.psf.gz", 4, 2, "Жирный 32"},
    {"Uni2-Terminus32x16.psf.gz", 4, 2, "Обычный 32"},
};

struct FontRequest {
  std::string path;
  ConvertOptions options;
  bool heightGiven = false;
  bool nameGiven = false;
  int pixelSize = 0;  // 0: the board's rows
};

void PrintUsage(std::FILE* out) {
  std::fputs(
      "Usage: lentar-fontpack [--default [--heights LIST] [--fonts-dir DIR]]\n"
      "                       [--font FILE [FONT OPTIONS]]... -o ARCHIVE.tfa\n"
      "\n"
      "Builds a board font archive from fonts installed on this computer.\n"
      "\n"
      "  --default          the standard set: an 8-row console font and Terminus bold\n"
      "                     and regular at 16, 24 and 32 rows\n"
      "  --heights LIST     with --default: only these heights in bytes of 8 rows,\n"
      "                     e.g. 1,2 (default 1,2,3,4)\n"
      "  --fonts-dir DIR    where the console fonts of --default are\n"
      "                     (default /usr/share/consolefonts)\n"
      "  --font FILE        add a font: PSF console font (.psf, .psf.gz), PCF, BDF,\n"
      "                     TrueType or OpenType; the options after it apply to it:\n"
      "    --height H       board height in bytes of 8 rows, 1..4 (default: the\n"
      "                     font's own rows rounded up)\n"
      "    --name TEXT      name in the archive (default: style and height)\n"
      "    --spacing N      blank columns after each character (default 1)\n"
      "    --space N        columns of the space character\n"
      "    --size PX        pixel size of a scalable font (default: 8 x height)\n"
      "    --first-row R    font row shown in the board's top row (default: chosen\n"
      "                     to keep the most ink)\n"
      "  -o, --output FILE  the archive to write\n"
      "\n"
      "Exit status: 0 success, 1 a font could not be made or written, 2 usage error.\n",
      out);
}

bool ParseInt(const std::string& text, int low, int high, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end == nullptr || *end != '\0' || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

bool ParseHeights(const std::string& text, std::vector<bool>& wanted) {
  wanted.assign(5, false);
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    int h = 0;
    if (!ParseInt(text.substr(start, comma - start), 1, 4, h)) return false;
    wanted[static_cast<size_t>(h)] = true;
    start = comma + 1;
  }
  return true;
}

// The text padded with spaces to the given width in letters: a terminal shows
// a Cyrillic letter in one column, though UTF-8 gives it two bytes.
std::string PadToLetters(const std::string& utf8, size_t width) {
  size_t letters = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++letters;  // a continuation byte adds no letter
  }
  return letters >= width ? utf8 : utf8 + std::string(width - letters, ' ');
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<FontRequest> requests;
  std::string output;
  bool useDefault = false;
  std::vector<bool> heights(5, true);
  std::string fontsDir = kConsoleFontsDir;

  auto usage = [](const std::string& message) {
    std::fprintf(stderr, "lentar-fontpack: %s\n\n", message.c_str());
    PrintUsage(stderr);
    return 2;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    auto value = [&]() -> const std::string& { return args[++i]; };
    if (arg == "-h" || arg == "--help") {
      PrintUsage(stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("lentar-fontpack %s\n", LENTAR_VERSION);
      return 0;
    }
    if (arg == "--default") {
      useDefault = true;
      continue;
    }
    if (!hasValue) return usage("option " + arg + " needs a value");
    if (arg == "-o" || arg == "--output") {
      output = value();
    } else if (arg == "--heights") {
      if (!ParseHeights(value(), heights)) return usage("--heights takes numbers 1 to 4, e.g. 1,2");
    } else if (arg == "--fonts-dir") {
      fontsDir = value();
    } else if (arg == "--font") {
      FontRequest request;
      request.path = value();
      requests.push_back(request);
    } else if (arg == "--height" || arg == "--name" || arg == "--spacing" || arg == "--space" ||
               arg == "--size" || arg == "--first-row") {
      if (requests.empty()) return usage(arg + " must follow --font");
      FontRequest& r = requests.back();
      const std::string& v = value();
      bool good = true;
      if (arg == "--height") {
        good = ParseInt(v, 1, 4, r.options.heightBytes);
        r.heightGiven = true;
      } else if (arg == "--name") {
        r.options.name = lentar::Utf8ToCp1251(v);
        r.nameGiven = true;
        good = r.options.name.size() <= lentar::kFontNameMaxLength;
      } else if (arg == "--spacing") {
        good = ParseInt(v, 0, 255, r.options.charSpacing);
      } else if (arg == "--space") {
        good = ParseInt(v, 0, 255, r.options.spaceWidth);
      } else if (arg == "--size") {
        good = ParseInt(v, 1, 1000, r.pixelSize);
      } else {
        good = ParseInt(v, -1000, 1000, r.options.firstRow);
      }
      if (!good) return usage("bad value for " + arg + ": " + v);
    } else {
      return usage("unknown option " + arg);
    }
  }
  if (output.empty()) return usage("no output file (-o ARCHIVE.tfa)");

  if (useDefault) {
    std::vector<FontRequest> defaults;
    for (const DefaultFont& d : kDefaultFonts) {
      if (!heights[static_cast<size_t>(d.heightBytes)]) continue;
      FontRequest r;
      r.path = fontsDir + "/" + d.file;
      r.options.heightBytes = d.heightBytes;
      r.options.charSpacing = d.charSpacing;
      r.options.name = lentar::Utf8ToCp1251(d.name);
      r.heightGiven = r.nameGiven = true;
      defaults.push_back(r);
    }
    requests.insert(requests.begin(), defaults.begin(), defaults.end());
  }
  if (requests.empty()) return usage("no fonts: give --default or --font FILE");

  std::vector<lentar::TTabFont> fonts;
  bool complete = true;
  for (FontRequest& r : requests) {
    std::string error;
    const int size = r.pixelSize > 0 ? r.pixelSize : r.options.heightBytes * 8;
    auto source = lentar::fontpack::OpenSourceFont(r.path, size, error);
    if (!source) {
      std::fprintf(stderr, "lentar-fontpack: %s\n", error.c_str());
      return 1;
    }
    if (!r.heightGiven) {
      r.options.heightBytes = std::min(4, std::max(1, (source->CellHeight() + 7) / 8));
    }
    if (source->Scalable() && r.pixelSize == 0) {
      // The largest size whose ascent and descent fit the board's rows, so
      // accents and descenders are not cut off.
      const int rows = r.options.heightBytes * 8;
      for (int px = rows; px > 1 && source->CellHeight() > rows; --px) {
        source = lentar::fontpack::OpenSourceFont(r.path, px - 1, error);
        if (!source) {
          std::fprintf(stderr, "lentar-fontpack: %s\n", error.c_str());
          return 1;
        }
      }
    }
    if (!r.nameGiven) {
      r.options.name = BaseName(r.path).substr(0, 100) + " " + std::to_string(r.options.heightBytes * 8);
    }
    lentar::TTabFont font;
    lentar::fontpack::ConvertReport report;
    if (!lentar::fontpack::ConvertFont(*source, r.options, font, report, error)) {
      std::fprintf(stderr, "lentar-fontpack: %s: %s\n", r.path.c_str(), error.c_str());
      return 1;
    }
    std::printf("%s %2d rows  %5zu bytes  %s\n",
                PadToLetters(lentar::Cp1251ToUtf8(font.FontName), 34).c_str(),
                font.HeightBytes * 8, font.GlyphData.size() + lentar::kFontBlockHeaderSize,
                r.path.c_str());
    if (!report.missing.empty()) {
      complete = false;
      std::fprintf(stderr, "lentar-fontpack: %s lacks %zu characters:", r.path.c_str(),
                   report.missing.size());
      for (int code : report.missing) std::fprintf(stderr, " %02X", code);
      std::fprintf(stderr, "\n");
    }
    fonts.push_back(std::move(font));
  }

  std::vector<uint8_t> bytes;
  std::string error;
  if (!lentar::WriteFontArchive(fonts, bytes, error)) {
    std::fprintf(stderr, "lentar-fontpack: %s\n", error.c_str());
    return 1;
  }
  if (useDefault && !complete) {
    std::fprintf(stderr, "lentar-fontpack: the standard set must cover every character\n");
    return 1;
  }
  // The engine names files in Windows-1251; the command line is the terminal's.
  if (!lentar::WriteFileAtomically(
          lentar::FromNativeArgument(output.c_str()), std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
    std::fprintf(stderr, "lentar-fontpack: cannot write %s\n", output.c_str());
    return 1;
  }
  std::printf("%s: %zu fonts, %zu bytes\n", output.c_str(), fonts.size(), bytes.size());
  return 0;
}
