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
  if (parsed->positional.size() != 1)
    return UsageError(kCommand, parsed->positional.empty() ? "no set file given"
                                                           : "more than one set file given");
  const std::string& setPath = parsed->positional[0];
  const auto out = parsed->values.find("output");
  const std::string outPath =
      out != parsed->values.end() ? out->second : ChangeExtension(setPath, ".bin");
  if (IsSameFile(outPath, setPath))
    return UsageError(kCommand, "the output '" + outPath + "' would replace the set file; give -o");

  const LoadedSettings loaded = LoadSettings(SettingsPathFor(*parsed));
  if (!loaded.ok)
    std::fprintf(stderr, "lentar-cli compile: warning: '%s' could not be read whole; "
                         "defaults used for the rest\n", loaded.path.c_str());
  CompileOptions options;
  int status = kExitOk;
  if (!ResolveCompileOptions(kCommand, *parsed, loaded.settings, options, status)) return status;

  std::string text;
  if (!ReadInputFile(kCommand, setPath, text, status)) return status;
  const CompileResult compiled =
      CompileBoardData(text, options.fontHeight, options.channels, options.maxSize);
  if (!compiled.ok) {
    PrintCp1251(stderr, DataSizeMessage(compiled.length()));
    std::fputc('\n', stderr);
    return kExitRefused;
  }

  const std::string_view bytes(reinterpret_cast<const char*>(compiled.image.data()),
                               compiled.image.size());
  if (!WriteOutputFile(kCommand, outPath, bytes, status)) return status;
  std::printf("%s: %zu bytes\n", outPath.c_str(), compiled.length());
  return kExitOk;
}

}  // namespace lentar::cli
