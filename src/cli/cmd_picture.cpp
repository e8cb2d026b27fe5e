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
      "Usage: lentar-cli picture import FILE [--font-height 1..4] [--channels 1..8]\n"
      "                                 [--keep [--start-row Y]] [-o TAGFILE] [--ini FILE]\n"
      "       lentar-cli picture export TAGFILE|- -o FILE.bmp [--font-height 1..4]\n"
      "                                 [--channels 1..8] [--ini FILE]\n"
      "\n"
      "import  reads a BMP, JPG, PNG, GIF (its first frame), WebP, ICO or TXT\n"
      "        picture and prints its {[Img:...]} tag (or writes it to TAGFILE). A\n"
      "        picture whose height is not the board's is scaled to it, or with\n"
      "        --keep taken as it is from row Y (default 0).\n"
      "        Every pixel becomes the nearest colour of the board's channels.\n"
      "export  paints the picture of a tag (from TAGFILE, or standard input for -)\n"
      "        into a 24-bit BMP with the channel colours.\n"
      "\n"
      "  -o, --output FILE  file to write\n"
      "  --font-height N    font height in bytes of 8 rows, 1..4 (default: DefFontHeight)\n"
      "  --channels N       colour channels per pixel, 1..8 (default: ColorChannelCount)\n"
      "  --keep             do not scale a picture of another height\n"
      "  --start-row Y      first row taken with --keep\n"
      "  --ini FILE         settings file to read (default: the program's lentar.ini)\n"
      "\n"
      "Channel colours come from ChannelColors of the settings file.\n"
      "Exit status: 0 done, 1 refused (unreadable or damaged file), 2 usage error.\n");
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
                            {{"the settings file", SettingsPathFor(parsed)}}, status))
    return false;
  CompileOptions compile;
  if (!ResolveCompileOptions(kCommand, parsed, loaded.settings, compile, status)) return false;
  options.geometry = PictureGeometry(compile.fontHeight, compile.channels);
  options.colours = loaded.settings.ChannelColors;
  return true;
}

int Import(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2) return UsageError(kCommand, "import takes one picture file");
  if (parsed.Has("start-row") && !parsed.Has("keep"))
    return UsageError(kCommand, "--start-row goes with --keep");
  int status = kExitOk;
  PictureOptions options;
  if (!ResolvePictureOptions(parsed, options, status)) return status;
  const std::string& file = parsed.positional[1];
  // The tag text must never take the picture's place (a symlink included).
  if (parsed.Has("output") &&
      RefuseReplacingInputs(kCommand, parsed.values.at("output"), {{"the picture", file}}, status))
    return status;
  const bool keep = parsed.Has("keep");
  const std::string startText = parsed.Has("start-row") ? parsed.values.at("start-row") : "0";
  const std::optional<long long> start = ParseNumber(startText, 0, 1000000);
  if (!start) return UsageError(kCommand, "--start-row must be a whole number 0..1000000");

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
      return Refuse(kCommand, "'" + file + "': unknown picture type (" + ReadablePictureKinds() + ")");
    case PictureLoadStatus::ReadError:
      return Refuse(kCommand, "'" + file + "': cannot read the picture");
    case PictureLoadStatus::Cancelled:
      if (startOutOfRange)
        return UsageError(kCommand, "--start-row must lie in 0.." +
                                        std::to_string(std::max(0, pictureHeight - options.geometry.Rows())));
      return Refuse(kCommand, "'" + file + "': import cancelled");
    case PictureLoadStatus::Ok:
      break;
  }
  if (keep && *start != 0 && pictureHeight == 0 && !result.isText)
    return UsageError(kCommand, "--start-row must be 0: the picture is as high as the board");

  PictureData picture;
  picture.geometry = options.geometry;
  if (result.isText) {
    if (!DecodePictureTag(result.text, picture))
      return Refuse(kCommand, "'" + file + "' holds no picture tag");
  } else {
    std::copy(result.pixels.begin(), result.pixels.end(), picture.pixels.begin());
    picture.SetWidth(result.width);
    picture.name = result.name;
  }
  const std::string tag = EncodePictureTag(picture);
  if (parsed.Has("output")) {
    if (!WriteOutputFile(kCommand, parsed.values.at("output"), tag + "\r\n", status)) return status;
    std::printf("%s: %d columns\n", parsed.values.at("output").c_str(), picture.width);
    return kExitOk;
  }
  PrintCp1251(stdout, tag);
  std::fputc('\n', stdout);
  return kExitOk;
}

int Export(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2) return UsageError(kCommand, "export takes one tag file or -");
  if (!parsed.Has("output")) return UsageError(kCommand, "export needs -o FILE.bmp");
  if (parsed.Has("keep") || parsed.Has("start-row"))
    return UsageError(kCommand, "--keep and --start-row belong to import");
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
    if (RefuseReplacingInputs(kCommand, out, {{"the tag file", source}}, status)) return status;
    if (!ReadInputFile(kCommand, source, text, status)) return status;
    text.resize(std::min(text.size(), kMaxPictureTextBytes));
  }
  // A tag file may end in a line break.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  PictureData picture;
  picture.geometry = options.geometry;
  if (!DecodePictureTag(text, picture)) return Refuse(kCommand, "'" + source + "' holds no picture tag");
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
  if (parsed->positional.empty()) return UsageError(kCommand, "import or export?");
  const std::string& action = parsed->positional[0];
  if (action == "import") return Import(*parsed);
  if (action == "export") return Export(*parsed);
  return UsageError(kCommand, "unknown action '" + action + "' (import or export)");
}

}  // namespace lentar::cli
