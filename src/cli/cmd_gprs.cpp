// lentar-cli gprs: a set file to the escaped GPRS package, as the editor's
// GPRS export writes it.
#include <cerrno>
#include <cstdio>

#include "cli/cli_common.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "markup/compiler.h"
#include "markup/gprs.h"

namespace lentar::cli {

namespace {

constexpr const char* kCommand = "gprs";

void PrintHelp() {
  std::printf(
      "Использование: lentar-cli gprs НАБОР [-o ВЫВОД] [--version N] [--ini ФАЙЛ]\n"
      "                       [--font-height 1..4] [--channels 1..8] [--max-size N]\n"
      "\n"
      "Компилирует файл набора НАБОР и записывает образ данных табло как\n"
      "экранированный пакет GPRS.\n"
      "\n"
      "  -o, --output ВЫВОД  файл пакета (по умолчанию: НАБОР с расширением\n"
      "                   .gprs.txt, чтобы set.txt никогда не был заменён)\n"
      "  --version N      номер версии в пакете, 0..2147483646; lentar.ini не\n"
      "                   меняется. Без него берётся номер, следующий за\n"
      "                   GprsFileVersion, и сначала сохраняется в файл настроек,\n"
      "                   чтобы ни один номер не был выдан дважды.\n"
      "%s"
      "\n"
      "Образ больше предела печатает сообщение о размере; пустой образ ничего\n"
      "не записывает. Ни то, ни другое не продвигает версию.\n"
      "Код выхода: 0 записано, 1 отказ (набор или настройки не читаются, образ\n"
      "слишком велик или пуст, ошибка записи), 2 ошибка вызова.\n",
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
                        "--version должен быть целым числом 0..2147483646, а не '" + it->second +
                            "'");
  }

  const std::string iniPath = SettingsPathFor(*parsed);
  if (RefuseReplacingInputs(kCommand, outPath, {{"файл настроек", iniPath}}, status))
    return status;
  LoadedSettings loaded = LoadSettings(iniPath);
  loaded.explicitPath = parsed->Has("ini");
  if (fixedVersion && loaded.explicitPath && loaded.state == SettingsFileState::Missing)
    return Refuse(kCommand, "файл настроек " + SettingsProblem(loaded));
  if (!loaded.ok && loaded.state != SettingsFileState::Missing) {
    // Storing the version back would replace the settings the file held with
    // the defaults and start the versions again.
    if (!fixedVersion)
      return Refuse(kCommand, SettingsProblem(loaded) +
                                  "; он оставлен как есть (с --version пакет пишется без него)");
    std::fprintf(stderr, "lentar-cli gprs: предупреждение: %s; для непрочитанного взяты значения "
                         "по умолчанию\n",
                 SettingsProblem(loaded).c_str());
  }
  CompileOptions options;
  if (!ResolveCompileOptions(kCommand, *parsed, loaded.settings, options, status)) return status;
  CompileResult compiled;
  if (!CompileSetFile(kCommand, setPath, options, compiled, status)) return status;
  if (compiled.length() == 0) return Refuse(kCommand, "скомпилированный образ пуст; ничего не записано");

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
        return Refuse(kCommand, SettingsProblem(loaded) + "; он оставлен как есть");
      return Refuse(kCommand, "не удаётся сохранить версию в '" + iniPath + "'" + ErrnoReason() +
                                  "; ничего не записано");
    }
    if (state == SettingsFileState::Missing)
      std::fprintf(stderr, "lentar-cli gprs: '%s' не существовал; он создан с настройками по "
                           "умолчанию, версии начинаются с %u\n",
                   iniPath.c_str(), version);
  }

  const std::vector<uint8_t> package =
      EncodeGprsPackage(kGprsBoardDataType, compiled.image.data(), compiled.length(),
                        static_cast<int32_t>(version));
  const std::string_view bytes(reinterpret_cast<const char*>(package.data()), package.size());
  if (!WriteOutputFile(kCommand, outPath, bytes, status)) return status;
  std::printf("%s: %zu %s, версия %u\n", outPath.c_str(), package.size(),
              RussianCountForm(static_cast<long long>(package.size()), "байт", "байта", "байт"),
              version);
  return kExitOk;
}

}  // namespace lentar::cli
