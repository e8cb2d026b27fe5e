#include "cli/cli_common.h"

#ifdef _WIN32
#include <io.h>
#define LENTAR_ISATTY(fd) _isatty(fd)
#define LENTAR_FILENO(f) _fileno(f)
#else
#include <signal.h>
#include <unistd.h>
#define LENTAR_ISATTY(fd) isatty(fd)
#define LENTAR_FILENO(f) fileno(f)
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <filesystem>
#include <string>
#include <system_error>

#include "comm/portname.h"
#include "core/atomicfile.h"
#include "core/paths.h"
#include "core/textutil.h"

namespace lentar::cli {

namespace {

const OptionDef* FindLong(std::initializer_list<OptionDef> options, std::string_view name) {
  for (const OptionDef& o : options)
    if (o.name == name) return &o;
  return nullptr;
}

const OptionDef* FindShort(std::initializer_list<OptionDef> options, char c) {
  for (const OptionDef& o : options)
    if (o.shortName != 0 && o.shortName == c) return &o;
  return nullptr;
}

}  // namespace

std::optional<ParsedArgs> ParseOptions(const Args& args, std::initializer_list<OptionDef> options,
                                       std::string& error) {
  ParsedArgs parsed;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    const OptionDef* def = nullptr;
    std::optional<std::string> inlineValue;
    if (arg[1] == '-') {
      std::string_view body = std::string_view(arg).substr(2);
      const size_t eq = body.find('=');
      if (eq != std::string_view::npos) {
        inlineValue = std::string(body.substr(eq + 1));
        body = body.substr(0, eq);
      }
      def = FindLong(options, body);
    } else if (arg.size() == 2) {
      def = FindShort(options, arg[1]);
    }
    if (def == nullptr) {
      error = "неизвестный параметр '" + arg + "'";
      return std::nullopt;
    }
    const std::string name(def->name);
    std::string value;
    if (def->takesValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        error = "параметру '" + arg + "' нужно значение";
        return std::nullopt;
      }
    } else if (inlineValue) {
      error = "параметр '--" + name + "' не принимает значения";
      return std::nullopt;
    }
    if (parsed.Has(name) && !def->repeatable) {
      error = "параметр '--" + name + "' указан дважды";
      return std::nullopt;
    }
    parsed.values[name] = value;
    if (def->repeatable) parsed.lists[name].push_back(value);
  }
  return parsed;
}

namespace {

// The flag Ctrl+C (and SIGTERM, SIGHUP) sets. A handler may only touch
// lock-free atomics, so it reaches the flag through a plain pointer set
// before the handler is.
comm::StopFlag* interruptTarget = nullptr;
std::atomic<int> stopSignal{0};  // the first stop signal received
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
  int none = 0;
  stopSignal.compare_exchange_strong(none, signal);
  if (interruptTarget) interruptTarget->Request();
  // SA_RESETHAND: the same signal again ends the program at once, as a
  // terminal user expects when the first seems unheard.
}

}  // namespace

comm::StopFlagPtr InterruptStopFlag() {
  static const comm::StopFlagPtr flag = [] {
    auto made = std::make_shared<comm::StopFlag>();
    interruptTarget = made.get();
#ifdef _WIN32
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#else
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
    return made;
  }();
  return flag;
}

int StopSignal() { return stopSignal.load(); }

int ExitStatusAfterStop(int status) {
  const int signal = stopSignal.load();
  if (status == kExitInterrupted && signal != 0) return 128 + signal;
  return status;
}

std::optional<long long> ParseNumber(std::string_view text, long long lo, long long hi) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 18) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

int UsageError(std::string_view command, std::string_view message) {
  std::fprintf(stderr, "lentar-cli %.*s: %.*s\nСправка: 'lentar-cli %.*s --help'.\n",
               static_cast<int>(command.size()), command.data(), static_cast<int>(message.size()),
               message.data(), static_cast<int>(command.size()), command.data());
  return kExitUsage;
}

int Refuse(std::string_view command, std::string_view message) {
  std::fprintf(stderr, "lentar-cli %.*s: %.*s\n", static_cast<int>(command.size()),
               command.data(), static_cast<int>(message.size()), message.data());
  return kExitRefused;
}

void PrintCp1251(std::FILE* out, std::string_view text) {
  const std::string utf8 = Cp1251ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), out);
}

std::string CorePath(const std::string& cliPath) { return FromNativeArgument(cliPath.c_str()); }

std::string CliPath(const std::string& corePath) { return FromNativePath(NativePath(corePath)); }

std::string SettingsPathFor(const ParsedArgs& parsed) {
  auto it = parsed.values.find("ini");
  return it != parsed.values.end() ? it->second : CliPath(SettingsFilePath());
}

LoadedSettings LoadSettings(const std::string& path) {
  LoadedSettings loaded;
  loaded.path = path;
  bool valuesOk = true;
  loaded.state = ReadSettingsFile(loaded.settings, CorePath(path), &valuesOk);
  loaded.ok = valuesOk && (loaded.state == SettingsFileState::Read ||
                           loaded.state == SettingsFileState::Missing);
  return loaded;
}

std::string SettingsProblem(const LoadedSettings& loaded) {
  const std::string where = "'" + loaded.path + "'";
  switch (loaded.state) {
    case SettingsFileState::Missing: return where + " не существует";
    case SettingsFileState::Unreadable:
      return where + " не читается (или больше " + std::to_string(kMaxSettingsFileSize) + " " +
             RussianCountForm(kMaxSettingsFileSize, "байта", "байт", "байт") + ")";
    case SettingsFileState::NoSection:
      return where + " не содержит читаемого раздела [Settings] (повреждён)";
    case SettingsFileState::Read: break;
  }
  return where + " содержит повреждённые значения";
}

bool LoadSettingsToRead(std::string_view command, const ParsedArgs& parsed,
                        LoadedSettings& loaded, int& exitCode) {
  loaded = LoadSettings(SettingsPathFor(parsed));
  loaded.explicitPath = parsed.Has("ini");
  if (loaded.explicitPath && (loaded.state == SettingsFileState::Missing ||
                              loaded.state == SettingsFileState::Unreadable)) {
    exitCode = Refuse(command, "файл настроек " + SettingsProblem(loaded));
    return false;
  }
  if (!loaded.ok)
    std::fprintf(stderr, "lentar-cli %.*s: предупреждение: %s; для непрочитанного взяты значения по умолчанию\n",
                 static_cast<int>(command.size()), command.data(), SettingsProblem(loaded).c_str());
  return true;
}

bool RefuseReplacingInputs(std::string_view command, const std::string& outPath,
                           std::initializer_list<std::pair<const char*, std::string>> inputs,
                           int& exitCode) {
  for (const auto& [what, path] : inputs) {
    if (path.empty() || !IsSameFile(outPath, path)) continue;
    exitCode = UsageError(command, "вывод '" + outPath + "' заменил бы " + what + " '" + path +
                                       "'; укажите другой файл вывода");
    return true;
  }
  return false;
}

bool ResolveCompileOptions(std::string_view command, const ParsedArgs& parsed,
                           const TSettings& settings, CompileOptions& options, int& exitCode) {
  options.fontHeight = settings.DefFontHeight;
  options.channels = settings.ColorChannelCount;
  options.maxSize = settings.OutDataSize > 0 ? static_cast<size_t>(settings.OutDataSize) : 0;
  struct NumberOption {
    const char* name;
    long long lo, hi;
  };
  static constexpr NumberOption kNumbers[] = {
      {"font-height", 1, 4}, {"channels", 1, 8}, {"max-size", 0, 2147483647}};
  for (const NumberOption& n : kNumbers) {
    auto it = parsed.values.find(n.name);
    if (it == parsed.values.end()) continue;
    const std::optional<long long> value = ParseNumber(it->second, n.lo, n.hi);
    if (!value) {
      exitCode = UsageError(command, "--" + std::string(n.name) + " должен быть целым числом " +
                                         std::to_string(n.lo) + ".." + std::to_string(n.hi) +
                                         ", а не '" + it->second + "'");
      return false;
    }
    const std::string_view name = n.name;
    if (name == "font-height") options.fontHeight = static_cast<int>(*value);
    if (name == "channels") options.channels = static_cast<int>(*value);
    if (name == "max-size") options.maxSize = static_cast<size_t>(*value);
  }
  return true;
}

bool ResolveSetAndOutput(std::string_view command, const ParsedArgs& parsed,
                         std::string_view defaultExtension, std::string& setPath,
                         std::string& outPath, int& exitCode) {
  if (parsed.positional.size() != 1) {
    exitCode = UsageError(command, parsed.positional.empty() ? "не указан файл набора"
                                                            : "указано больше одного файла набора");
    return false;
  }
  setPath = parsed.positional[0];
  const auto out = parsed.values.find("output");
  outPath = out != parsed.values.end() ? out->second : ChangeExtension(setPath, defaultExtension);
  if (IsSameFile(outPath, setPath)) {
    exitCode =
        UsageError(command, "вывод '" + outPath + "' заменил бы файл набора; укажите -o");
    return false;
  }
  return true;
}

bool CompileSetFile(std::string_view command, const std::string& setPath,
                    const CompileOptions& options, CompileResult& compiled, int& exitCode) {
  std::string text;
  if (!ReadInputFile(command, setPath, text, exitCode)) return false;
  compiled = CompileBoardData(text, options.fontHeight, options.channels, options.maxSize);
  if (!compiled.ok) {
    PrintCp1251(stderr, DataSizeMessage(compiled.length()));
    std::fputc('\n', stderr);
    PrintCp1251(stderr, Utf8ToCp1251(u8"Наибольший размер: ") + std::to_string(options.maxSize) +
                            Utf8ToCp1251(u8" байт (OutDataSize в файле настроек или --max-size)."));
    std::fputc('\n', stderr);
    exitCode = kExitRefused;
    return false;
  }
  return true;
}

bool ReadInputFile(std::string_view command, const std::string& path, std::string& bytes,
                   int& exitCode, size_t cap) {
  switch (ReadFileCapped(CorePath(path), cap, bytes)) {
    case ReadOutcome::Ok: return true;
    case ReadOutcome::TooLarge:
      exitCode = Refuse(command, "'" + path + "' слишком велик: больше " + std::to_string(cap) + " " +
                                     RussianCountForm(static_cast<long long>(cap), "байта", "байт", "байт"));
      return false;
    case ReadOutcome::Failed: break;
  }
  exitCode = Refuse(command, "не удаётся прочитать '" + path + "'");
  return false;
}

std::string ErrnoReason() {
  const int error = errno;
  return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

bool WriteOutputFile(std::string_view command, const std::string& path, std::string_view bytes,
                     int& exitCode) {
  errno = 0;
  if (!WriteFileAtomically(CorePath(path), bytes)) {
    exitCode = Refuse(command, "не удаётся записать '" + path + "'" + ErrnoReason());
    return false;
  }
  return true;
}

bool StderrIsTerminal() {
  static const bool terminal = LENTAR_ISATTY(LENTAR_FILENO(stderr)) != 0;
  return terminal;
}

// A progress bar on standard error. On a terminal it is redrawn in place for
// every percent; into a file or a pipe (a log) only the finished bar is
// written, as one line.
void DrawProgress(int percent) {
  static bool finished = false;
  percent = std::clamp(percent, 0, 100);
  const bool terminal = StderrIsTerminal();
  if (percent < 100) {
    finished = false;
    if (!terminal) return;
  } else if (finished) {
    return;  // the bar of this run is complete already
  } else {
    finished = true;
  }
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "%s[%s%s] %3d%%", terminal ? "\r" : "",
               std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent);
  if (percent >= 100) std::fputc('\n', stderr);
  std::fflush(stderr);
}

std::string CommandLineText(const std::string& argument) {
  return FromNativeArgument(argument.c_str());
}

// The device to open: a network port (socket://HOST:PORT, rfc2217://HOST:PORT)
// and a Windows name (COMn) are taken as they are; a path given on the
// command line (anything with a separator, or a file that exists here) is
// made absolute; a bare name such as ttyUSB0 is left to the system, which
// looks it up among its devices.
std::string PortDevice(const std::string& cliPath) {
  if (comm::IsNetworkPortName(cliPath) || comm::SystemDeviceOfComName(cliPath)) return cliPath;
  std::error_code ec;
  const std::filesystem::path native = NativePath(CorePath(cliPath));
  if (cliPath.find('/') != std::string::npos || std::filesystem::exists(native, ec))
    return FromNativePath(std::filesystem::absolute(native, ec));
  return CorePath(cliPath);
}

bool IsSameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

}  // namespace lentar::cli

namespace lentar::cli {

std::unique_ptr<fleet::LineUse> TakeLine(std::string_view command, const ParsedArgs& parsed,
                                         const TSettings& settings, const std::string& device,
                                         int& exitCode) {
  fleet::LineUseOptions options;
  options.registerAddress =
      parsed.Has("db") ? CorePath(parsed.values.at("db")) : settings.FleetDatabase;
  options.wait = !parsed.Has("no-wait");
  const comm::StopFlagPtr stop = InterruptStopFlag();
  std::string why;
  bool busy = false;
  auto use = fleet::LineUse::Take(
      CorePath(device), options, stop,
      [&](const std::string& text) {
        std::fprintf(stderr, "lentar-cli %.*s: ", static_cast<int>(command.size()), command.data());
        PrintCp1251(stderr, text + Utf8ToCp1251(u8"; ожидание"));
        std::fputc('\n', stderr);
      },
      why, busy);
  if (use) return use;
  if (why.empty()) {
    std::fprintf(stderr, "lentar-cli %.*s: ", static_cast<int>(command.size()), command.data());
    PrintCp1251(stderr, comm::InterruptedText());
    std::fputc('\n', stderr);
    exitCode = kExitInterrupted;
  } else {
    std::fprintf(stderr, "lentar-cli %.*s: ", static_cast<int>(command.size()), command.data());
    PrintCp1251(stderr, why);
    std::fputc('\n', stderr);
    exitCode = kExitRefused;
  }
  return nullptr;
}

}  // namespace lentar::cli
