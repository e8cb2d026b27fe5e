#include "fleet/register.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
const char* const kMigrations[][4] = {
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
     nullptr, nullptr, nullptr},
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

// The first 16 bytes of every SQLite database.
constexpr char kSqliteHeader[16] = "SQLite format 3";

enum class FileKind { Missing, Empty, Sqlite, Other, Unreadable };

FileKind KindOf(const std::string& path) {
  std::error_code ec;
  const fs::path native = NativePath(path);
  if (!fs::exists(native, ec)) return ec ? FileKind::Unreadable : FileKind::Missing;
  if (!fs::is_regular_file(native, ec)) return FileKind::Other;
  std::ifstream in(native, std::ios::binary);
  if (!in) return FileKind::Unreadable;
  char head[16] = {};
  in.read(head, sizeof head);
  if (in.gcount() == 0) return FileKind::Empty;
  if (in.gcount() < 16 || std::memcmp(head, kSqliteHeader, 16) != 0) return FileKind::Other;
  return FileKind::Sqlite;
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

// Tells the programs watching a shared register that it has changed (after
// the change is committed). A register file needs nothing: its watchers see
// the change through SQLite itself.
void NotifyWatchers(const std::string& connection, bool shared) {
  if (!shared) return;
  QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection), false));
  q.exec(QStringLiteral("NOTIFY %1").arg(QLatin1String(Register::kChangeChannel)));
}

bool SameGroup(const QString& a, const QString& b) {
  return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

}  // namespace

int SpeedIndex(int bitsPerSecond) {
  static constexpr int kSpeeds[] = {9600, 19200, 28800, 38400, 57600};
  for (int i = 0; i < 5; ++i)
    if (kSpeeds[i] == bitsPerSecond) return i;
  return -1;
}

std::string CheckBoard(const BoardRecord& board) {
  if (board.name.empty()) return T(u8"у табло нет имени");
  if (board.name.find_first_of("\r\n") != std::string::npos)
    return T(u8"имя табло не может содержать перевод строки");
  if (board.line.empty()) return T(u8"у табло '") + board.name + T(u8"' не задана линия");
  if (board.address < -1 || board.address > 127)
    return T(u8"адрес табло должен быть 0..127 или -1 (без адреса)");
  for (int speed : {board.speed, board.loadSpeed})
    if (speed != 0 && SpeedIndex(speed) < 0)
      return T(u8"скорость ") + std::to_string(speed) +
             T(u8" не из тех, что знает табло (9600, 19200, 28800, 38400, 57600)");
  if (board.modem && board.dial.empty())
    return T(u8"для связи через модем нужен номер (--dial)");
  for (const auto& g : board.groups)
    if (g.empty() || g.find('|') != std::string::npos)
      return T(u8"имя группы не может быть пустым или содержать '|'");
  if (board.password.size() > 8) return T(u8"пароль табло длиннее 8 символов");
  if (board.modemPassword && board.modemPassword->size() > 8)
    return T(u8"пароль табло на модем длиннее 8 символов");
  return {};
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

// The address as messages show it: a password someone wrote into it is not
// repeated on the screen or in a log.
std::string ShownAddress(const std::string& address) {
  if (!Register::IsServerAddress(address)) return address;
  std::string shown = address;
  const size_t start = shown.find("://") + 3;
  const size_t end = std::min(shown.find('/', start), shown.find('?', start));
  const size_t at = shown.rfind('@', end);
  if (at != std::string::npos && at >= start) {
    const size_t colon = shown.find(':', start);
    if (colon < at) shown.replace(colon + 1, at - colon - 1, "***");
  }
  for (size_t p = shown.find("password="); p != std::string::npos; p = shown.find("password=", p + 1)) {
    const size_t valueEnd = std::min(shown.find('&', p), shown.size());
    shown.replace(p + 9, valueEnd - p - 9, "***");
  }
  return shown;
}

}  // namespace

bool Register::Refuse(const std::string& reason, std::string& error) {
  error = T(u8"Реестр табло '") + ShownAddress(path_) + "': " + reason;
  {
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
    if (db.isValid()) db.close();
  }
  // A look into a WAL database leaves an empty journal and its index beside
  // it; a refused file gets back the company it had.
  for (const auto& [suffix, had] : {std::pair{"-wal", hadWal_}, std::pair{"-shm", hadShm_}}) {
    if (shared_) break;
    std::error_code ec;
    const fs::path companion = NativePath(path_ + suffix);
    if (!had && fs::exists(companion, ec) && (suffix == std::string("-shm") ||
                                              fs::file_size(companion, ec) == 0))
      fs::remove(companion, ec);
  }
  open_ = false;
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

  // Looked at before SQLite touches it: a file that is not a database is
  // never handed to it.
  const FileKind kind = KindOf(path);
  {
    std::error_code ec;
    hadWal_ = fs::exists(NativePath(path + "-wal"), ec);
    hadShm_ = fs::exists(NativePath(path + "-shm"), ec);
  }
  if (kind == FileKind::Other)
    return Refuse(T(u8"файл повреждён или это не база данных SQLite; он оставлен как есть"),
                  error);
  if (kind == FileKind::Unreadable) return Refuse(T(u8"файл не читается"), error);
  if (kind == FileKind::Missing) {
    std::string why;
    if (!CreateOwnerOnly(path, why))
      return Refuse(T(u8"файл не удалось создать: ") + why, error);
  }

  const QString name = QString::fromStdString(connection_);
  QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                 : QSqlDatabase::addDatabase("QSQLITE", name);
  db.setDatabaseName(QString::fromStdString(NativePath(path).string()));

  // First a look with a read-only connection: whose database it is, which
  // version, whether it reads whole.
  int applicationId = 0, tables = 0;
  foundVersion_ = 0;
  {
    db.setConnectOptions(QString("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open()) return Refuse(T(u8"не открывается: ") + DbError(db.lastError()), error);
    QSqlQuery q(db);
    bool readable = q.exec("PRAGMA application_id") && q.next();
    if (readable) applicationId = q.value(0).toInt();
    readable = readable && q.exec("PRAGMA user_version") && q.next();
    if (readable) foundVersion_ = q.value(0).toInt();
    readable = readable && q.exec("SELECT count(*) FROM sqlite_master") && q.next();
    if (readable) tables = q.value(0).toInt();
    std::string check;
    if (readable && q.exec("PRAGMA quick_check") && q.next()) check = q.value(0).toString().toStdString();
    q.finish();
    db.close();
    if (!readable || check != "ok")
      return Refuse(T(u8"файл повреждён (") +
                        (readable ? check : DbError(q.lastError())) +
                        T(u8"); он оставлен как есть"),
                    error);
  }
  if (applicationId != kApplicationId && (applicationId != 0 || tables != 0))
    return Refuse(T(u8"это база данных другой программы, а не реестр табло; она оставлена как есть"),
                  error);
  if (applicationId == kApplicationId && foundVersion_ > kSchemaVersion)
    return Refuse(T(u8"реестр создан более новой версией программы (схема ") +
                      std::to_string(foundVersion_) + T(u8", эта версия знает схемы до ") +
                      std::to_string(kSchemaVersion) + T(u8"); он оставлен как есть"),
                  error);

  db.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
  if (!db.open()) return Refuse(T(u8"не открывается: ") + DbError(db.lastError()), error);
  {
    QSqlQuery q(db);
    // WAL: readers never wait for a writer; normal sync is safe in WAL.
    if (!q.exec("PRAGMA journal_mode=WAL") || !q.exec("PRAGMA foreign_keys=ON") ||
        !q.exec("PRAGMA synchronous=NORMAL"))
      return Refuse(T(u8"не удалось настроить: ") + DbError(q.lastError()), error);
  }
  open_ = true;
  if (!Migrate(error)) {
    const std::string why = error;
    return Refuse(why, error);
  }
  return true;
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

// Empty when the address is sound, else why not (Windows-1251).
std::string ParseServerAddress(const std::string& address, ServerAddress& a) {
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
      if (key == "password")
        return T(u8"пароль не пишется в адрес реестра: он хранится в ~/.pgpass или PGPASSWORD");
      if (key.empty() || key.find_first_of(" ;=") != std::string::npos ||
          value.find(';') != std::string::npos)
        return T(u8"непонятный параметр '") + pair + T(u8"' в адресе");
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
      if (rest[close + 1] != ':') return T(u8"непонятный адрес сервера '") + rest + "'";
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
    if (a.port < 1 || a.port > 65535)
      return T(u8"порт сервера должен быть числом 1..65535, а не '") + port + "'";
  }
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
  // seconds rather than the system's minutes.
  QString options = "connect_timeout=5;application_name=lentar";
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
  // A look first, changing nothing: whose database it is, which version.
  {
    QSqlQuery q(db);
    int tables = 0;
    bool ours = false;
    int applicationId = 0;
    bool readable =
        q.exec("SELECT count(*) FROM information_schema.tables WHERE table_schema = "
               "current_schema()") &&
        q.next();
    if (readable) tables = q.value(0).toInt();
    readable = readable && q.exec("SELECT to_regclass('lentar_register') IS NOT NULL") && q.next();
    if (readable) ours = q.value(0).toBool();
    if (readable && ours) {
      readable = q.exec("SELECT application_id, schema_version FROM lentar_register") && q.next();
      if (readable) {
        applicationId = q.value(0).toInt();
        foundVersion_ = q.value(1).toInt();
      }
    }
    if (!readable) return Refuse(T(u8"не читается: ") + DbError(q.lastError()), error);
    q.finish();
    if ((ours && applicationId != kApplicationId) || (!ours && tables != 0))
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
  if (!MigrateServer(error)) {
    const std::string why = error;
    return Refuse(why, error);
  }
  return true;
}

// The server's migration: one transaction, DDL included, so that a step is
// either all there or not at all; an advisory lock keeps two programs
// starting at once from both doing the work.
bool Register::MigrateServer(std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  const auto fail = [&](const QSqlError& why) {
    error = T(u8"схему не удалось обновить: ") + DbError(why);
    db.rollback();
    return false;
  };
  if (!db.transaction()) return fail(db.lastError());
  QSqlQuery q(db);
  if (!q.exec(QString("SELECT pg_advisory_xact_lock(%1)").arg(kApplicationId)) ||
      !q.exec("CREATE TABLE IF NOT EXISTS lentar_register ("
              " application_id INTEGER NOT NULL, schema_version INTEGER NOT NULL)") ||
      !q.exec("SELECT schema_version FROM lentar_register"))
    return fail(q.lastError());
  int version = 0;
  const bool hasRow = q.next();
  if (hasRow) version = q.value(0).toInt();
  q.finish();
  if (!hasRow && !q.exec(QString("INSERT INTO lentar_register VALUES (%1, 0)").arg(kApplicationId)))
    return fail(q.lastError());
  for (int step = version; step < kSchemaVersion; ++step)
    for (const char* sql : kMigrations[step]) {
      if (!sql) break;
      if (!q.exec(StepSql(sql, true))) return fail(q.lastError());
    }
  if (version < kSchemaVersion &&
      !q.exec(QString("UPDATE lentar_register SET schema_version = %1").arg(kSchemaVersion)))
    return fail(q.lastError());
  q.finish();
  if (!db.commit()) return fail(db.lastError());
  return true;
}

long long Register::InsertReturningId(QSqlQuery& q) {
  if (!q.exec()) return 0;
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
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  // One statement: a free line is inserted, a line whose lease has run out
  // is taken over; a line in use is left as it is. The database makes it
  // atomic against every other program doing the same.
  q.prepare(QString("INSERT INTO line_locks(line, token, host, pid, operator, taken, expires_ms) "
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
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  q.prepare("SELECT token, host, pid, operator FROM line_locks WHERE line = ?");
  q.addBindValue(Q(key));
  if (!q.exec()) {
    error = DbError(q.lastError());
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
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.prepare(QString("UPDATE line_locks SET expires_ms = %1 + ? WHERE token = ?").arg(ServerNowMs()));
  q.addBindValue(static_cast<long long>(leaseMs));
  q.addBindValue(QString::fromStdString(token));
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  q.prepare("SELECT line FROM line_locks WHERE token = ?");
  q.addBindValue(QString::fromStdString(token));
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  while (q.next()) held.push_back(S(q.value(0).toString()));
  return true;
}

bool Register::ReleaseLine(const std::string& key, const std::string& token, std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.prepare("DELETE FROM line_locks WHERE line = ? AND token = ?");
  q.addBindValue(Q(key));
  q.addBindValue(QString::fromStdString(token));
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  return true;
}

// Brings the schema to kSchemaVersion inside one write transaction; another
// program doing the same meanwhile is waited for, and its work not repeated.
bool Register::Migrate(std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  if (!q.exec("BEGIN IMMEDIATE")) {
    error = T(u8"схему не удалось обновить: ") + DbError(q.lastError());
    return false;
  }
  int version = 0;
  if (q.exec("PRAGMA user_version") && q.next()) version = q.value(0).toInt();
  q.finish();
  bool ok = true;
  for (int step = version; ok && step < kSchemaVersion; ++step)
    for (const char* sql : kMigrations[step]) {
      if (!sql) break;
      if (!q.exec(StepSql(sql, false))) {
        ok = false;
        break;
      }
    }
  if (ok && version < kSchemaVersion)
    ok = q.exec(QString("PRAGMA user_version=%1").arg(kSchemaVersion)) &&
         q.exec(QString("PRAGMA application_id=%1").arg(kApplicationId));
  if (!ok) {
    error = T(u8"схему не удалось обновить: ") + DbError(q.lastError());
    QSqlQuery(db).exec("ROLLBACK");
    return false;
  }
  if (!q.exec("COMMIT")) {
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
  q.prepare("DELETE FROM board_groups WHERE board_id = ?");
  q.addBindValue(id);
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  for (const auto& g : SortedGroups(groups)) {
    q.prepare("INSERT INTO board_groups(board_id, name) VALUES (?, ?)");
    q.addBindValue(id);
    q.addBindValue(Q(g));
    if (!q.exec()) {
      error = DbError(q.lastError());
      return false;
    }
  }
  return true;
}

namespace {

// A board of that name is in the register already: says so in error.
bool NameTaken(QSqlQuery& q, const std::string& name, std::string& error) {
  q.prepare("SELECT count(*) FROM boards WHERE name = ?");
  q.addBindValue(Q(name));
  const bool taken = q.exec() && q.next() && q.value(0).toInt() > 0;
  q.finish();
  if (taken) error = T(u8"табло '") + name + T(u8"' уже есть в реестре");
  return taken;
}

}  // namespace

bool Register::Add(const BoardRecord& board, std::string& error) {
  if (std::string why = CheckBoard(board); !why.empty()) {
    error = why;
    return false;
  }
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  if (!db.transaction()) {
    error = DbError(db.lastError());
    return false;
  }
  QSqlQuery q(db);
  if (NameTaken(q, board.name, error)) {
    db.rollback();
    return false;
  }
  q.prepare(
      "INSERT INTO boards(name, line, address, speed, load_speed, modem, dial, pulse, "
      "modem_init, modem_password, password, ini, note) VALUES (:name, :line, :address, "
      ":speed, :load_speed, :modem, :dial, :pulse, :modem_init, :modem_password, :password, "
      ":ini, :note)" + QString(shared_ ? " RETURNING id" : ""));
  Bind(q, board);
  const long long id = InsertReturningId(q);
  if (id <= 0 || !SaveGroups(id, board.groups, error)) {
    if (error.empty()) error = DbError(q.lastError());
    q.finish();
    db.rollback();
    return false;
  }
  q.finish();
  if (!db.commit()) {
    error = DbError(db.lastError());
    db.rollback();
    return false;
  }
  NotifyWatchers(connection_, shared_);
  return true;
}

bool Register::Update(const std::string& name, const BoardRecord& board, std::string& error) {
  if (std::string why = CheckBoard(board); !why.empty()) {
    error = why;
    return false;
  }
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  if (!db.transaction()) {
    error = DbError(db.lastError());
    return false;
  }
  QSqlQuery q(db);
  long long id = 0;
  q.prepare("SELECT id FROM boards WHERE name = ?");
  q.addBindValue(Q(name));
  if (q.exec() && q.next()) id = q.value(0).toLongLong();
  if (id == 0) {
    q.finish();
    db.rollback();
    error = T(u8"табло '") + name + T(u8"' нет в реестре");
    return false;
  }
  if (board.name != name) {
    if (NameTaken(q, board.name, error)) {
      db.rollback();
      return false;
    }
  }
  q.prepare(
      "UPDATE boards SET name = :name, line = :line, address = :address, speed = :speed, "
      "load_speed = :load_speed, modem = :modem, dial = :dial, pulse = :pulse, "
      "modem_init = :modem_init, modem_password = :modem_password, password = :password, "
      "ini = :ini, note = :note WHERE id = :id");
  Bind(q, board);
  q.bindValue(":id", id);
  if (!q.exec() || !SaveGroups(id, board.groups, error)) {
    if (error.empty()) error = DbError(q.lastError());
    q.finish();
    db.rollback();
    return false;
  }
  q.finish();
  if (!db.commit()) {
    error = DbError(db.lastError());
    db.rollback();
    return false;
  }
  NotifyWatchers(connection_, shared_);
  return true;
}

bool Register::Remove(const std::string& name, std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.prepare("DELETE FROM boards WHERE name = ?");
  q.addBindValue(Q(name));
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  if (q.numRowsAffected() == 0) {
    error = T(u8"табло '") + name + T(u8"' нет в реестре");
    return false;
  }
  NotifyWatchers(connection_, shared_);
  return true;
}

std::optional<BoardRecord> Register::Find(const std::string& name, std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.prepare(QString("SELECT %1 FROM boards WHERE name = ?").arg(kBoardColumns));
  q.addBindValue(Q(name));
  if (!q.exec()) {
    error = DbError(q.lastError());
    return std::nullopt;
  }
  if (!q.next()) return std::nullopt;
  long long id = 0;
  BoardRecord board = ReadBoard(q, id);
  q.finish();
  QSqlQuery g(db);
  g.prepare("SELECT name FROM board_groups WHERE board_id = ? ORDER BY name");
  g.addBindValue(id);
  if (!g.exec()) {
    error = DbError(g.lastError());
    return std::nullopt;
  }
  while (g.next()) board.groups.push_back(S(g.value(0).toString()));
  return board;
}

bool Register::List(std::vector<BoardRecord>& boards, std::string& error,
                    const std::string& group) {
  boards.clear();
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.setForwardOnly(true);
  if (group.empty()) {
    q.prepare(QString("SELECT %1 FROM boards ORDER BY name").arg(kBoardColumns));
  } else {
    q.prepare(QString("SELECT %1 FROM boards WHERE id IN (SELECT board_id FROM board_groups "
                      "WHERE name = ?) ORDER BY name")
                  .arg(kBoardColumns));
    q.addBindValue(Q(group));
  }
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  std::vector<long long> ids;
  while (q.next()) {
    long long id = 0;
    boards.push_back(ReadBoard(q, id));
    ids.push_back(id);
  }
  q.finish();
  QSqlQuery g(db);
  g.setForwardOnly(true);
  if (!g.exec("SELECT board_id, name FROM board_groups ORDER BY name")) {
    error = DbError(g.lastError());
    return false;
  }
  while (g.next()) {
    const auto it = std::find(ids.begin(), ids.end(), g.value(0).toLongLong());
    if (it != ids.end()) boards[it - ids.begin()].groups.push_back(S(g.value(1).toString()));
  }
  return true;
}

namespace {

// Every spelling of every group, the first spelling of a group (the one its
// earliest board got) first.
bool GroupSpellings(QSqlDatabase& db, QStringList& names, std::string& error) {
  QSqlQuery q(db);
  q.setForwardOnly(true);
  if (!q.exec("SELECT name, MIN(board_id) FROM board_groups GROUP BY name ORDER BY 2, 1")) {
    error = DbError(q.lastError());
    return false;
  }
  while (q.next()) names << q.value(0).toString();
  return true;
}

}  // namespace

bool Register::ListGroups(std::vector<std::string>& groups, std::string& error) {
  groups.clear();
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QStringList names;
  if (!GroupSpellings(db, names, error)) return false;
  QStringList first;
  for (const QString& name : names)
    if (std::none_of(first.begin(), first.end(), [&](const QString& g) { return SameGroup(g, name); }))
      first << name;
  std::sort(first.begin(), first.end(), [](const QString& a, const QString& b) {
    const int order = a.compare(b, Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a < b;
  });
  for (const QString& name : first) groups.push_back(S(name));
  return true;
}

bool Register::RenameGroup(const std::string& from, const std::string& to, std::string& error) {
  const QString target = Q(to).trimmed();
  if (target.isEmpty() || target.contains(QLatin1Char('|'))) {
    error = T(u8"имя группы не может быть пустым или содержать '|'");
    return false;
  }
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  if (!db.transaction()) {
    error = DbError(db.lastError());
    return false;
  }
  const auto fail = [&](const std::string& why) {
    error = why;
    db.rollback();
    return false;
  };
  QStringList names;
  std::string why;
  if (!GroupSpellings(db, names, why)) return fail(why);
  // The spellings of the group renamed, and of the group it joins, if any:
  // all of them become one, under the joined group's first spelling.
  QStringList renamed, joined;
  for (const QString& name : names) {
    if (SameGroup(name, Q(from))) renamed << name;
    else if (SameGroup(name, target)) joined << name;
  }
  if (renamed.isEmpty()) return fail(T(u8"группы '") + from + T(u8"' нет в реестре"));
  const QString into = joined.isEmpty() ? target : joined.front();
  QSqlQuery q(db);
  for (const QString& old : renamed + joined) {
    if (old == into) continue;
    q.prepare("INSERT INTO board_groups(board_id, name) SELECT board_id, ? FROM board_groups "
              "WHERE name = ? AND board_id NOT IN (SELECT board_id FROM board_groups WHERE name = ?)");
    q.addBindValue(into);
    q.addBindValue(old);
    q.addBindValue(into);
    if (!q.exec()) return fail(DbError(q.lastError()));
    q.prepare("DELETE FROM board_groups WHERE name = ?");
    q.addBindValue(old);
    if (!q.exec()) return fail(DbError(q.lastError()));
  }
  q.finish();
  if (!db.commit()) return fail(DbError(db.lastError()));
  NotifyWatchers(connection_, shared_);
  return true;
}

long long Register::BeginAttempt(const LogEntry& e, std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.prepare(
      "INSERT INTO deliveries(board, groups, line, address, started, operator, set_file, "
      "sha256, size, attempt) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)" +
      QString(shared_ ? " RETURNING id" : ""));
  q.addBindValue(Q(e.board));
  q.addBindValue(Q(JoinGroups(e.groups)));
  q.addBindValue(Q(e.line));
  q.addBindValue(e.address);
  q.addBindValue(Q(e.started.empty() ? Now() : e.started));
  q.addBindValue(Q(e.operatorName));
  q.addBindValue(Q(e.setFile));
  q.addBindValue(QString::fromStdString(e.sha256));
  q.addBindValue(e.size);
  q.addBindValue(e.attempt);
  const long long id = InsertReturningId(q);
  if (id <= 0) error = DbError(q.lastError());
  else NotifyWatchers(connection_, shared_);
  return id;
}

bool Register::FinishAttempt(long long id, const std::string& outcome, const std::string& message,
                             std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.prepare("UPDATE deliveries SET finished = ?, outcome = ?, message = ? WHERE id = ?");
  q.addBindValue(Q(Now()));
  q.addBindValue(Q(outcome));
  q.addBindValue(Q(message));
  q.addBindValue(id);
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  NotifyWatchers(connection_, shared_);
  return true;
}

namespace {

constexpr const char* kLogColumns =
    "id, board, groups, line, address, started, finished, operator, set_file, sha256, size, "
    "attempt, outcome, message";

LogEntry ReadEntry(const QSqlQuery& q);

}  // namespace

bool Register::ReadLog(const LogFilter& filter, std::vector<LogEntry>& entries,
                       std::string& error) {
  entries.clear();
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.setForwardOnly(true);
  QString sql = QString("SELECT %1 FROM deliveries WHERE 1 = 1").arg(kLogColumns);
  if (!filter.board.empty()) sql += " AND board = :board";
  if (!filter.group.empty()) sql += " AND groups LIKE :group ESCAPE '\\'";
  if (!filter.since.empty()) sql += " AND started >= :since";
  sql += " ORDER BY started, id";
  q.prepare(sql);
  if (!filter.board.empty()) q.bindValue(":board", Q(filter.board));
  if (!filter.group.empty()) {
    QString g = Q(filter.group);
    g.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_");
    q.bindValue(":group", "%|" + g + "|%");
  }
  if (!filter.since.empty()) q.bindValue(":since", Q(filter.since));
  if (!q.exec()) {
    error = DbError(q.lastError());
    return false;
  }
  while (q.next()) entries.push_back(ReadEntry(q));
  return true;
}

std::optional<LogEntry> Register::LastDelivery(const std::string& board, std::string& error) {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  QSqlQuery q(db);
  q.prepare(QString("SELECT %1 FROM deliveries WHERE board = ? AND outcome = 'delivered' "
                    "ORDER BY started DESC, id DESC LIMIT 1")
                .arg(kLogColumns));
  q.addBindValue(Q(board));
  if (!q.exec()) {
    error = DbError(q.lastError());
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
  e.started = S(q.value(5).toString());
  e.finished = S(q.value(6).toString());
  e.operatorName = S(q.value(7).toString());
  e.setFile = S(q.value(8).toString());
  e.sha256 = q.value(9).toString().toStdString();
  e.size = q.value(10).toLongLong();
  e.attempt = q.value(11).toInt();
  e.outcome = S(q.value(12).toString());
  e.message = S(q.value(13).toString());
  return e;
}

}  // namespace

std::string Register::Now() {
  return QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss.zzz").toStdString();
}

std::string Register::OperatorName() {
#ifndef _WIN32
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
#endif
  const QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
  return S(user);
}

}  // namespace lentar::fleet
