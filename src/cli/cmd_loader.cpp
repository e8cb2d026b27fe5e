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
#include "comm/loaderflows.h"
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
      "Использование: lentar-cli loader [--port ПОРТ] [--ini ФАЙЛ] [--speed 0..4]\n"
      "                         [--no-wait] [--db АДРЕС] КОМАНДА\n"
      "\n"
      "Команды:\n"
      "  info                          тип и размер памяти, размер страницы, свободные\n"
      "                                байты, часы (загрузчик без памяти данных: тип\n"
      "                                и часы, затем отказ, код 1)\n"
      "  list                          блоки: номер строки, имя, размер, начальный адрес\n"
      "  write НАБОР|ОБРАЗ.bin [--name ИМЯ] [--defragment]\n"
      "                                сохранить новым блоком (первое подходящее место);\n"
      "                                когда ни один промежуток не подходит, --defragment\n"
      "                                сначала упаковывает блоки, иначе код 1 и ничего\n"
      "                                не меняется\n"
      "  read СТРОКА -o ФАЙЛ           сохранить блок СТРОКИ (строки списка с 1) в файл\n"
      "  erase СТРОКА | erase --all    стереть одну запись каталога / весь каталог\n"
      "  format                        обнулить каталог и пароли\n"
      "  defragment                    упаковать блоки вплотную\n"
      "  set-clock                     поставить часы загрузчика по часам компьютера\n"
      "  passwords                     записать в загрузчик восемь сохранённых паролей\n"
      "                                (Password1..8)\n"
      "\n"
      "  --port ПОРТ      порт загрузчика (по умолчанию: порт загрузчика из настроек):\n"
      "                   устройство, COMn, socket://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ\n"
      "  --speed N        скорость передачи 0..4: 9600, 19200, 28800, 38400, 57600 бит/с\n"
      "                   (по умолчанию: LdSpeed)\n"
      "  --name ИМЯ       имя блока, до 15 символов (по умолчанию: имя файла)\n"
      "%s%s"
      "\n"
      "Список печатает блок на строку: номер строки, имя, размер и начальный адрес,\n"
      "через табуляцию.\n"
      "\n"
      "Код выхода: 0 выполнено, 1 отказ (порт, загрузчик или входные данные),\n"
      "2 ошибка вызова, 130 прервано (Ctrl+C; 143 SIGTERM, 129 SIGHUP): работа\n"
      "остановлена там, где каталог загрузчика цел, загрузчик возвращён на\n"
      "базовую скорость.\n"
      "\n"
      "Линия (порт) занимается на всё время команды, как при доставке: пока ею\n"
      "пользуется другая программа, команда ждёт.\n",
      kCompileOptionsHelp, kLineLockHelp);
}

struct Session {
  LoaderSession& loader;
  std::string device;
  LoaderOptions options;
  LoaderContents contents;
  int type() const { return contents.memoryType; }
  const LoaderDirectory& directory() const { return contents.directory; }
};

// A flow that did not finish: its text as the loader window shows it (a
// loader that does not answer names the port), and the exit status: 130 for
// work stopped by Ctrl+C.
int Failure(const Session& s, const LoaderResult& result, const std::string& tail = {}) {
  std::fputs("lentar-cli loader: ", stderr);
  PrintCp1251(stderr, result.text);
  if (result.outcome == LoaderOutcome::NoConnection)
    std::fputs((" ('" + CliPath(s.device) + "')").c_str(), stderr);
  std::fputs(tail.c_str(), stderr);
  std::fputc('\n', stderr);
  return result.outcome == LoaderOutcome::Interrupted ? kExitInterrupted : kExitRefused;
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

std::string Bytes(long long n) { return std::to_string(n) + " " + RussianCountForm(n, "байт", "байта", "байт"); }

std::string ClockText(const BoardClock& c) {
  return FormatClockTime(c.hour, c.minute, c.second, false, true) + " " +
         FormatDotDate(TDateRec{c.day, c.month, c.year}, false);
}

// A command outside the flows that the loader did not answer.
LoaderResult NoAnswer() {
  LoaderResult result;
  result.text = LoaderOutcomeText(result.outcome = LoaderOutcome::NoConnection);
  return result;
}

// A loader without data memory, as the loader window says it.
LoaderResult NoDataMemory() {
  LoaderResult result;
  result.text = LoaderOutcomeText(result.outcome = LoaderOutcome::NoDataMemory);
  result.connected = true;
  return result;
}

// A loader whose memory type tells of no data memory is sent no memory
// command: what it told is printed (its clock too), then the loader window's
// message, as a refusal.
int RunInfo(Session& s) {
  if (LoaderResult r = ConnectToLoader(s.loader, s.contents); !r.Done()) return Failure(s, r);
  const int type = s.type();
  const bool memory = MemorySize(type) > 0;
  if (memory) {
    if (LoaderResult r = ListLoaderBlocks(s.loader, s.options, {}, s.contents); !r.Done())
      return Failure(s, r);
  }
  std::printf("Тип памяти: %d\n", type);
  std::printf("Размер памяти: %lld\n", static_cast<long long>(MemorySize(type)));
  if (memory) {
    std::printf("Размер страницы: %d\n", s.loader.PageSize);
    std::printf("Блоков: %zu\n", BlockEntries(s.directory()).size());
    std::printf("Свободно байт: %lld\n", static_cast<long long>(FreeSpace(s.directory(), type)));
  }
  BoardClock clock;
  if (!loader::CmdReadClock(s.loader, clock)) return Failure(s, NoAnswer());
  std::printf("Часы: ");
  PrintCp1251(stdout, ClockText(clock));
  std::fputc('\n', stdout);
  if (!memory) {
    std::fflush(stdout);
    return Failure(s, NoDataMemory());
  }
  return kExitOk;
}

int RunList(Session& s) {
  if (LoaderResult r = ListLoaderBlocks(s.loader, s.options, {}, s.contents); !r.Done())
    return Failure(s, r);
  int row = 0;
  for (int entry : BlockEntries(s.directory())) {
    const DirEntry e = ReadEntry(s.directory(), entry);
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
  if (image.empty()) return Refuse(kCommand, "в '" + source + "' нечего сохранять");
  if (image.size() > kMaxLoaderBlock)
    return Refuse(kCommand, "в образе " + Bytes(static_cast<long long>(image.size())) +
                                "; блок загрузчика вмещает не больше " +
                                std::to_string(kMaxLoaderBlock));

  LoaderOptions options = s.options;
  options.optimise = parsed.Has("defragment");
  const std::string name = BlockName(parsed, source);
  const LoaderResult r = StoreLoaderBlock(s.loader, options, image, name, Progress(), s.contents);
  switch (r.outcome) {
    case LoaderOutcome::Done: break;
    case LoaderOutcome::NoRoom:
      return Failure(s, r, " (" + Bytes(static_cast<long long>(image.size())) + "; свободно " +
                               std::to_string(FreeSpace(s.directory(), s.type())) + ")");
    case LoaderOutcome::NoFittingGap:
      return Failure(s, r, " (--defragment сначала упаковывает блоки)");
    default: return Failure(s, r);
  }
  const std::vector<int> rows = BlockEntries(s.directory());
  const auto row = std::find(rows.begin(), rows.end(), r.slot) - rows.begin() + 1;
  std::printf("Сохранено строкой %td: ", row);
  PrintCp1251(stdout, name);
  std::printf(", %zu %s с адреса %u\n", image.size(),
              RussianCountForm(static_cast<long long>(image.size()), "байт", "байта", "байт"),
              r.address);
  return kExitOk;
}

// ROW as a data row of the list, or a refusal.
bool RowEntry(Session& s, const std::string& text, int& entry, int& status) {
  const auto row = ParseNumber(text, 1, kLoaderEntryCount);
  const std::vector<int> rows = BlockEntries(s.directory());
  if (!row || *row > static_cast<long long>(rows.size())) {
    status = Refuse(kCommand, "в загрузчике нет строки " + text + " (блоков в нём: " +
                                  std::to_string(rows.size()) + ")");
    return false;
  }
  entry = rows[static_cast<size_t>(*row - 1)];
  return true;
}

int RunRead(Session& s, const ParsedArgs& parsed) {
  if (LoaderResult r = ListLoaderBlocks(s.loader, s.options, {}, s.contents); !r.Done())
    return Failure(s, r);
  int status = kExitOk;
  int entry = -1;
  if (!RowEntry(s, parsed.positional[1], entry, status)) return status;
  const DirEntry e = ReadEntry(s.directory(), entry);
  std::vector<uint8_t> data;
  if (LoaderResult r = ReadLoaderBlock(s.loader, s.options, entry, Progress(), s.contents, data);
      !r.Done())
    return Failure(s, r);
  const std::string out = parsed.values.at("o");
  if (!WriteOutputFile(kCommand, out, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                       status))
    return status;
  std::printf("%u %s блока ", static_cast<unsigned>(e.size),
              RussianCountForm(e.size, "байт", "байта", "байт"));
  PrintCp1251(stdout, e.name);
  std::printf(" записаны в %s\n", out.c_str());
  return kExitOk;
}

int RunErase(Session& s, const ParsedArgs& parsed) {
  if (parsed.Has("all")) {
    if (LoaderResult r = EraseAllLoaderEntries(s.loader, s.options, {}, s.contents); !r.Done())
      return Failure(s, r);
    std::puts("Все блоки стёрты");
    return kExitOk;
  }
  if (LoaderResult r = ListLoaderBlocks(s.loader, s.options, {}, s.contents); !r.Done())
    return Failure(s, r);
  int status = kExitOk;
  int entry = -1;
  if (!RowEntry(s, parsed.positional[1], entry, status)) return status;
  const DirEntry e = ReadEntry(s.directory(), entry);
  if (LoaderResult r = EraseLoaderEntry(s.loader, entry, s.contents); !r.Done()) return Failure(s, r);
  std::printf("Стёрта строка %s: ", parsed.positional[1].c_str());
  PrintCp1251(stdout, e.name);
  std::fputc('\n', stdout);
  return kExitOk;
}

int RunFormat(Session& s) {
  if (LoaderResult r = FormatLoaderMemory(s.loader, s.options, Progress(), s.contents); !r.Done())
    return Failure(s, r);
  std::puts("Отформатировано: каталог и пароли обнулены");
  return kExitOk;
}

int RunDefragment(Session& s) {
  const LoaderResult r = DefragmentLoader(s.loader, s.options, Progress(), s.contents);
  if (r.outcome == LoaderOutcome::Done || r.outcome == LoaderOutcome::PackingStopped) {
    // The free places as they are after the packing: one gap when it went
    // through, the pieces that are left when it had to stop.
    PrintCp1251(stdout, Utf8ToCp1251(FreeGapsText(FreeGaps(s.directory(), s.type()))));
    std::fputc('\n', stdout);
  }
  return r.Done() ? kExitOk : Failure(s, r);
}

int RunSetClock(Session& s) {
  if (!loader::CmdConnect(s.loader)) return Failure(s, NoAnswer());
  if (!loader::CmdSetClock(s.loader, LocalTimeNow())) return Failure(s, NoAnswer());
  BoardClock clock;
  if (!loader::CmdReadClock(s.loader, clock)) return Failure(s, NoAnswer());
  std::printf("Часы: ");
  PrintCp1251(stdout, ClockText(clock));
  std::fputc('\n', stdout);
  return kExitOk;
}

int RunPasswords(Session& s, const TSettings& settings) {
  if (LoaderResult r = ConnectToLoader(s.loader, s.contents); !r.Done()) return Failure(s, r);
  // The passwords live in the loader's memory: a loader without data memory
  // is sent no memory command.
  if (MemorySize(s.type()) == 0) {
    return Failure(s, NoDataMemory());
  }
  if (!WritePasswords(s.loader, BuildPasswordArea(settings.Password))) {
    std::fputs("lentar-cli loader: ", stderr);
    PrintCp1251(stderr, Utf8ToCp1251(u8"Ошибка работы с загрузчиком!"));
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  const auto set = std::count_if(settings.Password.begin(), settings.Password.end(),
                                 [](const std::string& p) { return !p.empty(); });
  std::printf("Пароли записаны (заданы %td из 8)\n", set);
  return kExitOk;
}

// Usage errors are found before the port is touched.
int CheckCommand(const std::string& command, const ParsedArgs& parsed) {
  const size_t args = parsed.positional.size() - 1;
  const auto only = [&](std::initializer_list<const char*> allowed) {
    for (const auto& [name, value] : parsed.values) {
      if (name == "port" || name == "ini" || name == "speed" || name == "no-wait" || name == "db")
        continue;
      if (std::find_if(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; }) ==
          allowed.end())
        return UsageError(kCommand, "--" + name + " не применяется с " + command);
    }
    return static_cast<int>(kExitOk);
  };
  if (command == "write") {
    if (args != 1) return UsageError(kCommand, "для write нужен ровно один набор или образ .bin");
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
    if (args != 1) return UsageError(kCommand, "для read нужна ровно одна СТРОКА");
    if (!parsed.Has("o")) return UsageError(kCommand, "для read нужен -o ФАЙЛ");
    return only({"o"});
  }
  if (command == "erase") {
    if (parsed.Has("all") ? args != 0 : args != 1)
      return UsageError(kCommand, "для erase нужна одна СТРОКА или --all");
    return only({"all"});
  }
  if (args != 0) return UsageError(kCommand, "лишний аргумент '" + parsed.positional[1] + "'");
  return only({});
}

}  // namespace

int RunLoader(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(
      args,
      {{"port"}, {"ini"}, {"speed"}, {"name"}, {"defragment", 0, false}, {"o", 'o'},
       {"all", 0, false}, {"font-height"}, {"channels"}, {"max-size"}, {"no-wait", 0, false},
       {"db"}},
      error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.empty()) return UsageError(kCommand, "нужна команда");
  const std::string& command = parsed->positional[0];
  static const char* const kCommands[] = {"info",   "list",       "write",     "read",     "erase",
                                          "format", "defragment", "set-clock", "passwords"};
  if (std::find_if(std::begin(kCommands), std::end(kCommands),
                   [&](const char* c) { return command == c; }) == std::end(kCommands))
    return UsageError(kCommand, "неизвестная команда загрузчика '" + command + "'");
  if (int usage = CheckCommand(command, *parsed); usage != kExitOk) return usage;
  // A block read is never written over the settings file, refused before the
  // board is asked for anything.
  if (command == "read") {
    int status = kExitOk;
    if (RefuseReplacingInputs(kCommand, parsed->values.at("o"),
                              {{"файл настроек", SettingsPathFor(*parsed)}}, status))
      return status;
  }
  std::optional<long long> speed;
  if (parsed->Has("speed")) {
    speed = ParseNumber(parsed->values.at("speed"), 0, 4);
    if (!speed)
      return UsageError(kCommand, "--speed должен быть целым числом 0..4, а не '" +
                                      parsed->values.at("speed") + "'");
  }

  LoadedSettings loaded;
  {
    int settingsStatus = kExitOk;
    if (!LoadSettingsToRead(kCommand, *parsed, loaded, settingsStatus)) return settingsStatus;
  }
  const std::string device = parsed->Has("port") ? PortDevice(parsed->values.at("port"))
                                                 : LoaderPortDevice(loaded.settings);
  if (device.empty()) return Refuse(kCommand, "порт загрузчика не задан (--port ПОРТ)");

  // The port's line runs a Qt event loop in its own thread.
  int qtArgc = 1;
  char qtName[] = "lentar-cli";
  char* qtArgv[] = {qtName, nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  // One program on the line, as a delivery takes it: held until the line is
  // closed, whatever ends the command.
  int lockStatus = kExitOk;
  const auto lineUse = TakeLine(kCommand, *parsed, loaded.settings, device, lockStatus);
  if (!lineUse) return lockStatus;
  // The loader's session: its line's receive thread ends before the
  // application object goes.
  LoaderSession loaderSession;
  // Ctrl+C stops the work at its next safe point; the line is closed and the
  // command exits with 130.
  loaderSession.ShareStop(lineUse->Stop());

  TSettings settings = loaded.settings;
  if (speed) settings.LdSpeed = static_cast<int32_t>(*speed);
  settings.I2CPortDevice = device;
  std::string openError;
  if (!OpenLoaderPortQuiet(loaderSession, openError, settings)) {
    std::fputs("lentar-cli loader: ", stderr);
    PrintCp1251(stderr, Utf8ToCp1251(u8"Ошибка коммуникационного порта!"));
    std::fprintf(stderr, " '%s': ", CliPath(device).c_str());
    PrintCp1251(stderr, openError);
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  Session s{loaderSession, device, {}, {}};
  s.options.speedIndex = LoaderSpeedIndex(settings);
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
  CloseLoaderPort(loaderSession);
  return status;
}

}  // namespace lentar::cli
