// lentar-cli gprs: a set file to the escaped GPRS package, as the editor's
// GPRS export writes it.
#include <cerrno>
#include <cstdio>

#include "cli/cli_common.h"
#include "core/paths.h"
#include "core/settings.h"
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

  const std::string iniPath = SettingsPathFor(*parsed);
  if (RefuseReplacingInputs(kCommand, outPath, {{"the settings file", iniPath}}, status))
    return status;
  LoadedSettings loaded = LoadSettings(iniPath);
  loaded.explicitPath = parsed->Has("ini");
  if (fixedVersion && loaded.explicitPath && loaded.state == SettingsFileState::Missing)
    return Refuse(kCommand, "the settings file " + SettingsProblem(loaded));
  if (!loaded.ok && loaded.state != SettingsFileState::Missing) {
    // Storing the version back would replace the settings the file held with
    // the defaults and start the versions again.
    if (!fixedVersion)
      return Refuse(kCommand, SettingsProblem(loaded) +
                                  "; it is left as it is (give --version to export without it)");
    std::fprintf(stderr, "lentar-cli gprs: warning: %s; defaults used for what was not read\n",
                 SettingsProblem(loaded).c_str());
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
    // Read, advanced and stored under the settings file's lock, so that runs
    // at the same time (and the editor) never hand out one number twice.
    SettingsFileState state = SettingsFileState::Missing;
    errno = 0;
    if (!TakeGprsVersion(CorePath(iniPath), NextGprsVersion, 0, version, state)) {
      loaded.state = state;
      if (state == SettingsFileState::Unreadable || state == SettingsFileState::NoSection)
        return Refuse(kCommand, SettingsProblem(loaded) + "; it is left as it is");
      return Refuse(kCommand, "cannot store the version in '" + iniPath + "'" + ErrnoReason() +
                                  "; nothing written");
    }
    if (state == SettingsFileState::Missing)
      std::fprintf(stderr, "lentar-cli gprs: '%s' did not exist; it was created with the "
                           "default settings, the versions starting at %u\n",
                   iniPath.c_str(), version);
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
