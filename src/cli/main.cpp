// lentar-cli: the board editor's engine for scripts, without windows.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "core/paths.h"
#include "markup/picturefile.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
      "Использование: lentar-cli КОМАНДА [ПАРАМЕТРЫ]\n"
      "\n"
      "Команды:\n"
      "  compile НАБОР  скомпилировать файл набора в образ данных табло (.bin)\n"
      "  gprs НАБОР     скомпилировать файл набора в пакет GPRS\n"
      "  dump ОБРАЗ     перечислить участки текста и записи команд образа\n"
      "  fonts АРХИВ    перечислить шрифты архива или нарисовать текст одним из них\n"
      "  preview НАБОР  запустить эмуляцию табло и записать кадры картинками\n"
      "  board КОМАНДА  читать и настраивать табло через последовательный порт,\n"
      "                 загружать в него\n"
      "  loader КОМАНДА хранить блоки в загрузчике, перечислять, читать и стирать их\n"
      "  ports          перечислить последовательные порты компьютера\n"
      "  picture КОМАНДА  импортировать картинку (%s) в тег картинки,\n"
      "                 экспортировать тег в BMP\n"
      "  fleet КОМАНДА  реестр табло, доставка на много табло сразу, журнал доставок\n"
      "\n"
      "  -h, --help     эта справка\n"
      "  -v, --version  версия программы\n"
      "\n"
      "Параметры команды: 'lentar-cli КОМАНДА --help'.\n"
      "Код выхода: 0 успех, 1 отказ (входные данные, устройство), 2 ошибка вызова.\n",
      lentar::ReadablePictureKinds());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lentar::cli;
  lentar::InitProgramFolder(argc > 0 ? argv[0] : "");
  // The system's reasons (a missing file, a refused port) in the operator's
  // language, as the rest of the output.
  std::setlocale(LC_MESSAGES, "");
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (command == "--version" || command == "-v") {
    std::printf("lentar-cli %s\n", LENTAR_VERSION);
    return kExitOk;
  }
  Args args(argv + 2, argv + argc);
  if (command == "board") return ExitStatusAfterStop(RunBoard(args));
  if (command == "loader") return ExitStatusAfterStop(RunLoader(args));
  if (command == "fleet") return ExitStatusAfterStop(RunFleet(args));
  if (command == "compile") return RunCompile(args);
  if (command == "gprs") return RunGprs(args);
  if (command == "dump") return RunDump(args);
  if (command == "fonts") return RunFonts(args);
  if (command == "preview") return RunPreview(args);
  if (command == "ports") return RunPorts(args);
  if (command == "picture") return RunPicture(args);
  std::fprintf(stderr, "lentar-cli: неизвестная команда '%s'\n\n", command.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
