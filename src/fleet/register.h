// The register of boards: every board an operator delivers to, with its line,
// address, speeds, modem call, passwords, the settings file its sets are
// compiled with and the groups it belongs to; beside it, the log of every
// delivery attempt.
//
// Both live in one database, opened by its address:
//  - a file path: an SQLite database (Qt SQL, the QSQLITE driver), by default
//    the operator's own file in the per-user data folder
//    (FleetDatabasePath()). The editor and any number of lentar-cli runs use
//    it at once: the database runs in WAL mode (readers never wait for a
//    writer) and a writer waits up to a busy timeout for another one. The
//    file is created readable and writable by its owner only (an empty file
//    made beforehand is made so), since it holds the boards' passwords in
//    the clear: a board takes its password as text, so that is how it has
//    to be kept. The file is only ever opened through SQLite: a descriptor
//    of it opened and closed beside SQLite's would drop the process's locks
//    on it, and another program would delete the write-ahead log under this
//    one's connections.
//  - postgresql://USER@HOST[:PORT]/DBNAME[?OPTION=VALUE&...]: a register
//    shared by the operators of one office on a PostgreSQL server (the QPSQL
//    driver). The password never appears in the address: the PostgreSQL
//    client library takes it from ~/.pgpass or PGPASSWORD. Only options that
//    change how the connection is secured, named and timed are taken, with
//    plain values; messages name the user, host, port and database only.
//    Every call has a time limit (the server's statement and lock timeouts,
//    keepalives, and a limit of the program's own for a link that freezes).
//    Lines are then locked in the register itself (see Register::TakeLine),
//    since the operators' programs run on different computers. Tables are
//    created only in an empty database (judged over all its schemas) or one
//    that is already a register.
//
// The register carries this program's application id and a schema version
// (SQLite: in its header; PostgreSQL: in the table lentar_register). A newer
// program's register is refused, an older one is brought forward step by
// step inside one transaction; both engines get the same tables. A file that
// is no SQLite database, a damaged one and another program's database are
// refused with the reason and left exactly as they were.
//
// Texts (names, groups, lines, passwords, paths, notes, messages) are
// Windows-1251, as everywhere in the engine; the database holds them as
// Unicode text. A Register is used by the thread that opened it; another
// thread opens a Register of its own on the same address.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QSqlError;
class QSqlQuery;

namespace lentar::fleet {

// One board of the register.
struct BoardRecord {
  std::string name;                 // unique, not empty
  std::vector<std::string> groups;  // any number, each once, in order of name
  // The line: a device path, COMn, socket://HOST:PORT or rfc2217://HOST:PORT.
  // Boards with the same line share it (an RS-485 bus) and are served one
  // after another.
  std::string line;
  int address = -1;  // 0..127; -1: requests carry no address
  // The line's base speed and the loading speed in bit/s (9600, 19200,
  // 28800, 38400 or 57600); 0: BaseSpeed and DLSpeed of the settings file.
  int speed = 0;
  int loadSpeed = 0;
  // Reached through a dial-up modem on the line.
  bool modem = false;
  std::string dial;   // the number
  bool pulse = false;  // pulse dialling instead of tone
  // The modem's initialisation lines; nullopt: ModemInit of the settings.
  std::optional<std::vector<std::string>> initLines;
  // The board's modem password; nullopt: DefModemPass of the settings.
  std::optional<std::string> modemPassword;
  std::string password;  // entered when the board asks; empty: none known
  // The settings file a set is compiled with for this board (its height,
  // fonts, colours and size); empty: the operator's lentar.ini.
  std::string ini;
  std::string note;
};

// One delivery attempt of the log.
struct LogEntry {
  long long id = 0;
  std::string board;
  std::vector<std::string> groups;  // the board's groups at the time
  std::string line;
  int address = -1;
  // The instants of the attempt's start and end, in ms since 1970 UTC, by
  // one clock for every program writing the log: the database server's for
  // a shared register, the computer's for a register file. The log is
  // ordered and filtered by them. finishedMs is 0 while the attempt runs (or
  // when the program running it was killed).
  long long startedMs = 0;
  long long finishedMs = 0;
  // The same instants as this computer's local time, "YYYY-MM-DD
  // HH:MM:SS.mmm", for showing; finished is empty while finishedMs is 0.
  // Given to BeginAttempt (startedMs 0, started set), started is read as
  // local time: an attempt noted after the fact.
  std::string started;
  std::string finished;
  // The delivery run the attempt belongs to: one id per run, shared by all
  // its attempts on every board.
  std::string run;
  std::string operatorName;  // the system user who ran the delivery
  std::string setFile;       // the set or image delivered
  std::string sha256;        // of the image sent, 64 lower-case hex digits
  long long size = 0;        // of the image, bytes
  int attempt = 1;           // 1 for the first try of the board in a run
  // "delivered", "failed" (the line: may be tried again), "refused" (the
  // board or the image: trying again does not help), "interrupted",
  // "skipped" (nothing was sent: the set did not compile, a settings file
  // is missing), "not-started" (the run was stopped or its line lost before
  // the board's turn came; attempt is 0).
  std::string outcome;
  std::string message;  // the exact text the operator read
};

struct LogFilter {
  std::string board;  // empty: every board
  std::string group;  // empty: every group
  // Local time "YYYY-MM-DD[ HH:MM[:SS]]", taken as the instant it names on
  // this computer; empty: from the start.
  std::string since;
};

class Register {
 public:
  // The schema version this program writes; older registers are migrated.
  static constexpr int kSchemaVersion = 4;
  // PRAGMA application_id of a register ("LnTr").
  static constexpr int32_t kApplicationId = 0x4C6E5472;

  Register();
  ~Register();
  Register(const Register&) = delete;
  Register& operator=(const Register&) = delete;

  // Opens the register at address (a file path, or a postgresql:// address),
  // creating an SQLite file (owner-only) when there is no such file, and
  // migrating an older register. False with the reason in error
  // (Windows-1251) when the register is refused or cannot be used; a refused
  // register is left untouched.
  bool Open(const std::string& address, std::string& error);
  bool IsOpen() const { return open_; }
  // The address it was opened with.
  const std::string& Path() const { return path_; }
  // Kept on a database server for several operators (PostgreSQL).
  bool Shared() const { return shared_; }
  // After a failed Open: the database server did not answer at all (down,
  // unreachable, the name unknown), as opposed to a server that refused the
  // database (a wrong password, no such database, a foreign one). The
  // operator may then fall back on the local register.
  bool ServerUnreachable() const { return unreachable_; }
  // Whether address names a database server rather than a file.
  static bool IsServerAddress(const std::string& address);
  // The schema version of the register as it was found (0: a new one).
  int FoundVersion() const { return foundVersion_; }

  // Every change below reads and writes inside one write transaction taken
  // at its start, so two programs changing one board at once never lose one
  // another's change: the second waits (up to the busy timeout) for the
  // first. Group names are trimmed and told apart without regard to case: a
  // group given in another spelling joins the one the register has (whose
  // spelling is kept).
  //
  // Adds a board; refused when the name is taken or a field is out of range.
  bool Add(const BoardRecord& board, std::string& error);
  // Replaces the board called name with board (which may carry a new name).
  bool Update(const std::string& name, const BoardRecord& board, std::string& error);
  // Changes the board called name as change says, on the record as it is in
  // the register at that moment: what another program changed meanwhile in
  // other fields is kept. change may rename the board; when it returns
  // false nothing is changed and error is what it put in why.
  bool Modify(const std::string& name,
              const std::function<bool(BoardRecord& board, std::string& why)>& change,
              std::string& error);
  bool Remove(const std::string& name, std::string& error);
  // Adds the boards the register lacks and replaces those it has (by name),
  // in one write transaction: every board or none. keepPasswords: a replaced
  // board keeps its stored password, keepModemPasswords its modem password
  // (the file being imported had none). Scales to hundreds of thousands of
  // boards: the names are looked up once, the statements prepared once.
  bool Import(const std::vector<BoardRecord>& boards, bool keepPasswords,
              bool keepModemPasswords, int& added, int& replaced, std::string& error);
  // The groups of the register, each once, in order of name.
  bool ListGroups(std::vector<std::string>& groups, std::string& error);
  // Renames a group on every board of it; onto an existing group the two
  // are merged (under the existing one's spelling).
  bool RenameGroup(const std::string& from, const std::string& to, std::string& error);
  // The board called name, if there is one. error is set when the database
  // could not be read.
  std::optional<BoardRecord> Find(const std::string& name, std::string& error);
  // Every board (of the group, when one is given), in order of name.
  bool List(std::vector<BoardRecord>& boards, std::string& error,
            const std::string& group = {});

  // Notes the start of an attempt (finished and outcome empty) and returns
  // its id, or 0 when it could not be noted (error says why).
  long long BeginAttempt(const LogEntry& entry, std::string& error);
  // Notes an attempt's end.
  bool FinishAttempt(long long id, const std::string& outcome, const std::string& message,
                     std::string& error);
  bool ReadLog(const LogFilter& filter, std::vector<LogEntry>& entries, std::string& error);
  // The board's last attempt that delivered its image, if any.
  std::optional<LogEntry> LastDelivery(const std::string& board, std::string& error);

  // The lock of a line in a shared register: one row per line in use, with
  // its holder and a lease that the holder renews while it works on the
  // line. A holder whose program died stops renewing; once its lease has
  // run out (by the database server's clock) the line may be taken over.
  struct LineHolder {
    std::string host;
    long long pid = 0;
    std::string operatorName;
    std::string token;  // one per run: the run's every line carries it
  };
  // Takes the line for holder for leaseMs, atomically: true in taken when it
  // is now the holder's, false with the present holder in current when
  // another one holds it. False on a database error.
  bool TakeLine(const std::string& key, const LineHolder& holder, int leaseMs, bool& taken,
                LineHolder& current, std::string& error);
  // Extends the leases of every line held with token; the lines still held
  // are put in held.
  bool RenewLines(const std::string& token, int leaseMs, std::vector<std::string>& held,
                  std::string& error);
  // Gives the line back (only when it is still held with token).
  bool ReleaseLine(const std::string& key, const std::string& token, std::string& error);

  // The longest a call to a database server may take (20 s unless set), for
  // every register of the process: a call that outlives it (the link frozen)
  // fails with that said, and the connection is opened again on the next
  // call. Well inside a line's lease, so that a run learns in time that it
  // cannot renew it.
  static void SetServerTimeLimit(int ms);
  // A shared register announces every change on this channel (NOTIFY), so
  // that the windows of every operator show it; a register file is watched
  // through its connection instead (PRAGMA data_version).
  static constexpr const char* kChangeChannel = "lentar_register";
  // The Qt SQL connection of this register, for watching it from the thread
  // that opened it.
  const std::string& ConnectionName() const { return connection_; }

  // The local time now, "YYYY-MM-DD HH:MM:SS.mmm".
  static std::string Now();
  // An instant (ms since 1970 UTC) as this computer's local time,
  // "YYYY-MM-DD HH:MM:SS.mmm".
  static std::string LocalTimeText(long long ms);
  // A local time "YYYY-MM-DD[ HH:MM[:SS[.mmm]]]" (or with T between date and
  // time) as the instant it names on this computer; nullopt when it is no
  // such time.
  static std::optional<long long> LocalTimeMs(const std::string& text);
  // The system user running the program.
  static std::string OperatorName();

 private:
  bool Refuse(const std::string& reason, std::string& error);
  // A file refused after a look into it: the journal files the look left
  // beside it are taken away.
  bool RefuseFile(const std::string& reason, std::string& error);
  // The connection, open again when a server's connection was lost; false
  // with the reason in error when it cannot be used.
  bool Ready(std::string& error);
  // The session settings of a server connection: time limits, quiet notices.
  bool SetUpSession(std::string& error);
  // A database error's text; a server connection found lost is closed, so
  // that the next call opens it again.
  std::string Failure(const QSqlError& error);
  // A write transaction taken at once (SQLite: BEGIN IMMEDIATE, waiting up to
  // the busy timeout for another writer), and its end.
  bool Begin(std::string& error);
  bool Commit(std::string& error);
  void Rollback();
  // The register's own spelling of each group (trimmed; the first spelling
  // the register has of it without regard to case), each once.
  bool CanonicalGroups(std::vector<std::string>& groups, std::string& error);
  bool ReadGroupNames(std::vector<std::string>& names, std::string& error);
  bool WriteBoard(long long id, const BoardRecord& board, std::string& error);
  bool OpenFile(const std::string& path, std::string& error);
  bool OpenServer(const std::string& address, std::string& error);
  bool Migrate(std::string& error);
  bool MigrateServer(std::string& error);
  // Runs an INSERT and gives the new row's id (0 on failure).
  long long InsertReturningId(QSqlQuery& q);
  // The database server's clock in ms since 1970, as an SQL expression.
  const char* ServerNowMs() const;
  bool SaveGroups(long long id, const std::vector<std::string>& groups, std::string& error);

  std::string connection_;
  std::string path_;
  bool open_ = false;
  bool shared_ = false;
  bool unreachable_ = false;
  int foundVersion_ = 0;
  bool hadWal_ = false;  // the journal files were there before Open
  bool hadShm_ = false;
};

// Checks a record before it is stored: a name, a line, an address 0..127 or
// -1, speeds among the board's, a number to dial for a modem. Empty when
// sound, else the reason (Windows-1251).
std::string CheckBoard(const BoardRecord& board);

// The speeds a board's line runs at, in bit/s, as the settings' speed
// indexes count them (index 0 = 9600 .. 4 = 57600).
int SpeedIndex(int bitsPerSecond);  // -1 when not one of them

}  // namespace lentar::fleet
