// The register of boards: created owner-only, boards kept with every field,
// foreign and damaged files refused untouched, an older register migrated.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <filesystem>
#include <fstream>
#include <string>

#include "comm/sim_process.h"
#include "core/textutil.h"
#include "fleet/register.h"

namespace lentar::fleet {
namespace {

namespace fs = std::filesystem;
using comm::testing::ReadFileBytes;
using comm::testing::TestFolder;

std::string W(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

BoardRecord FullBoard() {
  BoardRecord b;
  b.name = W(u8"Аптека-1");
  b.groups = {W(u8"юг"), "pharmacy"};
  b.line = "rfc2217://10.0.0.5:4001";
  b.address = 17;
  b.speed = 19200;
  b.loadSpeed = 57600;
  b.modem = true;
  b.dial = "84951234567";
  b.pulse = true;
  b.initLines = std::vector<std::string>{"ATZ", "AT&F E0"};
  b.modemPassword = W(u8"модем");
  b.password = W(u8"секрет");
  b.ini = "/srv/boards/pharmacy.ini";
  b.note = W(u8"у входа, справа");
  return b;
}

void ExpectSame(const BoardRecord& a, const BoardRecord& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.groups, b.groups);
  EXPECT_EQ(a.line, b.line);
  EXPECT_EQ(a.address, b.address);
  EXPECT_EQ(a.speed, b.speed);
  EXPECT_EQ(a.loadSpeed, b.loadSpeed);
  EXPECT_EQ(a.modem, b.modem);
  EXPECT_EQ(a.dial, b.dial);
  EXPECT_EQ(a.pulse, b.pulse);
  EXPECT_EQ(a.initLines, b.initLines);
  EXPECT_EQ(a.modemPassword, b.modemPassword);
  EXPECT_EQ(a.password, b.password);
  EXPECT_EQ(a.ini, b.ini);
  EXPECT_EQ(a.note, b.note);
}

TEST(Register, KeepsEveryFieldOwnerOnlyAndByGroup) {
  const auto dir = TestFolder("fleet", "fields");
  const std::string path = (dir / "sub" / "fleet.sqlite").string();
  std::string error;
  {
    Register reg;
    ASSERT_TRUE(reg.Open(path, error)) << Cp1251ToUtf8(error);
    EXPECT_EQ(reg.FoundVersion(), 0);
    ASSERT_TRUE(reg.Add(FullBoard(), error)) << Cp1251ToUtf8(error);
    BoardRecord plain;
    plain.name = "b2";
    plain.line = "/dev/ttyUSB0";
    plain.groups = {"pharmacy"};
    ASSERT_TRUE(reg.Add(plain, error));
    EXPECT_FALSE(reg.Add(plain, error));  // the name is taken
    EXPECT_NE(Cp1251ToUtf8(error).find("уже есть"), std::string::npos);
  }
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Register reg;
  ASSERT_TRUE(reg.Open(path, error)) << Cp1251ToUtf8(error);
  EXPECT_EQ(reg.FoundVersion(), Register::kSchemaVersion);
  BoardRecord expected = FullBoard();
  expected.groups = {"pharmacy", W(u8"юг")};  // kept in order of name
  const auto found = reg.Find(W(u8"Аптека-1"), error);
  ASSERT_TRUE(found);
  ExpectSame(*found, expected);
  // Unset modem lines and password stay unset (the settings file's apply).
  const auto plain = reg.Find("b2", error);
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->initLines);
  EXPECT_FALSE(plain->modemPassword);

  std::vector<BoardRecord> boards;
  ASSERT_TRUE(reg.List(boards, error, W(u8"юг")));
  ASSERT_EQ(boards.size(), 1u);
  ASSERT_TRUE(reg.List(boards, error, "pharmacy"));
  EXPECT_EQ(boards.size(), 2u);

  // Renamed and regrouped; the old name is gone.
  BoardRecord renamed = *plain;
  renamed.name = "b3";
  renamed.groups = {W(u8"юг")};
  ASSERT_TRUE(reg.Update("b2", renamed, error)) << Cp1251ToUtf8(error);
  EXPECT_FALSE(reg.Find("b2", error));
  EXPECT_FALSE(reg.Update("b3", FullBoard(), error));  // onto a taken name
  ASSERT_TRUE(reg.List(boards, error, W(u8"юг")));
  EXPECT_EQ(boards.size(), 2u);
  ASSERT_TRUE(reg.Remove("b3", error));
  EXPECT_FALSE(reg.Remove("b3", error));
  ASSERT_TRUE(reg.List(boards, error));
  EXPECT_EQ(boards.size(), 1u);
}

TEST(Register, RefusesUnsoundBoards) {
  struct Case {
    const char* what;
    void (*change)(BoardRecord&);
  } cases[] = {
      {"no name", [](BoardRecord& b) { b.name.clear(); }},
      {"no line", [](BoardRecord& b) { b.line.clear(); }},
      {"address 128", [](BoardRecord& b) { b.address = 128; }},
      {"speed 1200", [](BoardRecord& b) { b.speed = 1200; }},
      {"modem without number", [](BoardRecord& b) { b.dial.clear(); }},
      {"password of 9", [](BoardRecord& b) { b.password = "123456789"; }},
      {"empty group", [](BoardRecord& b) { b.groups.push_back(""); }},
  };
  for (const auto& c : cases) {
    BoardRecord b = FullBoard();
    EXPECT_TRUE(CheckBoard(b).empty());
    c.change(b);
    EXPECT_FALSE(CheckBoard(b).empty()) << c.what;
  }
}

const std::string kOurId = "PRAGMA application_id=" + std::to_string(Register::kApplicationId);

// A database made through Qt SQL by another program (or an older version).
void MakeDatabase(const std::string& path, const std::vector<std::string>& statements) {
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "maker");
    db.setDatabaseName(QString::fromStdString(path));
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    for (const auto& sql : statements) ASSERT_TRUE(q.exec(QString::fromStdString(sql))) << sql;
    db.close();
  }
  QSqlDatabase::removeDatabase("maker");
}

TEST(Register, RefusesForeignAndDamagedFilesUntouched) {
  const auto dir = TestFolder("fleet", "refused");
  const std::string text = (dir / "text.sqlite").string();
  std::ofstream(text) << "boards: many\n";
  const std::string foreign = (dir / "foreign.sqlite").string();
  MakeDatabase(foreign, {"CREATE TABLE contacts(name TEXT)", "INSERT INTO contacts VALUES ('x')"});
  const std::string newer = (dir / "newer.sqlite").string();
  MakeDatabase(newer, {"CREATE TABLE boards(x)", kOurId,
                       "PRAGMA user_version=99"});
  // A register whose pages were overwritten after its header.
  const std::string damaged = (dir / "damaged.sqlite").string();
  {
    std::string error;
    Register reg;
    ASSERT_TRUE(reg.Open(damaged, error));
    BoardRecord b = FullBoard();
    ASSERT_TRUE(reg.Add(b, error));
  }
  fs::remove(damaged + "-wal");
  fs::remove(damaged + "-shm");
  {
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    const std::string junk(8000, '\x5A');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  const std::string truncated = (dir / "truncated.sqlite").string();
  std::ofstream(truncated, std::ios::binary).write("SQLite form", 11);

  const struct {
    std::string path;
    const char* words;
  } cases[] = {
      {text, "не база данных SQLite"},
      {truncated, "не база данных SQLite"},
      {foreign, "другой программы"},
      {newer, "более новой версией"},
      {damaged, "повреждён"},
  };
  for (const auto& c : cases) {
    const auto before = ReadFileBytes(c.path);
    const auto mtime = fs::last_write_time(c.path);
    Register reg;
    std::string error;
    EXPECT_FALSE(reg.Open(c.path, error)) << c.path;
    const std::string message = Cp1251ToUtf8(error);
    EXPECT_NE(message.find(c.words), std::string::npos) << message;
    EXPECT_NE(message.find(c.path), std::string::npos) << message;
    EXPECT_EQ(ReadFileBytes(c.path), before) << c.path;
    EXPECT_EQ(fs::last_write_time(c.path), mtime) << c.path;
    EXPECT_FALSE(fs::exists(c.path + "-wal")) << c.path;
  }
}

// The register as the first version of the program left it: boards and
// groups, no delivery log.
TEST(Register, MigratesTheFirstSchemaKeepingItsBoards) {
  const auto dir = TestFolder("fleet", "migrate");
  const std::string path = (dir / "old.sqlite").string();
  MakeDatabase(path, {
      "CREATE TABLE boards ( id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, line TEXT NOT "
      "NULL, address INTEGER NOT NULL DEFAULT -1, speed INTEGER NOT NULL DEFAULT 0, load_speed "
      "INTEGER NOT NULL DEFAULT 0, modem INTEGER NOT NULL DEFAULT 0, dial TEXT NOT NULL DEFAULT "
      "'', pulse INTEGER NOT NULL DEFAULT 0, modem_init TEXT, modem_password TEXT, password TEXT "
      "NOT NULL DEFAULT '', ini TEXT NOT NULL DEFAULT '', note TEXT NOT NULL DEFAULT '')",
      "CREATE TABLE board_groups ( board_id INTEGER NOT NULL REFERENCES boards(id) ON DELETE "
      "CASCADE, name TEXT NOT NULL, PRIMARY KEY (board_id, name))",
      "CREATE INDEX board_groups_name ON board_groups(name)",
      "INSERT INTO boards(id, name, line, address, password) VALUES (7, 'вокзал', "
      "'socket://10.1.1.1:4001', 3, 'пароль')",
      "INSERT INTO board_groups VALUES (7, 'транспорт')",
      kOurId,
      "PRAGMA user_version=1",
  });
  std::string error;
  Register reg;
  ASSERT_TRUE(reg.Open(path, error)) << Cp1251ToUtf8(error);
  EXPECT_EQ(reg.FoundVersion(), 1);
  const auto board = reg.Find(W(u8"вокзал"), error);
  ASSERT_TRUE(board);
  EXPECT_EQ(board->line, "socket://10.1.1.1:4001");
  EXPECT_EQ(board->address, 3);
  EXPECT_EQ(board->password, W(u8"пароль"));
  EXPECT_EQ(board->groups, std::vector<std::string>{W(u8"транспорт")});
  // The log the first schema lacked is there now.
  LogEntry e;
  e.board = board->name;
  e.groups = board->groups;
  e.attempt = 1;
  const long long id = reg.BeginAttempt(e, error);
  ASSERT_GT(id, 0) << Cp1251ToUtf8(error);
  Register again;
  ASSERT_TRUE(again.Open(path, error));
  EXPECT_EQ(again.FoundVersion(), Register::kSchemaVersion);
}

TEST(Register, LogReadsByBoardGroupAndPeriod) {
  const auto dir = TestFolder("fleet", "log");
  std::string error;
  Register reg;
  ASSERT_TRUE(reg.Open((dir / "fleet.sqlite").string(), error));
  const struct {
    const char* board;
    std::vector<std::string> groups;
    const char* started;
    const char* outcome;
  } rows[] = {
      {"a", {"north"}, "2026-01-01 10:00:00.000", "failed"},
      {"a", {"north"}, "2026-01-01 10:00:05.000", "delivered"},
      {"b", {"north", "south"}, "2026-02-01 09:00:00.000", "refused"},
      {"c", {"southern"}, "2026-03-01 09:00:00.000", "delivered"},
  };
  int attempt = 0;
  for (const auto& r : rows) {
    LogEntry e;
    e.board = r.board;
    e.groups = r.groups;
    e.started = r.started;
    e.operatorName = "op";
    e.setFile = "/sets/a.txt";
    e.sha256 = std::string(64, 'a');
    e.size = 4096;
    e.attempt = ++attempt;
    const long long id = reg.BeginAttempt(e, error);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(reg.FinishAttempt(id, r.outcome, W(u8"Загрузка успешно завершена!"), error));
  }
  const struct {
    LogFilter filter;
    size_t count;
  } cases[] = {
      {{}, 4},
      {{"a", "", ""}, 2},
      {{"", "north", ""}, 3},
      {{"", "south", ""}, 1},  // not "southern"
      {{"", "", "2026-02-01"}, 2},
      {{"b", "north", "2026-01-15 00:00"}, 1},
  };
  for (const auto& c : cases) {
    std::vector<LogEntry> entries;
    ASSERT_TRUE(reg.ReadLog(c.filter, entries, error));
    EXPECT_EQ(entries.size(), c.count) << c.filter.board << "/" << c.filter.group << "/"
                                       << c.filter.since;
  }
  std::vector<LogEntry> entries;
  ASSERT_TRUE(reg.ReadLog({"b", "", ""}, entries, error));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].outcome, "refused");
  EXPECT_EQ(entries[0].groups, (std::vector<std::string>{"north", "south"}));
  EXPECT_EQ(entries[0].message, W(u8"Загрузка успешно завершена!"));
  EXPECT_FALSE(entries[0].finished.empty());
  EXPECT_EQ(entries[0].size, 4096);
}

}  // namespace
}  // namespace lentar::fleet
