// The register's groups: listed once whatever the case or the spaces they
// were typed with, renamed, and merged into another group by naming it; on
// an SQLite file and on a PostgreSQL server alike.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "fleet/register.h"
#include "support/pg_server.h"
#include "support/sim_process.h"

namespace lentar::fleet {
namespace {

using comm::testing::TestFolder;

std::string W(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

class GroupsOn : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string test = "groups_" + name.substr(0, name.find('/'));
    std::string address, error;
    if (GetParam() == "SQLite") {
      address = (TestFolder("fleet", test) / "fleet.sqlite").string();
    } else {
      address = lentar::testing::PgFreshDatabase(test, error);
      ASSERT_TRUE(error.empty()) << error;
      if (address.empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
    }
    ASSERT_TRUE(reg_.Open(address, error)) << error;
    // Groups typed loosely: a trailing space, another case (the register
    // keeps the first spelling).
    const std::vector<std::pair<const char*, std::vector<std::string>>> boards = {
        {"a", {W(u8"Вокзал")}},
        {"b", {W(u8"Вокзал "), W(u8"Центр")}},
        {"c", {W(u8"центр")}},
        {"d", {W(u8"Склад")}},
    };
    for (const auto& [name, groups] : boards) {
      BoardRecord b;
      b.name = name;
      b.line = "/dev/ttyS0";
      b.groups = groups;
      ASSERT_TRUE(reg_.Add(b, error)) << error;
    }
  }

  // Each board's groups.
  std::map<std::string, std::vector<std::string>> Groups() {
    std::vector<BoardRecord> boards;
    std::string error;
    EXPECT_TRUE(reg_.List(boards, error)) << error;
    std::map<std::string, std::vector<std::string>> groups;
    for (const auto& b : boards) groups[b.name] = b.groups;
    return groups;
  }

  Register reg_;
};

INSTANTIATE_TEST_SUITE_P(Engines, GroupsOn, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return info.param; });

TEST_P(GroupsOn, ListedOnceInTheirFirstSpelling) {
  std::vector<std::string> groups;
  std::string error;
  ASSERT_TRUE(reg_.ListGroups(groups, error)) << error;
  EXPECT_EQ(groups, (std::vector<std::string>{W(u8"Вокзал"), W(u8"Склад"), W(u8"Центр")}));
}

// One step after another on the same register: what each rename leaves.
TEST_P(GroupsOn, RenamedAndMergedWithoutRegardToCase) {
  const struct {
    const char8_t* from;
    const char8_t* to;
    const char8_t* refusal;  // empty: done
    std::map<std::string, std::vector<std::string>> after;
  } steps[] = {
      // Typed loosely: both spellings of "Вокзал" become one.
      {u8" вокзал", u8"Вокзал", u8"",
       {{"a", {W(u8"Вокзал")}}, {"b", {W(u8"Вокзал"), W(u8"Центр")}}, {"c", {W(u8"Центр")}},
        {"d", {W(u8"Склад")}}}},
      // Merged into "Центр" by another case: every spelling of it joins the
      // first one.
      {u8"Склад", u8"ЦЕНТР ", u8"",
       {{"a", {W(u8"Вокзал")}}, {"b", {W(u8"Вокзал"), W(u8"Центр")}}, {"c", {W(u8"Центр")}},
        {"d", {W(u8"Центр")}}}},
      // A plain rename; a board in both groups is in the result once.
      {u8"вокзал", u8"Центр", u8"",
       {{"a", {W(u8"Центр")}}, {"b", {W(u8"Центр")}}, {"c", {W(u8"Центр")}}, {"d", {W(u8"Центр")}}}},
      {u8"Центр", u8"Центр города", u8"",
       {{"a", {W(u8"Центр города")}}, {"b", {W(u8"Центр города")}}, {"c", {W(u8"Центр города")}},
        {"d", {W(u8"Центр города")}}}},
      {u8"Склад", u8"x", u8"группы 'Склад' нет в реестре", {}},
      {u8"Центр города", u8"  ", u8"имя группы не может быть пустым или содержать '|'", {}},
      {u8"Центр города", u8"a|b", u8"имя группы не может быть пустым или содержать '|'", {}},
  };
  std::map<std::string, std::vector<std::string>> expected;
  for (const auto& step : steps) {
    std::string error;
    const bool done = reg_.RenameGroup(W(step.from), W(step.to), error);
    SCOPED_TRACE(Cp1251ToUtf8(W(step.from)) + " -> " + Cp1251ToUtf8(W(step.to)));
    if (std::u8string(step.refusal).empty()) {
      EXPECT_TRUE(done) << error;
      expected = step.after;
    } else {
      EXPECT_FALSE(done);
      EXPECT_EQ(error, W(step.refusal));
    }
    EXPECT_EQ(Groups(), expected);
  }
}

}  // namespace
}  // namespace lentar::fleet
