// lentar-cli loader: manage the blocks, clock and passwords of a portable
// loader over a serial port, the way the loader window does.
#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "comm/loaderprotocol.h"
#include "core/dates.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "markup/compiler.h"

namespace lentar::cli {

namespace {

using namespace lentar::comm;

constexpr const char* kCommand = "loader";

void PrintHelp() {
  std::printf(
      "Usage: lentar-cli loader [--port PORT] [--ini FILE] [--speed 0..4] COMMAND\n"
      "\n"
      "Commands:\n"
      "  info                          memory type and size, page size, free bytes, clock\n"
      "  list                          the blocks: row number, name, size, start address\n"
      "  write SET|IMAGE.bin [--name NAME] [--defragment]\n"
      "                                store as a new block (first fit); when no single gap fits,\n"
      "                                --defragment reorganises first, otherwise exit 1 and nothing changes\n"
      "  read ROW -o FILE              save block ROW (1-based row of the list) to a file\n"
      "  erase ROW | erase --all       clear one directory entry / the whole directory\n"
      "  format                        zero the directory and the passwords\n"
      "  defragment                    pack the blocks together\n"
      "  set-clock                     set the loader's clock from this computer's\n"
      "  passwords                     write the eight stored passwords (Password1..8) into the loader\n"
      "\n"
      "  --port PORT      the loader's port (default: the loader port of the settings):\n"
      "                   a device, COMn, socket://HOST:PORT or rfc2217://HOST:PORT\n"
      "  --speed N        transfer speed 0..4: 9600, 19200, 28800, 38400, 57600 bit/s\n"
      "                   (default: LdSpeed)\n"
      "  --name NAME      block name, cut to 15 characters (default: the file's name)\n"
      "%s"
      "\n"
      "The list prints one block a line: row, name, size and start address,\n"
      "separated by tabs.\n"
      "\n"
      "Exit status: 0 done, 1 refused (port, loader or input), 2 usage error.\n",
      kCompileOptionsHelp);
}

// Messages of the loader, as the loader window words them.
void Say(std::FILE* out, const char8_t* text, const std::string& tail = {}) {
  PrintCp1251(out, Utf8ToCp1251(text));
  std::fputs(tail.c_str(), out);
  std::fputc('\n', out);
}

struct Session {
  TComPort& port;
  std::string device;
  int speedIndex = 6;
  LoaderInfo info;
  LoaderDirectory directory{};
  int type() const { return info.MemoryType(); }
};

int NoAnswer(const Session& s) {
  std::fputs("lentar-cli loader: ", stderr);
  Say(stderr, u8"Ошибка соединения с загрузчиком", " ('" + CliPath(s.device) + "')");
  return kExitRefused;
}

// A progress bar that is drawn only when the percent changes.
LoaderProgress Progress() {
  auto last = std::make_shared<int>(-1);
  return [last](int percent) {
    if (percent == *last) return;
    *last = percent;
    DrawProgress(percent);
  };
}

// The handshake and the loader's memory type, as before every action.
bool Connect(Session& s) { return ConnectLoader(s.port, s.info); }

// Connects and refuses a loader without data memory.
int ConnectWithMemory(Session& s) {
  if (!Connect(s)) return NoAnswer(s);
  if (MemorySize(s.type()) == 0) {
    std::fputs("lentar-cli loader: ", stderr);
    Say(stderr, u8"Загрузчик не имеет памяти данных!");
    return kExitRefused;
  }
  return kExitOk;
}

int ConnectAndReadDirectory(Session& s, bool progress) {
  if (int status = ConnectWithMemory(s); status != kExitOk) return status;
  if (!ReadDirectory(s.port, s.directory, s.speedIndex, progress ? Progress() : LoaderProgress{}))
    return NoAnswer(s);
  return kExitOk;
}

std::string ClockText(const BoardClock& c) {
  return FormatClockTime(c.hour, c.minute, c.second, false, true) + " " +
         FormatDotDate(TDateRec{c.day, c.month, c.year}, false);
}

int RunInfo(Session& s) {
  if (!Connect(s)) return NoAnswer(s);
  const int type = s.type();
  std::printf("Memory type: %d\n", type);
  std::printf("Memory size: %lld\n", static_cast<long long>(MemorySize(type)));
  std::printf("Page size: %d\n", PageSize);
  if (MemorySize(type) > 0) {
    if (!ReadDirectory(s.port, s.directory, s.speedIndex)) return NoAnswer(s);
    std::printf("Blocks: %zu\n", BlockEntries(s.directory).size());
    std::printf("Free bytes: %lld\n", static_cast<long long>(FreeSpace(s.directory, type)));
  } else {
    std::fputs("Free bytes: 0 (", stdout);
    PrintCp1251(stdout, Utf8ToCp1251(u8"Загрузчик не имеет памяти данных!"));
    std::fputs(")\n", stdout);
  }
  BoardClock clock;
  if (!loader::CmdReadClock(s.port, clock)) return NoAnswer(s);
  std::printf("Clock: ");
  PrintCp1251(stdout, ClockText(clock));
  std::fputc('\n', stdout);
  return kExitOk;
}

int RunList(Session& s) {
  if (int status = ConnectAndReadDirectory(s, false); status != kExitOk) return status;
  int row = 0;
  for (int entry : BlockEntries(s.directory)) {
    const DirEntry e = ReadEntry(s.directory, entry);
    std::printf("%d\t", ++row);
    PrintCp1251(stdout, e.name);
    std::printf("\t%u\t%u\n", static_cast<unsigned>(e.size), static_cast<unsigned>(e.start));
  }
  return kExitOk;
}

bool HasBinExtension(const std::string& path) {
  return path.size() >= 4 && LowerCase(path.substr(path.size() - 4)) == ".bin";
}

// The block name: --name, else the file's name without its extension; blanks
// trimmed and cut to 15 characters, as the loader window stores it.
std::string BlockName(const ParsedArgs& parsed, const std::string& source) {
  std::string name = parsed.Has("name")
                         ? CommandLineText(parsed.values.at("name"))
                         : CorePath(std::filesystem::path(source).stem().string());
  name = TrimBlanks(name);
  if (name.size() > kLoaderNameLength) name.resize(kLoaderNameLength);
  return name;
}

int RunWrite(Session& s, const ParsedArgs& parsed, const TSettings& settings) {
  int status = kExitOk;
  const std::string& source = parsed.positional[1];
  std::vector<uint8_t> image;
  if (HasBinExtension(source)) {
    std::string bytes;
    if (!ReadInputFile(kCommand, source, bytes, status, kMaxImageFileSize)) return status;
    image.assign(bytes.begin(), bytes.end());
  } else {
    CompileOptions options;
    if (!ResolveCompileOptions(kCommand, parsed, settings, options, status)) return status;
    CompileResult compiled;
    if (!CompileSetFile(kCommand, source, options, compiled, status)) return status;
    image = std::move(compiled.image);
  }
  if (image.empty()) return Refuse(kCommand, "'" + source + "' holds nothing to store");
  if (image.size() > kMaxLoaderBlock)
    return Refuse(kCommand, "the image has " + std::to_string(image.size()) +
                                " bytes; a loader block holds at most " +
                                std::to_string(kMaxLoaderBlock));

  if (int st = ConnectAndReadDirectory(s, false); st != kExitOk) return st;
  const auto noRoom = [&] {
    std::fputs("lentar-cli loader: ", stderr);
    Say(stderr, u8"Недостаточно места в загрузчике! Удалите какие-либо данные!",
        " (" + std::to_string(image.size()) + " bytes; " +
            std::to_string(FreeSpace(s.directory, s.type())) + " free)");
    return kExitRefused;
  };
  if (FindFreeEntry(s.directory) < 0 ||
      FreeSpace(s.directory, s.type()) < static_cast<int64_t>(image.size()))
    return noRoom();
  uint32_t address = AllocateBlock(s.directory, s.type(), image.size());
  if (address == 0) {
    if (!parsed.Has("defragment")) {
      std::fputs("lentar-cli loader: ", stderr);
      Say(stderr, u8"Нет свободного блока достаточного размера!",
          " (--defragment packs the blocks together first)");
      return kExitRefused;
    }
    std::fputs("Defragmenting\n", stderr);
    if (!Defragment(s.port, s.directory, s.type(), s.speedIndex, Progress())) return NoAnswer(s);
    address = AllocateBlock(s.directory, s.type(), image.size());
    if (address == 0) return noRoom();
  }

  const int slot = FindFreeEntry(s.directory);
  DirEntry entry;
  entry.start = address;
  entry.size = static_cast<uint16_t>(image.size());
  entry.name = BlockName(parsed, source);
  entry.flag = 1;
  if (!StoreBlock(s.port, s.directory, slot, entry, image.data(), s.speedIndex, Progress())) {
    std::fputs("lentar-cli loader: ", stderr);
    Say(stderr, u8"Не удалось записать данные!");
    return kExitRefused;
  }
  const std::vector<int> rows = BlockEntries(s.directory);
  const auto row = std::find(rows.begin(), rows.end(), slot) - rows.begin() + 1;
  std::printf("Stored as row %td: ", row);
  PrintCp1251(stdout, entry.name);
  std::printf(", %zu bytes at %u\n", image.size(), address);
  return kExitOk;
}

// ROW as a data row of the list, or a refusal.
bool RowEntry(Session& s, const std::string& text, int& entry, int& status) {
  const auto row = ParseNumber(text, 1, kLoaderEntryCount);
  const std::vector<int> rows = BlockEntries(s.directory);
  if (!row || *row > static_cast<long long>(rows.size())) {
    status = Refuse(kCommand, "the loader has no row " + text + " (it holds " +
                                  std::to_string(rows.size()) + " blocks)");
    return false;
  }
  entry = rows[static_cast<size_t>(*row - 1)];
  return true;
}

int RunRead(Session& s, const ParsedArgs& parsed) {
  int status = ConnectAndReadDirectory(s, false);
  if (status != kExitOk) return status;
  int entry = -1;
  if (!RowEntry(s, parsed.positional[1], entry, status)) return status;
  const DirEntry e = ReadEntry(s.directory, entry);
  std::vector<uint8_t> data;
  if (!ReadBlock(s.port, e, s.speedIndex, data, Progress())) return NoAnswer(s);
  const std::string out = parsed.values.at("o");
  if (!WriteOutputFile(kCommand, out, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                       status))
    return status;
  std::printf("%u bytes of ", static_cast<unsigned>(e.size));
  PrintCp1251(stdout, e.name);
  std::printf(" written to %s\n", out.c_str());
  return kExitOk;
}

int RunErase(Session& s, const ParsedArgs& parsed) {
  if (parsed.Has("all")) {
    if (int status = ConnectWithMemory(s); status != kExitOk) return status;
    if (!ClearDirectory(s.port)) {
      std::fputs("lentar-cli loader: ", stderr);
      Say(stderr, u8"Не удалось стереть заголовки!");
      return kExitRefused;
    }
    std::puts("Every block erased");
    return kExitOk;
  }
  int status = ConnectAndReadDirectory(s, false);
  if (status != kExitOk) return status;
  int entry = -1;
  if (!RowEntry(s, parsed.positional[1], entry, status)) return status;
  const DirEntry e = ReadEntry(s.directory, entry);
  if (!EraseEntry(s.port, s.directory, entry)) {
    std::fputs("lentar-cli loader: ", stderr);
    Say(stderr, u8"Не удалось стереть блок №", std::to_string(entry + 1) + "!");
    return kExitRefused;
  }
  std::printf("Erased row %s: ", parsed.positional[1].c_str());
  PrintCp1251(stdout, e.name);
  std::fputc('\n', stdout);
  return kExitOk;
}

int RunFormat(Session& s) {
  if (!Connect(s)) return NoAnswer(s);
  if (!FormatLoader(s.port, s.speedIndex, Progress())) {
    SetLoaderSpeed(s.port, kLoaderSpeedBack);
    return NoAnswer(s);
  }
  std::puts("Formatted: directory and passwords zeroed");
  return kExitOk;
}

int RunDefragment(Session& s) {
  if (int status = ConnectAndReadDirectory(s, false); status != kExitOk) return status;
  bool complete = false;
  if (!Defragment(s.port, s.directory, s.type(), s.speedIndex, Progress(), &complete))
    return NoAnswer(s);
  std::printf("Free bytes: %lld, in one gap from %u\n",
              static_cast<long long>(FreeSpace(s.directory, s.type())),
              static_cast<unsigned>(AllocateBlock(s.directory, s.type(), 1)));
  if (!complete) {
    std::fputs("lentar-cli loader: the blocks could not all be packed: a block that must move\n"
               "over its own place needs a free gap as large as itself\n", stderr);
    return kExitRefused;
  }
  return kExitOk;
}

int RunSetClock(Session& s) {
  if (!loader::CmdConnect(s.port)) return NoAnswer(s);
  if (!loader::CmdSetClock(s.port, LocalTimeNow())) return NoAnswer(s);
  BoardClock clock;
  if (!loader::CmdReadClock(s.port, clock)) return NoAnswer(s);
  std::printf("Clock: ");
  PrintCp1251(stdout, ClockText(clock));
  std::fputc('\n', stdout);
  return kExitOk;
}

int RunPasswords(Session& s, const TSettings& settings) {
  if (!Connect(s)) return NoAnswer(s);
  if (!WritePasswords(s.port, BuildPasswordArea(settings.Password))) {
    std::fputs("lentar-cli loader: ", stderr);
    Say(stderr, u8"Ошибка работы с загрузчиком!");
    return kExitRefused;
  }
  const auto set = std::count_if(settings.Password.begin(), settings.Password.end(),
                                 [](const std::string& p) { return !p.empty(); });
  std::printf("Passwords written (%td of 8 set)\n", set);
  return kExitOk;
}

// Usage errors are found before the port is touched.
int CheckCommand(const std::string& command, const ParsedArgs& parsed) {
  const size_t args = parsed.positional.size() - 1;
  const auto only = [&](std::initializer_list<const char*> allowed) {
    for (const auto& [name, value] : parsed.values) {
      if (name == "port" || name == "ini" || name == "speed") continue;
      if (std::find_if(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; }) ==
          allowed.end())
        return UsageError(kCommand, "--" + name + " does not go with " + command);
    }
    return static_cast<int>(kExitOk);
  };
  if (command == "write") {
    if (args != 1) return UsageError(kCommand, "write needs exactly one set or .bin image");
    if (int st = only({"name", "defragment", "font-height", "channels", "max-size"}); st != kExitOk)
      return st;
    CompileOptions options;
    TSettings defaults;
    DefaultSettings(defaults);
    int status = kExitOk;
    if (!ResolveCompileOptions(kCommand, parsed, defaults, options, status)) return status;
    return kExitOk;
  }
  if (command == "read") {
    if (args != 1) return UsageError(kCommand, "read needs exactly one ROW");
    if (!parsed.Has("o")) return UsageError(kCommand, "read needs -o FILE");
    return only({"o"});
  }
  if (command == "erase") {
    if (parsed.Has("all") ? args != 0 : args != 1)
      return UsageError(kCommand, "erase needs one ROW or --all");
    return only({"all"});
  }
  if (args != 0) return UsageError(kCommand, "unexpected '" + parsed.positional[1] + "'");
  return only({});
}

}  // namespace

int RunLoader(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(
      args,
      {{"port"}, {"ini"}, {"speed"}, {"name"}, {"defragment", 0, false}, {"o", 'o'},
       {"all", 0, false}, {"font-height"}, {"channels"}, {"max-size"}},
      error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.empty()) return UsageError(kCommand, "a command is needed");
  const std::string& command = parsed->positional[0];
  static const char* const kCommands[] = {"info",   "list",       "write",     "read",     "erase",
                                          "format", "defragment", "set-clock", "passwords"};
  if (std::find_if(std::begin(kCommands), std::end(kCommands),
                   [&](const char* c) { return command == c; }) == std::end(kCommands))
    return UsageError(kCommand, "unknown loader command '" + command + "'");
  if (int usage = CheckCommand(command, *parsed); usage != kExitOk) return usage;
  // A block read is never written over the settings file, refused before the
  // board is asked for anything.
  if (command == "read") {
    int status = kExitOk;
    if (RefuseReplacingInputs(kCommand, parsed->values.at("o"),
                              {{"the settings file", SettingsPathFor(*parsed)}}, status))
      return status;
  }
  std::optional<long long> speed;
  if (parsed->Has("speed")) {
    speed = ParseNumber(parsed->values.at("speed"), 0, 4);
    if (!speed)
      return UsageError(kCommand, "--speed must be a whole number in 0..4, not '" +
                                      parsed->values.at("speed") + "'");
  }

  LoadedSettings loaded;
  {
    int settingsStatus = kExitOk;
    if (!LoadSettingsToRead(kCommand, *parsed, loaded, settingsStatus)) return settingsStatus;
  }
  const std::string device = parsed->Has("port") ? PortDevice(parsed->values.at("port"))
                                                 : LoaderPortDevice(loaded.settings);
  if (device.empty()) return Refuse(kCommand, "no loader port is set (--port PORT)");

  // The port's line runs a Qt event loop in its own thread.
  int qtArgc = 1;
  char qtName[] = "lentar-cli";
  char* qtArgv[] = {qtName, nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  // The port's receive thread ends before the application object goes.
  const ProcessPortsRelease portsRelease;

  TSettings settings = loaded.settings;
  if (speed) settings.LdSpeed = static_cast<int32_t>(*speed);
  settings.I2CPortDevice = device;
  std::string openError;
  if (!OpenLoaderPortQuiet(openError, settings)) {
    std::fputs("lentar-cli loader: ", stderr);
    PrintCp1251(stderr, Utf8ToCp1251(u8"Ошибка коммуникационного порта!"));
    std::fprintf(stderr, " '%s': ", CliPath(device).c_str());
    PrintCp1251(stderr, openError);
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  Session s{LoaderPort(), device, LoaderSpeedIndex(settings), {}, {}};
  int status = kExitOk;
  if (command == "info") status = RunInfo(s);
  else if (command == "list") status = RunList(s);
  else if (command == "write") status = RunWrite(s, *parsed, settings);
  else if (command == "read") status = RunRead(s, *parsed);
  else if (command == "erase") status = RunErase(s, *parsed);
  else if (command == "format") status = RunFormat(s);
  else if (command == "defragment") status = RunDefragment(s);
  else if (command == "set-clock") status = RunSetClock(s);
  else status = RunPasswords(s, settings);
  CloseLoaderPort();
  return status;
}

}  // namespace lentar::cli
