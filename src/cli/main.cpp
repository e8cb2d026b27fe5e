// lentar-cli: the board editor's engine for scripts, without windows.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "core/paths.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fputs(
      "Usage: lentar-cli COMMAND [OPTIONS]\n"
      "\n"
      "Commands:\n"
      "  compile SET   compile a set file into a board data image (.bin)\n"
      "  gprs SET      compile a set file into a GPRS package\n"
      "  dump IMAGE    list the text runs and command records of an image\n"
      "  fonts ARCHIVE list the fonts of a font archive or render text with one\n"
      "  preview SET   run the board emulation and write the frames as pictures\n"
      "  board CMD     read and set a board over a serial port, upload to it\n"
      "  loader CMD    store blocks in a loader, list, read and erase them\n"
      "  ports         list the serial ports of this computer\n"
      "  picture CMD   import a BMP/JPG/PNG/GIF/WebP/ICO/TXT picture as a picture tag,\n"
      "                export a tag as BMP\n"
      "\n"
      "Run 'lentar-cli COMMAND --help' for the options of a command.\n"
      "Exit status: 0 success, 1 refused input, 2 usage error.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lentar::cli;
  lentar::InitProgramFolder(argc > 0 ? argv[0] : "");
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("lentar-cli %s\n", LENTAR_VERSION);
    return kExitOk;
  }
  Args args(argv + 2, argv + argc);
  if (command == "compile") return RunCompile(args);
  if (command == "gprs") return RunGprs(args);
  if (command == "dump") return RunDump(args);
  if (command == "fonts") return RunFonts(args);
  if (command == "preview") return RunPreview(args);
  if (command == "board") return RunBoard(args);
  if (command == "loader") return RunLoader(args);
  if (command == "ports") return RunPorts(args);
  if (command == "picture") return RunPicture(args);
  std::fprintf(stderr, "lentar-cli: unknown command '%s'\n\n", command.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
