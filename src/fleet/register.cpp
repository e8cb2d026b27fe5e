#include "fleet/register.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unordered_map>
#include <unordered_set>

#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "comm/portname.h"
#include "core/paths.h"
#include "core/textutil.h"

namespace lentar::fleet {

namespace {

namespace fs = std::filesystem;

// How long a writer waits for another program's write to end, in ms.
constexpr int kBusyTimeoutMs = 10000;

QString Q(const std::string& cp1251) { return QString::fromStdString(Cp1251ToUtf8(cp1251)); }
std::string S(const QString& text) { return Utf8ToCp1251(text.toStdString()); }
std::string T(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

// The steps of the schema: step n brings a register of version n - 1 to
// version n. A step is never changed once released; a change is a new step.
//
// The same text serves both engines; %ID% stands for a row id that numbers
// itself (SQLite's INTEGER PRIMARY KEY, PostgreSQL's BIGSERIAL).
const char* const kMigrations[][8] = {
    // 1: the boards and their groups.
    {"CREATE TABLE boards ("
     " id %ID%,"
     " name TEXT NOT NULL UNIQUE,"
     " line TEXT NOT NULL,"
     " address INTEGER NOT NULL DEFAULT -1,"
     " speed INTEGER NOT NULL DEFAULT 0,"
     " load_speed INTEGER NOT NULL DEFAULT 0,"
     " modem INTEGER NOT NULL DEFAULT 0,"
     " dial TEXT NOT NULL DEFAULT '',"
     " pulse INTEGER NOT NULL DEFAULT 0,"
     " modem_init TEXT,"
     " modem_password TEXT,"
     " password TEXT NOT NULL DEFAULT '',"
     " ini TEXT NOT NULL DEFAULT '',"
     " note TEXT NOT NULL DEFAULT '')",
     "CREATE TABLE board_groups ("
     " board_id INTEGER NOT NULL REFERENCES boards(id) ON DELETE CASCADE,"
     " name TEXT NOT NULL,"
     " PRIMARY KEY (board_id, name))",
     "CREATE INDEX board_groups_name ON board_groups(name)", nullptr},
    // 2: the delivery log. The board's name, groups and line are copied into
    // each row, so the log still reads right after a board is renamed,
    // regrouped or removed.
    {"CREATE TABLE deliveries ("
     " id %ID%,"
     " board TEXT NOT NULL,"
     " groups TEXT NOT NULL DEFAULT '',"
     " line TEXT NOT NULL DEFAULT '',"
     " address INTEGER NOT NULL DEFAULT -1,"
     " started TEXT NOT NULL,"
     " finished TEXT NOT NULL DEFAULT '',"
     " operator TEXT NOT NULL DEFAULT '',"
     " set_file TEXT NOT NULL DEFAULT '',"
     " sha256 TEXT NOT NULL DEFAULT '',"
     " size INTEGER NOT NULL DEFAULT 0,"
     " attempt INTEGER NOT NULL DEFAULT 1,"
     " outcome TEXT NOT NULL DEFAULT '',"
     " message TEXT NOT NULL DEFAULT '')",
     "CREATE INDEX deliveries_board ON deliveries(board, started)",
     "CREATE INDEX deliveries_started ON deliveries(started)", nullptr},
    // 3: the lines in use, for a register shared by several computers: the
    // holder and the end of its lease, in ms since 1970 by the database's
    // clock.
    {"CREATE TABLE line_locks ("
     " line TEXT PRIMARY KEY,"
     " token TEXT NOT NULL,"
     " host TEXT NOT NULL DEFAULT '',"
     " pid BIGINT NOT NULL DEFAULT 0,"
     " operator TEXT NOT NULL DEFAULT '',"
     " taken TEXT NOT NULL DEFAULT '',"
     " expires_ms BIGINT NOT NULL)",
     nullptr},
    // 4: one clock for the log. Its times were each program's local time as
    // text, which misorders a log written from computers in different time
    // zones; now every attempt carries its start and end as instants (ms
    // since 1970 UTC) by the database's clock, and the run it belongs to.
    // The rows already there are given their instants by
    // ConvertLogTimes(), right after these statements, in the same
    // transaction. The text columns stay as they were written; new rows
    // leave them empty.
    {"ALTER TABLE deliveries ADD COLUMN started_ms BIGINT NOT NULL DEFAULT 0",
     "ALTER TABLE deliveries ADD COLUMN finished_ms BIGINT NOT NULL DEFAULT 0",
     "ALTER TABLE deliveries ADD COLUMN run TEXT NOT NULL DEFAULT ''",
     "DROP INDEX deliveries_board", "DROP INDEX deliveries_started",
     "CREATE INDEX deliveries_board_ms ON deliveries(board, started_ms)",
     "CREATE INDEX deliveries_started_ms ON deliveries(started_ms)", nullptr},
};
static_assert(std::size(kMigrations) == Register::kSchemaVersion);

QString StepSql(const char* sql, bool server) {
  return QString::fromLatin1(sql).replace("%ID%", server ? "BIGSERIAL PRIMARY KEY"
                                                          : "INTEGER PRIMARY KEY");
}

// Groups in one text: "|a|b|", so that a group is found with LIKE '%|a|%'.
std::string JoinGroups(const std::vector<std::string>& groups) {
  if (groups.empty()) return {};
  std::string text = "|";
  for (const auto& g : groups) text += g + "|";
  return text;
}

std::vector<std::string> SplitGroups(const std::string& text) {
  std::vector<std::string> groups;
  size_t at = 0;
  while (at < text.size()) {
    const size_t bar = text.find('|', at);
    const size_t end = bar == std::string::npos ? text.size() : bar;
    if (end > at) groups.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return groups;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::vector<std::string> SortedGroups(std::vector<std::string> groups) {
  std::sort(groups.begin(), groups.end());
  groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
  return groups;
}

enum class FileKind { Missing, Empty, File, Other, Unreadable };

// What is at path, judged by the file system's word alone: the file itself
// is never opened here. A program that opens and closes a database file
// beside SQLite drops every lock SQLite holds on it in the process (POSIX
// locks belong to the process, not to the descriptor), and another program
// then believes it is the last user, checkpoints the write-ahead log and
// deletes it under this process's connection. What the file holds is asked
// of SQLite itself, which shares its descriptors among the connections of the
// process.
FileKind KindOf(const std::string& path) {
  std::error_code ec;
  const fs::path native = NativePath(path);
  const fs::file_status status = fs::status(native, ec);
  if (ec && status.type() != fs::file_type::not_found) return FileKind::Unreadable;
  if (status.type() == fs::file_type::not_found) return FileKind::Missing;
  if (status.type() != fs::file_type::regular) return FileKind::Other;
  const auto size = fs::file_size(native, ec);
  if (ec) return FileKind::Unreadable;
  return size == 0 ? FileKind::Empty : FileKind::File;
}

// A new, empty file that only its owner may read and write; SQLite gives its
// journal files the same permissions.
bool CreateOwnerOnly(const std::string& path, std::string& why) {
  std::error_code ec;
  const fs::path native = NativePath(path);
  if (native.has_parent_path()) fs::create_directories(native.parent_path(), ec);
#ifndef _WIN32
  const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return true;  // another program made it meanwhile
    why = std::strerror(errno);
    return false;
  }
  ::fchmod(fd, 0600);  // whatever the umask
  ::close(fd);
#else
  std::ofstream out(native, std::ios::binary);
  if (!out) {
    why = "cannot create";
    return false;
  }
#endif
  return true;
}

std::string NextConnectionName() {
  static std::atomic<int> counter{0};
  return "lentar-fleet-" + std::to_string(++counter);
}

std::string DbError(const QSqlError& error) { return S(error.text()); }

// What a failure of an SQLite file says of the disk, in the operator's
// words before SQLite's own: a full disk or a folder that may not be written
// is no damage to the register, and must not read as one.
std::string FileFailure(const QSqlError& error) {
  // The primary result code is the low byte of SQLite's extended one.
  const int code = error.nativeErrorCode().toInt() & 0xFF;
  std::string said;
  switch (code) {
    case 13: said = T(u8"на диске нет места"); break;                      // SQLITE_FULL
    case 8: said = T(u8"файл или его папка только для чтения"); break;     // SQLITE_READONLY
    case 14:  // SQLITE_CANTOPEN
      said = T(u8"файл не открыть: нет прав на него или его папку, или папка только для чтения");
      break;
    case 10: said = T(u8"ошибка чтения или записи диска"); break;          // SQLITE_IOERR
    case 23: said = T(u8"нет прав на файл"); break;                         // SQLITE_AUTH
    default: return DbError(error);
  }
  return said + " (" + DbError(error) + ")";
}

// Tells the programs watching a shared register that it has changed. Inside
// a transaction PostgreSQL holds the notice until the commit, and drops it
// with a rollback. A register file needs nothing: its watchers see the
// change through SQLite itself (PRAGMA data_version).
void NotifyWatchers(const std::string& connection, bool shared) {
  if (!shared) return;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection), false);
  if (!db.isOpen()) return;
  QSqlQuery q(db);
  q.exec(QStringLiteral("NOTIFY %1").arg(QLatin1String(Register::kChangeChannel)));
}

// A function of the PostgreSQL client library the QPSQL driver loaded, or
// nullptr (before the driver is loaded, or on a system without it): the
// library is asked for what Qt does not tell, the state of the driver's
// connection and its socket.
void* ClientLibraryFunction(const char* name) {
#ifndef _WIN32
  void* library = ::dlopen("libpq.so.5", RTLD_LAZY | RTLD_NOLOAD);
  if (!library) library = ::dlopen("libpq.so", RTLD_LAZY | RTLD_NOLOAD);
  if (!library) return nullptr;
  void* function = ::dlsym(library, name);
  ::dlclose(library);  // only the reference taken here: the driver keeps it loaded
  return function;
#else
  (void)name;
  return nullptr;
#endif
}

// The PostgreSQL connection under a QPSQL driver, or nullptr.
void* ServerConnection(const QSqlDriver* driver) {
  if (!driver) return nullptr;
  const QVariant handle = driver->handle();
  // Qt names the type after libpq's struct: "PGconn*" or "pg_conn*".
  if (!handle.isValid() || (qstrcmp(handle.typeName(), "PGconn*") != 0 &&
                            qstrcmp(handle.typeName(), "pg_conn*") != 0))
    return nullptr;
  return *static_cast<void* const*>(handle.constData());
}

// Whether the server's connection is gone (the server restarted, the link
// broke): the client library says so once a call failed on it.
bool ServerConnectionLost(const QSqlDatabase& db) {
  using StatusFunction = int (*)(const void*);
  const auto status = reinterpret_cast<StatusFunction>(ClientLibraryFunction("PQstatus"));
  void* connection = ServerConnection(db.driver());
  return status && connection && status(connection) != 0;  // CONNECTION_OK is 0
}

// The longest a call to a database server may take, in ms.
std::atomic<int> serverTimeLimitMs{20000};
// Set on the thread when a call outlived the limit, until the failure is
// told (Register::Failure) or the next change or look begins.
thread_local bool lastCallTimedOut = false;

// Cuts the link of a call to a database server that outlives its time
// limit. The server's own statement_timeout ends a slow statement, and the
// keepalives a dead peer; neither helps when the link itself freezes (a
// proxy or a firewall that stops forwarding while holding the connection
// open): the client library would wait for ever for an answer. Shutting the
// socket down makes the call fail at once and the connection is opened
// again on the next call.
class CallWatch {
 public:
  static CallWatch& Instance() {
    static CallWatch* const watch = new CallWatch;  // its thread runs to the end
    return *watch;
  }
  long long Arm(int fd, std::chrono::steady_clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    const long long ticket = ++lastTicket_;
    calls_.emplace(ticket, Call{fd, deadline, false});
    wake_.notify_one();
    return ticket;
  }
  // Whether the call was cut.
  bool Disarm(long long ticket) {
    std::lock_guard lock(mutex_);
    const auto it = calls_.find(ticket);
    const bool cut = it != calls_.end() && it->second.cut;
    calls_.erase(ticket);
    return cut;
  }

 private:
  struct Call {
    int fd;
    std::chrono::steady_clock::time_point deadline;
    bool cut;
  };
  CallWatch() { std::thread([this] { Run(); }).detach(); }
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      auto next = std::chrono::steady_clock::time_point::max();
      const auto now = std::chrono::steady_clock::now();
      for (auto& [ticket, call] : calls_) {
        if (call.cut) continue;
        if (call.deadline <= now) {
          call.cut = true;
#ifndef _WIN32
          ::shutdown(call.fd, SHUT_RDWR);
#endif
        } else {
          next = std::min(next, call.deadline);
        }
      }
      if (next == std::chrono::steady_clock::time_point::max()) wake_.wait(lock);
      else wake_.wait_until(lock, next);
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<long long, Call> calls_;
  long long lastTicket_ = 0;
};

// Runs call, a call of q that talks to the server (QPSQL prepares its
// statements on the server too), under the time limit of a server call.
template <class Call>
bool Watched(QSqlQuery& q, Call call) {
  using SocketFunction = int (*)(const void*);
  void* connection = ServerConnection(q.driver());
  const auto socketOf =
      connection ? reinterpret_cast<SocketFunction>(ClientLibraryFunction("PQsocket")) : nullptr;
  const int fd = socketOf ? socketOf(connection) : -1;
  const long long ticket =
      fd >= 0 ? CallWatch::Instance().Arm(fd, std::chrono::steady_clock::now() +
                                                  std::chrono::milliseconds(serverTimeLimitMs))
              : 0;
  const bool ok = call();
  if (ticket && CallWatch::Instance().Disarm(ticket)) lastCallTimedOut = true;
  return ok;
}

bool Exec(QSqlQuery& q, const QString& sql = {}) {
  return Watched(q, [&] { return sql.isEmpty() ? q.exec() : q.exec(sql); });
}

bool Prepare(QSqlQuery& q, const QString& sql) {
  return Watched(q, [&] { return q.prepare(sql); });
}

// The log's old local-time texts as instants. A text is read as the local
// time of the computer doing the migration: the only clock it can be judged
// by, since the row does not say where it was written (on a register shared
// across time zones, the rows of the other zones come out shifted by the
// difference; their order among themselves is kept). A text that is no time
// at all gets 0 and sorts first.
bool ConvertLogTimes(QSqlQuery& q) {
  if (!Exec(q, "SELECT id, started, finished FROM deliveries")) return false;
  struct Row {
    long long id, started, finished;
  };
  std::vector<Row> rows;
  while (q.next()) {
    const auto started = Register::LocalTimeMs(S(q.value(1).toString()));
    const auto finished = Register::LocalTimeMs(S(q.value(2).toString()));
    rows.push_back({q.value(0).toLongLong(), started.value_or(0), finished.value_or(0)});
  }
  q.finish();
  if (!Prepare(q, "UPDATE deliveries SET started_ms = ?, finished_ms = ? WHERE id = ?"))
    return false;
  for (const Row& r : rows) {
    q.addBindValue(r.started);
    q.addBindValue(r.finished);
    q.addBindValue(r.id);
    if (!Exec(q)) return false;
  }
  q.finish();
  return true;
}

}  // namespace

int SpeedIndex(int bitsPerSecond) {
  static constexpr int kSpeeds[] = {9600, 19200, 28800, 38400, 57600};
  for (int i = 0; i < 5; ++i)
    if (kSpeeds[i] == bitsPerSecond) return i;
  return -1;
}

namespace {

// The first control character of text (a byte below 0x20 or DEL), if any;
// lineBreaks lets line feeds and tabs through (a note may have lines).
std::optional<unsigned char> ControlChar(const std::string& text, bool lineBreaks = false) {
  for (const unsigned char c : text)
    if ((c < 0x20 && !(lineBreaks && (c == '\n' || c == '\t'))) || c == 0x7F) return c;
  return std::nullopt;
}

// Refuses a field with a control character: it would reach a terminal or
// the board's screen as a command rather than a letter.
std::string ControlCharProblem(const char8_t* field, const std::string& text,
                               bool lineBreaks = false) {
  const auto c = ControlChar(text, lineBreaks);
  if (!c) return {};
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(*c));
  return T(field) + T(u8" содержит управляющий знак ") + code +
         T(u8"; такие знаки не допускаются");
}

// Whether line names a port a board can be reached on, as the settings
// dialog checks a port: a device path, COMn, a bare device name, or a
// well-formed socket://HOST:PORT or rfc2217://HOST:PORT.
bool LineFormSound(const std::string& line) {
  if (comm::IsNetworkPortName(line)) return comm::ParseNetworkPort(line).has_value();
  if (comm::SystemDeviceOfComName(line)) return true;
  if (line.find("://") != std::string::npos) return false;  // a scheme nobody serves
  if (line.front() == '/') return true;
  return std::all_of(line.begin(), line.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
  });
}

}  // namespace

std::string CheckBoard(const BoardRecord& board) {
  if (board.name.empty()) return T(u8"у табло нет имени");
  if (std::string why = ControlCharProblem(u8"имя табло", board.name); !why.empty()) return why;
  if (board.line.empty()) return T(u8"у табло '") + board.name + T(u8"' не задана линия");
  if (std::string why = ControlCharProblem(u8"линия табло", board.line); !why.empty()) return why;
  if (!LineFormSound(board.line))
    return T(u8"линия табло '") + board.name + T(u8"' задана неверно: '") + board.line +
           T(u8"' (нужно устройство, например /dev/ttyUSB0, COMn, socket://УЗЕЛ:ПОРТ или "
             u8"rfc2217://УЗЕЛ:ПОРТ с портом 1..65535)");
  if (board.address < -1 || board.address > 127)
    return T(u8"адрес табло должен быть 0..127 или -1 (без адреса)");
  for (int speed : {board.speed, board.loadSpeed})
    if (speed != 0 && SpeedIndex(speed) < 0)
      return T(u8"скорость ") + std::to_string(speed) +
             T(u8" не из тех, что знает табло (9600, 19200, 28800, 38400, 57600)");
  if (board.modem && board.dial.empty())
    return T(u8"для связи через модем нужен номер (--dial)");
  for (const auto& g : board.groups) {
    if (TrimBlanks(g).empty() || g.find('|') != std::string::npos)
      return T(u8"имя группы не может быть пустым или содержать '|'");
    if (std::string why = ControlCharProblem(u8"имя группы", g); !why.empty()) return why;
  }
  if (board.password.size() > 8) return T(u8"пароль табло длиннее 8 символов");
  if (board.modemPassword && board.modemPassword->size() > 8)
    return T(u8"пароль табло на модем длиннее 8 символов");
  const std::pair<const char8_t*, const std::string*> fields[] = {
      {u8"номер модема", &board.dial},
      {u8"пароль табло", &board.password},
      {u8"файл настроек табло", &board.ini},
  };
  for (const auto& [field, text] : fields)
    if (std::string why = ControlCharProblem(field, *text); !why.empty()) return why;
  if (board.modemPassword)
    if (std::string why = ControlCharProblem(u8"пароль табло на модем", *board.modemPassword);
        !why.empty())
      return why;
  if (board.initLines)
    for (const auto& l : *board.initLines)
      if (std::string why = ControlCharProblem(u8"строка настройки модема", l); !why.empty())
        return why;
  return ControlCharProblem(u8"примечание", board.note, true);
}

Register::Register() : connection_(NextConnectionName()) {}

Register::~Register() {
  {
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
    if (db.isValid()) db.close();
  }
  if (QSqlDatabase::contains(QString::fromStdString(connection_)))
    QSqlDatabase::removeDatabase(QString::fromStdString(connection_));
}

namespace {

// The parts of postgresql://[USER@][HOST][:PORT][/DBNAME][?KEY=VALUE&...].
struct ServerAddress {
  std::string user, host, dbname;
  int port = 0;  // 0: the client library's default (PGPORT, else 5432)
  std::vector<std::pair<std::string, std::string>> options;
};

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A piece of a server address that may be shown: no space, no '=', no
// quote, no control character, nothing that could be a password smuggled
// into it.
bool Showable(const std::string& piece) {
  return std::none_of(piece.begin(), piece.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' || u == 0x7F || std::strchr("='\"\\;&?%", c) != nullptr;
  });
}

// The address as messages show it: a file's path as it is; a server's as
// its user, host, port and database only. Query options and a password
// someone wrote into it are never repeated on the screen or in a log, nor is
// a piece that holds anything but a plain name.
std::string ShownAddress(const std::string& address) {
  if (!Register::IsServerAddress(address)) return address;
  const size_t schemeEnd = address.find("://");
  std::string rest = address.substr(schemeEnd + 3);
  const bool options = rest.find('?') != std::string::npos;
  rest.resize(std::min(rest.find('?'), rest.size()));
  std::string db;
  if (const size_t slash = rest.find('/'); slash != std::string::npos) {
    db = PercentDecoded(rest.substr(slash + 1));
    rest.resize(slash);
  }
  std::string user;
  if (const size_t at = rest.rfind('@'); at != std::string::npos) {
    user = rest.substr(0, at);
    const bool password = user.find(':') != std::string::npos;
    user = PercentDecoded(user.substr(0, user.find(':')));
    if (password) user += ":***";
    rest = rest.substr(at + 1);
  }
  // HOST[:PORT] or [IPV6][:PORT]; a port is shown only when it is a number.
  std::string host = rest, port;
  const size_t close = !rest.empty() && rest.front() == '[' ? rest.find(']') : 0;
  if (const size_t colon = rest.find(':', close == std::string::npos ? 0 : close);
      close != std::string::npos && colon != std::string::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  const bool ipv6 = host.size() > 2 && host.front() == '[' && host.back() == ']' &&
                    host.find_first_not_of("0123456789abcdefABCDEF:.", 1) == host.size() - 1;
  if (!ipv6) host = PercentDecoded(host);
  const auto piece = [](const std::string& text) { return Showable(text) ? text : "\x85"; };
  std::string shown = address.substr(0, schemeEnd + 3);
  if (!user.empty()) {
    const size_t colon = user.find(":***");
    shown += colon == std::string::npos ? piece(user) : piece(user.substr(0, colon)) + ":***";
    shown += "@";
  }
  shown += ipv6 || (host.find_first_of("[]:") == std::string::npos && Showable(host)) ? host
                                                                                     : "\x85";
  if (!port.empty())
    shown += ":" + (port.find_first_not_of("0123456789") == std::string::npos ? port : "\x85");
  if (!db.empty()) shown += "/" + piece(db);
  if (options) shown += "?\x85";  // the options, not repeated
  return shown;
}

}  // namespace

bool Register::Refuse(const std::string& reason, std::string& error) {
  error = T(u8"Реестр табло '") + ShownAddress(path_) + "': " + reason;
  {
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
    if (db.isValid()) db.close();
  }
  open_ = false;
  return false;
}

bool Register::RefuseFile(const std::string& reason, std::string& error) {
  Refuse(reason, error);
  // A look into a WAL database leaves an empty journal and its index beside
  // it; a file that is not ours gets back the company it had. Only an empty
  // journal is taken away: one with pages in it is another program's work.
  for (const auto& [suffix, had] : {std::pair{"-wal", hadWal_}, std::pair{"-shm", hadShm_}}) {
    std::error_code ec;
    const fs::path companion = NativePath(path_ + suffix);
    if (!had && fs::exists(companion, ec) && (suffix == std::string("-shm") ||
                                              fs::file_size(companion, ec) == 0))
      fs::remove(companion, ec);
  }
  return false;
}

bool Register::IsServerAddress(const std::string& address) {
  const std::string lower = LowerCase(address.substr(0, 13));
  return lower.rfind("postgresql://", 0) == 0 || lower.rfind("postgres://", 0) == 0;
}

bool Register::Open(const std::string& address, std::string& error) {
  path_ = address;
  open_ = false;
  unreachable_ = false;
  shared_ = IsServerAddress(address);
  return shared_ ? OpenServer(address, error) : OpenFile(address, error);
}

bool Register::OpenFile(const std::string& path, std::string& error) {
  if (!QSqlDatabase::isDriverAvailable("QSQLITE"))
    return Refuse(T(u8"нет драйвера SQLite для Qt (пакет libqt6sql6-sqlite)"), error);

  const FileKind kind = KindOf(path);
  {
    std::error_code ec;
    hadWal_ = fs::exists(NativePath(path + "-wal"), ec);
    hadShm_ = fs::exists(NativePath(path + "-shm"), ec);
  }
  if (kind == FileKind::Other)
    return Refuse(T(u8"это не файл базы данных SQLite; он оставлен как есть"), error);
  if (kind == FileKind::Unreadable) return Refuse(T(u8"файл не читается"), error);
  if (kind == FileKind::Missing) {
    std::string why;
    if (!CreateOwnerOnly(path, why))
      return Refuse(T(u8"файл не удалось создать: ") + why, error);
  }
#ifndef _WIN32
  // An empty file someone made beforehand becomes a register and will hold
  // the boards' passwords: only its owner may read it, as a new one.
  if (kind == FileKind::Empty && ::chmod(NativePath(path).c_str(), 0600) != 0)
    return Refuse(T(u8"файлу не удалось дать права только владельца (") +
                      std::strerror(errno) + T(u8"); в нём будут пароли табло"),
                  error);
#endif

  const QString name = QString::fromStdString(connection_);
  QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                 : QSqlDatabase::addDatabase("QSQLITE", name);
  db.setDatabaseName(QString::fromStdString(NativePath(path).string()));

  // First a look with a read-only connection: whether it is a database at
  // all, whose, which version, whether it reads whole. SQLite reads the
  // header itself: a file that is not a database is refused by it unchanged.
  int applicationId = 0, tables = 0;
  foundVersion_ = 0;
  {
    db.setConnectOptions(QString("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open()) return Refuse(T(u8"не открывается: ") + FileFailure(db.lastError()), error);
    QSqlQuery q(db);
    // One read transaction: another program creating the register meanwhile
    // is seen before or after, never half (tables without their id).
    bool readable = Exec(q, "BEGIN") && Exec(q, "PRAGMA application_id") && q.next();
    if (readable) applicationId = q.value(0).toInt();
    readable = readable && Exec(q, "PRAGMA user_version") && q.next();
    if (readable) foundVersion_ = q.value(0).toInt();
    readable = readable && Exec(q, "SELECT count(*) FROM sqlite_master") && q.next();
    if (readable) tables = q.value(0).toInt();
    std::string check;
    if (readable && Exec(q, "PRAGMA quick_check") && q.next()) check = q.value(0).toString().toStdString();
    const QSqlError failure = q.lastError();
    q.finish();
    Exec(q, "ROLLBACK");
    db.close();
    // SQLITE_NOTADB: the first page is not an SQLite header.
    if (!readable && failure.nativeErrorCode() == "26")
      return RefuseFile(
          T(u8"файл повреждён или это не база данных SQLite; он оставлен как есть"), error);
    // Another failure (the file busy for longer than the wait, no memory)
    // says nothing of the file: it is refused without a word on it, and the
    // journal files, which another program may be using, stay.
    if (!readable && failure.nativeErrorCode() != "11")  // SQLITE_CORRUPT
      return Refuse(T(u8"не читается: ") + FileFailure(failure), error);
    if (!readable || check != "ok")
      return RefuseFile(T(u8"файл повреждён (") + (readable ? check : DbError(failure)) +
                            T(u8"); он оставлен как есть"),
                        error);
  }
  if (applicationId != kApplicationId && (applicationId != 0 || tables != 0))
    return RefuseFile(
        T(u8"это база данных другой программы, а не реестр табло; она оставлена как есть"), error);
  if (applicationId == kApplicationId && foundVersion_ > kSchemaVersion)
    return RefuseFile(T(u8"реестр создан более новой версией программы (схема ") +
                          std::to_string(foundVersion_) + T(u8", эта версия знает схемы до ") +
                          std::to_string(kSchemaVersion) + T(u8"); он оставлен как есть"),
                      error);

  db.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
  if (!db.open()) return Refuse(T(u8"не открывается: ") + FileFailure(db.lastError()), error);
  {
    QSqlQuery q(db);
    // WAL: readers never wait for a writer; normal sync is safe in WAL.
    // Turning it on wants the file to itself, and SQLite does not wait for
    // that: another program opening a new register at the same moment is
    // waited for here, up to the busy timeout.
    bool wal = false;
    for (const auto until = std::chrono::steady_clock::now() +
                            std::chrono::milliseconds(kBusyTimeoutMs);
         !wal;) {
      wal = Exec(q, "PRAGMA journal_mode=WAL") && q.next() &&
            q.value(0).toString().compare("wal", Qt::CaseInsensitive) == 0;
      q.finish();
      if (wal || std::chrono::steady_clock::now() >= until) break;
      // Only another program's hold on the file is worth waiting for
      // (SQLITE_BUSY, SQLITE_LOCKED); a full disk stays full.
      const int code = q.lastError().nativeErrorCode().toInt() & 0xFF;
      if (q.lastError().isValid() && code != 5 && code != 6) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!wal || !Exec(q, "PRAGMA foreign_keys=ON") || !Exec(q, "PRAGMA synchronous=NORMAL"))
      return Refuse(T(u8"не удалось настроить: ") + FileFailure(q.lastError()), error);
  }
  open_ = true;
  if (applicationId == kApplicationId && foundVersion_ == kSchemaVersion) return true;
  if (!Migrate(error)) {
    const std::string why = error;
    return Refuse(why, error);
  }
  return true;
}

namespace {

// The options an address may carry: those that change nothing but how the
// connection is secured, named and timed, each with the values it takes. A
// value is a plain word: no space, no '=', no quote, so that nothing can be
// smuggled into the client library's connection string through it.
bool OptionValueSound(const std::string& key, const std::string& value) {
  const auto among = [&](std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return value == w; });
  };
  const auto made_of = [&](const char* extra) {
    return !value.empty() && value.size() <= 200 &&
           std::all_of(value.begin(), value.end(), [&](char c) {
             return std::isalnum(static_cast<unsigned char>(c)) || std::strchr(extra, c);
           });
  };
  if (key == "sslmode")
    return among({"disable", "allow", "prefer", "require", "verify-ca", "verify-full"});
  if (key == "gssencmode") return among({"disable", "prefer", "require"});
  if (key == "target_session_attrs")
    return among({"any", "read-write", "read-only", "primary", "standby", "prefer-standby"});
  if (key == "connect_timeout") return value.size() <= 3 && made_of("");
  if (key == "application_name") return value.size() <= 63 && made_of("_.-");
  if (key == "sslrootcert" || key == "sslcert" || key == "sslkey" || key == "sslcrl")
    return made_of("_.-/~+:");
  return false;
}

bool KnownOption(const std::string& key) {
  for (const char* k : {"sslmode", "gssencmode", "target_session_attrs", "connect_timeout",
                        "application_name", "sslrootcert", "sslcert", "sslkey", "sslcrl"})
    if (key == k) return true;
  return false;
}

// Empty when the address is sound, else why not (Windows-1251). Each piece is
// decoded once; nothing decoded from an option is ever put in the reason.
std::string ParseServerAddress(const std::string& address, ServerAddress& a) {
  const std::string kPassword =
      T(u8"пароль не пишется в адрес реестра: он хранится в ~/.pgpass или PGPASSWORD");
  std::string rest = address.substr(address.find("://") + 3);
  if (const size_t q = rest.find('?'); q != std::string::npos) {
    std::string query = rest.substr(q + 1);
    rest.resize(q);
    size_t at = 0;
    while (at <= query.size()) {
      size_t end = query.find('&', at);
      if (end == std::string::npos) end = query.size();
      const std::string pair = query.substr(at, end - at);
      at = end + 1;
      if (pair.empty()) continue;
      const size_t eq = pair.find('=');
      const std::string key = PercentDecoded(pair.substr(0, eq));
      const std::string value = eq == std::string::npos ? "" : PercentDecoded(pair.substr(eq + 1));
      if (LowerCase(key).find("pass") != std::string::npos) return kPassword;
      if (!KnownOption(key)) {
        const bool plain = !key.empty() && key.size() <= 40 &&
                           std::all_of(key.begin(), key.end(), [](char c) {
                             return (c >= 'a' && c <= 'z') || c == '_';
                           });
        return (plain ? T(u8"параметр '") + key + T(u8"' в адресе не допускается")
                      : T(u8"непонятный параметр в адресе")) +
               T(u8" (допускаются sslmode, sslrootcert, sslcert, sslkey, sslcrl, gssencmode, "
                 u8"target_session_attrs, connect_timeout, application_name)");
      }
      if (!OptionValueSound(key, value))
        return T(u8"недопустимое значение параметра '") + key + T(u8"' в адресе");
      a.options.emplace_back(key, value);
    }
  }
  if (const size_t slash = rest.find('/'); slash != std::string::npos) {
    a.dbname = PercentDecoded(rest.substr(slash + 1));
    rest.resize(slash);
  }
  if (const size_t at = rest.rfind('@'); at != std::string::npos) {
    const std::string user = rest.substr(0, at);
    if (user.find(':') != std::string::npos)
      return T(u8"пароль не пишется в адрес реестра: он хранится в ~/.pgpass или PGPASSWORD");
    a.user = PercentDecoded(user);
    rest = rest.substr(at + 1);
  }
  std::string port;
  if (!rest.empty() && rest.front() == '[') {  // [IPv6]:PORT
    const size_t close = rest.find(']');
    if (close == std::string::npos) return T(u8"в адресе не закрыта скобка ']'");
    a.host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return T(u8"непонятный адрес сервера");
      port = rest.substr(close + 2);
    }
  } else if (const size_t colon = rest.find(':'); colon != std::string::npos) {
    a.host = PercentDecoded(rest.substr(0, colon));
    port = rest.substr(colon + 1);
  } else {
    a.host = PercentDecoded(rest);
  }
  if (!port.empty()) {
    const bool digits = port.size() <= 5 && std::all_of(port.begin(), port.end(), [](char c) {
      return c >= '0' && c <= '9';
    });
    a.port = digits ? std::stoi(port) : 0;
    if (a.port < 1 || a.port > 65535) return T(u8"порт сервера должен быть числом 1..65535");
  }
  // The names go to the client library and come back in its messages: plain
  // names only, nothing that reads as another setting.
  const std::pair<const char8_t*, const std::string*> names[] = {
      {u8"имя пользователя", &a.user}, {u8"имя базы данных", &a.dbname}, {u8"имя сервера", &a.host}};
  for (const auto& [what, text] : names)
    if (!Showable(*text))
      return T(what) + T(u8" в адресе содержит недопустимые знаки (пробел, '=', кавычку, "
                            u8"управляющий знак)");
  return {};
}

// Whether anything answers at the server's address: a connection that can be
// made at all. Tells a server that is down or out of reach from one that
// answered and refused, whatever language the client library speaks.
bool ServerAnswers(const ServerAddress& a) {
#ifndef _WIN32
  int port = a.port;
  if (port == 0) {
    const char* env = std::getenv("PGPORT");
    port = env && std::atoi(env) > 0 ? std::atoi(env) : 5432;
  }
  std::string host = a.host;
  if (host.empty()) {
    const char* env = std::getenv("PGHOST");
    host = env ? env : "";
  }
  const auto answersOn = [](int fd, const sockaddr* address, socklen_t length) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    bool ok = ::connect(fd, address, length) == 0;
    if (!ok && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int soError = 0;
      socklen_t soLength = sizeof soError;
      ok = ::poll(&p, 1, 3000) == 1 &&
           ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &soLength) == 0 && soError == 0;
    }
    // A connection alone is not an answer (a frozen proxy, a hung server
    // accept one): a PostgreSQL server answers the request for encryption
    // at once with one letter, 'S' or 'N' (or 'E' when it cannot serve).
    if (ok) {
      static constexpr unsigned char kSslRequest[8] = {0, 0, 0, 8, 0x04, 0xD2, 0x16, 0x2F};
      ok = ::send(fd, kSslRequest, sizeof kSslRequest, MSG_NOSIGNAL) ==
           static_cast<ssize_t>(sizeof kSslRequest);
      pollfd p{fd, POLLIN, 0};
      char reply = 0;
      ok = ok && ::poll(&p, 1, 3000) == 1 && ::recv(fd, &reply, 1, 0) == 1 &&
           (reply == 'S' || reply == 'N' || reply == 'E');
    }
    ::close(fd);
    return ok;
  };
  if (host.empty() || host.front() == '/') {
    // The server's socket in its folder (Debian's, else the usual one).
    for (const std::string& folder :
         host.empty() ? std::vector<std::string>{"/var/run/postgresql", "/tmp"}
                      : std::vector<std::string>{host}) {
      sockaddr_un un{};
      un.sun_family = AF_UNIX;
      const std::string path = folder + "/.s.PGSQL." + std::to_string(port);
      if (path.size() >= sizeof un.sun_path) continue;
      std::memcpy(un.sun_path, path.c_str(), path.size() + 1);
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd >= 0 && answersOn(fd, reinterpret_cast<const sockaddr*>(&un), sizeof un)) return true;
    }
    return false;
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool answered = false;
  for (addrinfo* ai = found; ai && !answered; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd >= 0) answered = answersOn(fd, ai->ai_addr, ai->ai_addrlen);
  }
  ::freeaddrinfo(found);
  return answered;
#else
  (void)a;
  return true;
#endif
}

}  // namespace

namespace {

// Every relation of the database outside the server's own schemas, whoever
// owns it and whatever the search path: the database is judged whole.
constexpr const char* kUserRelations =
    "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname NOT IN ('pg_catalog', 'information_schema') "
    "AND n.nspname NOT LIKE 'pg\\_toast%' AND n.nspname NOT LIKE 'pg\\_temp\\_%'";
// Whether the register's own table is in the schema its tables go to.
constexpr const char* kRegisterTable =
    "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = current_schema() AND c.relname = 'lentar_register' "
    "AND c.relkind IN ('r', 'p')";

// How long a database server's call may take before it is given up, in ms:
// well inside the lease of a line (30 s by default), so that a run whose
// register stopped answering learns it in time.
constexpr int kStatementTimeoutMs = 15000;
constexpr int kLockTimeoutMs = kBusyTimeoutMs;

}  // namespace

bool Register::SetUpSession(std::string& error) {
  QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
  // The server's notices ("relation already exists") are no news to the
  // operator; a call or a wait for a lock has a limit; a transaction left
  // open by a program that hung is ended by the server.
  for (const QString& sql :
       {QString("SET client_min_messages = warning"),
        QString("SET statement_timeout = %1").arg(kStatementTimeoutMs),
        QString("SET lock_timeout = %1").arg(kLockTimeoutMs),
        QString("SET idle_in_transaction_session_timeout = %1").arg(4 * kStatementTimeoutMs)})
    if (!Exec(q, sql)) {
      error = T(u8"не удалось настроить соединение: ") + Failure(q.lastError());
      return false;
    }
  return true;
}

bool Register::OpenServer(const std::string& address, std::string& error) {
  ServerAddress a;
  if (std::string why = ParseServerAddress(address, a); !why.empty()) return Refuse(why, error);
  if (!QSqlDatabase::isDriverAvailable("QPSQL"))
    return Refuse(T(u8"нет драйвера PostgreSQL для Qt (пакет libqt6sql6-psql)"), error);
  const QString name = QString::fromStdString(connection_);
  QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                 : QSqlDatabase::addDatabase("QPSQL", name);
  db.setHostName(Q(a.host));
  db.setPort(a.port > 0 ? a.port : -1);
  db.setUserName(Q(a.user));
  db.setDatabaseName(Q(a.dbname));
  // No password is set: the client library finds it in ~/.pgpass or
  // PGPASSWORD. A server that does not answer is given up after a few
  // seconds rather than the system's minutes; a link that dies under an
  // open connection is noticed by the keepalives, and data the server never
  // acknowledges ends the connection after tcp_user_timeout.
  QString options =
      QString("connect_timeout=5;keepalives=1;keepalives_idle=10;keepalives_interval=3;"
              "keepalives_count=3;tcp_user_timeout=%1;application_name=lentar")
          .arg(kStatementTimeoutMs);
  for (const auto& [key, value] : a.options) options += ";" + Q(key) + "=" + Q(value);
  db.setConnectOptions(options);
  if (!db.open()) {
    std::string why = S(db.lastError().databaseText().trimmed());
    if (why.empty()) why = DbError(db.lastError());
    unreachable_ = !ServerAnswers(a);
    return Refuse((unreachable_ ? T(u8"сервер базы данных не отвечает: ")
                                : T(u8"сервер базы данных отказал: ")) +
                      why,
                  error);
  }
  if (!SetUpSession(error)) {
    const std::string why = error;
    return Refuse(why, error);
  }
  // A look first, changing nothing: whose database it is, which version.
  bool ours = false;
  {
    QSqlQuery q(db);
    int relations = 0;
    int applicationId = 0;
    bool readable = Exec(q, kUserRelations) && q.next();
    if (readable) relations = q.value(0).toInt();
    readable = readable && Exec(q, kRegisterTable) && q.next();
    if (readable) ours = q.value(0).toInt() > 0;
    if (readable && ours) {
      readable = Exec(q, "SELECT application_id, schema_version FROM lentar_register") && q.next();
      if (readable) {
        applicationId = q.value(0).toInt();
        foundVersion_ = q.value(1).toInt();
      }
    }
    if (!readable) return Refuse(T(u8"не читается: ") + DbError(q.lastError()), error);
    q.finish();
    if ((ours && applicationId != kApplicationId) || (!ours && relations != 0))
      return Refuse(
          T(u8"это база данных другой программы, а не реестр табло; она оставлена как есть"),
          error);
    if (foundVersion_ > kSchemaVersion)
      return Refuse(T(u8"реестр создан более новой версией программы (схема ") +
                        std::to_string(foundVersion_) + T(u8", эта версия знает схемы до ") +
                        std::to_string(kSchemaVersion) + T(u8"); он оставлен как есть"),
                    error);
  }
  open_ = true;
  // A register of this version is used as it is: nothing is created, so a
  // role that may read and write the tables but not create any works too.
  if (ours && foundVersion_ == kSchemaVersion) return true;
  if (!MigrateServer(error)) {
    const std::string why = error;
    return Refuse(why, error);
  }
  return true;
}

// The server's migration: one transaction, DDL included, so that a step is
// either all there or not at all; an advisory lock keeps two programs
// starting at once from both doing the work. The database is judged again
// under the lock: tables are created only in an empty database or beside
// the register's own.
bool Register::MigrateServer(std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  const auto fail = [&](const QSqlError& why) {
    error = T(u8"схему не удалось обновить: ") + DbError(why);
    q.finish();
    Rollback();
    return false;
  };
  if (!Exec(q, "BEGIN")) return fail(q.lastError());
  if (!Exec(q, QString("SELECT pg_advisory_xact_lock(%1)").arg(kApplicationId)) ||
      !Exec(q, kRegisterTable) || !q.next())
    return fail(q.lastError());
  const bool ours = q.value(0).toInt() > 0;
  if (!ours) {
    if (!Exec(q, kUserRelations) || !q.next()) return fail(q.lastError());
    if (q.value(0).toInt() != 0) {
      q.finish();
      Rollback();
      error = T(u8"это база данных другой программы, а не реестр табло; она оставлена как есть");
      return false;
    }
    if (!Exec(q, "CREATE TABLE lentar_register ("
                " application_id INTEGER NOT NULL, schema_version INTEGER NOT NULL)"))
      return fail(q.lastError());
  }
  if (!Exec(q, "SELECT schema_version FROM lentar_register")) return fail(q.lastError());
  int version = 0;
  const bool hasRow = q.next();
  if (hasRow) version = q.value(0).toInt();
  q.finish();
  if (!hasRow && !Exec(q, QString("INSERT INTO lentar_register VALUES (%1, 0)").arg(kApplicationId)))
    return fail(q.lastError());
  for (int step = version; step < kSchemaVersion; ++step) {
    for (const char* sql : kMigrations[step]) {
      if (!sql) break;
      if (!Exec(q, StepSql(sql, true))) return fail(q.lastError());
    }
    if (step == 3 && !ConvertLogTimes(q)) return fail(q.lastError());
  }
  if (version < kSchemaVersion &&
      !Exec(q, QString("UPDATE lentar_register SET schema_version = %1").arg(kSchemaVersion)))
    return fail(q.lastError());
  q.finish();
  if (!Exec(q, "COMMIT")) return fail(q.lastError());
  return true;
}

long long Register::InsertReturningId(QSqlQuery& q) {
  if (!Exec(q)) return 0;
  if (!shared_) return q.lastInsertId().toLongLong();
  // PostgreSQL has no last row id of its own: the INSERT returns it.
  const long long id = q.next() ? q.value(0).toLongLong() : 0;
  q.finish();
  return id;
}

const char* Register::ServerNowMs() const {
  return shared_ ? "CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)"
                 : "CAST((julianday('now') - 2440587.5) * 86400000.0 AS INTEGER)";
}

bool Register::TakeLine(const std::string& key, const LineHolder& holder, int leaseMs,
                        bool& taken, LineHolder& current, std::string& error) {
  taken = false;
  if (!Ready(error)) return false;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  // One statement: a free line is inserted, a line whose lease has run out
  // is taken over; a line in use is left as it is. The database makes it
  // atomic against every other program doing the same.
  Prepare(q, QString("INSERT INTO line_locks(line, token, host, pid, operator, taken, expires_ms) "
                    "VALUES (?, ?, ?, ?, ?, ?, %1 + ?) ON CONFLICT (line) DO UPDATE SET "
                    "token = excluded.token, host = excluded.host, pid = excluded.pid, "
                    "operator = excluded.operator, taken = excluded.taken, "
                    "expires_ms = excluded.expires_ms "
                    "WHERE line_locks.expires_ms < %1 OR line_locks.token = excluded.token")
                .arg(ServerNowMs()));
  q.addBindValue(Q(key));
  q.addBindValue(QString::fromStdString(holder.token));
  q.addBindValue(Q(holder.host));
  q.addBindValue(holder.pid);
  q.addBindValue(Q(holder.operatorName));
  q.addBindValue(Q(Now()));
  q.addBindValue(static_cast<long long>(leaseMs));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  Prepare(q, "SELECT token, host, pid, operator FROM line_locks WHERE line = ?");
  q.addBindValue(Q(key));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  if (q.next()) {
    current.token = q.value(0).toString().toStdString();
    current.host = S(q.value(1).toString());
    current.pid = q.value(2).toLongLong();
    current.operatorName = S(q.value(3).toString());
    taken = current.token == holder.token;
  }
  return true;
}

bool Register::RenewLines(const std::string& token, int leaseMs, std::vector<std::string>& held,
                          std::string& error) {
  held.clear();
  if (!Ready(error)) return false;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  Prepare(q, QString("UPDATE line_locks SET expires_ms = %1 + ? WHERE token = ?").arg(ServerNowMs()));
  q.addBindValue(static_cast<long long>(leaseMs));
  q.addBindValue(QString::fromStdString(token));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  Prepare(q, "SELECT line FROM line_locks WHERE token = ?");
  q.addBindValue(QString::fromStdString(token));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  while (q.next()) held.push_back(S(q.value(0).toString()));
  return true;
}

bool Register::ReleaseLine(const std::string& key, const std::string& token, std::string& error) {
  if (!Ready(error)) return false;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  Prepare(q, "DELETE FROM line_locks WHERE line = ? AND token = ?");
  q.addBindValue(Q(key));
  q.addBindValue(QString::fromStdString(token));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  return true;
}

// Brings the schema to kSchemaVersion inside one write transaction; another
// program doing the same meanwhile is waited for, and its work not repeated.
bool Register::Migrate(std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  if (!Exec(q, "BEGIN IMMEDIATE")) {
    error = T(u8"схему не удалось обновить: ") + DbError(q.lastError());
    return false;
  }
  int version = 0;
  if (Exec(q, "PRAGMA user_version") && q.next()) version = q.value(0).toInt();
  q.finish();
  bool ok = true;
  for (int step = version; ok && step < kSchemaVersion; ++step) {
    for (const char* sql : kMigrations[step]) {
      if (!sql) break;
      if (!Exec(q, StepSql(sql, false))) {
        ok = false;
        break;
      }
    }
    if (ok && step == 3) ok = ConvertLogTimes(q);
  }
  if (ok && version < kSchemaVersion)
    ok = Exec(q, QString("PRAGMA user_version=%1").arg(kSchemaVersion)) &&
         Exec(q, QString("PRAGMA application_id=%1").arg(kApplicationId));
  if (!ok) {
    error = T(u8"схему не удалось обновить: ") + DbError(q.lastError());
    QSqlQuery(db).exec("ROLLBACK");
    return false;
  }
  if (!Exec(q, "COMMIT")) {
    error = T(u8"схему не удалось обновить: ") + DbError(q.lastError());
    QSqlQuery(db).exec("ROLLBACK");
    return false;
  }
  return true;
}

namespace {

void Bind(QSqlQuery& q, const BoardRecord& b) {
  q.bindValue(":name", Q(b.name));
  q.bindValue(":line", Q(b.line));
  q.bindValue(":address", b.address);
  q.bindValue(":speed", b.speed);
  q.bindValue(":load_speed", b.loadSpeed);
  q.bindValue(":modem", b.modem ? 1 : 0);
  q.bindValue(":dial", Q(b.dial));
  q.bindValue(":pulse", b.pulse ? 1 : 0);
  q.bindValue(":modem_init", b.initLines ? QVariant(Q(JoinLines(*b.initLines)))
                                         : QVariant(QMetaType::fromType<QString>()));
  q.bindValue(":modem_password", b.modemPassword ? QVariant(Q(*b.modemPassword))
                                                 : QVariant(QMetaType::fromType<QString>()));
  q.bindValue(":password", Q(b.password));
  q.bindValue(":ini", Q(b.ini));
  q.bindValue(":note", Q(b.note));
}

constexpr const char* kBoardColumns =
    "id, name, line, address, speed, load_speed, modem, dial, pulse, modem_init, "
    "modem_password, password, ini, note";

BoardRecord ReadBoard(const QSqlQuery& q, long long& id) {
  BoardRecord b;
  id = q.value(0).toLongLong();
  b.name = S(q.value(1).toString());
  b.line = S(q.value(2).toString());
  b.address = q.value(3).toInt();
  b.speed = q.value(4).toInt();
  b.loadSpeed = q.value(5).toInt();
  b.modem = q.value(6).toInt() != 0;
  b.dial = S(q.value(7).toString());
  b.pulse = q.value(8).toInt() != 0;
  if (!q.value(9).isNull()) b.initLines = SplitLines(S(q.value(9).toString()));
  if (!q.value(10).isNull()) b.modemPassword = S(q.value(10).toString());
  b.password = S(q.value(11).toString());
  b.ini = S(q.value(12).toString());
  b.note = S(q.value(13).toString());
  return b;
}

}  // namespace

bool Register::SaveGroups(long long id, const std::vector<std::string>& groups,
                          std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  Prepare(q, "DELETE FROM board_groups WHERE board_id = ?");
  q.addBindValue(id);
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  for (const auto& g : SortedGroups(groups)) {
    Prepare(q, "INSERT INTO board_groups(board_id, name) VALUES (?, ?)");
    q.addBindValue(id);
    q.addBindValue(Q(g));
    if (!Exec(q)) {
      error = Failure(q.lastError());
      return false;
    }
  }
  return true;
}

namespace {

// A group as the register tells groups apart: trimmed, without regard to
// case (the code page's letters, Cyrillic included).
std::string GroupKey(std::string_view group) { return LowerCase(TrimBlanks(group)); }

// The register's spelling of each group: the first one it has.
class GroupSpellings {
 public:
  explicit GroupSpellings(const std::vector<std::string>& stored) {
    for (const auto& name : stored) byKey_.emplace(GroupKey(name), name);
  }
  // The groups as the register spells them, each once; a new group keeps its
  // (trimmed) spelling and is the one later spellings join.
  std::vector<std::string> Spell(const std::vector<std::string>& groups) {
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (const auto& g : groups) {
      const std::string key = GroupKey(g);
      const auto [it, added] = byKey_.emplace(key, TrimBlanks(g));
      if (seen.insert(key).second) out.push_back(it->second);
    }
    return out;
  }

 private:
  std::unordered_map<std::string, std::string> byKey_;
};

// A board of that name is in the register already: says so in error.
bool NameTaken(QSqlQuery& q, const std::string& name, std::string& error) {
  Prepare(q, "SELECT count(*) FROM boards WHERE name = ?");
  q.addBindValue(Q(name));
  const bool taken = Exec(q) && q.next() && q.value(0).toInt() > 0;
  q.finish();
  if (taken) error = T(u8"табло '") + name + T(u8"' уже есть в реестре");
  return taken;
}

constexpr const char* kInsertBoard =
    "INSERT INTO boards(name, line, address, speed, load_speed, modem, dial, pulse, "
    "modem_init, modem_password, password, ini, note) VALUES (:name, :line, :address, "
    ":speed, :load_speed, :modem, :dial, :pulse, :modem_init, :modem_password, :password, "
    ":ini, :note)";

}  // namespace

namespace {

// A unique constraint refused the row (SQLite's SQLITE_CONSTRAINT_UNIQUE,
// PostgreSQL's SQLSTATE 23505).
bool IsUniqueViolation(const QSqlError& error) {
  const QString code = error.nativeErrorCode();
  return code == "23505" || code == "2067" || code == "1555";
}

}  // namespace

bool Register::Ready(std::string& error) {
  lastCallTimedOut = false;
  if (!open_) {
    error = T(u8"реестр не открыт");
    return false;
  }
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  if (db.isOpen()) return true;
  // The server's connection was lost (the server restarted, the link broke):
  // a new one, else the reason.
  if (!db.open()) {
    error = T(u8"связь с сервером реестра потеряна: ") + S(db.lastError().text().trimmed());
    return false;
  }
  return !shared_ || SetUpSession(error);
}

void Register::SetServerTimeLimit(int ms) { serverTimeLimitMs = std::max(ms, 100); }

std::string Register::Failure(const QSqlError& failure) {
  char seconds[16];
  std::snprintf(seconds, sizeof seconds, "%g", serverTimeLimitMs / 1000.0);
  const std::string text = lastCallTimedOut ? T(u8"сервер реестра не ответил за ") + seconds +
                                                  T(u8" с; связь с ним прервана")
                                            : DbError(failure);
  lastCallTimedOut = false;
  if (shared_) {
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
    if (db.isOpen() && ServerConnectionLost(db)) db.close();
  }
  return text;
}

bool Register::Begin(std::string& error) {
  if (!Ready(error)) return false;
  QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
  // SQLite: the write lock at once, waiting for another writer up to the
  // busy timeout; a deferred transaction that reads and then writes would
  // instead fail at once when another program wrote meanwhile.
  if (!Exec(q, shared_ ? "BEGIN" : "BEGIN IMMEDIATE")) {
    error = Failure(q.lastError());
    return false;
  }
  // Every change goes through a transaction begun here.
  NotifyWatchers(connection_, shared_);
  return true;
}

bool Register::Commit(std::string& error) {
  QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
  if (!Exec(q, "COMMIT")) {
    error = Failure(q.lastError());
    Rollback();
    return false;
  }
  return true;
}

void Register::Rollback() {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  if (!db.isOpen()) return;
  QSqlQuery q(db);
  Exec(q, "ROLLBACK");
}

bool Register::ReadGroupNames(std::vector<std::string>& names, std::string& error) {
  names.clear();
  QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
  q.setForwardOnly(true);
  // The oldest board's spelling first.
  if (!Exec(q, "SELECT name FROM board_groups GROUP BY name ORDER BY min(board_id), name")) {
    error = Failure(q.lastError());
    return false;
  }
  while (q.next()) names.push_back(S(q.value(0).toString()));
  return true;
}

bool Register::CanonicalGroups(std::vector<std::string>& groups, std::string& error) {
  if (groups.empty()) return true;
  std::vector<std::string> stored;
  if (!ReadGroupNames(stored, error)) return false;
  groups = GroupSpellings(stored).Spell(groups);
  return true;
}

bool Register::WriteBoard(long long id, const BoardRecord& board, std::string& error) {
  QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
  Prepare(q, 
      "UPDATE boards SET name = :name, line = :line, address = :address, speed = :speed, "
      "load_speed = :load_speed, modem = :modem, dial = :dial, pulse = :pulse, "
      "modem_init = :modem_init, modem_password = :modem_password, password = :password, "
      "ini = :ini, note = :note WHERE id = :id");
  Bind(q, board);
  q.bindValue(":id", id);
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  q.finish();
  return SaveGroups(id, board.groups, error);
}

bool Register::Add(const BoardRecord& given, std::string& error) {
  if (std::string why = CheckBoard(given); !why.empty()) {
    error = why;
    return false;
  }
  if (!Begin(error)) return false;
  const auto fail = [&] {
    Rollback();
    return false;
  };
  BoardRecord board = given;
  if (!CanonicalGroups(board.groups, error)) return fail();
  QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
  if (NameTaken(q, board.name, error)) return fail();
  Prepare(q, QString(kInsertBoard) + QString(shared_ ? " RETURNING id" : ""));
  Bind(q, board);
  const long long id = InsertReturningId(q);
  if (id <= 0) {
    // Another program added the same name after the look above (a server
    // register: the new row was not there to lock): the same refusal.
    error = IsUniqueViolation(q.lastError())
                ? T(u8"табло '") + board.name + T(u8"' уже есть в реестре")
                : Failure(q.lastError());
    return fail();
  }
  q.finish();
  if (!SaveGroups(id, board.groups, error)) return fail();
  return Commit(error);
}

bool Register::Update(const std::string& name, const BoardRecord& board, std::string& error) {
  if (std::string why = CheckBoard(board); !why.empty()) {
    error = why;
    return false;
  }
  return Modify(
      name,
      [&](BoardRecord& b, std::string&) {
        b = board;
        return true;
      },
      error);
}

bool Register::Modify(const std::string& name,
                      const std::function<bool(BoardRecord& board, std::string& why)>& change,
                      std::string& error) {
  if (!Begin(error)) return false;
  const auto fail = [&] {
    Rollback();
    return false;
  };
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  // On a server the board's row stays locked until the end: another
  // program's change of it waits for this one and then reads its result.
  Prepare(q, QString("SELECT %1 FROM boards WHERE name = ?%2")
                .arg(kBoardColumns, shared_ ? " FOR UPDATE" : ""));
  q.addBindValue(Q(name));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return fail();
  }
  if (!q.next()) {
    error = T(u8"табло '") + name + T(u8"' нет в реестре");
    return fail();
  }
  long long id = 0;
  BoardRecord board = ReadBoard(q, id);
  q.finish();
  Prepare(q, "SELECT name FROM board_groups WHERE board_id = ? ORDER BY name");
  q.addBindValue(id);
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return fail();
  }
  while (q.next()) board.groups.push_back(S(q.value(0).toString()));
  q.finish();
  if (std::string why; !change(board, why)) {
    error = why;
    return fail();
  }
  if (std::string why = CheckBoard(board); !why.empty()) {
    error = why;
    return fail();
  }
  if (!CanonicalGroups(board.groups, error)) return fail();
  if (board.name != name && NameTaken(q, board.name, error)) return fail();
  if (!WriteBoard(id, board, error)) return fail();
  return Commit(error);
}

bool Register::Remove(const std::string& name, std::string& error) {
  if (!Begin(error)) return false;
  QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
  Prepare(q, "DELETE FROM boards WHERE name = ?");
  q.addBindValue(Q(name));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    Rollback();
    return false;
  }
  if (q.numRowsAffected() == 0) {
    error = T(u8"табло '") + name + T(u8"' нет в реестре");
    Rollback();
    return false;
  }
  q.finish();
  return Commit(error);
}

bool Register::Import(const std::vector<BoardRecord>& boards, bool keepPasswords,
                      bool keepModemPasswords, int& added, int& replaced, std::string& error) {
  added = replaced = 0;
  {
    std::unordered_set<std::string> names;
    names.reserve(boards.size());
    for (const auto& b : boards) {
      if (std::string why = CheckBoard(b); !why.empty()) {
        error = b.name + ": " + why;
        return false;
      }
      if (!names.insert(b.name).second) {
        error = T(u8"табло '") + b.name + T(u8"' названо дважды");
        return false;
      }
    }
  }
  if (!Begin(error)) return false;
  const auto fail = [&] {
    Rollback();
    added = replaced = 0;
    return false;
  };
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  // The names the register has, looked up once: the rows are matched in
  // one pass, however many there are.
  // A replaced board keeps the passwords the file did not carry.
  struct Stored {
    long long id;
    std::string password;
    std::optional<std::string> modemPassword;
  };
  std::unordered_map<std::string, Stored> ids;
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!Exec(q, QString("SELECT id, name, password, modem_password FROM boards") +
                     (shared_ ? " FOR UPDATE" : ""))) {
      error = Failure(q.lastError());
      return fail();
    }
    while (q.next()) {
      Stored s{q.value(0).toLongLong(), S(q.value(2).toString()), std::nullopt};
      if (!q.value(3).isNull()) s.modemPassword = S(q.value(3).toString());
      ids.emplace(S(q.value(1).toString()), std::move(s));
    }
  }
  std::vector<std::string> stored;
  if (!ReadGroupNames(stored, error)) return fail();
  GroupSpellings spellings(stored);
  QSqlQuery q(db);
  for (const auto& given : boards) {
    BoardRecord board = given;
    board.groups = spellings.Spell(board.groups);
    const auto it = ids.find(board.name);
    if (it != ids.end()) {
      if (keepPasswords) board.password = it->second.password;
      if (keepModemPasswords) board.modemPassword = it->second.modemPassword;
      if (!WriteBoard(it->second.id, board, error)) {
        error = board.name + ": " + error;
        return fail();
      }
      ++replaced;
      continue;
    }
    Prepare(q, QString(kInsertBoard) + QString(shared_ ? " RETURNING id" : ""));
    Bind(q, board);
    const long long id = InsertReturningId(q);
    if (id <= 0) {
      error = board.name + ": " + Failure(q.lastError());
      return fail();
    }
    q.finish();
    if (!SaveGroups(id, board.groups, error)) {
      error = board.name + ": " + error;
      return fail();
    }
    ++added;
  }
  if (!Commit(error)) {
    added = replaced = 0;
    return false;
  }
  return true;
}

bool Register::ListGroups(std::vector<std::string>& groups, std::string& error) {
  groups.clear();
  if (!Ready(error)) return false;
  std::vector<std::string> stored;
  if (!ReadGroupNames(stored, error)) return false;
  groups = GroupSpellings(stored).Spell(stored);
  std::sort(groups.begin(), groups.end(), [](const std::string& a, const std::string& b) {
    return std::pair(GroupKey(a), a) < std::pair(GroupKey(b), b);
  });
  return true;
}

bool Register::RenameGroup(const std::string& from, const std::string& to, std::string& error) {
  std::string target = TrimBlanks(to);
  if (GroupKey(from).empty()) {
    error = T(u8"не названа группа, которую переименовать");
    return false;
  }
  {
    BoardRecord probe;
    probe.name = "-";
    probe.line = "/dev/null";
    probe.groups = {target};
    if (std::string why = CheckBoard(probe); !why.empty()) {
      error = why;
      return false;
    }
  }
  if (!Begin(error)) return false;
  const auto fail = [&] {
    Rollback();
    return false;
  };
  std::vector<std::string> stored;
  if (!ReadGroupNames(stored, error)) return fail();
  const std::string fromKey = GroupKey(from), toKey = GroupKey(target);
  // Every spelling of the old group goes; the new one takes the register's
  // spelling when the group is there already (a merge).
  std::vector<std::string> leaving;
  for (const auto& name : stored) {
    if (GroupKey(name) == fromKey) leaving.push_back(name);
  }
  if (leaving.empty()) {
    error = T(u8"группы '") + TrimBlanks(from) + T(u8"' нет в реестре");
    return fail();
  }
  if (toKey != fromKey)
    for (const auto& name : stored)
      if (GroupKey(name) == toKey) {
        target = name;
        break;
      }
  for (const auto& name : stored)
    if (GroupKey(name) == toKey && name != target &&
        std::find(leaving.begin(), leaving.end(), name) == leaving.end())
      leaving.push_back(name);  // an older second spelling of the target
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  if (shared_) {
    // The boards concerned are locked as an edit of one of them locks it.
    QString marks;
    for (size_t i = 0; i <= leaving.size(); ++i) marks += i ? ", ?" : "?";
    Prepare(q, "SELECT id FROM boards WHERE id IN (SELECT board_id FROM board_groups WHERE name "
              "IN (" + marks + ")) FOR UPDATE");
    for (const auto& name : leaving) q.addBindValue(Q(name));
    q.addBindValue(Q(target));
    if (!Exec(q)) {
      error = Failure(q.lastError());
      return fail();
    }
    q.finish();
  }
  for (const auto& name : leaving) {
    if (name == target) continue;
    Prepare(q, "INSERT INTO board_groups(board_id, name) SELECT board_id, ? FROM board_groups "
              "WHERE name = ? AND board_id NOT IN (SELECT board_id FROM board_groups WHERE "
              "name = ?)");
    q.addBindValue(Q(target));
    q.addBindValue(Q(name));
    q.addBindValue(Q(target));
    if (!Exec(q)) {
      error = Failure(q.lastError());
      return fail();
    }
    Prepare(q, "DELETE FROM board_groups WHERE name = ?");
    q.addBindValue(Q(name));
    if (!Exec(q)) {
      error = Failure(q.lastError());
      return fail();
    }
  }
  q.finish();
  return Commit(error);
}

std::optional<BoardRecord> Register::Find(const std::string& name, std::string& error) {
  if (!Ready(error)) return std::nullopt;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  Prepare(q, QString("SELECT %1 FROM boards WHERE name = ?").arg(kBoardColumns));
  q.addBindValue(Q(name));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return std::nullopt;
  }
  if (!q.next()) return std::nullopt;
  long long id = 0;
  BoardRecord board = ReadBoard(q, id);
  q.finish();
  QSqlQuery g(db);
  Prepare(g, "SELECT name FROM board_groups WHERE board_id = ? ORDER BY name");
  g.addBindValue(id);
  if (!Exec(g)) {
    error = Failure(g.lastError());
    return std::nullopt;
  }
  while (g.next()) board.groups.push_back(S(g.value(0).toString()));
  return board;
}

bool Register::List(std::vector<BoardRecord>& boards, std::string& error,
                    const std::string& group) {
  boards.clear();
  if (!Ready(error)) return false;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.setForwardOnly(true);
  if (!Exec(q, QString("SELECT %1 FROM boards ORDER BY name").arg(kBoardColumns))) {
    error = Failure(q.lastError());
    return false;
  }
  std::unordered_map<long long, size_t> index;
  while (q.next()) {
    long long id = 0;
    boards.push_back(ReadBoard(q, id));
    index.emplace(id, boards.size() - 1);
  }
  q.finish();
  QSqlQuery g(db);
  g.setForwardOnly(true);
  if (!Exec(g, "SELECT board_id, name FROM board_groups ORDER BY name")) {
    error = Failure(g.lastError());
    return false;
  }
  while (g.next()) {
    const auto it = index.find(g.value(0).toLongLong());
    if (it != index.end()) boards[it->second].groups.push_back(S(g.value(1).toString()));
  }
  if (!group.empty()) {
    // A group named in any spelling: trimmed, in any case.
    const std::string key = GroupKey(group);
    std::erase_if(boards, [&](const BoardRecord& b) {
      return std::none_of(b.groups.begin(), b.groups.end(),
                          [&](const std::string& g) { return GroupKey(g) == key; });
    });
  }
  return true;
}

long long Register::BeginAttempt(const LogEntry& e, std::string& error) {
  if (!Ready(error)) return 0;
  // The start is the database's clock now, unless the attempt is noted
  // after the fact with its own start.
  std::optional<long long> startedMs;
  if (e.startedMs > 0) startedMs = e.startedMs;
  else if (!e.started.empty()) {
    startedMs = LocalTimeMs(e.started);
    if (!startedMs) {
      error = T(u8"время начала попытки не распознано: ") + e.started;
      return 0;
    }
  }
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  Prepare(q, 
      QString("INSERT INTO deliveries(board, groups, line, address, started, started_ms, "
              "operator, set_file, sha256, size, attempt, run) "
              "VALUES (?, ?, ?, ?, '', %1, ?, ?, ?, ?, ?, ?)")
              .arg(startedMs ? QString::number(*startedMs) : QString(ServerNowMs())) +
      QString(shared_ ? " RETURNING id" : ""));
  q.addBindValue(Q(e.board));
  q.addBindValue(Q(JoinGroups(e.groups)));
  q.addBindValue(Q(e.line));
  q.addBindValue(e.address);
  q.addBindValue(Q(e.operatorName));
  q.addBindValue(Q(e.setFile));
  q.addBindValue(QString::fromStdString(e.sha256));
  q.addBindValue(e.size);
  q.addBindValue(e.attempt);
  q.addBindValue(QString::fromStdString(e.run));
  const long long id = InsertReturningId(q);
  if (id <= 0) error = Failure(q.lastError());
  else NotifyWatchers(connection_, shared_);
  return id;
}

bool Register::FinishAttempt(long long id, const std::string& outcome, const std::string& message,
                             std::string& error) {
  if (!Ready(error)) return false;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  // Never before the start, even when the start was noted with a time of
  // its own.
  Prepare(q, QString("UPDATE deliveries SET finished_ms = CASE WHEN %1 < started_ms "
                     "THEN started_ms ELSE %1 END, outcome = ?, message = ? WHERE id = ?")
                 .arg(ServerNowMs()));
  q.addBindValue(Q(outcome));
  q.addBindValue(Q(message));
  q.addBindValue(id);
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  NotifyWatchers(connection_, shared_);
  return true;
}

namespace {

constexpr const char* kLogColumns =
    "id, board, groups, line, address, started_ms, finished_ms, operator, set_file, sha256, "
    "size, attempt, outcome, message, run";

LogEntry ReadEntry(const QSqlQuery& q);

}  // namespace

bool Register::ReadLog(const LogFilter& filter, std::vector<LogEntry>& entries,
                       std::string& error) {
  entries.clear();
  if (!Ready(error)) return false;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.setForwardOnly(true);
  QString sql = QString("SELECT %1 FROM deliveries WHERE 1 = 1").arg(kLogColumns);
  if (!filter.board.empty()) sql += " AND board = :board";
  std::optional<long long> sinceMs;
  if (!filter.since.empty()) {
    sinceMs = LocalTimeMs(filter.since);
    if (!sinceMs) {
      error = T(u8"дата не распознана: ") + filter.since;
      return false;
    }
    sql += " AND started_ms >= :since";
  }
  sql += " ORDER BY started_ms, id";
  Prepare(q, sql);
  if (!filter.board.empty()) q.bindValue(":board", Q(filter.board));
  if (sinceMs) q.bindValue(":since", *sinceMs);
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return false;
  }
  // A group in any spelling, trimmed and in any case, as the register
  // tells groups apart.
  const std::string groupKey = GroupKey(filter.group);
  while (q.next()) {
    LogEntry e = ReadEntry(q);
    if (!groupKey.empty() &&
        std::none_of(e.groups.begin(), e.groups.end(),
                     [&](const std::string& g) { return GroupKey(g) == groupKey; }))
      continue;
    entries.push_back(std::move(e));
  }
  return true;
}

std::optional<LogEntry> Register::LastDelivery(const std::string& board, std::string& error) {
  if (!Ready(error)) return std::nullopt;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  Prepare(q, QString("SELECT %1 FROM deliveries WHERE board = ? AND outcome = 'delivered' "
                    "ORDER BY started_ms DESC, id DESC LIMIT 1")
                .arg(kLogColumns));
  q.addBindValue(Q(board));
  if (!Exec(q)) {
    error = Failure(q.lastError());
    return std::nullopt;
  }
  if (!q.next()) return std::nullopt;
  return ReadEntry(q);
}

namespace {

LogEntry ReadEntry(const QSqlQuery& q) {
  LogEntry e;
  e.id = q.value(0).toLongLong();
  e.board = S(q.value(1).toString());
  e.groups = SplitGroups(S(q.value(2).toString()));
  e.line = S(q.value(3).toString());
  e.address = q.value(4).toInt();
  e.startedMs = q.value(5).toLongLong();
  e.finishedMs = q.value(6).toLongLong();
  e.started = Register::LocalTimeText(e.startedMs);
  if (e.finishedMs > 0) e.finished = Register::LocalTimeText(e.finishedMs);
  e.operatorName = S(q.value(7).toString());
  e.setFile = S(q.value(8).toString());
  e.sha256 = q.value(9).toString().toStdString();
  e.size = q.value(10).toLongLong();
  e.attempt = q.value(11).toInt();
  e.outcome = S(q.value(12).toString());
  e.message = S(q.value(13).toString());
  e.run = q.value(14).toString().toStdString();
  return e;
}

}  // namespace

std::string Register::Now() {
  return QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss.zzz").toStdString();
}

std::string Register::LocalTimeText(long long ms) {
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime)
      .toString("yyyy-MM-dd HH:mm:ss.zzz")
      .toStdString();
}

std::optional<long long> Register::LocalTimeMs(const std::string& text) {
  QString t = QString::fromStdString(text).trimmed();
  if (t.size() > 10 && t[10] == u'T') t[10] = u' ';
  static const char* const kFormats[] = {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss",
                                         "yyyy-MM-dd HH:mm", "yyyy-MM-dd"};
  for (const char* format : kFormats) {
    if (t.size() != static_cast<qsizetype>(std::strlen(format))) continue;
    const QDateTime when = QDateTime::fromString(t, QString::fromLatin1(format));
    // Local time (the default of fromString); a time skipped by a change to
    // summer time comes out moved forward by Qt, still a valid instant.
    if (when.isValid()) return when.toMSecsSinceEpoch();
  }
  return std::nullopt;
}

std::string Register::OperatorName() {
#ifndef _WIN32
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
#endif
  const QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
  return S(user);
}

}  // namespace lentar::fleet
