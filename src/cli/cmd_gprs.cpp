// lentar-cli gprs: a set file to the escaped GPRS package, as the editor's
// GPRS export writes it.
#include <cstdio>

#include "cli/cli_common.h"
#include "core/paths.h"
#include "markup/compiler.h"
#include "markup/gprs.h"

namespace lentar::cli {

namespace {

constexpr const char* kCommand = "gprs";

void PrintHelp() {
  std::printf(
      "Usage: lentar-cli gprs SET [-o OUT] [--version N] [--ini FILE]\n"
      "                       [--font-height 1..4] [--channels 1..8] [--max-size N]\n"
      "\n"
      "Compiles the set file SET and writes the board data image as the escaped\n"
      "GPRS package.\n"
      "\n"
      "  -o, --output OUT package file to write (default: SET with the extension\n"
      "                   .gprs.txt, so that a set.txt is never replaced)\n"
      "  --version N      version number to stamp, 0..2147483646; lentar.ini is left\n"
      "                   alone. Without it the next number after GprsFileVersion is\n"
      "                   used and stored back into the settings file first, so that\n"
      "                   no number is ever handed out twice.\n"
      "%s"
      "\n"
      "An image larger than the limit prints the size message; an empty image\n"
      "writes nothing. Neither advances the version.\n"
      "Exit status: 0 written, 1 refused (unreadable set or settings, image too\n"
      "large or empty, write error), 2 usage error.\n",
      kCompileOptionsHelp);
}

}  // namespace

int RunGprs(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(
      args, {{"output", 'o'}, {"version"}, {"ini"}, {"font-height"}, {"channels"}, {"max-size"}},
      error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  int status = kExitOk;
  std::string setPath, outPath;
  // Set files are .txt themselves; the package gets a name of its own.
  if (!ResolveSetAndOutput(kCommand, *parsed, ".gprs.txt", setPath, outPath, status)) return status;

  std::optional<long long> fixedVersion;
  if (const auto it = parsed->values.find("version"); it != parsed->values.end()) {
    fixedVersion = ParseNumber(it->second, 0, kGprsMaxVersion);
    if (!fixedVersion)
      return UsageError(kCommand,
                        "--version must be a whole number in 0..2147483646, not '" + it->second +
                            "'");
  }

  LoadedSettings loaded = LoadSettings(SettingsPathFor(*parsed));
  if (!loaded.ok) {
    // Storing the version back would overwrite the keys that were not read.
    if (!fixedVersion)
      return Refuse(kCommand, "cannot read the settings file '" + loaded.path +
                                  "'; give --version to export without it");
    std::fprintf(stderr, "lentar-cli gprs: warning: '%s' could not be read whole; "
                         "defaults used for the rest\n", loaded.path.c_str());
  }
  CompileOptions options;
  if (!ResolveCompileOptions(kCommand, *parsed, loaded.settings, options, status)) return status;
  CompileResult compiled;
  if (!CompileSetFile(kCommand, setPath, options, compiled, status)) return status;
  if (compiled.length() == 0) return Refuse(kCommand, "the compiled image is empty; nothing written");

  uint32_t version = 0;
  if (fixedVersion) {
    version = static_cast<uint32_t>(*fixedVersion);
  } else {
    version = NextGprsVersion(loaded.settings.GprsFileVersion);
    loaded.settings.GprsFileVersion = version;
    if (!WriteSettings(loaded.settings, CorePath(loaded.path)))
      return Refuse(kCommand, "cannot store the version in '" + loaded.path + "'; nothing written");
  }

  const std::vector<uint8_t> package =
      EncodeGprsPackage(kGprsBoardDataType, compiled.image.data(), compiled.length(),
                        static_cast<int32_t>(version));
  const std::string_view bytes(reinterpret_cast<const char*>(package.data()), package.size());
  if (!WriteOutputFile(kCommand, outPath, bytes, status)) return status;
  std::printf("%s: %zu bytes, version %u\n", outPath.c_str(), package.size(), version);
  return kExitOk;
}

}  // namespace lentar::cli
