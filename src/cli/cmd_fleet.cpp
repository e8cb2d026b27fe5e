// lentar-cli fleet: the register of boards (add, edit, remove, list, import,
// export) and the log of deliveries.
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/fleet_text.h"
#include "core/folders.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "fleet/delivery.h"
#include "fleet/register.h"
#include "fleet/reports.h"
#include "comm/portname.h"
#include "fleet/sweep.h"

namespace lentar::cli {

namespace {

using fleet::BoardRecord;
using fleet::LogEntry;
using fleet::Register;

constexpr const char* kCommand = "fleet";

void PrintHelp() {
  std::printf(
      "Использование: lentar-cli fleet [--db АДРЕС [--create]] КОМАНДА ...\n"
      "\n"
      "Команды:\n"
      "  add ИМЯ --line ЛИНИЯ [--address N] [--group ГРУППА]... [--speed N]\n"
      "      [--load-speed N] [--modem --dial НОМЕР [--pulse] [--init СТРОКА]...\n"
      "      [--modem-password ТЕКСТ]] [--password ТЕКСТ] [--ini ФАЙЛ] [--note ТЕКСТ]\n"
      "                                 внести табло в реестр\n"
      "  edit ИМЯ [те же параметры] [--rename НОВОЕ] [--no-modem]\n"
      "                                 изменить названные поля табло (--group,\n"
      "                                 --init заменяют весь список)\n"
      "  remove ИМЯ                     убрать табло из реестра\n"
      "  list [--group ГРУППА] [--json] перечислить табло (пароли не выводятся,\n"
      "                                 только задан ли пароль)\n"
      "  import ФАЙЛ.csv                внести или заменить табло из CSV\n"
      "  group list                     перечислить группы реестра\n"
      "  group rename СТАРОЕ НОВОЕ      переименовать группу на всех её табло; в\n"
      "                                 существующую группу она вливается\n"
      "  export [--csv|--json] [--with-passwords]\n"
      "                                 вывести реестр (по умолчанию CSV); пароли\n"
      "                                 табло только с --with-passwords\n"
      "  deliver НАБОР|ОБРАЗ.bin (--group ГРУППА | --board ИМЯ... | --all)\n"
      "          [--jobs N] [--retries N] [--retry-pause МС] [--timeout МС]\n"
      "          [--lease С] [--ini ФАЙЛ] [--json]\n"
      "                                 доставить набор (скомпилированный один раз\n"
      "                                 на каждый файл настроек) или образ на табло\n"
      "  status [--group ГРУППА | --board ИМЯ...] [--set-clock-over С] [--jobs N]\n"
      "         [--timeout МС]\n"
      "         [--lease С] [--json]    опросить табло: на связи ли, версия, часы и\n"
      "                                 их расхождение с компьютером, буфер, последняя\n"
      "                                 доставка; --set-clock-over поставит часы тех,\n"
      "                                 что расходятся больше чем на С секунд\n"
      "  log [--board ИМЯ] [--group ГРУППА] [--since ДАТА] [--csv|--csv-plain|--json]\n"
      "                                 журнал доставок; ДАТА: ГГГГ-ММ-ДД[ ЧЧ:ММ[:СС]],\n"
      "                                 местное время этого компьютера; время попыток\n"
      "                                 по часам реестра (сервера или этого\n"
      "                                 компьютера), показано по местному времени;\n"
      "                                 run — код доставки, общий для её попыток;\n"
      "                                 --csv для таблиц, как в окне журнала (UTF-8\n"
      "                                 с меткой, ';', русские заголовки), --csv-plain\n"
      "                                 для программ (',', имена столбцов по-английски,\n"
      "                                 итоги кодами, без защиты от формул)\n"
      "\n"
      "  --db АДРЕС       реестр: файл SQLite или общий реестр на сервере\n"
      "                   postgresql://ПОЛЬЗОВАТЕЛЬ@УЗЕЛ[:ПОРТ]/БАЗА (пароль из\n"
      "                   ~/.pgpass или PGPASSWORD); по умолчанию FleetDatabase из\n"
      "                   lentar.ini, иначе fleet.sqlite в папке данных пользователя\n"
      "                   (он создаётся сам); файла, которого нет, --db не создаёт\n"
      "  --create         создать реестр --db (или FleetDatabase), если его нет\n"
      "  --line ЛИНИЯ     линия табло: устройство (/dev/ttyUSB0), COMn,\n"
      "                   socket://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ; табло с одной\n"
      "                   линией (шина RS-485) обслуживаются по очереди\n"
      "  --address N      адрес табло 0..127, -1 без адреса (по умолчанию)\n"
      "  --group ГРУППА   группа табло; повторите для нескольких; пробелы по краям и\n"
      "                   регистр букв в именах групп не различаются\n"
      "  --speed N        скорость линии, бит/с: 9600, 19200, 28800, 38400, 57600\n"
      "                   (по умолчанию BaseSpeed файла настроек табло)\n"
      "  --load-speed N   скорость загрузки, бит/с (по умолчанию DLSpeed)\n"
      "  --modem          табло за модемом: набрать --dial НОМЕР (--pulse\n"
      "                   импульсный набор, --tone тоновый, по умолчанию; --init строки настройки модема, по\n"
      "                   умолчанию ModemInit; --modem-password пароль табло на\n"
      "                   модем, по умолчанию DefModemPass)\n"
      "  --password ТЕКСТ пароль табло, вводится, когда табло его спрашивает\n"
      "  --ini ФАЙЛ       файл настроек, по которому компилируется набор для табло\n"
      "                   (высота, шрифты, размер; по умолчанию lentar.ini)\n"
      "  --note ТЕКСТ     примечание\n"
      "  --jobs N         линий одновременно, 1..1000 (по умолчанию 4)\n"
      "  --retries N      повторов после сбоя линии, 0..100 (по умолчанию 0); отказ\n"
      "                   табло (пароль, размер) не повторяется\n"
      "  --retry-pause МС пауза перед первым повтором, далее вдвое дольше\n"
      "                   (по умолчанию 2000)\n"
      "  --timeout МС     срок ответа табло, 100..60000 (по умолчанию 2000, через\n"
      "                   модем 10000)\n"
      "  --lease С        аренда линии в общем реестре, 1..3600 секунд (по умолчанию\n"
      "                   30): продлевается, пока линия занята; линии программы,\n"
      "                   что оборвалась, свободны, когда аренда истекла\n"
      "  --all            все табло реестра\n"
      "  --board ИМЯ      табло по имени; повторите или перечислите после него\n"
      "  --json           вывод в JSON для программ\n"
      "  --csv            вывод в CSV\n"
      "\n"
      "CSV: столбцы %s\n"
      "(password и modem_password только с --with-passwords; import без этих\n"
      "столбцов оставляет пароли табло в реестре как есть). Группы через ';'\n"
      "(';' и '\\' в имени группы: \\; и \\\\), строки модема через перевод строки;\n"
      "init: пусто — ModemInit настроек, \\0 — ни одной строки, \\e — пустая строка;\n"
      "modem_password: пусто — DefModemPass настроек, \\e — пустой пароль. Текст,\n"
      "начинающийся с = + - @ или ', пишется с апострофом впереди, чтобы таблица не\n"
      "сочла его формулой; import апостроф снимает. Файл в UTF-8 (не UTF-8\n"
      "читается как Windows-1251), через ',' или ';'.\n"
      "\n"
      "Ctrl+C, SIGTERM и SIGHUP останавливают доставку в безопасной точке: линии\n"
      "освобождаются, строки журнала закрываются (код выхода 130, 143 и 129).\n"
      "Код выхода: 0 выполнено (deliver: каждое табло получило образ; status: все\n"
      "табло на связи), 1 отказ или хотя бы одно табло не получило образ (не на\n"
      "связи), 2 ошибка вызова.\n",
      fleet::kBoardsCsvHeader);
}

std::string Utf8(const std::string& cp1251) { return Cp1251ToUtf8(cp1251); }
// A message for the terminal: control characters of names in it escaped.
std::string Said(const std::string& cp1251) {
  return fleet::VisibleText(Cp1251ToUtf8(cp1251), true);
}

// Why a line given on the command line or in a file cannot be a board's
// line (empty when it can): the forms are a device path, COMn and the two
// network ports; anything else with a scheme (http://...) is a typing error,
// not a file to look for.
std::string LineProblem(const std::string& cp1251) {
  const std::string shown = Shown(cp1251);
  if (TrimBlanks(cp1251).empty())
    return "линия не задана: нужно устройство (/dev/ttyUSB0), COMn, socket://УЗЕЛ:ПОРТ "
           "или rfc2217://УЗЕЛ:ПОРТ";
  if (fleet::FirstControlChar(cp1251) >= 0)
    return "линия '" + shown + "' содержит управляющий символ";
  if (comm::IsNetworkPortName(cp1251)) {
    if (!comm::ParseNetworkPort(cp1251))
      return "в линии '" + shown + "' нет узла или порт не число 1..65535";
    return {};
  }
  if (cp1251.find("://") != std::string::npos)
    return "линия '" + shown + "' не из тех, что знает программа: устройство (/dev/ttyUSB0), "
           "COMn, socket://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ";
  return {};
}

// The names and groups an operator types end up in listings, logs and other
// people's terminals: no control characters in them.
bool NoControlChars(const std::string& cp1251, const char* what, int& exitCode) {
  const int c = fleet::FirstControlChar(cp1251);
  if (c < 0) return true;
  char code[16];
  std::snprintf(code, sizeof code, "\\x%02X", c);
  exitCode = UsageError(kCommand, std::string(what) + " '" + Shown(cp1251) +
                                      "' содержит управляющий символ " + code);
  return false;
}

// The register of --db, else the one lentar.ini names (FleetDatabase), else
// the operator's own file; false after printing why.
//
// Only the operator's own default register is made by itself: a register
// named by --db or by lentar.ini that is not there is refused unless --create
// asks for it, so that a mistyped name never quietly starts an empty register
// (and makes its folders) while the real one waits elsewhere.
bool OpenRegister(const ParsedArgs& parsed, Register& reg, int& exitCode) {
  std::string path, namedBy;
  if (parsed.Has("db")) {
    path = CorePath(parsed.values.at("db"));
    namedBy = "--db";
  } else {
    TSettings settings;
    ReadSettingsFile(settings, SettingsFilePath());
    path = settings.FleetDatabase.empty() ? FleetDatabasePath() : settings.FleetDatabase;
    if (!settings.FleetDatabase.empty()) namedBy = "FleetDatabase в " + CliPath(SettingsFilePath());
  }
  if (!namedBy.empty() && !Register::IsServerAddress(path) && !parsed.Has("create")) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(NativePath(path), ec);
    if (!exists && !ec) {
      exitCode = Refuse(kCommand, "реестра '" + Shown(path) + "' (" + namedBy +
                                      ") нет; чтобы создать новый реестр, добавьте --create");
      return false;
    }
  }
  std::string error;
  if (!reg.Open(path, error)) {
    exitCode = Refuse(kCommand, Said(error));
    return false;
  }
  return true;
}

// A speed option in bit/s.
bool SpeedOption(const ParsedArgs& parsed, const char* name, int& speed, int& exitCode) {
  if (!parsed.Has(name)) return true;
  const auto v = ParseNumber(parsed.values.at(name), 0, 1000000);
  if (!v || (*v != 0 && fleet::SpeedIndex(static_cast<int>(*v)) < 0)) {
    exitCode = UsageError(kCommand, std::string("--") + name +
                                        " должен быть 9600, 19200, 28800, 38400 или 57600, а не '" +
                                        parsed.values.at(name) + "'");
    return false;
  }
  speed = static_cast<int>(*v);
  return true;
}

// Applies the options given to a board record (all of them for add, the
// ones named for edit).
bool ApplyOptions(const ParsedArgs& parsed, BoardRecord& b, int& exitCode) {
  if (parsed.Has("line")) {
    if (const std::string why = LineProblem(CommandLineText(parsed.values.at("line")));
        !why.empty()) {
      exitCode = UsageError(kCommand, "--line: " + why);
      return false;
    }
    b.line = PortDevice(parsed.values.at("line"));
  }
  if (parsed.Has("address")) {
    const auto v = ParseNumber(parsed.values.at("address"), -1, 127);
    if (!v) {
      exitCode = UsageError(kCommand, "--address должен быть целым числом -1..127, а не '" +
                                          parsed.values.at("address") + "'");
      return false;
    }
    b.address = static_cast<int>(*v);
  }
  if (parsed.lists.count("group")) {
    b.groups.clear();
    for (const auto& g : parsed.lists.at("group")) b.groups.push_back(CommandLineText(g));
  }
  if (!SpeedOption(parsed, "speed", b.speed, exitCode)) return false;
  if (!SpeedOption(parsed, "load-speed", b.loadSpeed, exitCode)) return false;
  if (parsed.Has("no-modem")) b.modem = false;
  if (parsed.Has("modem")) b.modem = true;
  if (parsed.Has("dial")) b.dial = CommandLineText(parsed.values.at("dial"));
  if (parsed.Has("pulse")) b.pulse = true;
  if (parsed.Has("tone")) b.pulse = false;
  if (parsed.lists.count("init")) {
    std::vector<std::string> lines;
    for (const auto& l : parsed.lists.at("init")) lines.push_back(CommandLineText(l));
    b.initLines = lines;
  }
  if (parsed.Has("modem-password"))
    b.modemPassword = CommandLineText(parsed.values.at("modem-password"));
  if (parsed.Has("password")) b.password = CommandLineText(parsed.values.at("password"));
  if (parsed.Has("ini")) {
    const std::string ini = parsed.values.at("ini");
    b.ini = ini.empty() ? std::string() : PortDevice(ini);  // made absolute
  }
  if (parsed.Has("note")) b.note = CommandLineText(parsed.values.at("note"));
  if (parsed.Has("rename")) b.name = CommandLineText(parsed.values.at("rename"));
  if (!b.modem) {
    for (const char* name : {"dial", "pulse", "init", "modem-password"})
      if (parsed.Has(name)) {
        exitCode = UsageError(kCommand, std::string("--") + name + " применяется только с --modem");
        return false;
      }
  }
  if (!NoControlChars(b.name, "имя табло", exitCode)) return false;
  for (const auto& g : b.groups)
    if (!NoControlChars(g, "группа", exitCode)) return false;
  if (const std::string why = fleet::CheckBoard(b); !why.empty()) {
    exitCode = UsageError(kCommand, Said(why));
    return false;
  }
  return true;
}

int RunAdd(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2) return UsageError(kCommand, "для add нужно ровно одно ИМЯ");
  if (!parsed.Has("line")) return UsageError(kCommand, "для add нужна --line ЛИНИЯ");
  if (parsed.Has("rename") || parsed.Has("no-modem"))
    return UsageError(kCommand, "--rename и --no-modem применяются только с edit");
  BoardRecord b;
  b.name = CommandLineText(parsed.positional[1]);
  int status = kExitOk;
  if (!ApplyOptions(parsed, b, status)) return status;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  std::string error;
  if (!reg.Add(b, error)) return Refuse(kCommand, Said(error));
  std::printf("Табло '%s' внесено в реестр\n", Shown(b.name).c_str());
  return kExitOk;
}

int RunEdit(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2) return UsageError(kCommand, "для edit нужно ровно одно ИМЯ");
  if (parsed.Has("modem") && parsed.Has("no-modem"))
    return UsageError(kCommand, "--modem и --no-modem исключают друг друга");
  int status = kExitOk;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  const std::string name = CommandLineText(parsed.positional[1]);
  std::string error, newName;
  // The options are applied to the board as the register has it at the
  // moment of the change, inside its transaction: another program's change
  // of other fields meanwhile is kept.
  bool optionsRefused = false;
  const bool changed = reg.Modify(
      name,
      [&](BoardRecord& b, std::string&) {
        if (!ApplyOptions(parsed, b, status)) {
          optionsRefused = true;
          return false;
        }
        newName = b.name;
        return true;
      },
      error);
  if (optionsRefused) return status;
  if (!changed) return Refuse(kCommand, Said(error));
  std::printf("Табло '%s' изменено\n", Shown(newName).c_str());
  return kExitOk;
}

int RunRemove(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2) return UsageError(kCommand, "для remove нужно ровно одно ИМЯ");
  int status = kExitOk;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  std::string error;
  const std::string name = CommandLineText(parsed.positional[1]);
  if (!reg.Remove(name, error)) return Refuse(kCommand, Said(error));
  std::printf("Табло '%s' убрано из реестра\n", Shown(name).c_str());
  return kExitOk;
}

int RunList(const ParsedArgs& parsed) {
  int status = kExitOk;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  std::vector<BoardRecord> boards;
  std::string error;
  const std::string group = parsed.Has("group") ? CommandLineText(parsed.values.at("group")) : "";
  if (!reg.List(boards, error, group)) return Refuse(kCommand, Said(error));
  if (parsed.Has("json")) {
    std::fputs(BoardsJson(boards, false).c_str(), stdout);
    return kExitOk;
  }
  for (const auto& b : boards) std::printf("%s\n", BoardLine(b).c_str());
  std::printf("Табло: %zu\n", boards.size());
  return kExitOk;
}

int RunExport(const ParsedArgs& parsed) {
  if (parsed.Has("csv") && parsed.Has("json"))
    return UsageError(kCommand, "--csv и --json исключают друг друга");
  int status = kExitOk;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  std::vector<BoardRecord> boards;
  std::string error;
  if (!reg.List(boards, error)) return Refuse(kCommand, Said(error));
  const bool passwords = parsed.Has("with-passwords");
  const std::string text =
      parsed.Has("json") ? BoardsJson(boards, passwords) : fleet::BoardsCsv(boards, passwords);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kExitOk;
}

// Every row is checked before the register is changed, and the register
// takes the file in one transaction: a file with one bad row, or a write
// that fails halfway, changes nothing.
int RunImport(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2)
    return UsageError(kCommand, "для import нужен ровно один ФАЙЛ.csv");
  // A register of many thousand boards is a file of megabytes.
  constexpr size_t kMaxImportSize = size_t{256} << 20;
  int status = kExitOk;
  std::string bytes;
  if (!ReadInputFile(kCommand, parsed.positional[1], bytes, status, kMaxImportSize)) return status;
  const std::string where = "'" + parsed.positional[1] + "': ";
  fleet::BoardsFile file;
  std::string error;
  if (!fleet::ReadBoardsCsv(bytes, file, error)) return Refuse(kCommand, where + error);
  for (size_t i = 0; i < file.boards.size(); ++i) {
    const auto& b = file.boards[i];
    std::string why = LineProblem(b.line);
    if (why.empty()) why = Said(fleet::CheckBoard(b));
    if (!why.empty())
      return Refuse(kCommand, where + "запись " + std::to_string(i + 1) + ": " + why);
  }
  if (file.windows1251)
    std::fprintf(stderr, "lentar-cli %s: %sне UTF-8, прочитан как Windows-1251\n", kCommand,
                 where.c_str());
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  int added = 0, replaced = 0;
  if (!reg.Import(file.boards, !file.hasPassword, !file.hasModemPassword, added, replaced, error))
    return Refuse(kCommand, where + Said(error) + "; реестр не изменён");
  std::printf("Внесено табло: %d, заменено: %d\n", added, replaced);
  return kExitOk;
}

// fleet group list | rename OLD NEW.
int RunGroup(const ParsedArgs& parsed) {
  const std::string what = parsed.positional.size() > 1 ? parsed.positional[1] : "";
  if (what != "list" && what != "rename")
    return UsageError(kCommand, "для group нужно list или rename СТАРОЕ НОВОЕ");
  if (what == "list" && parsed.positional.size() != 2)
    return UsageError(kCommand, "лишний аргумент '" + parsed.positional[2] + "'");
  if (what == "rename" && parsed.positional.size() != 4)
    return UsageError(kCommand, "для group rename нужны СТАРОЕ и НОВОЕ имя группы");
  int status = kExitOk;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  std::string error;
  if (what == "list") {
    std::vector<std::string> groups;
    if (!reg.ListGroups(groups, error)) return Refuse(kCommand, Said(error));
    for (const auto& g : groups) std::printf("%s\n", Shown(g).c_str());
    std::printf("Групп: %zu\n", groups.size());
    return kExitOk;
  }
  const std::string from = CommandLineText(parsed.positional[2]);
  const std::string to = CommandLineText(parsed.positional[3]);
  if (!reg.RenameGroup(from, to, error)) return Refuse(kCommand, Said(error));
  std::printf("Группа '%s' переименована в '%s'\n", Shown(TrimBlanks(from)).c_str(),
              Shown(TrimBlanks(to)).c_str());
  return kExitOk;
}

int RunLog(const ParsedArgs& parsed) {
  if (int(parsed.Has("csv")) + int(parsed.Has("csv-plain")) + int(parsed.Has("json")) > 1)
    return UsageError(kCommand, "--csv, --csv-plain и --json исключают друг друга");
  fleet::LogFilter filter;
  if (parsed.Has("board")) filter.board = CommandLineText(parsed.values.at("board"));
  if (parsed.Has("group")) filter.group = CommandLineText(parsed.values.at("group"));
  if (parsed.Has("since")) {
    const auto since = NormalizeSince(parsed.values.at("since"));
    if (!since)
      return UsageError(kCommand, "--since ждёт дату ГГГГ-ММ-ДД или ГГГГ-ММ-ДД ЧЧ:ММ, а не '" +
                                      parsed.values.at("since") + "'");
    filter.since = *since;
  }
  int status = kExitOk;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  std::vector<LogEntry> entries;
  std::string error;
  if (!reg.ReadLog(filter, entries, error)) return Refuse(kCommand, Said(error));
  std::string text;
  if (parsed.Has("json")) text = LogJson(entries);
  else if (parsed.Has("csv")) text = fleet::LogCsv(entries);
  else if (parsed.Has("csv-plain")) text = fleet::LogCsvPlain(entries);
  else text = LogText(entries);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kExitOk;
}

const char* OutcomeWord(fleet::BoardOutcome outcome) {
  switch (outcome) {
    case fleet::BoardOutcome::Delivered: return "доставлено";
    case fleet::BoardOutcome::Failed: return "сбой линии";
    case fleet::BoardOutcome::Refused: return "отказ";
    case fleet::BoardOutcome::Skipped: return "пропущено";
    case fleet::BoardOutcome::Interrupted: return "прервано";
    case fleet::BoardOutcome::NotStarted: return "не начато";
  }
  return "";
}

// An outcome and its message for a line of output. A board not started
// says so in its message already.
std::string OutcomeText(fleet::BoardOutcome outcome, const std::string& message) {
  if (outcome == fleet::BoardOutcome::NotStarted && !message.empty()) return Said(message);
  std::string text = OutcomeWord(outcome);
  if (!message.empty()) text += ": " + Said(message);
  return text;
}

// The running boards on a terminal: one line each, redrawn in place under the
// lines of finished attempts.
class ProgressBlock {
 public:
  explicit ProgressBlock(bool terminal) : terminal_(terminal) {}
  void Set(const std::string& name, const std::string& text) { running_[name] = text; }
  void Drop(const std::string& name) { running_.erase(name); }
  // A finished line above the block.
  void Print(const std::string& line) {
    Clear();
    std::fprintf(stderr, "%s\n", line.c_str());
    Draw();
  }
  void Redraw() {
    if (!terminal_) return;
    Clear();
    Draw();
  }
  void Clear() {
    if (!terminal_ || shown_ == 0) return;
    std::fprintf(stderr, "\033[%dA\033[J", shown_);
    shown_ = 0;
  }

 private:
  void Draw() {
    if (!terminal_) return;
    int rows = 0;
    for (const auto& [name, text] : running_) {
      if (rows == 20) {
        std::fprintf(stderr, "  ... и ещё %zu\n", running_.size() - 20);
        ++rows;
        break;
      }
      std::fprintf(stderr, "  %s: %s\n", name.c_str(), text.c_str());
      ++rows;
    }
    shown_ = rows;
    std::fflush(stderr);
  }

  bool terminal_;
  std::map<std::string, std::string> running_;
  int shown_ = 0;
};

// The boards a deliver or a status names: --board ИМЯ (repeated, or more
// names after it: the positional arguments from firstName on), else the
// --group, else every board. False after printing why (a name not in the
// register, an empty group or register).
bool ChosenBoards(const ParsedArgs& parsed, size_t firstName, Register& reg,
                  std::vector<BoardRecord>& boards, int& exitCode) {
  std::string error;
  if (parsed.Has("board")) {
    std::vector<std::string> names = parsed.lists.at("board");
    if (parsed.positional.size() > firstName)
      names.insert(names.end(), parsed.positional.begin() + firstName, parsed.positional.end());
    std::set<std::string> seen;
    for (const auto& typed : names) {
      const std::string name = CommandLineText(typed);
      if (!seen.insert(name).second) continue;
      auto b = reg.Find(name, error);
      if (!b) {
        exitCode = Refuse(kCommand, error.empty() ? "табло '" + Shown(name) + "' нет в реестре"
                                                  : Said(error));
        return false;
      }
      boards.push_back(std::move(*b));
    }
    return true;
  }
  const bool byGroup = parsed.Has("group");
  const std::string group = byGroup ? CommandLineText(parsed.values.at("group")) : "";
  if (!reg.List(boards, error, group)) {
    exitCode = Refuse(kCommand, Said(error));
    return false;
  }
  if (boards.empty()) {
    exitCode = Refuse(kCommand, byGroup ? "в группе '" + Shown(group) + "' нет табло"
                                        : "в реестре нет табло");
    return false;
  }
  return true;
}

int RunDeliver(const ParsedArgs& parsed) {
  if (parsed.positional.size() < 2) return UsageError(kCommand, "для deliver нужен НАБОР или ОБРАЗ.bin");
  const bool all = parsed.Has("all"), byGroup = parsed.Has("group"), byName = parsed.Has("board");
  if (int(all) + int(byGroup) + int(byName) != 1)
    return UsageError(kCommand, "для deliver нужно одно из --group ГРУППА, --board ИМЯ... или --all");
  if (parsed.positional.size() > 2 && !byName)
    return UsageError(kCommand, "лишний аргумент '" + parsed.positional[2] + "'");
  const auto number = [&](const char* name, long long lo, long long hi, long long fallback,
                          long long& value) {
    value = fallback;
    if (!parsed.Has(name)) return true;
    const auto v = ParseNumber(parsed.values.at(name), lo, hi);
    if (!v) return false;
    value = *v;
    return true;
  };
  long long jobs = 4, retries = 0, pause = 2000, timeout = 0;
  if (!number("jobs", 1, 1000, 4, jobs))
    return UsageError(kCommand, "--jobs должен быть целым числом 1..1000");
  if (!number("retries", 0, 100, 0, retries))
    return UsageError(kCommand, "--retries должен быть целым числом 0..100");
  if (!number("retry-pause", 0, 3600000, 2000, pause))
    return UsageError(kCommand, "--retry-pause должен быть целым числом 0..3600000");
  if (!number("timeout", 100, 60000, 0, timeout))
    return UsageError(kCommand, "--timeout должен быть целым числом 100..60000");
  long long lease = 30;
  if (!number("lease", 1, 3600, 30, lease))
    return UsageError(kCommand, "--lease должен быть целым числом секунд 1..3600");

  int status = kExitOk;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  std::vector<BoardRecord> boards;
  std::string error;
  if (!ChosenBoards(parsed, 2, reg, boards, status)) return status;

  fleet::DeliveryOptions options;
  // Named in full in the log, wherever the run was started.
  {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(NativePath(CorePath(parsed.positional[1])), ec);
    options.source = ec ? CorePath(parsed.positional[1]) : FromNativePath(absolute);
  }
  options.defaultSettings = CorePath(SettingsPathFor(parsed));
  options.jobs = static_cast<int>(jobs);
  options.retries = static_cast<int>(retries);
  options.retryPauseMs = static_cast<int>(pause);
  options.replyTimeoutMs = static_cast<int>(timeout);
  options.leaseMs = static_cast<int>(lease * 1000);
  options.stop = InterruptStopFlag();

  const bool json = parsed.Has("json");
  ProgressBlock block(!json && StderrIsTerminal());
  fleet::DeliveryEvents events;
  const auto name = [&](size_t b) { return Shown(boards[b].name); };
  events.attemptStarts = [&](size_t b, int attempt) {
    block.Set(name(b), "попытка " + std::to_string(attempt));
    if (!json && !StderrIsTerminal())
      std::fprintf(stderr, "%s: попытка %d\n", name(b).c_str(), attempt);
    block.Redraw();
  };
  auto lastDraw = std::chrono::steady_clock::now();
  events.progress = [&](size_t b, int percent) {
    block.Set(name(b), std::to_string(percent) + "%");
  };
  events.tick = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw < std::chrono::milliseconds(250)) return;
    lastDraw = now;
    block.Redraw();
  };
  events.attemptEnds = [&](size_t b, int attempt, fleet::BoardOutcome outcome,
                           const std::string& message) {
    block.Drop(name(b));
    if (json) return;
    std::string line = name(b) + ": ";
    if (attempt > 0) line += "попытка " + std::to_string(attempt) + ": ";
    line += OutcomeText(outcome, message);
    block.Print(line);
  };
  events.lineBusyBy = [&](const std::string& line, const std::string& holder) {
    if (json) return;
    block.Print("линия '" + Shown(line) + "' занята другой программой" +
                (holder.empty() ? std::string() : " (" + Shown(holder) + ")") + "; ожидание");
  };
  events.logFailed = [&](const std::string& why) {
    block.Print("ошибка: строка журнала доставок не записана: " + Said(why));
  };

  std::vector<fleet::BoardResult> results;
  if (!fleet::Deliver(boards, options, &reg, events, results, error)) {
    block.Clear();
    return Refuse(kCommand, Said(error));
  }
  block.Clear();

  const fleet::DeliveryTally tally = fleet::TallyOf(results);
  if (json) {
    std::string out = "{\"delivered\":" + std::to_string(tally.delivered) + ",\"failed\":" +
                      std::to_string(tally.failed) + ",\"skipped\":" + std::to_string(tally.skipped) +
                      ",\"interrupted\":" + std::to_string(tally.stopped) + ",\"not_started\":" +
                      std::to_string(tally.notStarted) + ",\"log_complete\":" +
                      (tally.unlogged ? "false" : "true") + ",\"boards\":[";
    for (size_t i = 0; i < results.size(); ++i) {
      const auto& r = results[i];
      out += std::string(i ? ",\n " : "\n ") + "{\"name\":" + JsonString(Utf8(boards[i].name)) +
             ",\"line\":" + JsonString(Utf8(boards[i].line)) + ",\"address\":" +
             std::to_string(boards[i].address) + ",\"outcome\":" +
             JsonString(fleet::OutcomeName(r.outcome)) + ",\"attempts\":" +
             std::to_string(r.attempts) + ",\"size\":" + std::to_string(r.imageSize) +
             ",\"sha256\":" + JsonString(r.sha256) + ",\"message\":" +
             JsonString(Utf8(r.message)) + ",\"logged\":" + (r.logged ? "true" : "false") + "}";
    }
    out += results.empty() ? "]}\n" : "\n]}\n";
    std::fputs(out.c_str(), stdout);
  } else {
    std::printf("Доставлено: %d, не доставлено: %d, пропущено: %d", tally.delivered, tally.failed,
                tally.skipped);
    if (tally.stopped) std::printf(", прервано: %d", tally.stopped);
    if (tally.notStarted) std::printf(", не начато: %d", tally.notStarted);
    std::printf(" (всего табло: %d)\n", tally.total);
    for (size_t i = 0; i < results.size(); ++i) {
      const auto& r = results[i];
      if (r.outcome == fleet::BoardOutcome::Delivered) continue;
      std::printf("  %s: %s", name(i).c_str(), OutcomeText(r.outcome, r.message).c_str());
      if (r.attempts > 1) std::printf(" (попыток: %d)", r.attempts);
      std::printf("\n");
    }
  }
  // A run whose log lacks a row is no success, whatever reached the boards:
  // the log is what tells later which board holds what.
  if (tally.unlogged) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "lentar-cli fleet: журнал доставок не записан полностью: нет строк о %d из %d "
                 "табло (сообщения выше)\n",
                 tally.unlogged, tally.total);
  }
  if (tally.stopped || tally.notStarted || options.stop->Requested()) return kExitInterrupted;
  if (tally.unlogged) return kExitRefused;
  return tally.delivered == tally.total ? kExitOk : kExitRefused;
}

std::string ClockText(const comm::BoardClock& c) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return text;
}

int RunStatus(const ParsedArgs& parsed) {
  if (parsed.Has("board") && parsed.Has("group"))
    return UsageError(kCommand, "для status нужно одно из --group ГРУППА или --board ИМЯ...");
  if (parsed.positional.size() > 1 && !parsed.Has("board"))
    return UsageError(kCommand, "лишний аргумент '" + parsed.positional[1] + "'");
  long long over = -1;
  if (parsed.Has("set-clock-over")) {
    const auto v = ParseNumber(parsed.values.at("set-clock-over"), 0, 86400 * 366);
    if (!v) return UsageError(kCommand, "--set-clock-over должен быть целым числом секунд 0..31622400");
    over = *v;
  }
  long long jobs = 4, timeout = 0;
  if (parsed.Has("jobs")) {
    const auto v = ParseNumber(parsed.values.at("jobs"), 1, 1000);
    if (!v) return UsageError(kCommand, "--jobs должен быть целым числом 1..1000");
    jobs = *v;
  }
  if (parsed.Has("timeout")) {
    const auto v = ParseNumber(parsed.values.at("timeout"), 100, 60000);
    if (!v) return UsageError(kCommand, "--timeout должен быть целым числом 100..60000");
    timeout = *v;
  }
  long long lease = 30;
  if (parsed.Has("lease")) {
    const auto v = ParseNumber(parsed.values.at("lease"), 1, 3600);
    if (!v) return UsageError(kCommand, "--lease должен быть целым числом секунд 1..3600");
    lease = *v;
  }
  int status = kExitOk;
  Register reg;
  if (!OpenRegister(parsed, reg, status)) return status;
  std::vector<BoardRecord> boards;
  if (!ChosenBoards(parsed, 1, reg, boards, status)) return status;
  fleet::SweepOptions options;
  options.defaultSettings = CorePath(SettingsPathFor(parsed));
  options.jobs = static_cast<int>(jobs);
  options.link.replyTimeoutMs = static_cast<int>(timeout);
  options.setClockOver = static_cast<int>(over);
  options.leaseMs = static_cast<int>(lease * 1000);
  options.stop = InterruptStopFlag();
  const bool json = parsed.Has("json");
  std::vector<fleet::BoardStatus> results;
  fleet::Sweep(boards, options, &reg,
               [&](size_t b, const fleet::BoardStatus& st) {
                 if (json || StderrIsTerminal()) return;
                 std::fprintf(stderr, "%s: %s\n", Shown(boards[b].name).c_str(),
                              st.online ? "на связи"
                              : st.contacted ? "нет связи"
                                             : "не проверено");
               },
               results);
  // What was not read is said so ("не прочитано", null), never shown as
  // an empty board or as "never delivered".
  const std::string unread = "не прочитано";
  int online = 0, interrupted = 0, logFailed = 0;
  std::string out = json ? "[" : "";
  for (size_t i = 0; i < boards.size(); ++i) {
    const auto& st = results[i];
    online += st.online;
    interrupted += st.interrupted;
    logFailed += !st.lastDeliveryError.empty();
    const fleet::LogEntry none;
    const auto& last = st.lastDelivery ? *st.lastDelivery : none;
    const auto number = [](const std::optional<int>& v) {
      return v ? std::to_string(*v) : std::string("null");
    };
    if (json) {
      out += std::string(i ? ",\n " : "\n ") + "{\"name\":" + JsonString(Utf8(boards[i].name)) +
             ",\"online\":" + (st.online ? "true" : "false") +
             ",\"checked\":" + (st.contacted ? "true" : "false") + ",\"message\":" +
             JsonString(Utf8(st.message)) + ",\"version\":" +
             (st.version ? JsonString(Utf8(*st.version)) : "null") +
             ",\"clock\":" + (st.clock ? JsonString(ClockText(*st.clock)) : "null") +
             ",\"drift\":" + (st.drift ? std::to_string(*st.drift) : "null") +
             ",\"clock_set\":" + (st.clockSet ? "true" : "false") + ",\"buffer\":" +
             (st.shownBuffer ? std::to_string(*st.shownBuffer + 1) : "null") +
             ",\"data_length\":" + number(st.dataLength) + ",\"capacity\":" +
             (st.capacity ? "[" + std::to_string((*st.capacity)[0]) + "," +
                                std::to_string((*st.capacity)[1]) + "]"
                          : std::string("null")) +
             ",\"last_delivered\":" +
             (last.finished.empty() ? "null" : JsonString(Utf8(last.finished))) +
             ",\"last_set_file\":" + (last.setFile.empty() ? "null" : JsonString(Utf8(last.setFile))) +
             ",\"last_sha256\":" + (last.sha256.empty() ? "null" : JsonString(last.sha256)) +
             ",\"log_error\":" +
             (st.lastDeliveryError.empty() ? "null" : JsonString(Utf8(st.lastDeliveryError))) + "}";
      continue;
    }
    out += Shown(boards[i].name) + ": ";
    if (st.online) {
      out += "на связи";
      out += st.version ? ", версия " + Shown(*st.version) : ", версия: " + unread;
      if (st.clock && st.drift) {
        out += ", часы " + ClockText(*st.clock) + " (расхождение " +
               (*st.drift > 0 ? "+" : "") + std::to_string(*st.drift) + " с";
        if (st.clockSet) out += ", поставлены по компьютеру";
        out += ")";
      } else {
        out += ", часы: " + unread;
      }
      if (!st.shownBuffer || !st.dataLength || !st.capacity)
        out += ", буферы: " + unread;
      else if (*st.shownBuffer >= 0)
        out += ", буфер " + std::to_string(*st.shownBuffer + 1) + ": " +
               std::to_string(*st.dataLength) + " из " +
               std::to_string((*st.capacity)[static_cast<size_t>(*st.shownBuffer)]) + " байт";
      else
        out += ", буферы пусты";
    } else {
      out += std::string(st.interrupted ? "не опрошено: " : st.contacted ? "нет связи: " : "не проверено: ") + Said(st.message);
    }
    out += "; доставлено: ";
    if (!st.lastDeliveryError.empty())
      out += unread + " (" + Said(st.lastDeliveryError) + ")";
    else
      out += last.finished.empty() ? std::string("нет") : Shown(last.finished) + " (" + Shown(last.setFile) + ")";
    out += "\n";
  }
  if (json) out += boards.empty() ? "]\n" : "\n]\n";
  else out += "На связи: " + std::to_string(online) + " из " + std::to_string(boards.size()) + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (interrupted) return kExitInterrupted;
  return online == static_cast<int>(boards.size()) && !logFailed ? kExitOk : kExitRefused;
}

}  // namespace

int RunFleet(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(
      args,
      {{"db"}, {"line"}, {"address"}, {"group", 0, true, true}, {"speed"}, {"load-speed"},
       {"modem", 0, false}, {"no-modem", 0, false}, {"dial"}, {"pulse", 0, false},
       {"tone", 0, false}, {"init", 0, true, true}, {"modem-password"}, {"password"}, {"ini"},
       {"note"}, {"rename"}, {"json", 0, false}, {"csv", 0, false}, {"board", 0, true, true},
       {"since"}, {"all", 0, false}, {"jobs"}, {"retries"}, {"retry-pause"}, {"timeout"}, {"set-clock-over"},
       {"lease"}, {"create", 0, false}, {"with-passwords", 0, false}, {"csv-plain", 0, false}},
      error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.empty()) return UsageError(kCommand, "нужна команда");
  // Qt SQL's driver is a plugin, found through the application object.
  int qtArgc = 1;
  char qtName[] = "lentar-cli";
  char* qtArgv[] = {qtName, nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  const std::string& command = parsed->positional[0];
  // Which options each command takes.
  static const std::string kBoardFields =
      " line address group speed load-speed modem dial pulse tone init modem-password password "
      "ini note ";
  static const std::map<std::string, std::string> kAllowed = {
      {"add", kBoardFields},
      {"edit", kBoardFields + "rename no-modem "},
      {"remove", " "},
      {"list", " group json "},
      {"import", " "},
      {"group", " "},
      {"export", " csv json with-passwords "},
      {"log", " board group since csv csv-plain json "},
      {"deliver", " group board all jobs retries retry-pause timeout lease ini json "},
      {"status", " group board set-clock-over jobs timeout lease ini json "},
  };
  const auto allowed = kAllowed.find(command);
  if (allowed == kAllowed.end())
    return UsageError(kCommand, "неизвестная команда реестра '" + command + "'");
  for (const auto& [option, value] : parsed->values)
    if (option != "db" && option != "create" &&
        allowed->second.find(" " + option + " ") == std::string::npos)
      return UsageError(kCommand, "--" + option + " не применяется с " + command);
  // Every text of the command is kept or looked up in Windows-1251, as the
  // register and the boards keep it: a character it has no place for would
  // silently turn into '?' (a name, a group, a file that then is another
  // one), so it is refused.
  {
    std::vector<std::pair<std::string, std::string>> texts;  // where, text
    for (const auto& [option, value] : parsed->values) texts.emplace_back("--" + option, value);
    for (const auto& [option, values] : parsed->lists)
      for (const auto& value : values) texts.emplace_back("--" + option, value);
    for (const auto& p : parsed->positional) texts.emplace_back("'" + fleet::VisibleText(p) + "'", p);
    for (const auto& [where, text] : texts) {
      std::string cp1251, bad;
      if (fleet::Utf8ToBoardText(text, cp1251, bad)) continue;
      return UsageError(kCommand,
                        where + (bad.empty() ? ": текст не в UTF-8"
                                             : ": символ «" + fleet::VisibleText(bad) +
                                                   "» нельзя сохранить в реестре и передать табло "
                                                   "(они хранят текст в Windows-1251)"));
    }
  }
  if (command == "add") return RunAdd(*parsed);
  if (command == "edit") return RunEdit(*parsed);
  if (command == "remove") return RunRemove(*parsed);
  if (command == "list") return RunList(*parsed);
  if (command == "import") return RunImport(*parsed);
  if (command == "group") return RunGroup(*parsed);
  if (command == "export") return RunExport(*parsed);
  if (command == "log") return RunLog(*parsed);
  if (command == "deliver") return RunDeliver(*parsed);
  if (command == "status") return RunStatus(*parsed);
  return UsageError(kCommand, "неизвестная команда реестра '" + command + "'");
}

}  // namespace lentar::cli
