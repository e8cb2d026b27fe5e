// lentar-cli board: read and set an LED board over a serial port, and upload
// a set or an image to it, the way the board window does on a direct line.
#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <cstdio>
#include <string>

#include "cli/cli_common.h"
#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/modem.h"
#include "comm/tcpline.h"
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
      "                        [--modem --dial NUMBER [--pulse] [--init LINE]...\n"
      "                         [--modem-password TEXT] [--dial-timeout S]]\n"
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
      "  restart --buffer 1|2           start playing a buffer from its beginning\n"
      "  font N                         set the default font, 0..255\n"
      "  auto-bright [--on|--off] [--dark-brightness 0..255]\n"
      "              [--dark-level 0..65535] [--bright-level 0..65535]\n"
      "                                 show the automatic brightness, switch it on\n"
      "                                 or off and set its darkness brightness and\n"
      "                                 light-sensor levels (the rest is kept)\n"
      "  password [--old TEXT] --new TEXT\n"
      "                                 change the board's password (--old: the\n"
      "                                 current one, empty when none is set)\n"
      "  upload SET|IMAGE.bin [--buffer 1|2] [--streamed] [--resume] [--restart]\n"
      "         [--keep-showing] [--password TEXT]\n"
      "                                 send a set (compiled first) or a .bin image\n"
      "                                 as it is\n"
      "\n"
      "  --port PORT      the board's port (default: the board port of the settings,\n"
      "                   with --modem the modem port): a device such as\n"
      "                   /dev/ttyUSB0, COMn (/dev/ttyS(n-1)), socket://HOST:PORT\n"
      "                   (raw TCP) or rfc2217://HOST:PORT (a serial server\n"
      "                   speaking RFC 2217)\n"
      "  --address N      board address 0..127, -1 for none (default: DevAddr)\n"
      "  --buffer N       buffer 1 or 2 (default 1)\n"
      "  --streamed       stream the blocks and repair them from the board's block\n"
      "                   map, as over a modem\n"
      "  --resume         complete an interrupted upload of the same image into the\n"
      "                   buffer, the way it was being sent (Дозагрузка)\n"
      "  --restart        start the buffer after the upload\n"
      "  --keep-showing   when the chosen buffer is the one the board shows, load\n"
      "                   the other one and switch to it once the whole image is\n"
      "                   confirmed: the board keeps its set until then\n"
      "  --password TEXT  password to enter when the board asks for one\n"
      "  --timeout MS     reply deadline in ms, 100..60000 (default 2000; 10000\n"
      "                   during a modem call)\n"
      "%s"
      "\n"
      "Through a dial-up modem:\n"
      "  --modem          reset and initialise the modem, dial, wait for the call\n"
      "                   (DSR), run COMMAND over it and hang up (DTR dropped) at\n"
      "                   the end, also after a failure. Uploads are streamed and\n"
      "                   --resume completes an interrupted one\n"
      "  --dial NUMBER    the number to dial\n"
      "  --pulse          pulse dialling (default: tone, unless ToneDial is 0)\n"
      "  --init LINE      a modem initialisation line; repeat for several\n"
      "                   (default: the ModemInit lines)\n"
      "  --modem-password TEXT  the board's modem password, sent when the board\n"
      "                   asks for it (default: DefModemPass)\n"
      "  --dial-timeout S the longest wait for the call in seconds, 0 for no limit\n"
      "                   (default 60)\n"
      "\n"
      "Exit status: 0 done, 1 refused (port, modem, board or input), 2 usage error.\n",
      kCompileOptionsHelp);
}

struct Session {
  TComPort& port;
  std::string device;
  int address = -1;
  std::string settingsPath;  // the settings file in use (core path)
  bool modem = false;        // the board is reached through a modem call
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
  if (image.empty()) return Refuse(kCommand, "'" + source + "' holds nothing to send");
  if (image.size() > kMaxImageSize)
    return Refuse(kCommand, "the image has " + std::to_string(image.size()) +
                                " bytes; a board takes at most " + std::to_string(kMaxImageSize));

  UploadOptions options;
  options.buffer = buffer;
  options.modem = s.modem;
  options.streamed = streamed;
  options.full = !resume;
  options.restart = parsed.Has("restart");
  options.baseSpeed = settings.BaseSpeed;
  options.loadSpeed = settings.DLSpeed;
  // A resume completes only the image whose upload was noted beside the
  // settings: the board cannot tell one image from another.
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
  // The chosen buffer is on show: said before it is cleared.
  hooks.bufferOnShow = [keep = parsed.Has("keep-showing")](int shown, int other) {
    if (keep && other >= 0) return BufferChoice::Other;
    std::string text = Utf8ToCp1251(u8"Внимание: табло показывает буфер №") +
                       std::to_string(shown + 1) +
                       Utf8ToCp1251(u8"; до конца загрузки оно будет пустым");
    if (other >= 0)
      text += Utf8ToCp1251(u8" (--keep-showing загрузит буфер №") + std::to_string(other + 1) +
              Utf8ToCp1251(u8" и переключит табло на него)");
    else
      text += Utf8ToCp1251(u8": другой буфер мал для этого набора");
    PrintCp1251(stderr, text);
    std::fputc('\n', stderr);
    return BufferChoice::Chosen;
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
      if (report.shownBuffer >= 0 && report.shownBuffer != report.buffer) {
        PrintCp1251(stderr, Utf8ToCp1251(u8"Табло по-прежнему показывает свой набор из буфера №") +
                                std::to_string(report.shownBuffer + 1) + ".");
        std::fputc('\n', stderr);
      }
      if (report.resumable) {
        PrintCp1251(stderr, Utf8ToCp1251(u8"Дозагрузка:"));
        std::fprintf(stderr, " upload %s --resume --buffer %d\n", source.c_str(), report.buffer + 1);
      }
      return kExitRefused;
    case UploadOutcome::Cancelled: return kExitRefused;
  }
  PrintCp1251(stdout, Utf8ToCp1251(u8"Загрузка успешно завершена!"));
  std::printf(" (%zu bytes, buffer %d)\n", image.size(), report.buffer + 1);
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

void PrintAutoBright(const AutoBrightBlock& block) {
  std::printf("Automatic brightness: %s\n", OnOff(block.Enabled()).c_str());
  std::printf("Brightness: %d\n", block.Brightness());
  std::printf("Dark brightness: %d\n", block.DarkBrightness());
  std::printf("Dark level: %d\n", block.DarkSensor());
  std::printf("Bright level: %d\n", block.BrightSensor());
  std::printf("Sensor: %d\n", block.CurrentSensor());
  std::printf("Timer: %d\n", block.Timer());
}

// The automatic brightness: shown, switched on or off, its darkness
// brightness and the two light-sensor levels set. Whatever is not given keeps
// the board's value: the block is read first and written back with the
// changes, as the board window does.
int RunAutoBright(Session& s, const ParsedArgs& parsed) {
  int status = kExitOk;
  long long darkBrightness = -1, darkLevel = -1, brightLevel = -1;
  if (!NumberOption(parsed, "dark-brightness", 0, 255, darkBrightness, status)) return status;
  if (!NumberOption(parsed, "dark-level", 0, 65535, darkLevel, status)) return status;
  if (!NumberOption(parsed, "bright-level", 0, 65535, brightLevel, status)) return status;
  AutoBrightBlock block;
  if (!CmdReadAutoBright(s.port, block)) return NoAnswer(s);
  const bool change = parsed.Has("on") || parsed.Has("off") || darkBrightness >= 0 ||
                      darkLevel >= 0 || brightLevel >= 0;
  if (change) {
    std::array<uint8_t, 6> settable = block.Settable();
    if (parsed.Has("on") || parsed.Has("off")) settable[0] = parsed.Has("on") ? 1 : 0;
    if (darkBrightness >= 0) settable[1] = static_cast<uint8_t>(darkBrightness);
    const auto put16 = [&settable](size_t at, long long v) {
      settable[at] = static_cast<uint8_t>(v & 0xFF);
      settable[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    if (darkLevel >= 0) put16(2, darkLevel);
    if (brightLevel >= 0) put16(4, brightLevel);
    if (!CmdWriteAutoBright(s.port, settable)) return NoAnswer(s);
    if (!CmdReadAutoBright(s.port, block)) return NoAnswer(s);
  }
  PrintAutoBright(block);
  return kExitOk;
}

// The board's default font.
int RunFont(Session& s, const ParsedArgs& parsed) {
  const auto font = ParseNumber(parsed.positional[1], 0, 255);
  if (!font) return UsageError(kCommand, "the font must be a whole number in 0..255");
  if (!CmdSetDefaultFont(s.port, static_cast<int>(*font))) return NoAnswer(s);
  StatusBlock status;
  if (!CmdReadStatus(s.port, status)) return NoAnswer(s);
  std::printf("Fonts: %d, default %d, current %d\n", status.FontCount(), status.DefaultFont(),
              status.CurrentFont());
  return kExitOk;
}

// The board's password: the old one is entered first (a board without a
// password takes the empty one), then the new one set.
int RunPassword(Session& s, const ParsedArgs& parsed) {
  const std::string oldPassword =
      parsed.Has("old") ? CommandLineText(parsed.values.at("old")) : std::string();
  const std::string newPassword = CommandLineText(parsed.values.at("new"));
  const PasswordReply entered = CmdEnterPassword(s.port, oldPassword);
  if (!entered.replied) return NoAnswer(s);
  if (!entered.accepted) {
    PrintCp1251(stderr, Utf8ToCp1251(u8"Введен неверный пароль"));
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  const PasswordReply set = CmdSetPassword(s.port, newPassword);
  if (!set.replied || !set.accepted) {
    PrintCp1251(stderr, Utf8ToCp1251(u8"Ошибка установки пароля"));
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  StatusBlock status;
  if (!CmdReadStatus(s.port, status)) return NoAnswer(s);
  std::printf("Password: %s\n", status.PasswordSet() ? "set" : "none");
  return kExitOk;
}

// Starts playing a buffer from its beginning.
int RunRestart(Session& s, const ParsedArgs& parsed) {
  int status = kExitOk, buffer = 0;
  if (!BufferOption(parsed, true, buffer, status)) return status;
  if (!CmdStartBuffer(s.port, buffer)) return NoAnswer(s);
  std::printf("Buffer %d started\n", buffer + 1);
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
    CompileOptions options;
    TSettings defaults;
    DefaultSettings(defaults);
    if (!ResolveCompileOptions(kCommand, parsed, defaults, options, status)) return status;
  } else if (command == "auto-bright") {
    if (parsed.Has("on") && parsed.Has("off"))
      return UsageError(kCommand, "--on and --off exclude each other");
    if (!NumberOption(parsed, "dark-brightness", 0, 255, unused, status)) return status;
    if (!NumberOption(parsed, "dark-level", 0, 65535, unused, status)) return status;
    if (!NumberOption(parsed, "bright-level", 0, 65535, unused, status)) return status;
  } else if (command == "font") {
    if (parsed.positional.size() != 2) return UsageError(kCommand, "font needs its number N");
    if (!ParseNumber(parsed.positional[1], 0, 255))
      return UsageError(kCommand, "the font must be a whole number in 0..255, not '" +
                                      parsed.positional[1] + "'");
  } else if (command == "password") {
    if (!parsed.Has("new")) return UsageError(kCommand, "password needs --new TEXT");
    // A board password has at most 8 characters.
    for (const char* name : {"old", "new"})
      if (parsed.Has(name) && CommandLineText(parsed.values.at(name)).size() > 8)
        return UsageError(kCommand, std::string("--") + name + " is longer than 8 characters");
  } else if (command == "restart") {
    if (!BufferOption(parsed, true, buffer, status)) return status;
  }
  // The modem's options mean nothing without --modem.
  if (!parsed.Has("modem")) {
    for (const char* name : {"dial", "pulse", "init", "modem-password", "dial-timeout"})
      if (parsed.Has(name))
        return UsageError(kCommand, std::string("--") + name + " goes with --modem");
  } else {
    if (!parsed.Has("dial")) return UsageError(kCommand, "--modem needs --dial NUMBER");
    if (parsed.values.at("dial").empty()) return UsageError(kCommand, "--dial needs a number");
    if (!NumberOption(parsed, "dial-timeout", 0, 86400, unused, status)) return status;
  }
  return kExitOk;
}

}  // namespace

int RunBoard(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(
      args,
      {{"port"}, {"address"}, {"ini"}, {"buffer"}, {"streamed", 0, false}, {"resume", 0, false},
       {"restart", 0, false}, {"keep-showing", 0, false}, {"speed"}, {"brightness"}, {"flip"}, {"password"},
       {"font-height"}, {"channels"}, {"max-size"}, {"timeout"}, {"modem", 0, false},
       {"dial"}, {"pulse", 0, false}, {"init", 0, true, true}, {"modem-password"},
       {"dial-timeout"}, {"on", 0, false}, {"off", 0, false}, {"dark-brightness"},
       {"dark-level"}, {"bright-level"}, {"old"}, {"new"}},
      error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.empty()) return UsageError(kCommand, "a command is needed");
  const std::string& command = parsed->positional[0];
  static const char* const kCommands[] = {"status", "clock",       "set-clock", "set",
                                          "clear",  "upload",      "auto-bright", "font",
                                          "password", "restart"};
  if (std::find_if(std::begin(kCommands), std::end(kCommands),
                   [&](const char* c) { return command == c; }) == std::end(kCommands))
    return UsageError(kCommand, "unknown board command '" + command + "'");
  const size_t operands = command == "upload" || command == "font" ? 2 : 1;
  if (parsed->positional.size() > operands)
    return UsageError(kCommand, "unexpected '" + parsed->positional[operands] + "'");

  if (int usage = CheckCommandOptions(command, *parsed); usage != kExitOk) return usage;

  LoadedSettings loaded;
  {
    int settingsStatus = kExitOk;
    if (!LoadSettingsToRead(kCommand, *parsed, loaded, settingsStatus)) return settingsStatus;
  }
  const TSettings& settings = loaded.settings;
  const bool modem = parsed->Has("modem");
  int status = kExitOk;
  long long address = settings.DevAddr;
  if (!NumberOption(*parsed, "address", -1, 127, address, status)) return status;
  long long timeout = 2000;
  if (!NumberOption(*parsed, "timeout", 100, 60000, timeout, status)) return status;
  long long dialTimeout = 60;
  if (!NumberOption(*parsed, "dial-timeout", 0, 86400, dialTimeout, status)) return status;
  // Through a modem the port is the modem's.
  const std::string device =
      parsed->Has("port") ? PortDevice(parsed->values.at("port"))
                          : (modem ? ModemPortDevice(settings) : BoardPortDevice(settings));
  if (device.empty())
    return Refuse(kCommand, modem ? "no modem port is set (--port PORT)"
                                  : "no board port is set (--port PORT)");
  // A raw TCP port carries no modem lines (DTR, DSR): a call through it
  // could never be seen to come up or go down.
  if (modem) {
    const auto network = ParseNetworkPort(device);
    if (network && network->kind == NetworkPortName::Kind::Raw) {
      const std::string why = "--modem needs a line with modem signals: a serial port or "
                              "rfc2217://HOST:PORT ('" + device + "' carries none)";
      return parsed->Has("port") ? UsageError(kCommand, why) : Refuse(kCommand, why);
    }
  }

  // The port's line runs a Qt event loop in its own thread.
  int qtArgc = 1;
  char qtName[] = "lentar-cli";
  char* qtArgv[] = {qtName, nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  // The port's receive thread ends before the application object goes.
  const ProcessPortsRelease portsRelease;

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

  if (modem) {
    // Dial as the dial dialog does; unlike the dialog, a script waits only
    // so long for the call.
    port.SetInterByteTimeout(700);
    DialRequest request;
    request.portConfigHex = settings.ModemConfig;
    if (parsed->lists.count("init")) {
      request.initLines.clear();
      for (const std::string& line : parsed->lists.at("init"))
        request.initLines += CommandLineText(line) + "\n";
    } else {
      request.initLines = settings.ModemInit;
    }
    request.tone = !parsed->Has("pulse") && settings.ToneDial != 0;
    request.number = CommandLineText(parsed->values.at("dial"));
    const DialStart call =
        DialAndWait(port, request, static_cast<int>(dialTimeout) * 1000);
    if (!call.dialling) {
      if (call.status.empty()) {
        Refuse(kCommand, "the call did not come up within " + std::to_string(dialTimeout) + " s");
      } else {
        std::fputs("lentar-cli board: ", stderr);
        PrintCp1251(stderr, call.status);
        std::fputc('\n', stderr);
      }
      CloseBoardPort();
      return kExitRefused;
    }
    // The call's own deadlines (10 s, 5 tries) unless --timeout says otherwise.
    if (parsed->Has("timeout")) ReplyTimeout = static_cast<int>(timeout);
    const std::string modemPassword = parsed->Has("modem-password")
                                          ? CommandLineText(parsed->values.at("modem-password"))
                                          : settings.DefModemPass;
    if (!CheckModemAccess(port, [&]() -> std::optional<std::string> { return modemPassword; })) {
      Refuse(kCommand, "the board did not grant access through the modem (--modem-password TEXT)");
      HangUp(port);
      CloseBoardPort();
      return kExitRefused;
    }
  } else {
    port.SetBaudIndex(settings.BaseSpeed + 3);
  }

  Session session{port, device, static_cast<int>(address), CorePath(loaded.path), modem};
  if (command == "status") status = RunStatus(session);
  else if (command == "clock") status = RunClock(session);
  else if (command == "set-clock") status = RunSetClock(session);
  else if (command == "set") status = RunSet(session, *parsed);
  else if (command == "clear") status = RunClear(session, *parsed);
  else if (command == "auto-bright") status = RunAutoBright(session, *parsed);
  else if (command == "font") status = RunFont(session, *parsed);
  else if (command == "password") status = RunPassword(session, *parsed);
  else if (command == "restart") status = RunRestart(session, *parsed);
  else status = RunUpload(session, *parsed, settings);
  // A call ends with DTR dropped, whatever the command's outcome.
  if (modem) HangUp(port);
  CloseBoardPort();
  return status;
}

}  // namespace lentar::cli
