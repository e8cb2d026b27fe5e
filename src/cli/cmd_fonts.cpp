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
#include "core/textutil.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace lentar::cli {

namespace {

constexpr std::string_view kCommand = "fonts";
constexpr int kMaxPictureSide = 60000;  // pixels

void PrintHelp() {
  std::fputs(
      "Использование: lentar-cli fonts [АРХИВ]\n"
      "       lentar-cli fonts [АРХИВ] --render ТЕКСТ [--font N] [--height H] -o ФАЙЛ.png\n"
      "\n"
      "Перечисляет шрифты архива шрифтов (.tfa): место в архиве, высоту в байтах\n"
      "по 8 строк, номер среди шрифтов этой высоты (как в {[Font:n]}), пустые\n"
      "столбцы после каждого символа, сколько кодов символов имеют глифы, и имя.\n"
      "Без АРХИВА берётся архив, который поставляется с программой.\n"
      "\n"
      "  --render ТЕКСТ  нарисовать ТЕКСТ (UTF-8) шрифтом как горящие точки табло\n"
      "  --font N        номер шрифта среди шрифтов его высоты (по умолчанию 0)\n"
      "  --height H      высота шрифта в байтах по 8 строк, 1..4 (по умолчанию 1)\n"
      "  -o, --output Ф  картинка PNG для записи\n"
      "  --dot PX        размер точки в пикселях, 1..64 (по умолчанию 6)\n"
      "  --gap PX        промежуток между точками в пикселях, 0..64 (по умолчанию 2)\n"
      "\n"
      "Код выхода: 0 успех, 1 отказ (входные данные), 2 ошибка вызова.\n",
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
  std::printf("Архив шрифтов %s: %d %s\n", path.c_str(), bank.Count(),
              RussianCountForm(bank.Count(), "шрифт", "шрифта", "шрифтов"));
  if (bank.Count() == 0) return;
  std::printf("  место  высота    номер  пробел  глифы  имя\n");
  for (int i = 0; i < bank.Count(); ++i) {
    const TTabFont& font = bank.At(i);
    char line[96];
    std::snprintf(line, sizeof line, "  %5d  %d (%2d стр.)  %5d  %6d  %5d  ", i, font.HeightBytes,
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
      return UsageError(kCommand, std::string("--") + n.name + " принимает число от " +
                                      std::to_string(n.lo) + " до " + std::to_string(n.hi));
    }
    *n.value = *value;
  }
  if (!parsed.Has("output")) return UsageError(kCommand, "для --render нужен -o ФАЙЛ.png");

  const int h = static_cast<int>(height);
  const int n = static_cast<int>(fontNo);
  if (!bank.HasFontOfHeight(n, h)) {
    return Refuse(kCommand, "в архиве нет шрифта " + std::to_string(n) + " высоты " +
                                std::to_string(h) + " (шрифтов этой высоты: " +
                                std::to_string(bank.CountOfHeight(h)) + ")");
  }
  const TTabFont* font = bank.FontOfHeight(n, h);
  const std::string text = CommandLineText(parsed.values.at("render"));
  const DotImage dots = RenderText(text, font);
  const long long pitch = dot + gap;
  if (dots.width == 0 && !text.empty() && TextBytes(text, font) > 0) {
    return Refuse(kCommand, "текст слишком длинный, чтобы его нарисовать");
  }
  if ((dots.width + 2) * pitch > kMaxPictureSide || (dots.height + 2) * pitch > kMaxPictureSide) {
    return Refuse(kCommand, "картинка была бы шире " + std::to_string(kMaxPictureSide) +
                                " пикселей; возьмите текст короче или меньшие --dot и --gap");
  }
  const QImage image = PaintDots(dots, static_cast<int>(dot), static_cast<int>(gap));
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return Refuse(kCommand, "не удаётся закодировать картинку PNG");
  int exitCode = kExitOk;
  const std::string& output = parsed.values.at("output");
  if (!WriteOutputFile(kCommand, output, std::string_view(png.constData(), static_cast<size_t>(png.size())),
                       exitCode)) {
    return exitCode;
  }
  std::printf("%s: %d x %d точек, шрифт %d высоты %d (", output.c_str(), dots.width, dots.height, n,
              h);
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
  if (parsed->positional.size() > 1) return UsageError(kCommand, "укажите один архив шрифтов");
  const bool rendering = parsed->Has("render");
  for (const char* name : {"font", "height", "output", "dot", "gap"}) {
    if (!rendering && parsed->Has(name)) {
      return UsageError(kCommand, std::string("--") + name + " действует только с --render");
    }
  }
  const std::string path = parsed->positional.empty()
                               ? CliPath(DefaultFontArchivePath())
                               : parsed->positional.front();

  int status = kExitOk;
  if (rendering && parsed->Has("output") &&
      RefuseReplacingInputs(kCommand, parsed->values.at("output"), {{"архив шрифтов", path}},
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
