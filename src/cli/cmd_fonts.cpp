// lentar-cli fonts: lists the fonts of a font archive, or draws a text with one
// of them as lit dots into a PNG picture.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>

#include <cstdio>
#include <string>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "core/paths.h"
#include "core/project.h"
#include "core/textutil.h"
#include "markup/fonts.h"

namespace lentar::cli {

namespace {

constexpr std::string_view kCommand = "fonts";
constexpr int kMaxPictureSide = 60000;  // pixels

void PrintHelp() {
  std::fputs(
      "Usage: lentar-cli fonts [ARCHIVE]\n"
      "       lentar-cli fonts [ARCHIVE] --render TEXT [--font N] [--height H] -o FILE.png\n"
      "\n"
      "Lists the fonts of a font archive (.tfa): position in the archive, height in\n"
      "bytes of 8 rows, number within its height (as in {[Font:n]}), blank columns\n"
      "after each character, how many character codes have glyphs, and the name.\n"
      "Without ARCHIVE the archive that ships with the program is used.\n"
      "\n"
      "  --render TEXT   draw TEXT (UTF-8) with a font as the board's lit dots\n"
      "  --font N        font number within its height (default 0)\n"
      "  --height H      font height in bytes of 8 rows, 1..4 (default 1)\n"
      "  -o, --output F  the PNG picture to write\n"
      "  --dot PX        size of one dot in pixels, 1..64 (default 6)\n"
      "  --gap PX        gap between dots in pixels, 0..64 (default 2)\n"
      "\n"
      "Exit status: 0 success, 1 refused input, 2 usage error.\n",
      stdout);
}

int NumberWithinHeight(const TTabFontList& bank, int index) {
  const int height = bank.At(index).HeightBytes;
  int number = 0;
  for (int i = 0; i < index; ++i) {
    if (bank.At(i).HeightBytes == height) ++number;
  }
  return number;
}

int CodesWithGlyphs(const TTabFont& font) {
  int count = 0;
  for (int code = 0; code < 256; ++code) {
    if (font.GlyphBytes(static_cast<uint8_t>(code)) > 0) ++count;
  }
  return count;
}

void ListFonts(const std::string& path, const TTabFontList& bank) {
  std::printf("Font archive %s: %d font%s\n", path.c_str(), bank.Count(), bank.Count() == 1 ? "" : "s");
  if (bank.Count() == 0) return;
  std::printf("  pos  height      no  spacing  glyphs  name\n");
  for (int i = 0; i < bank.Count(); ++i) {
    const TTabFont& font = bank.At(i);
    char line[96];
    std::snprintf(line, sizeof line, "  %3d  %d (%2d rows)  %2d  %7d  %6d  ", i, font.HeightBytes,
                  font.HeightBytes * 8, NumberWithinHeight(bank, i), font.CharSpacing,
                  CodesWithGlyphs(font));
    std::fputs(line, stdout);
    PrintCp1251(stdout, font.FontName);
    std::fputs("\n", stdout);
  }
}

// Paints the dots as LEDs: lit ones green, dark ones dim, on black.
QImage PaintDots(const DotImage& dots, int dot, int gap) {
  const int pitch = dot + gap;
  const int margin = pitch;
  const int width = 2 * margin + dots.width * pitch - (dots.width > 0 ? gap : 0);
  const int height = 2 * margin + dots.height * pitch - (dots.height > 0 ? gap : 0);
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(0, 0, 0));
  const QRgb litColour = qRgb(0, 255, 0);
  const QRgb darkColour = qRgb(0, 44, 0);
  const double radius = dot / 2.0;
  for (int y = 0; y < dots.height; ++y) {
    for (int x = 0; x < dots.width; ++x) {
      const QRgb colour = dots.Lit(x, y) ? litColour : darkColour;
      const int left = margin + x * pitch;
      const int top = margin + y * pitch;
      for (int dy = 0; dy < dot; ++dy) {
        for (int dx = 0; dx < dot; ++dx) {
          // Round dots once they are big enough to look round.
          const double cx = dx + 0.5 - radius, cy = dy + 0.5 - radius;
          if (dot >= 4 && cx * cx + cy * cy > radius * radius) continue;
          image.setPixel(left + dx, top + dy, colour);
        }
      }
    }
  }
  return image;
}

int Render(const TTabFontList& bank, const ParsedArgs& parsed) {
  long long fontNo = 0, height = 1, dot = 6, gap = 2;
  struct NumberOption {
    const char* name;
    long long lo, hi;
    long long* value;
  };
  const NumberOption numbers[] = {{"font", 0, 255, &fontNo},
                                  {"height", 1, 4, &height},
                                  {"dot", 1, 64, &dot},
                                  {"gap", 0, 64, &gap}};
  for (const NumberOption& n : numbers) {
    if (!parsed.Has(n.name)) continue;
    const auto value = ParseNumber(parsed.values.at(n.name), n.lo, n.hi);
    if (!value) {
      return UsageError(kCommand, std::string("--") + n.name + " takes a number from " +
                                      std::to_string(n.lo) + " to " + std::to_string(n.hi));
    }
    *n.value = *value;
  }
  if (!parsed.Has("output")) return UsageError(kCommand, "--render needs -o FILE.png");

  const int h = static_cast<int>(height);
  const int n = static_cast<int>(fontNo);
  if (!bank.HasFontOfHeight(n, h)) {
    return Refuse(kCommand, "the archive has no font " + std::to_string(n) + " of height " +
                                std::to_string(h) + " (it has " +
                                std::to_string(bank.CountOfHeight(h)) + " of that height)");
  }
  const TTabFont* font = bank.FontOfHeight(n, h);
  const std::string text = CommandLineText(parsed.values.at("render"));
  const DotImage dots = RenderText(text, font);
  const long long pitch = dot + gap;
  if (dots.width == 0 && !text.empty() && TextBytes(text, font) > 0) {
    return Refuse(kCommand, "the text is too long to draw");
  }
  if ((dots.width + 2) * pitch > kMaxPictureSide || (dots.height + 2) * pitch > kMaxPictureSide) {
    return Refuse(kCommand, "the picture would be wider than " + std::to_string(kMaxPictureSide) +
                                " pixels; use a shorter text or smaller --dot and --gap");
  }
  const QImage image = PaintDots(dots, static_cast<int>(dot), static_cast<int>(gap));
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return Refuse(kCommand, "cannot encode the PNG picture");
  int exitCode = kExitOk;
  const std::string& output = parsed.values.at("output");
  if (!WriteOutputFile(kCommand, output, std::string_view(png.constData(), static_cast<size_t>(png.size())),
                       exitCode)) {
    return exitCode;
  }
  std::printf("%s: %d x %d dots, font %d of height %d (", output.c_str(), dots.width, dots.height, n, h);
  PrintCp1251(stdout, font->FontName);
  std::printf(")\n");
  return kExitOk;
}

}  // namespace

int RunFonts(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(args,
                                   {{"render"}, {"font"}, {"height"}, {"output", 'o'}, {"dot"}, {"gap"}},
                                   error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.size() > 1) return UsageError(kCommand, "give one font archive");
  const bool rendering = parsed->Has("render");
  for (const char* name : {"font", "height", "output", "dot", "gap"}) {
    if (!rendering && parsed->Has(name)) {
      return UsageError(kCommand, std::string("--") + name + " works only with --render");
    }
  }
  const std::string path = parsed->positional.empty()
                               ? CliPath(DefaultFontArchivePath())
                               : parsed->positional.front();

  int status = kExitOk;
  if (rendering && parsed->Has("output") &&
      RefuseReplacingInputs(kCommand, parsed->values.at("output"), {{"the font archive", path}},
                            status))
    return status;

  TTabFontList bank;
  const bool loaded = bank.LoadArchive(CorePath(path), error);
  if (!loaded) {
    // What was read before a damaged font block is still worth listing.
    if (!rendering && bank.Count() > 0) ListFonts(path, bank);
    // The reader's texts, file name included, are Windows-1251.
    return Refuse(kCommand, Cp1251ToUtf8(error));
  }
  if (!rendering) {
    ListFonts(path, bank);
    return kExitOk;
  }
  return Render(bank, *parsed);
}

}  // namespace lentar::cli
