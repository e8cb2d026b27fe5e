// lentar-cli compile: a set file to the board data image (.bin), as the
// editor's binary export writes it.
#include <cstdio>

#include "cli/cli_common.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "markup/compiler.h"

namespace lentar::cli {

namespace {

constexpr const char* kCommand = "compile";

void PrintHelp() {
  std::printf(
      "Использование: lentar-cli compile НАБОР [-o ВЫВОД] [--font-height 1..4]\n"
      "                          [--channels 1..8] [--max-size N] [--ini ФАЙЛ]\n"
      "\n"
      "Компилирует файл набора НАБОР в образ данных табло: переводы строк\n"
      "свёрнуты, сущности раскрыты, теги заменены записями команд.\n"
      "\n"
      "  -o, --output ВЫВОД  файл образа (по умолчанию: НАБОР с расширением .bin)\n"
      "%s"
      "\n"
      "Когда образ больше предела, печатается сообщение о размере и ничего\n"
      "не записывается.\n"
      "Код выхода: 0 записано, 1 отказ (набор не читается, образ слишком велик,\n"
      "ошибка записи), 2 ошибка вызова.\n",
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
  if (RefuseReplacingInputs(kCommand, outPath, {{"файл настроек", SettingsPathFor(*parsed)}},
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
  std::printf("%s: %zu %s\n", outPath.c_str(), compiled.length(),
              RussianCountForm(static_cast<long long>(compiled.length()), "байт", "байта", "байт"));
  return kExitOk;
}

}  // namespace lentar::cli
