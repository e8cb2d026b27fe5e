// lentar-cli board: read and set an LED board over a serial port, and upload
// a set or an image to it, the way the board window does on a direct line.
#include <QCoreApplication>

#include <array>
#include <filesystem>
#include <optional>
#include <cstdio>
#include <string>

#include "cli/cli_common.h"
#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/modem.h"
#include "comm/portname.h"
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
      "Использование: lentar-cli board [--port ПОРТ] [--address N] [--timeout МС] [--ini ФАЙЛ]\n"
      "                        [--modem --dial НОМЕР [--pulse] [--init СТРОКА]...\n"
      "                         [--modem-password ТЕКСТ] [--dial-timeout С]]\n"
      "                        КОМАНДА ...\n"
      "\n"
      "Команды:\n"
      "  status                         настройки, пароль, буферы, версия\n"
      "  clock                          часы табло\n"
      "  set-clock                      поставить часы табло по часам компьютера\n"
      "  set [--speed 1..5] [--brightness 1..10] [--flip on|off]\n"
      "                                 изменить настройки (в этом порядке, каждую\n"
      "                                 только после подтверждения предыдущей)\n"
      "  clear --buffer 1|2             очистить буфер\n"
      "  restart --buffer 1|2           начать показ буфера с его начала\n"
      "  font N                         выбрать шрифт по умолчанию, 0..255\n"
      "  auto-bright [--on|--off] [--dark-brightness 0..255]\n"
      "              [--dark-level 0..65535] [--bright-level 0..65535]\n"
      "                                 показать автояркость, включить или выключить\n"
      "                                 её и задать яркость в темноте и уровни\n"
      "                                 датчика света (остальное сохраняется)\n"
      "  password [--old ТЕКСТ] --new ТЕКСТ\n"
      "                                 сменить пароль табло (--old: текущий,\n"
      "                                 пустой, если пароля нет)\n"
      "  upload НАБОР|ОБРАЗ.bin [--buffer 1|2] [--streamed] [--resume] [--restart]\n"
      "         [--keep-showing] [--password ТЕКСТ]\n"
      "                                 отправить набор (сначала скомпилированный)\n"
      "                                 или образ .bin как есть\n"
      "\n"
      "  --port ПОРТ      порт табло (по умолчанию: порт табло из настроек, с --modem\n"
      "                   порт модема): устройство, например /dev/ttyUSB0, COMn\n"
      "                   (/dev/ttyS(n-1)), socket://УЗЕЛ:ПОРТ (TCP как есть) или\n"
      "                   rfc2217://УЗЕЛ:ПОРТ (сервер последовательных портов с\n"
      "                   RFC 2217)\n"
      "  --address N      адрес табло 0..127, -1 без адреса (по умолчанию: DevAddr)\n"
      "  --buffer N       буфер 1 или 2 (по умолчанию 1)\n"
      "  --streamed       передавать блоки потоком и исправлять их по карте блоков\n"
      "                   табло, как через модем\n"
      "  --resume         завершить прерванную загрузку того же образа в буфер тем\n"
      "                   же способом, каким он передавался (Дозагрузка)\n"
      "  --restart        запустить буфер после загрузки\n"
      "  --keep-showing   если выбран буфер, который табло показывает, загрузить\n"
      "                   другой и переключиться на него, когда весь образ\n"
      "                   подтверждён: до тех пор табло показывает свой набор\n"
      "  --password ТЕКСТ пароль, который вводится, когда табло его спрашивает\n"
      "  --timeout МС     срок ответа в мс, 100..60000 (по умолчанию 2000; 10000\n"
      "                   во время звонка через модем)\n"
      "%s%s"
      "\n"
      "Через модем:\n"
      "  --modem          сбросить и настроить модем, набрать номер, дождаться\n"
      "                   соединения (DSR), выполнить КОМАНДУ и повесить трубку\n"
      "                   (сброс DTR) в конце, также после неудачи. Загрузка идёт\n"
      "                   потоком, --resume завершает прерванную\n"
      "  --dial НОМЕР     номер для набора\n"
      "  --pulse          импульсный набор (по умолчанию тоновый, если ToneDial не 0)\n"
      "  --init СТРОКА    строка настройки модема; повторите для нескольких\n"
      "                   (по умолчанию: строки ModemInit)\n"
      "  --modem-password ТЕКСТ  пароль табло на модем, отправляется, когда табло\n"
      "                   его спрашивает (по умолчанию: DefModemPass)\n"
      "  --dial-timeout С наибольшее ожидание соединения в секундах, 0 без предела\n"
      "                   (по умолчанию 60)\n"
      "\n"
      "Код выхода: 0 выполнено, 1 отказ (порт, модем, табло или входные данные),\n"
      "2 ошибка вызова, 130 прервано (Ctrl+C; 143 SIGTERM, 129 SIGHUP): работа\n"
      "остановлена между блоками, линия закрыта, модем положил трубку.\n"
      "\n"
      "Линия (порт) занимается на всё время команды, как при доставке: пока ею\n"
      "пользуется другая программа, команда ждёт.\n",
      kCompileOptionsHelp, kLineLockHelp);
}

struct Session {
  BoardSession& board;
  std::string device;
  int address = -1;
  const TSettings& settings;  // the settings in use
  std::string settingsPath;   // the settings file in use (core path)
  bool modem = false;         // the board is reached through a modem call
};

// Why the last command got no usable answer, in the operator's words.
std::string FaultText(const ReplyFault& fault) {
  switch (fault.kind) {
    case ReplyFault::NotSent: return "запрос не удалось отправить";
    case ReplyFault::Damaged: return "ответ табло повреждён (контрольные байты не сходятся)";
    case ReplyFault::LineBusy: return "линия не затихла после пропущенного ответа";
    case ReplyFault::Refused: return "табло отвергло команду";
    case ReplyFault::WrongKind: return "ответ табло не того вида, что запрошен";
    case ReplyFault::WrongLength:
      return "ответ табло повреждён: " + std::to_string(fault.got) + " " +
             RussianCountForm(fault.got, "байт", "байта", "байт") + " данных вместо " +
             std::to_string(fault.expected);
    case ReplyFault::NoReply:
    case ReplyFault::None: break;
  }
  return {};
}

// The port's line closed under the command (a network server went away or
// was dropped): said the way a failed open is.
int LineLost(const std::string& device, const std::string& why) {
  std::fputs("lentar-cli board: ", stderr);
  PrintCp1251(stderr, Utf8ToCp1251(u8"Ошибка коммуникационного порта!"));
  std::fprintf(stderr, " '%s': ", CliPath(device).c_str());
  PrintCp1251(stderr, why);
  std::fputc('\n', stderr);
  return kExitRefused;
}

int NoAnswer(const Session& s, const ReplyFault& replyFault) {
  if (const std::string lost = s.board.Port().LostText(); !lost.empty()) return LineLost(s.device, lost);
  std::string where = "'" + CliPath(s.device) + "'";
  if (s.address >= 0) where += " (адрес " + std::to_string(s.address) + ")";
  const std::string fault = FaultText(replyFault);
  if (!fault.empty()) return Refuse(kCommand, fault + " на " + where);
  return Refuse(kCommand, "табло не отвечает на " + where);
}

int NoAnswer(const Session& s) { return NoAnswer(s, s.board.LastReplyFault()); }

std::string OnOff(bool on) { return on ? "вкл" : "выкл"; }

// A whole number option in lo..hi; nullopt and a usage error when malformed.
bool NumberOption(const ParsedArgs& parsed, const char* name, long long lo, long long hi,
                  long long& value, int& exitCode) {
  auto it = parsed.values.find(name);
  if (it == parsed.values.end()) return true;
  const auto v = ParseNumber(it->second, lo, hi);
  if (!v) {
    exitCode = UsageError(kCommand, std::string("--") + name + " должен быть целым числом " +
                                        std::to_string(lo) + ".." + std::to_string(hi) +
                                        ", а не '" + it->second + "'");
    return false;
  }
  value = *v;
  return true;
}

void PrintFonts(const StatusBlock& status) {
  std::printf("Шрифты: всего %d, по умолчанию %d, текущий %d\n", status.FontCount(),
              status.DefaultFont(), status.CurrentFont());
}

// As the board window words it.
void PrintPassword(const StatusBlock& status) {
  std::puts(status.PasswordSet() ? "Пароль: установлен" : "Пароль: нет");
}

int RunStatus(Session& s) {
  StatusBlock status;
  if (!CmdReadStatus(s.board, status)) return NoAnswer(s);
  std::printf("Скорость: %d\n", status.Speed());
  std::printf("Яркость: %d\n", status.Brightness());
  std::printf("Перевернуть: %s\n", OnOff(status.Flipped()).c_str());
  std::printf("Автояркость: %s\n", OnOff(status.AutoBrightness()).c_str());
  PrintFonts(status);
  PrintPassword(status);
  std::printf("Доступ: %s\n", status.AccessGranted() ? "открыт" : "нужен пароль");
  BufferInfo info;
  if (CmdReadBufferInfo(s.board, info)) {
    if (info.DataLength() > 0) {
      std::printf("Текущий буфер: %d\n", info.CurrentBuffer() + 1);
      std::printf("Позиция: %d (%d%%)\n", info.Position(),
                  static_cast<int>(100.0 * info.Position() / info.DataLength() + 0.5));
      std::printf("Размер данных: %d %s\n", info.DataLength(),
                  RussianCountForm(info.DataLength(), "байт", "байта", "байт"));
    } else {
      std::printf("Текущий буфер: ---\nПозиция: ---\n");
    }
    std::printf("Ёмкость буфера 1: %d\nЁмкость буфера 2: %d\n", info.Capacity(0),
                info.Capacity(1));
  }
  OptionsBlock options;
  if (CmdReadOptions(s.board, options))
    std::printf("Очистка при переключении: %s\n", OnOff(options.ClearOnSwitch()).c_str());
  std::string version;
  if (CmdReadVersion(s.board, version)) {
    std::fputs("Версия ПО табло: ", stdout);
    PrintCp1251(stdout, version);
    std::fputc('\n', stdout);
  }
  return kExitOk;
}

int RunClock(Session& s) {
  BoardClock c;
  if (!CmdReadClock(s.board, c)) return NoAnswer(s);
  PrintCp1251(stdout, FormatClockTime(c.hour, c.minute, c.second, false, true) + " " +
                          FormatLongDate(TDateRec{c.day, c.month, c.year}) + ", " +
                          WeekdayName(c.dayOfWeek));
  std::fputc('\n', stdout);
  return kExitOk;
}

int RunSetClock(Session& s) {
  if (!SetClockNow(s.board)) return NoAnswer(s);
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
    if (v != "on" && v != "off") return UsageError(kCommand, "--flip принимает on или off");
    flip = v == "on" ? 1 : 0;
  }
  if (speed < 0 && brightness < 0 && flip < 0)
    return UsageError(kCommand, "для set нужен --speed, --brightness или --flip");
  if (speed >= 0 && !CmdSetSpeed(s.board, static_cast<int>(speed))) return NoAnswer(s);
  if (brightness >= 0 && !CmdSetBrightness(s.board, static_cast<int>(brightness)))
    return NoAnswer(s);
  if (flip >= 0 && !CmdSetFlip(s.board, flip == 1)) return NoAnswer(s);
  return RunStatus(s);
}

bool BufferOption(const ParsedArgs& parsed, bool required, int& buffer, int& exitCode) {
  long long b = 1;
  if (required && !parsed.Has("buffer")) {
    exitCode = UsageError(kCommand, "нужен --buffer 1|2");
    return false;
  }
  if (!NumberOption(parsed, "buffer", 1, 2, b, exitCode)) return false;
  buffer = static_cast<int>(b) - 1;
  return true;
}

int RunClear(Session& s, const ParsedArgs& parsed) {
  int status = kExitOk, buffer = 0;
  if (!BufferOption(parsed, true, buffer, status)) return status;
  if (!ClearBuffer(s.board, buffer)) return NoAnswer(s);
  PrintCp1251(stdout, Utf8ToCp1251(u8"Буфер №") + std::to_string(buffer + 1) +
                          Utf8ToCp1251(u8" очищен!"));
  std::fputc('\n', stdout);
  return kExitOk;
}

bool HasBinExtension(const std::string& path) {
  return path.size() >= 4 && LowerCase(path.substr(path.size() - 4)) == ".bin";
}

int RunUpload(Session& s, const ParsedArgs& parsed) {
  const TSettings& settings = s.settings;
  int status = kExitOk, buffer = 0;
  if (parsed.positional.size() != 2)
    return UsageError(kCommand, "для upload нужен ровно один набор или образ .bin");
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
  if (image.empty()) return Refuse(kCommand, "в '" + source + "' нечего отправлять");
  if (image.size() > kMaxImageSize)
    return Refuse(kCommand, "в образе " + std::to_string(image.size()) + " " +
                                RussianCountForm(static_cast<long long>(image.size()), "байт",
                                                 "байта", "байт") +
                                "; табло принимает не больше " + std::to_string(kMaxImageSize));

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
  const UploadReport report = UploadImage(s.board, image.data(), image.size(), options, hooks);
  if (report.noteFailed)
    std::fprintf(stderr, "lentar-cli board: предупреждение: '%s' не удалось записать; прерванную "
                         "загрузку нельзя будет продолжить\n", CliPath(options.streamRecord).c_str());
  const std::string where =
      "буфер " + std::to_string(buffer + 1) + " на '" + CliPath(s.device) + "'";
  switch (report.outcome) {
    case UploadOutcome::Done: break;
    case UploadOutcome::BadImage: return Refuse(kCommand, "в '" + source + "' нечего отправлять");
    case UploadOutcome::ResumeDifferent:
      return Refuse(kCommand, "в " + where + " передавался потоком другой образ; --resume "
                                  "завершает только его (загрузите без --resume, чтобы "
                                  "заменить его)");
    case UploadOutcome::ResumeUnknown:
      return Refuse(kCommand, "прерванная потоковая загрузка в " + where +
                                  " не известна; загрузите без --resume");
    case UploadOutcome::BufferTooSmall:
      PrintCp1251(stderr, UploadFailureText(report.outcome));
      std::fprintf(stderr, " (%zu %s; буфер %d вмещает %d)\n", image.size(),
                   RussianCountForm(static_cast<long long>(image.size()), "байт", "байта", "байт"),
                   buffer + 1, report.capacity);
      return kExitRefused;
    // Preparing the upload failed: "Ошибка связи с контроллером!", as the
    // board window says it, then the reason.
    case UploadOutcome::NoLink:
      PrintCp1251(stderr, report.text);
      std::fputc('\n', stderr);
      return NoAnswer(s, report.fault);
    case UploadOutcome::PasswordDeclined:
      PrintCp1251(stderr, report.text);
      std::fputc('\n', stderr);
      return Refuse(kCommand, "табло спрашивает пароль (--password ТЕКСТ)");
    case UploadOutcome::PasswordRefused:
      PrintCp1251(stderr, report.text);
      std::fputc('\n', stderr);
      return kExitRefused;
    case UploadOutcome::TransferFailed:
    case UploadOutcome::Interrupted:
      // The same text the board window shows for the same outcome.
      std::fputc('\n', stderr);
      PrintCp1251(stderr, report.text);
      std::fputc('\n', stderr);
      if (const std::string lost = s.board.Port().LostText(); !lost.empty()) {
        PrintCp1251(stderr, lost);
        std::fputc('\n', stderr);
      }
      if (report.shownBuffer >= 0 && report.shownBuffer != report.buffer) {
        PrintCp1251(stderr, Utf8ToCp1251(u8"Табло по-прежнему показывает свой набор из буфера №") +
                                std::to_string(report.shownBuffer + 1) + ".");
        std::fputc('\n', stderr);
      }
      if (report.resumable) {
        PrintCp1251(stderr, Utf8ToCp1251(u8"Дозагрузка:"));
        std::fprintf(stderr, " upload %s --resume --buffer %d\n", source.c_str(), report.buffer + 1);
      }
      return report.outcome == UploadOutcome::Interrupted ? kExitInterrupted : kExitRefused;
    case UploadOutcome::Cancelled: return kExitRefused;
    // The image is whole in its buffer, but the board never confirmed that
    // it shows it: no success, in the words the board window and the fleet
    // use.
    case UploadOutcome::StartUnconfirmed:
      std::fprintf(stderr, "lentar-cli board: образ загружен (%zu %s, буфер %d), но ", image.size(),
                   RussianCountForm(static_cast<long long>(image.size()), "байт", "байта", "байт"),
                   report.buffer + 1);
      PrintCp1251(stderr, report.text);
      std::fputc('\n', stderr);
      if (report.shownBuffer >= 0 && report.shownBuffer != report.buffer) {
        PrintCp1251(stderr, Utf8ToCp1251(u8"Табло, возможно, по-прежнему показывает набор из буфера №") +
                                std::to_string(report.shownBuffer + 1) + ".");
        std::fputc('\n', stderr);
      }
      return kExitRefused;
  }
  PrintCp1251(stdout, Utf8ToCp1251(u8"Загрузка успешно завершена!"));
  std::printf(" (%zu %s, буфер %d)\n", image.size(),
              RussianCountForm(static_cast<long long>(image.size()), "байт", "байта", "байт"),
              report.buffer + 1);
  return kExitOk;
}

void PrintAutoBright(const AutoBrightBlock& block) {
  std::printf("Автояркость: %s\n", OnOff(block.Enabled()).c_str());
  std::printf("Установленная яркость: %d\n", block.Brightness());
  std::printf("Яркость в темноте: %d\n", block.DarkBrightness());
  std::printf("Темнота: %d\n", block.DarkSensor());
  std::printf("Яркий свет: %d\n", block.BrightSensor());
  std::printf("Текущие показания АЦП: %d\n", block.CurrentSensor());
  std::printf("Таймер яркости: %d\n", block.Timer());
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
  if (!CmdReadAutoBright(s.board, block)) return NoAnswer(s);
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
    if (!CmdWriteAutoBright(s.board, settable)) return NoAnswer(s);
    if (!CmdReadAutoBright(s.board, block)) return NoAnswer(s);
  }
  PrintAutoBright(block);
  return kExitOk;
}

// The board's default font.
int RunFont(Session& s, const ParsedArgs& parsed) {
  const auto font = ParseNumber(parsed.positional[1], 0, 255);
  if (!font) return UsageError(kCommand, "шрифт должен быть целым числом 0..255");
  if (!CmdSetDefaultFont(s.board, static_cast<int>(*font))) return NoAnswer(s);
  StatusBlock status;
  if (!CmdReadStatus(s.board, status)) return NoAnswer(s);
  PrintFonts(status);
  return kExitOk;
}

// The board's password: the old one is entered first (a board without a
// password takes the empty one), then the new one set.
int RunPassword(Session& s, const ParsedArgs& parsed) {
  const std::string oldPassword =
      parsed.Has("old") ? CommandLineText(parsed.values.at("old")) : std::string();
  const std::string newPassword = CommandLineText(parsed.values.at("new"));
  const PasswordReply entered = CmdEnterPassword(s.board, oldPassword);
  if (!entered.replied) return NoAnswer(s);
  if (!entered.accepted) {
    PrintCp1251(stderr, Utf8ToCp1251(u8"Введен неверный пароль"));
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  const PasswordReply set = CmdSetPassword(s.board, newPassword);
  if (!set.replied || !set.accepted) {
    PrintCp1251(stderr, Utf8ToCp1251(u8"Ошибка установки пароля"));
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  StatusBlock status;
  if (!CmdReadStatus(s.board, status)) return NoAnswer(s);
  PrintPassword(status);
  return kExitOk;
}

// Starts playing a buffer from its beginning.
int RunRestart(Session& s, const ParsedArgs& parsed) {
  int status = kExitOk, buffer = 0;
  if (!BufferOption(parsed, true, buffer, status)) return status;
  if (!CmdStartBuffer(s.board, buffer)) return NoAnswer(s);
  std::printf("Буфер %d запущен\n", buffer + 1);
  return kExitOk;
}

// Usage errors are found before the port is touched: each command checks
// its own options, then the modem's are checked for all of them.

int CheckSet(const ParsedArgs& parsed) {
  int status = kExitOk;
  long long unused = 0;
  if (!NumberOption(parsed, "speed", 1, 5, unused, status)) return status;
  if (!NumberOption(parsed, "brightness", 1, 10, unused, status)) return status;
  if (parsed.Has("flip") && parsed.values.at("flip") != "on" && parsed.values.at("flip") != "off")
    return UsageError(kCommand, "--flip принимает on или off");
  if (!parsed.Has("speed") && !parsed.Has("brightness") && !parsed.Has("flip"))
    return UsageError(kCommand, "для set нужен --speed, --brightness или --flip");
  return kExitOk;
}

// clear and restart act on the buffer given.
int CheckBufferGiven(const ParsedArgs& parsed) {
  int status = kExitOk, buffer = 0;
  BufferOption(parsed, true, buffer, status);
  return status;
}

int CheckUpload(const ParsedArgs& parsed) {
  int status = kExitOk, buffer = 0;
  if (parsed.positional.size() != 2)
    return UsageError(kCommand, "для upload нужен ровно один набор или образ .bin");
  if (!BufferOption(parsed, false, buffer, status)) return status;
  CompileOptions options;
  TSettings defaults;
  DefaultSettings(defaults);
  ResolveCompileOptions(kCommand, parsed, defaults, options, status);
  return status;
}

int CheckAutoBright(const ParsedArgs& parsed) {
  int status = kExitOk;
  long long unused = 0;
  if (parsed.Has("on") && parsed.Has("off"))
    return UsageError(kCommand, "--on и --off исключают друг друга");
  if (!NumberOption(parsed, "dark-brightness", 0, 255, unused, status)) return status;
  if (!NumberOption(parsed, "dark-level", 0, 65535, unused, status)) return status;
  NumberOption(parsed, "bright-level", 0, 65535, unused, status);
  return status;
}

int CheckFont(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2) return UsageError(kCommand, "для font нужен номер N");
  if (!ParseNumber(parsed.positional[1], 0, 255))
    return UsageError(kCommand, "шрифт должен быть целым числом 0..255, а не '" +
                                    parsed.positional[1] + "'");
  return kExitOk;
}

int CheckPassword(const ParsedArgs& parsed) {
  if (!parsed.Has("new")) return UsageError(kCommand, "для password нужен --new ТЕКСТ");
  // A board password has at most 8 characters.
  for (const char* name : {"old", "new"})
    if (parsed.Has(name) && CommandLineText(parsed.values.at(name)).size() > 8)
      return UsageError(kCommand, std::string("--") + name + " длиннее 8 символов");
  return kExitOk;
}

// The modem's options mean nothing without --modem.
int CheckModemOptions(const ParsedArgs& parsed) {
  if (!parsed.Has("modem")) {
    for (const char* name : {"dial", "pulse", "init", "modem-password", "dial-timeout"})
      if (parsed.Has(name))
        return UsageError(kCommand, std::string("--") + name + " применяется только с --modem");
    return kExitOk;
  }
  if (!parsed.Has("dial")) return UsageError(kCommand, "для --modem нужен --dial НОМЕР");
  if (parsed.values.at("dial").empty()) return UsageError(kCommand, "для --dial нужен номер");
  int status = kExitOk;
  long long unused = 0;
  NumberOption(parsed, "dial-timeout", 0, 86400, unused, status);
  return status;
}

// One board command: its name, how many words it takes on the command line
// (its name and its operands), the check of its own options (none when it has
// none) and its work on the open session.
struct BoardCommand {
  const char* name;
  size_t words;
  int (*check)(const ParsedArgs& parsed);
  int (*run)(Session& s, const ParsedArgs& parsed);
};

const std::array<BoardCommand, 10> kBoardCommands = {{
    {"status", 1, nullptr, [](Session& s, const ParsedArgs&) { return RunStatus(s); }},
    {"clock", 1, nullptr, [](Session& s, const ParsedArgs&) { return RunClock(s); }},
    {"set-clock", 1, nullptr, [](Session& s, const ParsedArgs&) { return RunSetClock(s); }},
    {"set", 1, CheckSet, RunSet},
    {"clear", 1, CheckBufferGiven, RunClear},
    {"upload", 2, CheckUpload, RunUpload},
    {"auto-bright", 1, CheckAutoBright, RunAutoBright},
    {"font", 2, CheckFont, RunFont},
    {"password", 1, CheckPassword, RunPassword},
    {"restart", 1, CheckBufferGiven, RunRestart},
}};

const BoardCommand* FindBoardCommand(const std::string& name) {
  for (const BoardCommand& c : kBoardCommands)
    if (name == c.name) return &c;
  return nullptr;
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
       {"dark-level"}, {"bright-level"}, {"old"}, {"new"}, {"no-wait", 0, false}, {"db"}},
      error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.empty()) return UsageError(kCommand, "нужна команда");
  const std::string& command = parsed->positional[0];
  const BoardCommand* const chosen = FindBoardCommand(command);
  if (!chosen) return UsageError(kCommand, "неизвестная команда табло '" + command + "'");
  if (parsed->positional.size() > chosen->words)
    return UsageError(kCommand, "лишний аргумент '" + parsed->positional[chosen->words] + "'");

  if (chosen->check) {
    if (int usage = chosen->check(*parsed); usage != kExitOk) return usage;
  }
  if (int usage = CheckModemOptions(*parsed); usage != kExitOk) return usage;

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
    return Refuse(kCommand, modem ? "порт модема не задан (--port ПОРТ)"
                                  : "порт табло не задан (--port ПОРТ)");
  // A raw TCP port carries no modem lines (DTR, DSR): a call through it
  // could never be seen to come up or go down.
  if (modem) {
    if (!CarriesModemLines(device)) {
      const std::string why = "для --modem нужна линия с модемными сигналами: последовательный "
                              "порт или rfc2217://УЗЕЛ:ПОРТ (у '" + device + "' их нет)";
      return parsed->Has("port") ? UsageError(kCommand, why) : Refuse(kCommand, why);
    }
  }

  // The port's line runs a Qt event loop in its own thread.
  int qtArgc = 1;
  char qtName[] = "lentar-cli";
  char* qtArgv[] = {qtName, nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  // One program on the line: held until the line is closed, whatever ends
  // the command.
  const auto lineUse = TakeLine(kCommand, *parsed, settings, device, status);
  if (!lineUse) return status;
  // The board's session: its line's receive thread ends before the
  // application object goes.
  BoardSession board;
  // Ctrl+C stops the work at its next safe point: the line is closed, a
  // modem hung up, and the exit status says the work was interrupted. The
  // line's flag also stops it when a shared register's lease is lost.
  board.ShareStop(lineUse->Stop());
  const auto interrupted = [&] {
    std::fputs("lentar-cli board: ", stderr);
    PrintCp1251(stderr, InterruptedText());
    std::fputc('\n', stderr);
    if (modem) HangUp(board);
    CloseBoardPort(board);
    return kExitInterrupted;
  };
  // The line is opened as the board window opens it: a direct line at the
  // link speed, purged, the board given its second to settle.
  BoardLinkOptions linkOptions;
  linkOptions.device = device;
  linkOptions.modem = modem;
  linkOptions.baseSpeed = settings.BaseSpeed;
  const BoardLinkResult link = OpenBoardLink(board, linkOptions);
  if (link.outcome == BoardLinkOutcome::Interrupted) return interrupted();
  if (link.outcome != BoardLinkOutcome::Open) {
    std::fputs("lentar-cli board: ", stderr);
    PrintCp1251(stderr, link.text);
    std::fprintf(stderr, " '%s': ", CliPath(device).c_str());
    PrintCp1251(stderr, link.reason);
    std::fputc('\n', stderr);
    return kExitRefused;
  }
  board.ReplyTimeout = static_cast<int>(timeout);
  board.RetryCount = 2;
  board.AddressByte = AddressByteFor(static_cast<int>(address));

  if (modem) {
    // Dial as the dial dialog does; unlike the dialog, a script waits only
    // so long for the call.
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
        DialAndWait(board, request, static_cast<int>(dialTimeout) * 1000);
    if (call.interrupted) return interrupted();
    if (!call.dialling) {
      if (call.status.empty()) {
        Refuse(kCommand, "соединение не установилось за " + std::to_string(dialTimeout) + " с");
      } else {
        std::fputs("lentar-cli board: ", stderr);
        PrintCp1251(stderr, call.status);
        std::fputc('\n', stderr);
      }
      CloseBoardPort(board);
      return kExitRefused;
    }
    // The call's own deadlines (10 s, 5 tries) unless --timeout says otherwise.
    if (parsed->Has("timeout")) board.ReplyTimeout = static_cast<int>(timeout);
    const std::string modemPassword = parsed->Has("modem-password")
                                          ? CommandLineText(parsed->values.at("modem-password"))
                                          : settings.DefModemPass;
    const bool access =
        CheckModemAccess(board, [&]() -> std::optional<std::string> { return modemPassword; });
    if (board.StopRequested()) return interrupted();
    if (!access) {
      // A call that went down under the access check is no wrong password.
      if (const std::string lost = board.Port().LostText(); !lost.empty()) {
        LineLost(device, lost);
      } else if (!board.Port().DSRState()) {
        std::fputs("lentar-cli board: связь потеряна (модем снял DSR) прежде, чем табло ответило: ",
                   stderr);
        PrintCp1251(stderr, DialStatusCallError(1));
        std::fputc('\n', stderr);
      } else {
        Refuse(kCommand, "табло не открыло доступ через модем (--modem-password ТЕКСТ)");
      }
      HangUp(board);
      CloseBoardPort(board);
      return kExitRefused;
    }
  }

  Session session{board, device, static_cast<int>(address), settings, CorePath(loaded.path),
                  modem};
  status = chosen->run(session, *parsed);
  // A call ends with DTR dropped, whatever the command's outcome.
  if (modem) HangUp(board);
  CloseBoardPort(board);
  return status;
}

}  // namespace lentar::cli
