// The fleet's CSV files: the register's round trip with values a spreadsheet
// or a naive reader would spoil, formula guarding, encodings, and the log's
// two forms.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "fleet/reports.h"

namespace lentar::fleet {
namespace {

std::string W(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

BoardRecord Board(const char8_t* name) {
  BoardRecord b;
  b.name = W(name);
  b.line = "/dev/ttyS0";
  return b;
}

void ExpectSameBoard(const BoardRecord& a, const BoardRecord& b, bool passwords) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.groups, b.groups) << a.name;
  EXPECT_EQ(a.line, b.line) << a.name;
  EXPECT_EQ(a.address, b.address) << a.name;
  EXPECT_EQ(a.speed, b.speed) << a.name;
  EXPECT_EQ(a.loadSpeed, b.loadSpeed) << a.name;
  EXPECT_EQ(a.modem, b.modem) << a.name;
  EXPECT_EQ(a.dial, b.dial) << a.name;
  EXPECT_EQ(a.pulse, b.pulse) << a.name;
  EXPECT_EQ(a.initLines, b.initLines) << a.name;
  if (passwords) {
    EXPECT_EQ(a.modemPassword, b.modemPassword) << a.name;
    EXPECT_EQ(a.password, b.password) << a.name;
  }
  EXPECT_EQ(a.ini, b.ini) << a.name;
  EXPECT_EQ(a.note, b.note) << a.name;
}

// Values that a spreadsheet would run as formulas, that hold the separators
// of the file and of its lists, and the empty values that differ from absent
// ones.
std::vector<BoardRecord> HostileBoards() {
  std::vector<BoardRecord> boards;
  {
    auto b = Board(u8"=HYPERLINK(\"http://x\";\"клик\")");
    b.groups = {"+cmd", W(u8"юг")};
    b.note = "@SUM(1+1)";
    b.address = -1;
    boards.push_back(b);
  }
  {
    auto b = Board(u8"-минус");
    b.groups = {"a;b", "c"};  // one group with a semicolon, not two
    b.modem = true;
    b.dial = "+74951234567";
    b.initLines = std::vector<std::string>{""};  // one empty line
    b.modemPassword = "";                         // empty, not DefModemPass
    b.password = "=1";
    boards.push_back(b);
  }
  {
    auto b = Board(u8"'апостроф");
    b.groups = {"back\\slash", "semi\\;colon", "'q"};
    b.modem = true;
    b.dial = "1";
    b.initLines = std::vector<std::string>{"AT\\N0", "", "+++", "\\e", "\\0"};
    b.modemPassword = "\\e";
    b.note = "line 1\nline 2, \"quoted\"; done";
    boards.push_back(b);
  }
  {
    auto b = Board(u8"no lines");
    b.modem = true;
    b.dial = "2";
    b.initLines = std::vector<std::string>{};  // none at all, not ModemInit
    boards.push_back(b);
  }
  {
    auto b = Board(u8"defaults");
    b.modem = true;
    b.dial = "3";  // ModemInit and DefModemPass of the settings
    b.ini = "/etc/lentar/\t=tab.ini";
    b.speed = 19200;
    b.loadSpeed = 57600;
    b.pulse = true;
    boards.push_back(b);
  }
  {
    auto b = Board(u8"cr");
    b.note = "\r=cr";
    b.line = "socket://10.0.0.1:4001";
    b.address = 127;
    boards.push_back(b);
  }
  return boards;
}

TEST(BoardsCsv, ExportImportExportChangesNothing) {
  const auto boards = HostileBoards();
  for (bool passwords : {true, false}) {
    const std::string csv = BoardsCsv(boards, passwords);
    BoardsFile file;
    std::string error;
    ASSERT_TRUE(ReadBoardsCsv(csv, file, error)) << error << "\n" << csv;
    EXPECT_EQ(file.hasPassword, passwords);
    EXPECT_EQ(file.hasModemPassword, passwords);
    EXPECT_FALSE(file.windows1251);
    ASSERT_EQ(file.boards.size(), boards.size());
    for (size_t i = 0; i < boards.size(); ++i) ExpectSameBoard(file.boards[i], boards[i], passwords);
    EXPECT_EQ(BoardsCsv(file.boards, passwords), csv);
  }
}

TEST(BoardsCsv, CellsThatASpreadsheetWouldRunAreWrittenAsText) {
  const std::string csv = BoardsCsv(HostileBoards(), true);
  // Every cell starts with something other than a formula's first character
  // once the CSV quoting is taken off.
  std::vector<std::vector<std::string>> rows;
  std::string error;
  ASSERT_TRUE(ReadCsv(csv, ',', rows, error)) << error;
  ASSERT_EQ(rows.size(), HostileBoards().size() + 1);
  for (size_t r = 1; r < rows.size(); ++r)
    for (size_t c = 0; c < rows[r].size(); ++c) {
      const std::string& cell = rows[r][c];
      if (cell.empty() || rows[0][c] == "address") continue;
      EXPECT_EQ(std::string("=+-@\t\r").find(cell[0]), std::string::npos)
          << rows[0][c] << ": " << cell;
    }
  for (const char* guarded : {"'=HYPERLINK", "'+cmd", "'@SUM(1+1)", "'-минус", "''апостроф",
                              "'+74951234567", "'=1", "\"'\r=cr\""})
    EXPECT_NE(csv.find(guarded), std::string::npos) << guarded << "\n" << csv;
  // The list cells: one group with its semicolon escaped; the empty and the
  // absent kept apart.
  EXPECT_NE(csv.find("a\\;b;c"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",\\0,"), std::string::npos) << csv;  // no lines at all
  EXPECT_NE(csv.find(",\\e,\\e,"), std::string::npos) << csv;  // one empty line, empty password
}

TEST(BoardsCsv, FilesFromSpreadsheetsAndOlderExportsRead) {
  const struct {
    const char* what;
    std::string bytes;
    std::vector<std::string> groups;
    std::optional<std::vector<std::string>> init;
    std::optional<std::string> modemPassword;
  } cases[] = {
      {"older export: lines and ';' as they were", "name,groups,line,init,modem_password\n"
                                                   "b,a;b,COM1,\"ATZ\nAT\\N0\",\n",
       {"a", "b"}, std::vector<std::string>{"ATZ", "AT\\N0"}, std::nullopt},
      {"semicolons and a byte-order mark", "\xEF\xBB\xBFname;groups;line\r\nb;g;COM1\r\n", {"g"},
       std::nullopt, std::nullopt},
      {"breaks saved as CRLF inside a cell", "name,line,init,modem_password\nb,COM1,\"A\r\nB\",x\n",
       {}, std::vector<std::string>{"A", "B"}, "x"},
      {"an apostrophe before an ordinary letter is the text's own",
       "name,line,groups\nb,COM1,'g\n", {"'g"}, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    BoardsFile file;
    std::string error;
    ASSERT_TRUE(ReadBoardsCsv(c.bytes, file, error)) << c.what << ": " << error;
    ASSERT_EQ(file.boards.size(), 1u) << c.what;
    EXPECT_EQ(file.boards[0].name, "b") << c.what;
    EXPECT_EQ(file.boards[0].line, "COM1") << c.what;
    EXPECT_EQ(file.boards[0].groups, c.groups) << c.what;
    EXPECT_EQ(file.boards[0].initLines, c.init) << c.what;
    EXPECT_EQ(file.boards[0].modemPassword, c.modemPassword) << c.what;
  }
}

TEST(BoardsCsv, TextIsReadAsItIsOrRefused) {
  // A Windows-1251 file (a spreadsheet's "CSV" on a Russian Windows).
  {
    BoardsFile file;
    std::string error;
    ASSERT_TRUE(ReadBoardsCsv(W(u8"name;groups;line\r\nТабло;Юг;COM1\r\n"), file, error)) << error;
    EXPECT_TRUE(file.windows1251);
    ASSERT_EQ(file.boards.size(), 1u);
    EXPECT_EQ(file.boards[0].name, W(u8"Табло"));
    EXPECT_EQ(file.boards[0].groups, std::vector<std::string>{W(u8"Юг")});
  }
  const struct {
    const char* what;
    const char* bytes;
    const char* words;
  } refused[] = {
      {"an emoji", "name,line\nok,COM1\nname\xF0\x9F\x98\x80,COM1\n",
       "запись 2: name: символ «\xF0\x9F\x98\x80»"},
      {"Japanese in a group", "name,line,groups\nb,COM1,\xE6\x9D\xB1\xE4\xBA\xAC\n",
       "запись 1: groups: символ «\xE6\x9D\xB1»"},
      {"an escape sequence in a name", "name,line\n\"a\x1b[31m\",COM1\n", "\\x1B"},
      {"a bell in a group", "name,line,groups\nb,COM1,g\a\n", "\\x07"},
      {"the same name twice", "name,line\nb,COM1\nc,COM2\nb,COM3\n", "запись 3: табло 'b' уже было выше"},
      {"no line column", "name\nb\n", "нет столбца 'line'"},
      {"an unknown column", "name,line,colour\nb,COM1,red\n", "неизвестный столбец 'colour'"},
      {"a quote never closed", "name,line\n\"b,COM1\n", "строка 2: кавычка не закрыта"},
      {"an address that is no number", "name,line,address\nb,COM1,x1\n", "address 'x1' не число"},
      {"an empty file", "", "файл пуст"},
  };
  for (const auto& c : refused) {
    BoardsFile file;
    std::string error;
    EXPECT_FALSE(ReadBoardsCsv(c.bytes, file, error)) << c.what;
    EXPECT_NE(error.find(c.words), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(error.find('\x1b'), std::string::npos) << c.what;
    EXPECT_EQ(error.find('\a'), std::string::npos) << c.what;
  }
}

TEST(BoardsCsv, ManyThousandBoardsWithOneNameRepeatedAtTheEnd) {
  std::string csv = "name,line\n";
  for (int i = 0; i < 200000; ++i) csv += "b" + std::to_string(i) + ",COM1\n";
  BoardsFile file;
  std::string error;
  ASSERT_TRUE(ReadBoardsCsv(csv, file, error)) << error;
  EXPECT_EQ(file.boards.size(), 200000u);
  csv += "b0,COM2\n";
  EXPECT_FALSE(ReadBoardsCsv(csv, file, error));
  EXPECT_NE(error.find("запись 200001"), std::string::npos) << error;
}

TEST(LogCsv, TheWindowsFormAndThePlainOne) {
  LogEntry e;
  e.board = "=b1";
  e.groups = {"+g", W(u8"юг")};
  e.line = "/dev/ttyS0";
  e.address = -1;
  e.started = "2026-01-02 03:04:05.006";
  e.finished = "2026-01-02 03:04:06.007";
  e.operatorName = "op";
  e.setFile = "/sets/a;b.txt";
  e.sha256 = std::string(64, 'a');
  e.size = 10;
  e.outcome = "refused";
  e.message = W(u8"-Отказ табло");
  e.run = "5f0c2b7e-run";
  LogEntry running = e;
  running.board = "b2";
  running.groups = {"a;b"};
  running.address = 5;
  running.finished.clear();
  running.outcome.clear();

  const std::string csv = LogCsv({e, running});
  EXPECT_EQ(csv.rfind("\xEF\xBB\xBF" "Начало;Конец;Табло;Группы;Линия;Адрес;Оператор;Набор;"
                      "SHA-256;Размер;Попытка;Итог;Сообщение\r\n", 0),
            0u)
      << csv;
  EXPECT_NE(csv.find(";'=b1;'+g, юг;/dev/ttyS0;;op;\"/sets/a;b.txt\";" + std::string(64, 'a') +
                     ";10;1;Отказ;'-Отказ табло\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find(";;b2;\"a;b\";/dev/ttyS0;5;"), std::string::npos) << csv;
  EXPECT_NE(csv.find(";не завершена;"), std::string::npos) << csv;

  const std::string plain = LogCsvPlain({e, running});
  EXPECT_EQ(plain.rfind("started,finished,board,groups,line,address,operator,set_file,sha256,size,"
                        "attempt,outcome,message,run\n",
                        0),
            0u)
      << plain;
  EXPECT_NE(plain.find(",=b1,+g;юг,/dev/ttyS0,-1,op,/sets/a;b.txt,"), std::string::npos) << plain;
  EXPECT_NE(plain.find(",refused,-Отказ табло,5f0c2b7e-run\n"), std::string::npos) << plain;
  EXPECT_NE(plain.find(",b2,a\\;b,"), std::string::npos) << plain;
}

TEST(VisibleText, ControlCharactersAreShownNotObeyed) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain текст", "plain текст"},
      {"\x1b[31mred", "\\x1B[31mred"},
      {"bell\a", "bell\\x07"},
      {"a\nb\tc\rd\x7f", "a\\nb\\tc\\rd\\x7F"},
      {"c1 \xC2\x9B" "31m", "c1 \\u009B31m"},
  };
  for (const auto& c : cases) EXPECT_EQ(VisibleText(c.in), c.out) << c.in;
  EXPECT_EQ(VisibleText("a\nb\x1b", true), "a\nb\\x1B");
}

}  // namespace
}  // namespace lentar::fleet
