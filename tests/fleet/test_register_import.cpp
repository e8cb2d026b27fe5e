// A whole file of boards taken into the register at once: boards added and
// replaced, stored passwords kept when the file has none, and a write that
// fails halfway leaving the register as it was; on SQLite and PostgreSQL.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "fleet/register.h"
#include "support/pg_server.h"
#include "support/sim_process.h"

namespace lentar::fleet {
namespace {

class RegisterImportOn : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string test = name.substr(0, name.find('/'));
    if (GetParam() == "SQLite") {
      address_ = (comm::testing::TestFolder("fleet_import", test) / "fleet.sqlite").string();
    } else {
      std::string error;
      address_ = lentar::testing::PgFreshDatabase("import_" + test, error);
      ASSERT_TRUE(error.empty()) << error;
      if (address_.empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
    }
    std::string error;
    ASSERT_TRUE(reg_.Open(address_, error)) << Cp1251ToUtf8(error);
  }
  bool Shared() const { return GetParam() != "SQLite"; }
  // Statements run straight on the engine, as another program would.
  void Execute(const std::vector<std::string>& statements) {
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(Shared() ? "QPSQL" : "QSQLITE", "importer");
      if (Shared()) lentar::testing::PgConnectTo(db, address_);
      else db.setDatabaseName(QString::fromStdString(address_));
      ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
      QSqlQuery q(db);
      for (const auto& sql : statements)
        ASSERT_TRUE(q.exec(QString::fromStdString(sql)))
            << sql << ": " << q.lastError().text().toStdString();
      db.close();
    }
    QSqlDatabase::removeDatabase("importer");
  }
  std::vector<BoardRecord> Boards() {
    std::vector<BoardRecord> boards;
    std::string error;
    EXPECT_TRUE(reg_.List(boards, error)) << error;
    return boards;
  }
  std::string address_;
  Register reg_;
};

INSTANTIATE_TEST_SUITE_P(Engines, RegisterImportOn, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return info.param; });

BoardRecord Board(const std::string& name, std::vector<std::string> groups = {}) {
  BoardRecord b;
  b.name = name;
  b.line = "/dev/ttyS0";
  b.groups = std::move(groups);
  return b;
}

TEST_P(RegisterImportOn, AddsReplacesAndKeepsStoredPasswordsWhenAsked) {
  std::string error;
  BoardRecord kept = Board("kept", {"a"});
  kept.modem = true;
  kept.dial = "1";
  kept.password = "p1";
  kept.modemPassword = "m1";
  ASSERT_TRUE(reg_.Add(kept, error)) << error;
  ASSERT_TRUE(reg_.Add(Board("untouched"), error)) << error;

  // The file's record of "kept" has no passwords and other groups.
  BoardRecord fromFile = Board("kept", {"b", "c"});
  fromFile.modem = true;
  fromFile.dial = "1";
  fromFile.note = "new";
  int added = 0, replaced = 0;
  ASSERT_TRUE(reg_.Import({fromFile, Board("n1", {"b"}), Board("n2")}, true, true, added, replaced,
                          error))
      << error;
  EXPECT_EQ(added, 2);
  EXPECT_EQ(replaced, 1);
  auto b = reg_.Find("kept", error);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->password, "p1");
  EXPECT_EQ(b->modemPassword, std::optional<std::string>("m1"));
  EXPECT_EQ(b->groups, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(b->note, "new");
  EXPECT_EQ(Boards().size(), 4u);
  std::vector<BoardRecord> inB;
  ASSERT_TRUE(reg_.List(inB, error, "b"));
  EXPECT_EQ(inB.size(), 2u);

  // A file that names the passwords replaces them, the modem's separately.
  ASSERT_TRUE(reg_.Import({fromFile}, false, true, added, replaced, error)) << error;
  b = reg_.Find("kept", error);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->password, "");
  EXPECT_EQ(b->modemPassword, std::optional<std::string>("m1"));
  ASSERT_TRUE(reg_.Import({fromFile}, false, false, added, replaced, error)) << error;
  b = reg_.Find("kept", error);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->modemPassword, std::nullopt);
}

TEST_P(RegisterImportOn, AFileThatFailsHalfwayChangesNothing) {
  std::string error;
  ASSERT_TRUE(reg_.Add(Board("old", {"g"}), error)) << error;
  // The database refuses one board, as a full disk or a lost link would
  // fail one write among many.
  if (Shared())
    Execute({"CREATE FUNCTION refuse_poison() RETURNS trigger AS $$ BEGIN "
             "IF NEW.name = 'poison' THEN RAISE EXCEPTION 'refused %', NEW.name; END IF; "
             "RETURN NEW; END "
             "$$ LANGUAGE plpgsql",
             "CREATE TRIGGER refuse_poison BEFORE INSERT ON boards FOR EACH ROW EXECUTE "
             "FUNCTION refuse_poison()"});
  else
    Execute({"CREATE TRIGGER refuse_poison BEFORE INSERT ON boards WHEN NEW.name = 'poison' "
             "BEGIN SELECT RAISE(ABORT, 'refused'); END"});
  int added = 0, replaced = 0;
  EXPECT_FALSE(reg_.Import({Board("old", {"h"}), Board("first"), Board("poison"), Board("last")},
                           true, true, added, replaced, error));
  EXPECT_NE(error.find("poison"), std::string::npos) << error;
  EXPECT_EQ(added, 0);
  EXPECT_EQ(replaced, 0);
  const auto boards = Boards();
  ASSERT_EQ(boards.size(), 1u);
  EXPECT_EQ(boards[0].name, "old");
  EXPECT_EQ(boards[0].groups, std::vector<std::string>{"g"});
  // And the register goes on working.
  ASSERT_TRUE(reg_.Import({Board("first")}, true, true, added, replaced, error)) << error;
  EXPECT_EQ(Boards().size(), 2u);
  // A record the register refuses is named before anything is written.
  BoardRecord bad = Board("bad");
  bad.address = 300;
  EXPECT_FALSE(reg_.Import({Board("second"), bad}, true, true, added, replaced, error));
  EXPECT_NE(error.find("bad"), std::string::npos) << error;
  EXPECT_EQ(Boards().size(), 2u);
  // So is a name given twice.
  EXPECT_FALSE(reg_.Import({Board("twice"), Board("once"), Board("twice")}, true, true, added,
                           replaced, error));
  EXPECT_NE(error.find("twice"), std::string::npos) << error;
  EXPECT_EQ(Boards().size(), 2u);
}

// More boards than go into one statement, added and then all replaced with
// other groups: every board and every group where it belongs.
TEST_P(RegisterImportOn, ManyBoardsAddedAndReplaced) {
  constexpr int kBoards = 1500;
  std::vector<BoardRecord> boards;
  for (int i = 0; i < kBoards; ++i) {
    BoardRecord b = Board("b" + std::to_string(i), {"all", "g" + std::to_string(i % 7)});
    b.address = i % 128;
    b.password = "p" + std::to_string(i % 10);
    boards.push_back(b);
  }
  std::string error;
  int added = 0, replaced = 0;
  ASSERT_TRUE(reg_.Import(boards, true, true, added, replaced, error)) << error;
  EXPECT_EQ(added, kBoards);
  for (auto& b : boards) {
    b.groups = {"new"};
    b.note = "replaced";
    b.password.clear();
  }
  ASSERT_TRUE(reg_.Import(boards, true, true, added, replaced, error)) << error;
  EXPECT_EQ(added, 0);
  EXPECT_EQ(replaced, kBoards);
  std::vector<BoardRecord> listed;
  ASSERT_TRUE(reg_.List(listed, error, "new")) << error;
  ASSERT_EQ(listed.size(), size_t{kBoards});
  ASSERT_TRUE(reg_.List(listed, error, "all")) << error;
  EXPECT_TRUE(listed.empty());
  const auto b = reg_.Find("b1234", error);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->address, 1234 % 128);
  EXPECT_EQ(b->note, "replaced");
  EXPECT_EQ(b->password, "p4");  // kept: the import named no passwords
  EXPECT_EQ(b->groups, std::vector<std::string>{"new"});
}

}  // namespace
}  // namespace lentar::fleet
