// lentar-cli compile: a set file to the board data image (.bin), as the
// editor's binary export writes it.
#include <cstdio>

#include "cli/cli_common.h"
#include "core/paths.h"
#include "markup/compiler.h"

namespace lentar::cli {

namespace {

constexpr const char* kCommand = "compile";

void PrintHelp() {
  std::printf(
      "Usage: lentar-cli compile SET [-o OUT] [--font-height 1..4] [--channels 1..8]\n"
      "                          [--max-size N] [--ini FILE]\n"
      "\n"
      "Compiles the set file SET into the board data image: line breaks folded,\n"
      "entities decoded, tags replaced by their command records.\n"
      "\n"
      "  -o, --output OUT image file to write (default: SET with the extension .bin)\n"
      "%s"
      "\n"
      "When the image is larger than the limit, the size message is printed and\n"
      "nothing is written.\n"
      "Exit status: 0 written, 1 refused (unreadable set, image too large, write\n"
      "error), 2 usage error.\n",
      kCompileOptionsHelp);
}

}  // namespace

int RunCompile(const Args& args) {
  std::string error;
  const auto parsed =
      ParseOptions(args, {{"output", 'o'}, {"font-height"}, {"channels"}, {"max-size"}, {"ini"}},
                   error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  int status = kExitOk;
  std::string setPath, outPath;
  if (!ResolveSetAndOutput(kCommand, *parsed, ".bin", setPath, outPath, status)) return status;
  if (RefuseReplacingInputs(kCommand, outPath, {{"the settings file", SettingsPathFor(*parsed)}},
                            status))
    return status;

  LoadedSettings loaded;
  {
    int settingsStatus = kExitOk;
    if (!LoadSettingsToRead(kCommand, *parsed, loaded, settingsStatus)) return settingsStatus;
  }
  CompileOptions options;
  if (!ResolveCompileOptions(kCommand, *parsed, loaded.settings, options, status)) return status;
  CompileResult compiled;
  if (!CompileSetFile(kCommand, setPath, options, compiled, status)) return status;

  const std::string_view bytes(reinterpret_cast<const char*>(compiled.image.data()),
                               compiled.image.size());
  if (!WriteOutputFile(kCommand, outPath, bytes, status)) return status;
  std::printf("%s: %zu bytes\n", outPath.c_str(), compiled.length());
  return kExitOk;
}

}  // namespace lentar::cli
