// lentar-cli picture: a picture file to its picture tag, and a picture tag
// to a BMP, as the image editor's "Из файла" and "В файл" do.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>

#include "cli/cli_common.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "markup/picture.h"
#include "markup/picturefile.h"
#include "qtpicture/qtpicturereader.h"

namespace lentar::cli {

namespace {

constexpr const char* kCommand = "picture";

void PrintHelp() {
  std::printf(
      "Использование: lentar-cli picture import ФАЙЛ [--font-height 1..4] [--channels 1..8]\n"
      "                        [--keep [--start-row Y]] [-o ФАЙЛ_ТЕГА] [--ini ФАЙЛ]\n"
      "       lentar-cli picture export ФАЙЛ_ТЕГА|- -o ФАЙЛ.bmp [--font-height 1..4]\n"
      "                        [--channels 1..8] [--ini ФАЙЛ]\n"
      "\n"
      "import  читает картинку (%s) и печатает её тег {[Img:...]}\n"
      "        (или записывает его в ФАЙЛ_ТЕГА). Картинка другой высоты, чем у\n"
      "        табло, масштабируется к ней или с --keep берётся как есть со\n"
      "        строки Y (по умолчанию 0). Каждая точка становится ближайшим\n"
      "        цветом каналов табло.\n"
      "export  рисует картинку тега (из ФАЙЛА_ТЕГА или, для -, со стандартного\n"
      "        ввода) в 24-битный BMP цветами каналов.\n"
      "\n"
      "  -o, --output ФАЙЛ  файл для записи\n"
      "  --font-height N    высота шрифта в байтах по 8 строк, 1..4 (по умолчанию:\n"
      "                     DefFontHeight)\n"
      "  --channels N       цветовых каналов на точку, 1..8 (по умолчанию:\n"
      "                     ColorChannelCount)\n"
      "  --keep             не масштабировать картинку другой высоты\n"
      "  --start-row Y      первая строка, которая берётся с --keep\n"
      "  --ini ФАЙЛ         файл настроек (по умолчанию: lentar.ini программы)\n"
      "\n"
      "Цвета каналов берутся из ChannelColors файла настроек.\n"
      "Код выхода: 0 выполнено, 1 отказ (файл не читается или повреждён),\n"
      "2 ошибка вызова.\n",
      ReadablePictureKinds());
}

struct PictureOptions {
  PictureGeometry geometry;
  std::array<int32_t, 8> colours{};
};

bool ResolvePictureOptions(const ParsedArgs& parsed, PictureOptions& options, int& status) {
  LoadedSettings loaded;
  if (!LoadSettingsToRead(kCommand, parsed, loaded, status)) return false;
  if (parsed.Has("output") &&
      RefuseReplacingInputs(kCommand, parsed.values.at("output"),
                            {{"файл настроек", SettingsPathFor(parsed)}}, status))
    return false;
  CompileOptions compile;
  if (!ResolveCompileOptions(kCommand, parsed, loaded.settings, compile, status)) return false;
  options.geometry = PictureGeometry(compile.fontHeight, compile.channels);
  options.colours = loaded.settings.ChannelColors;
  return true;
}

int Import(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2)
    return UsageError(kCommand, "import принимает один файл картинки");
  if (parsed.Has("start-row") && !parsed.Has("keep"))
    return UsageError(kCommand, "--start-row применяется только с --keep");
  int status = kExitOk;
  PictureOptions options;
  if (!ResolvePictureOptions(parsed, options, status)) return status;
  const std::string& file = parsed.positional[1];
  // The tag text must never take the picture's place (a symlink included).
  if (parsed.Has("output") &&
      RefuseReplacingInputs(kCommand, parsed.values.at("output"), {{"картинку", file}}, status))
    return status;
  const bool keep = parsed.Has("keep");
  const std::string startText = parsed.Has("start-row") ? parsed.values.at("start-row") : "0";
  const std::optional<long long> start = ParseNumber(startText, 0, 1000000);
  if (!start) return UsageError(kCommand, "--start-row должен быть целым числом 0..1000000");

  bool startOutOfRange = false;
  int pictureHeight = 0;
  const ImportQuestion ask = [&](int rows, int height) -> std::optional<ImportMode> {
    pictureHeight = height;
    if (!keep) return ImportMode{true, 0};
    if (*start > std::max(0, height - rows)) {
      startOutOfRange = true;
      return std::nullopt;
    }
    return ImportMode{false, static_cast<int>(*start)};
  };
  const PictureLoadResult result = LoadPictureFile(CorePath(file), options.geometry, options.colours,
                                                   kPictureImportCapacity, ask, &QtPictureReader());
  switch (result.status) {
    case PictureLoadStatus::UnknownType:
      return Refuse(kCommand, "'" + file + "': неизвестный тип картинки (читаются: " +
                                  ReadablePictureKinds() + ")");
    case PictureLoadStatus::ReadError:
      return Refuse(kCommand, "'" + file + "': не удаётся прочитать картинку");
    case PictureLoadStatus::Cancelled:
      if (startOutOfRange)
        return UsageError(kCommand, "--start-row должен лежать в 0.." +
                                        std::to_string(std::max(0, pictureHeight - options.geometry.Rows())));
      return Refuse(kCommand, "'" + file + "': импорт отменён");
    case PictureLoadStatus::Ok:
      break;
  }
  if (keep && *start != 0 && pictureHeight == 0 && !result.isText)
    return UsageError(kCommand, "--start-row должен быть 0: картинка такой же высоты, как табло");

  PictureData picture;
  picture.geometry = options.geometry;
  if (result.isText) {
    if (!DecodePictureTag(result.text, picture))
      return Refuse(kCommand, "'" + file + "' не содержит тега картинки");
  } else {
    std::copy(result.pixels.begin(), result.pixels.end(), picture.pixels.begin());
    picture.SetWidth(result.width);
    picture.name = result.name;
  }
  const std::string tag = EncodePictureTag(picture);
  if (parsed.Has("output")) {
    if (!WriteOutputFile(kCommand, parsed.values.at("output"), tag + "\r\n", status)) return status;
    std::printf("%s: %d %s\n", parsed.values.at("output").c_str(), picture.width,
                RussianCountForm(picture.width, "столбец", "столбца", "столбцов"));
    return kExitOk;
  }
  PrintCp1251(stdout, tag);
  std::fputc('\n', stdout);
  return kExitOk;
}

int Export(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2)
    return UsageError(kCommand, "export принимает один файл тега или -");
  if (!parsed.Has("output")) return UsageError(kCommand, "export нужен -o ФАЙЛ.bmp");
  if (parsed.Has("keep") || parsed.Has("start-row"))
    return UsageError(kCommand, "--keep и --start-row относятся к import");
  int status = kExitOk;
  PictureOptions options;
  if (!ResolvePictureOptions(parsed, options, status)) return status;
  const std::string& source = parsed.positional[1];
  const std::string& out = parsed.values.at("output");
  std::string text;
  if (source == "-") {
    // The terminal's text: UTF-8.
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    text = Utf8ToCp1251(text.substr(0, kMaxPictureTextBytes));
  } else {
    if (RefuseReplacingInputs(kCommand, out, {{"файл тега", source}}, status)) return status;
    if (!ReadInputFile(kCommand, source, text, status)) return status;
    text.resize(std::min(text.size(), kMaxPictureTextBytes));
  }
  // A tag file may end in a line break.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  PictureData picture;
  picture.geometry = options.geometry;
  if (!DecodePictureTag(text, picture))
    return Refuse(kCommand, "'" + source + "' не содержит тега картинки");
  const std::string bmp = EncodePictureBmp(picture.width, picture.geometry.Rows(), picture.pixels.data(),
                                           options.colours, picture.geometry.channelCount);
  if (!WriteOutputFile(kCommand, out, bmp, status)) return status;
  std::printf("%s: %d x %d\n", out.c_str(), picture.width, picture.geometry.Rows());
  return kExitOk;
}

}  // namespace

int RunPicture(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(args,
                                   {{"output", 'o'}, {"font-height"}, {"channels"}, {"ini"},
                                    {"keep", 0, false}, {"start-row"}},
                                   error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.empty()) return UsageError(kCommand, "import или export?");
  const std::string& action = parsed->positional[0];
  if (action == "import") return Import(*parsed);
  if (action == "export") return Export(*parsed);
  return UsageError(kCommand, "неизвестное действие '" + action + "' (import или export)");
}

}  // namespace lentar::cli
