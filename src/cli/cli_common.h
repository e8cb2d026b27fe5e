// Shared pieces of the lentar-cli subcommands: option parsing, number
// options, terminal output and the settings file.
//
// Files are read and written as bytes; texts of the board and of the program's
// own messages are Windows-1251 and go to the terminal converted to UTF-8.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "comm/stopflag.h"
#include "core/setfile.h"
#include "core/settings.h"
#include "fleet/lineuse.h"
#include "markup/compiler.h"

namespace lentar::cli {

// One option a subcommand accepts: "--name VALUE", "--name=VALUE", and the
// one-letter form "-x VALUE" when shortName is set.
struct OptionDef {
  std::string_view name;  // without the leading "--"
  char shortName = 0;
  bool takesValue = true;
  bool repeatable = false;  // may be given several times (every value kept)
};

struct ParsedArgs {
  bool help = false;                          // --help or -h was given
  std::vector<std::string> positional;        // in order
  std::map<std::string, std::string> values;  // option name -> last value given
  // Every value of a repeatable option, in order.
  std::map<std::string, std::vector<std::string>> lists;
  bool Has(const std::string& name) const { return values.count(name) != 0; }
};

// Parses args against options; "--" ends the options. On an unknown option, a
// missing value or a repeated option that is not repeatable returns nullopt
// and sets error.
std::optional<ParsedArgs> ParseOptions(const Args& args, std::initializer_list<OptionDef> options,
                                       std::string& error);

// A whole decimal number in lo..hi (no sign other than a leading "-", no
// blanks, no other bytes).
std::optional<long long> ParseNumber(std::string_view text, long long lo, long long hi);

// The stop flag of this run's device work. The first call routes Ctrl+C
// (SIGINT), SIGTERM (a service manager, kill) and SIGHUP (the terminal
// closed) to it: the command's sessions share the flag (ShareStop), so the
// work ends at its next safe point, the line is closed and given back, a
// modem hung up and the log rows closed, and the command exits with
// kExitInterrupted, which main turns into 128 + the signal (130 for SIGINT,
// 143 for SIGTERM, 129 for SIGHUP). The same signal a second time ends the
// program at once, as a terminal user expects when the first seems unheard.
comm::StopFlagPtr InterruptStopFlag();
// The first stop signal received (0: none).
int StopSignal();
// A command's exit status after a stop: kExitInterrupted becomes 128 + the
// signal that stopped the work.
int ExitStatusAfterStop(int status);

// Prints "lentar-cli COMMAND: message" and a pointer to --help on stderr;
// returns kExitUsage.
int UsageError(std::string_view command, std::string_view message);
// Prints "lentar-cli COMMAND: message" on stderr; returns kExitRefused.
int Refuse(std::string_view command, std::string_view message);

// File names on the command line are the terminal's text (UTF-8) and stay so
// inside the command; the engine names files in Windows-1251, so every path
// handed to it goes through CorePath, and every path it hands back through
// CliPath.
std::string CorePath(const std::string& cliPath);
// Board text taken from the command line (a password, a block name, a text to
// render) in the program's Windows-1251, by the same conversion as paths;
// lentar-boardsim converts its own arguments the same way.
std::string CommandLineText(const std::string& argument);
std::string CliPath(const std::string& corePath);

// Writes Windows-1251 text to a terminal stream as UTF-8.
void PrintCp1251(std::FILE* out, std::string_view text);

// The settings file a subcommand works with: --ini when given, else the
// program's own lentar.ini.
std::string SettingsPathFor(const ParsedArgs& parsed);

// Reads the settings from path. ok is false when the file exists but could not
// be read whole, or holds no "Settings" section; the record then holds the
// defaults for what was not read. explicitPath: the path came from --ini.
struct LoadedSettings {
  TSettings settings;
  std::string path;
  bool ok = false;
  bool explicitPath = false;
  SettingsFileState state = SettingsFileState::Missing;
};
LoadedSettings LoadSettings(const std::string& path);
// What is wrong with a settings file that was not ok, for a message.
std::string SettingsProblem(const LoadedSettings& loaded);
// The settings of a command that only reads them: an --ini that does not
// exist or cannot be read (or is far too large) is refused (exit 1: a
// mistyped name must not silently mean the defaults); a damaged file is
// reported on stderr and the defaults are used.
bool LoadSettingsToRead(std::string_view command, const ParsedArgs& parsed,
                        LoadedSettings& loaded, int& exitCode);

// Upper bounds of what the commands read, far above anything sound: a set
// file (text with its tags, kMaxSetFileSize), and a board data image or
// loader block.
inline constexpr size_t kMaxImageFileSize = size_t{1} << 20;

// Refuses (usage error) an output that would replace one of the files the
// command reads: each input is a (what, path) pair such as ("the set file",
// "a.txt"); links and other names of the same file count.
bool RefuseReplacingInputs(std::string_view command, const std::string& outPath,
                           std::initializer_list<std::pair<const char*, std::string>> inputs,
                           int& exitCode);

// The compile parameters of a set: font height, colour channels and size limit
// from the settings, each replaced by its option (--font-height,
// --channels, --max-size) when given. Returns false after printing a usage
// error for an option out of range (status in exitCode).
struct CompileOptions {
  int fontHeight = 1;
  int channels = 1;
  size_t maxSize = 4096;
};
bool ResolveCompileOptions(std::string_view command, const ParsedArgs& parsed,
                           const TSettings& settings, CompileOptions& options, int& exitCode);

// The one set file of compile and gprs and the file their result goes to: -o
// OUT, else the set file's name with defaultExtension. Refuses (usage error)
// a missing or second set file and an output that would replace the set.
bool ResolveSetAndOutput(std::string_view command, const ParsedArgs& parsed,
                         std::string_view defaultExtension, std::string& setPath,
                         std::string& outPath, int& exitCode);
// Reads the set file and compiles it as the editor does. An image over the
// size limit prints the size message and refuses.
bool CompileSetFile(std::string_view command, const std::string& setPath,
                    const CompileOptions& options, CompileResult& compiled, int& exitCode);

// ": " and the system's text for errno, or nothing when errno is 0.
std::string ErrnoReason();

// Reads a whole input file of at most cap bytes, or prints why not and sets
// exitCode to kExitRefused.
bool ReadInputFile(std::string_view command, const std::string& path, std::string& bytes,
                   int& exitCode, size_t cap = kMaxSetFileSize);
// Replaces path with bytes (a temporary file renamed over it), or prints why
// not and sets exitCode to kExitRefused.
bool WriteOutputFile(std::string_view command, const std::string& path, std::string_view bytes,
                     int& exitCode);

// True when standard error is a terminal (not a file or a pipe).
bool StderrIsTerminal();
// A progress bar on standard error: on a terminal redrawn in place for every
// percent given, with a new line after 100; otherwise only the complete bar,
// once, when 100 is reached.
void DrawProgress(int percent);

// The serial device to open for a --port value: a path given on the command
// line (anything with a separator, or a file that exists here) is made
// absolute; a bare name such as ttyUSB0 is left to the system.
std::string PortDevice(const std::string& cliPath);

// True when both paths name the same existing file (or are the same text), so
// that an output never replaces the input it was made from.
bool IsSameFile(const std::string& a, const std::string& b);

// Takes the lock of the line device before the command opens it, the same
// lock a fleet delivery or status sweep takes for the line's turn (through
// the shared register's lease when --db or FleetDatabase names a register on
// a server that holds a board on the line). A busy line is said on stderr
// ("Линия занята: ...") and waited for, unless --no-wait is given: then the
// command is refused at once. Null after printing why (exitCode set:
// kExitRefused, or kExitInterrupted when Ctrl+C ended the wait).
std::unique_ptr<fleet::LineUse> TakeLine(std::string_view command, const ParsedArgs& parsed,
                                         const TSettings& settings, const std::string& device,
                                         int& exitCode);

// Help lines of the line lock's options (--db, --no-wait).
inline constexpr const char* kLineLockHelp =
    "  --no-wait        линия занята другой программой (доставкой, опросом, окном\n"
    "                   табло): отказ сразу, код 1 (по умолчанию: ждать её)\n"
    "  --db АДРЕС       реестр табло, в котором линии блокируются для всех\n"
    "                   компьютеров (по умолчанию: FleetDatabase из настроек)\n";

// Help lines of the options ResolveCompileOptions reads.
inline constexpr const char* kCompileOptionsHelp =
    "  --font-height N  высота шрифта в байтах по 8 строк, 1..4 (по умолчанию: DefFontHeight)\n"
    "  --channels N     цветовых каналов на точку, 1..8 (по умолчанию: ColorChannelCount)\n"
    "  --max-size N     наибольший образ в байтах, 0..2147483647 (по умолчанию: OutDataSize)\n"
    "  --ini ФАЙЛ       файл настроек (по умолчанию: lentar.ini программы)\n";

}  // namespace lentar::cli
