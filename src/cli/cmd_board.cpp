// lentar-cli board: read and set an LED board over a serial port, and upload
// a set or an image to it, the way the board window does on a direct line.
#include <QCoreApplication>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <cstdio>
#include <string>

#include "cli/cli_common.h"
#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "core/dates.h"
#include "core/paths.h"
#include "core/streamrecord.h"
#include "core/textutil.h"
#include "markup/compiler.h"

namespace lentar::cli {

namespace {

using namespace lentar::comm;

constexpr const char* kCommand = "board";

void PrintHelp() {
  std::printf(
      "Usage: lentar-cli board [--port PORT] [--address N] [--timeout MS] [--ini FILE]\n"
      "                        COMMAND ...\n"
      "\n"
      "Commands:\n"
      "  status                         settings, password state, buffers, version\n"
      "  clock                          the board's clock\n"
      "  set-clock                      set the board's clock from this computer's\n"
      "  set [--speed 1..5] [--brightness 1..10] [--flip on|off]\n"
      "                                 change settings (in this order, each only\n"
      "                                 after the previous one was acknowledged)\n"
      "  clear --buffer 1|2             clear a buffer\n"
      "  upload SET|IMAGE.bin [--buffer 1|2] [--streamed [--resume]] [--restart]\n"
      "         [--password TEXT]       send a set (compiled first) or a .bin image\n"
      "                                 as it is\n"
      "\n"
      "  --port PORT      the board's port (default: the board port of the settings):\n"
      "                   a device such as /dev/ttyUSB0, COMn (/dev/ttyS(n-1)),\n"
      "                   socket://HOST:PORT (raw TCP) or rfc2217://HOST:PORT\n"
      "                   (a serial server speaking RFC 2217)\n"
      "  --address N      board address 0..127, -1 for none (default: DevAddr)\n"
      "  --buffer N       buffer 1 or 2 (default 1)\n"
      "  --streamed       stream the blocks and repair them from the board's block\n"
      "                   map, as over a modem; --resume completes an interrupted one\n"
      "  --restart        start the buffer after the upload\n"
      "  --password TEXT  password to enter when the board asks for one\n"
      "  --timeout MS     reply deadline in ms, 100..60000 (default 2000)\n"
      "%s"
      "\n"
      "Exit status: 0 done, 1 refused (port, board or input), 2 usage error.\n",
      kCompileOptionsHelp);
}

struct Session {
  TComPort& port;
  std::string device;
  int address = -1;
  std::string settingsPath;  // the settings file in use (core path)
};

// Why the last command got no usable answer, in the operator's words.
std::string FaultText(const ReplyFault& fault) {
  switch (fault.kind) {
    case ReplyFault::NotSent: return "the request could not be sent";
    case ReplyFault::Damaged: return "the board's reply was damaged (its check bytes do not match)";
    case ReplyFault::LineBusy: return "the line did not fall quiet after a missed reply";
    case ReplyFault::Refused: return "the board refused the command";
    case ReplyFault::WrongKind: return "the board's reply was of another kind than asked for";
    case ReplyFault::WrongLength:
      return "the board's reply was damaged: " + std::to_string(fault.got) +
             " data bytes where " + std::to_string(fault.expected) + " were due";
    case ReplyFault::NoReply:
    case ReplyFault::None: break;
  }
  return {};
}

int NoAnswer(const Session& s, const ReplyFault& replyFault = LastReplyFault()) {
  std::string where = "'" + CliPath(s.device) + "'";
  if (s.address >= 0) where += " (address " + std::to_string(s.address) + ")";
  const std::string fault = FaultText(replyFault);
  if (!fault.empty()) return Refuse(kCommand, fault + " on " + where);
  return Refuse(kCommand, "the board does not answer on " + where);
}

std::string OnOff(bool on) { return on ? "on" : "off"; }

// A whole number option in lo..hi; nullopt and a usage error when malformed.
bool NumberOption(const ParsedArgs& parsed, const char* name, long long lo, long long hi,
                  long long& value, int& exitCode) {
  auto it = parsed.values.find(name);
  if (it == parsed.values.end()) return true;
  const auto v = ParseNumber(it->second, lo, hi);
  if (!v) {
    exitCode = UsageError(kCommand, std::string("--") + name + " must be a whole number in " +
                                        std::to_string(lo) + ".." + std::to_string(hi) +
                                        ", not '" + it->second + "'");
    return false;
  }
  value = *v;
  return true;
}

int RunStatus(Session& s) {
  StatusBlock status;
  if (!CmdReadStatus(s.port, status)) return NoAnswer(s);
  std::printf("Speed: %d\n", status.Speed());
  std::printf("Brightness: %d\n", status.Brightness());
  std::printf("Flipped: %s\n", OnOff(status.Flipped()).c_str());
  std::printf("Automatic brightness: %s\n", OnOff(status.AutoBrightness()).c_str());
  std::printf("Fonts: %d, default %d, current %d\n", status.FontCount(), status.DefaultFont(),
              status.CurrentFont());
  std::printf("Password: %s\n", status.PasswordSet() ? "set" : "none");
  std::printf("Access: %s\n", status.AccessGranted() ? "granted" : "password needed");
  BufferInfo info;
  if (CmdReadBufferInfo(s.port, info)) {
    if (info.DataLength() > 0) {
      std::printf("Current buffer: %d\n", info.CurrentBuffer() + 1);
      std::printf("Position: %d (%d%%)\n", info.Position(),
                  static_cast<int>(100.0 * info.Position() / info.DataLength() + 0.5));
      std::printf("Data length: %d\n", info.DataLength());
    } else {
      std::printf("Current buffer: ---\nPosition: ---\n");
    }
    std::printf("Buffer 1 capacity: %d\nBuffer 2 capacity: %d\n", info.Capacity(0),
                info.Capacity(1));
  }
  OptionsBlock options;
  if (CmdReadOptions(s.port, options))
    std::printf("Clear on switch: %s\n", OnOff(options.ClearOnSwitch()).c_str());
  std::string version;
  if (CmdReadVersion(s.port, version)) {
    std::fputs("Version: ", stdout);
    PrintCp1251(stdout, version);
    std::fputc('\n', stdout);
  }
  return kExitOk;
}

int RunClock(Session& s) {
  BoardClock c;
  if (!CmdReadClock(s.port, c)) return NoAnswer(s);
  PrintCp1251(stdout, FormatClockTime(c.hour, c.minute, c.second, false, true) + " " +
                          FormatLongDate(TDateRec{c.day, c.month, c.year}) + ", " +
                          WeekdayName(c.dayOfWeek));
  std::fputc('\n', stdout);
  return kExitOk;
}

int RunSetClock(Session& s) {
  if (!SetClockNow(s.port)) return NoAnswer(s);
  return RunClock(s);
}

int RunSet(Session& s, const ParsedArgs& parsed) {
  int status = kExitOk;
  long long speed = -1, brightness = -1;
  if (!NumberOption(parsed, "speed", 1, 5, speed, status)) return status;
  if (!NumberOption(parsed, "brightness", 1, 10, brightness, status)) return status;
  int flip = -1;
  if (parsed.Has("flip")) {
    const std::string v = parsed.values.at("flip");
    if (v != "on" && v != "off") return UsageError(kCommand, "--flip must be on or off");
    flip = v == "on" ? 1 : 0;
  }
  if (speed < 0 && brightness < 0 && flip < 0)
    return UsageError(kCommand, "set needs --speed, --brightness or --flip");
  if (speed >= 0 && !CmdSetSpeed(s.port, static_cast<int>(speed))) return NoAnswer(s);
  if (brightness >= 0 && !CmdSetBrightness(s.port, static_cast<int>(brightness)))
    return NoAnswer(s);
  if (flip >= 0 && !CmdSetFlip(s.port, flip == 1)) return NoAnswer(s);
  return RunStatus(s);
}

bool BufferOption(const ParsedArgs& parsed, bool required, int& buffer, int& exitCode) {
  long long b = 1;
  if (required && !parsed.Has("buffer")) {
    exitCode = UsageError(kCommand, "--buffer 1|2 is needed");
    return false;
  }
  if (!NumberOption(parsed, "buffer", 1, 2, b, exitCode)) return false;
  buffer = static_cast<int>(b) - 1;
  return true;
}

int RunClear(Session& s, const ParsedArgs& parsed) {
  int status = kExitOk, buffer = 0;
  if (!BufferOption(parsed, true, buffer, status)) return status;
  if (!ClearBuffer(s.port, buffer)) return NoAnswer(s);
  PrintCp1251(stdout, Utf8ToCp1251(u8"Буфер №") + std::to_string(buffer + 1) +
                          Utf8ToCp1251(u8" очищен!"));
  std::fputc('\n', stdout);
  return kExitOk;
}

bool HasBinExtension(const std::string& path) {
  return path.size() >= 4 && LowerCase(path.substr(path.size() - 4)) == ".bin";
}

int RunUpload(Session& s, const ParsedArgs& parsed, const TSettings& settings) {
  int status = kExitOk, buffer = 0;
  if (parsed.positional.size() != 2)
    return UsageError(kCommand, "upload needs exactly one set or .bin image");
  if (!BufferOption(parsed, false, buffer, status)) return status;
  const bool streamed = parsed.Has("streamed");
  const bool resume = parsed.Has("resume");
  if (resume && !streamed) return UsageError(kCommand, "--resume goes with --streamed");
  const std::string& source = parsed.positional[1];

  std::vector<uint8_t> image;
  if (HasBinExtension(source)) {
    std::string bytes;
    if (!ReadInputFile(kCommand, source, bytes, status)) return status;
    image.assign(bytes.begin(), bytes.end());
  } else {
    CompileOptions options;
    if (!ResolveCompileOptions(kCommand, parsed, settings, options, status)) return status;
    CompileResult compiled;
    if (!CompileSetFile(kCommand, source, options, compiled, status)) return status;
    image = std::move(compiled.image);
  }
  if (image.empty()) return Refuse(kCommand, "'" + source + "' holds nothing to send");
  if (image.size() > kMaxImageSize)
    return Refuse(kCommand, "the image has " + std::to_string(image.size()) +
                                " bytes; a board takes at most " + std::to_string(kMaxImageSize));

  UploadOptions options;
  options.buffer = buffer;
  options.streamed = streamed;
  options.full = !resume;
  options.restart = parsed.Has("restart");
  options.baseSpeed = settings.BaseSpeed;
  options.loadSpeed = settings.DLSpeed;
  // A resume completes only the image whose streaming was noted beside the
  // settings: the board's block map cannot tell one image from another.
  options.streamRecord = StreamRecordPath(s.settingsPath);
  options.portName = s.device;
  UploadHooks hooks;
  hooks.progress = DrawProgress;
  hooks.choosePassword = [&parsed]() -> std::optional<std::string> {
    if (!parsed.Has("password")) return std::nullopt;
    return CommandLineText(parsed.values.at("password"));
  };
  hooks.passwordRefused = [] {
    PrintCp1251(stderr, Utf8ToCp1251(u8"Введен неверный пароль"));
    std::fputc('\n', stderr);
  };
  const UploadReport report = UploadImage(s.port, image.data(), image.size(), options, hooks);
  if (report.noteFailed)
    std::fprintf(stderr, "lentar-cli board: warning: '%s' could not be written; an interrupted "
                         "upload cannot be resumed\n", CliPath(options.streamRecord).c_str());
  const std::string where =
      "buffer " + std::to_string(buffer + 1) + " on '" + CliPath(s.device) + "'";
  switch (report.outcome) {
    case UploadOutcome::Done: break;
    case UploadOutcome::BadImage: return Refuse(kCommand, "'" + source + "' holds nothing to send");
    case UploadOutcome::ResumeDifferent:
      return Refuse(kCommand, "another image was being streamed into " + where +
                                  "; --resume completes only that one (upload without "
                                  "--resume to replace it)");
    case UploadOutcome::ResumeUnknown:
      return Refuse(kCommand, "no interrupted streamed upload into " + where +
                                  " is known; upload without --resume");
    case UploadOutcome::BufferTooSmall:
      PrintCp1251(stderr, UploadFailureText(report.outcome));
      std::fprintf(stderr, " (%zu bytes; buffer %d holds %d)\n", image.size(), buffer + 1,
                   report.capacity);
      return kExitRefused;
    case UploadOutcome::NoLink: return NoAnswer(s, report.fault);
    case UploadOutcome::PasswordDeclined:
      return Refuse(kCommand, "the board asks for a password (--password TEXT)");
    case UploadOutcome::PasswordRefused: return kExitRefused;
    case UploadOutcome::TransferFailed:
      std::fputc('\n', stderr);
      PrintCp1251(stderr, Utf8ToCp1251(u8"Ошибка связи с контроллером!"));
      std::fputc('\n', stderr);
      return kExitRefused;
  }
  PrintCp1251(stdout, Utf8ToCp1251(u8"Загрузка успешно завершена!"));
  std::printf(" (%zu bytes, buffer %d)\n", image.size(), buffer + 1);
  if (report.startAsked && !report.started) {
    // The image is on the board; only its start is in doubt. Asked for
    // explicitly, that is a refusal of what was asked.
    const std::string text =
        "the board did not confirm the start of buffer " + std::to_string(buffer + 1);
    if (options.restart) return Refuse(kCommand, text);
    std::fprintf(stderr, "lentar-cli board: warning: %s\n", text.c_str());
  }
  return kExitOk;
}

// Usage errors are found before the port is touched.
int CheckCommandOptions(const std::string& command, const ParsedArgs& parsed) {
  int status = kExitOk, buffer = 0;
  long long unused = 0;
  if (command == "set") {
    if (!NumberOption(parsed, "speed", 1, 5, unused, status)) return status;
    if (!NumberOption(parsed, "brightness", 1, 10, unused, status)) return status;
    if (parsed.Has("flip") && parsed.values.at("flip") != "on" && parsed.values.at("flip") != "off")
      return UsageError(kCommand, "--flip must be on or off");
    if (!parsed.Has("speed") && !parsed.Has("brightness") && !parsed.Has("flip"))
      return UsageError(kCommand, "set needs --speed, --brightness or --flip");
  } else if (command == "clear") {
    if (!BufferOption(parsed, true, buffer, status)) return status;
  } else if (command == "upload") {
    if (parsed.positional.size() != 2)
      return UsageError(kCommand, "upload needs exactly one set or .bin image");
    if (!BufferOption(parsed, false, buffer, status)) return status;
    if (parsed.Has("resume") && !parsed.Has("streamed"))
      return UsageError(kCommand, "--resume goes with --streamed");
    CompileOptions options;
    TSettings defaults;
    DefaultSettings(defaults);
    if (!ResolveCompileOptions(kCommand, parsed, defaults, options, status)) return status;
  }
  return kExitOk;
}

}  // namespace

int RunBoard(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(
      args,
      {{"port"}, {"address"}, {"ini"}, {"buffer"}, {"streamed", 0, false}, {"resume", 0, false},
       {"restart", 0, false}, {"speed"}, {"brightness"}, {"flip"}, {"password"},
       {"font-height"}, {"channels"}, {"max-size"}, {"timeout"}},
      error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.empty()) return UsageError(kCommand, "a command is needed");
  const std::string& command = parsed->positional[0];
  static const char* const kCommands[] = {"status", "clock", "set-clock", "set", "clear", "upload"};
  if (std::find_if(std::begin(kCommands), std::end(kCommands),
                   [&](const char* c) { return command == c; }) == std::end(kCommands))
    return UsageError(kCommand, "unknown board command '" + command + "'");
  if (command != "upload" && parsed->positional.size() > 1)
    return UsageError(kCommand, "unexpected '" + parsed->positional[1] + "'");

  if (int usage = CheckCommandOptions(command, *parsed); usage != kExitOk) return usage;

  const LoadedSettings loaded = LoadSettings(SettingsPathFor(*parsed));
  if (!loaded.ok)
    std::fprintf(stderr, "lentar-cli board: warning: '%s' could not be read whole; "
                         "defaults used for the rest\n", loaded.path.c_str());
  int status = kExitOk;
  long long address = loaded.settings.DevAddr;
  if (!NumberOption(*parsed, "address", -1, 127, address, status)) return status;
  long long timeout = 2000;
  if (!NumberOption(*parsed, "timeout", 100, 60000, timeout, status)) return status;
  const std::string device =
      parsed->Has("port") ? PortDevice(parsed->values.at("port")) : BoardPortDevice(loaded.settings);
  if (device.empty()) return Refuse(kCommand, "no board port is set (--port PORT)");

  // The port's line runs a Qt event loop in its own thread.
  int qtArgc = 1;
  char qtName[] = "lentar-cli";
  char* qtArgv[] = {qtName, nullptr};
  QCoreApplication app(qtArgc, qtArgv);

  TComPort& port = BoardPort();
  port.Open(device);
  if (!port.IsOpen()) {
    std::fputs("lentar-cli board: ", stderr);
    PrintCp1251(stderr, Utf8ToCp1251(u8"Ошибка коммуникационного порта!"));
    std::fprintf(stderr, " '%s': ", CliPath(device).c_str());
    PrintCp1251(stderr, port.LastErrorText());
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  ReplyTimeout = static_cast<int>(timeout);
  RetryCount = 2;
  AddressByte = AddressByteFor(static_cast<int>(address));
  port.SetBaudIndex(loaded.settings.BaseSpeed + 3);

  Session session{port, device, static_cast<int>(address), CorePath(loaded.path)};
  if (command == "status") status = RunStatus(session);
  else if (command == "clock") status = RunClock(session);
  else if (command == "set-clock") status = RunSetClock(session);
  else if (command == "set") status = RunSet(session, *parsed);
  else if (command == "clear") status = RunClear(session, *parsed);
  else status = RunUpload(session, *parsed, loaded.settings);
  CloseBoardPort();
  return status;
}

}  // namespace lentar::cli
