// lentar-cli fleet: what goes into the register from the command line and
// from CSV files, and what comes out of it in listings, exports and the log.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "support/cli_test_support.h"

namespace lentar::cli::testing {
namespace {

namespace fs = std::filesystem;

class CliFleetFiles : public CliFolderTest {
 protected:
  CliFleetFiles() : CliFolderTest("cli_fleet_files") {}
  int Fleet(const std::string& args) { return Run("fleet --db fleet.sqlite --create " + args); }
  int Other(const std::string& args) { return Run("fleet --db other.sqlite --create " + args); }
  int BoardCount() {
    if (Fleet("list") != 0) return -1;
    const size_t at = out_.rfind("Табло: ");
    return at == std::string::npos ? -1 : std::atoi(out_.c_str() + at + std::string("Табло: ").size());
  }
};

// A shell word holding text exactly, whatever quotes or controls it has.
std::string Quoted(const std::string& text) {
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

TEST_F(CliFleetFiles, InputTheRegisterCannotKeepIsRefusedWithTheReason) {
  const struct {
    std::string args;
    int status;
    const char* words;
  } cases[] = {
      {"add b --line http://x", 2, "--line: линия 'http://x' не из тех, что знает программа"},
      {"add b --line ''", 2, "линия не задана"},
      {"add b --line '   '", 2, "линия не задана"},
      {"add b --line socket://10.0.0.1:99999", 2, "порт не число 1..65535"},
      {"add 'name😀' --line /dev/ttyS0", 2, "символ «😀» нельзя сохранить"},
      {"add b --line /dev/ttyS0 --group 東京", 2, "--group: символ «東»"},
      {"add " + Quoted("red\x1b[31m") + " --line /dev/ttyS0", 2, "имя табло 'red\\x1B[31m'"},
      {"add b --line /dev/ttyS0 --group " + Quoted("bell\a"), 2, "управляющий символ \\x07"},
      {"add b --line " + Quoted("/dev/tty\x1b"), 2, "линия '/dev/tty\\x1B' содержит"},
      {"status --board a --group g", 2, "одно из --group ГРУППА или --board"},
      {"status extra", 2, "лишний аргумент 'extra'"},
      {"log --csv --csv-plain", 2, "исключают друг друга"},
      {"list --with-passwords", 2, "--with-passwords не применяется с list"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fleet(c.args), c.status) << c.args << "\n" << err_;
    EXPECT_NE(err_.find(c.words), std::string::npos) << c.args << "\n" << err_;
    EXPECT_EQ(err_.find('\x1b'), std::string::npos) << c.args;
    EXPECT_EQ(err_.find('\a'), std::string::npos) << c.args;
  }
  EXPECT_EQ(BoardCount(), 0);
}

TEST_F(CliFleetFiles, ARegisterThatIsNotThereIsMadeOnlyWhenAskedFor) {
  // A mistyped name: refused, named, and no folder or file made.
  EXPECT_EQ(Run("fleet --db typo/fleet.sqlite list"), 1);
  EXPECT_NE(err_.find("реестра 'typo/fleet.sqlite' (--db) нет"), std::string::npos) << err_;
  EXPECT_NE(err_.find("--create"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(Path("typo")));
  EXPECT_EQ(Run("fleet --db typo/fleet.sqlite add b --line COM1"), 1);
  EXPECT_FALSE(fs::exists(Path("typo")));
  // A name Windows-1251 cannot hold is not turned into another file's name.
  EXPECT_EQ(Run("fleet --db 'офис_東京.sqlite' --create list"), 2);
  EXPECT_NE(err_.find("символ «東»"), std::string::npos) << err_;
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find("офис"), std::string::npos) << entry.path();
  // Asked for: made, and used from then on without --create.
  ASSERT_EQ(Run("fleet --db typo/fleet.sqlite --create add b --line COM1"), 0) << err_;
  EXPECT_TRUE(fs::exists(Path("typo/fleet.sqlite")));
  ASSERT_EQ(Run("fleet --db typo/fleet.sqlite list"), 0) << err_;
  EXPECT_NE(out_.find("Табло: 1"), std::string::npos) << out_;

  // The operator's own register is made by itself where it belongs.
  const char* before = std::getenv("XDG_DATA_HOME");
  const std::string saved = before ? before : "";
  setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
  const int status = Run("fleet list");
  if (before) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(status, 0) << err_;
  bool made = false;
  for (const auto& entry : fs::recursive_directory_iterator(Path("data")))
    made |= entry.path().filename() == "fleet.sqlite";
  EXPECT_TRUE(made);
}

TEST_F(CliFleetFiles, ListingsAndExportsShowOnlyWhetherAPasswordIsSet) {
  ASSERT_EQ(Fleet("add b1 --line COM1 --password секрет --modem --dial 1 --modem-password мод1"),
            0)
      << err_;
  ASSERT_EQ(Fleet("add b2 --line COM2"), 0) << err_;
  for (const char* args : {"list", "list --json", "export", "export --csv", "export --json"}) {
    ASSERT_EQ(Fleet(args), 0) << args << err_;
    EXPECT_EQ(out_.find("секрет"), std::string::npos) << args << "\n" << out_;
    EXPECT_EQ(out_.find("мод1"), std::string::npos) << args << "\n" << out_;
  }
  ASSERT_EQ(Fleet("list --json"), 0);
  EXPECT_NE(out_.find("\"name\":\"b1\""), std::string::npos) << out_;
  EXPECT_NE(out_.find("\"password_set\":true,\"modem_password_set\":true"), std::string::npos)
      << out_;
  EXPECT_NE(out_.find("\"password_set\":false,\"modem_password_set\":false"), std::string::npos)
      << out_;
  ASSERT_EQ(Fleet("list"), 0);
  EXPECT_NE(out_.find("b1: COM1, без адреса, через модем 1, свой пароль на модем, пароль задан"),
            std::string::npos)
      << out_;
  ASSERT_EQ(Fleet("export --json --with-passwords"), 0);
  EXPECT_NE(out_.find("\"modem_password\":\"мод1\",\"password\":\"секрет\""), std::string::npos)
      << out_;

  // An export without passwords, edited and imported: the passwords stay.
  ASSERT_EQ(Fleet("export"), 0);
  EXPECT_EQ(out_.find("password"), std::string::npos) << out_;
  std::string csv = out_;
  csv.replace(csv.find(",COM2,"), 6, ",COM3,");
  Write("edited.csv", csv);
  ASSERT_EQ(Fleet("import edited.csv"), 0) << err_;
  EXPECT_NE(out_.find("Внесено табло: 0, заменено: 2"), std::string::npos) << out_;
  ASSERT_EQ(Fleet("export --with-passwords"), 0);
  EXPECT_NE(out_.find(",мод1,секрет,"), std::string::npos) << out_;
  EXPECT_NE(out_.find("b2,,COM3,"), std::string::npos) << out_;
  // A file with the columns says what the passwords are: here, none.
  Write("cleared.csv", "name,line,modem,dial,password,modem_password\nb1,COM1,1,1,,\n");
  ASSERT_EQ(Fleet("import cleared.csv"), 0) << err_;
  ASSERT_EQ(Fleet("list --json"), 0);
  EXPECT_NE(out_.find("\"name\":\"b1\""), std::string::npos) << out_;
  EXPECT_EQ(out_.find("\"password_set\":true"), std::string::npos) << out_;
}

// Boards made from the command line with values that a spreadsheet would
// run, that hold the file's and the lists' separators, and empty values that
// differ from absent ones; one more from a file (no modem lines at all, which
// the command line cannot say). Exported, imported into another register and
// exported again: the same bytes, the same records.
TEST_F(CliFleetFiles, HostileValuesSurviveExportImportExport) {
  const struct {
    std::string args;
    const char* json;  // what the register then holds
  } boards[] = {
      {"add " + Quoted("=HYPERLINK(\"http://x\";\"y\")") + " --line COM1 --group +cmd --note " +
           Quoted("@SUM(1+1)"),
       "\"groups\":[\"+cmd\"]"},
      {"add +plus --line COM2 --group 'a;b' --group c --modem --dial +7495 --init '' "
       "--modem-password ''",
       "\"groups\":[\"a;b\",\"c\"]"},
      {"add \"'apostrophe\" --line COM3 --group 'back\\slash' --modem --dial 1 --init 'AT\\N0' "
       "--init '' --init +++ --modem-password '\\e'",
       "\"init\":[\"AT\\\\N0\",\"\",\"+++\"]"},
      {"add defaults --line COM4 --modem --dial 2 --note " + Quoted("line 1, \"q\"; done"),
       "\"init\":null"},
  };
  for (const auto& b : boards) ASSERT_EQ(Fleet(b.args), 0) << b.args << "\n" << err_;
  Write("none.csv", "name,line,modem,dial,init\nno lines,COM5,1,3,\\0\n'-minus,COM6,0,,\n");
  ASSERT_EQ(Fleet("import none.csv"), 0) << err_;
  ASSERT_EQ(Fleet("export --json --with-passwords"), 0) << err_;
  const std::string json = out_;
  for (const auto& b : boards) EXPECT_NE(json.find(b.json), std::string::npos) << b.json << "\n" << json;
  for (const char* held : {"\"name\":\"-minus\"", "\"name\":\"+plus\"", "\"init\":[\"\"],\"password_set\":false,"
                           "\"modem_password_set\":true,\"modem_password\":\"\"",
                           "\"modem_password\":\"\\\\e\"", "\"init\":[],",
                           "\"modem_password_set\":false,\"modem_password\":null"})
    EXPECT_NE(json.find(held), std::string::npos) << held << "\n" << json;

  ASSERT_EQ(Fleet("export --with-passwords"), 0) << err_;
  const std::string csv = out_;
  for (const char* guarded : {"'=HYPERLINK", "'+cmd", "'@SUM(1+1)", "'-minus", "'+plus", "''apostrophe", "a\\;b;c"})
    EXPECT_NE(csv.find(guarded), std::string::npos) << guarded << "\n" << csv;
  Write("boards.csv", csv);
  ASSERT_EQ(Other("import boards.csv"), 0) << err_;
  ASSERT_EQ(Other("export --with-passwords"), 0) << err_;
  EXPECT_EQ(out_, csv);
  ASSERT_EQ(Other("export --json --with-passwords"), 0) << err_;
  EXPECT_EQ(out_, json);
}

TEST_F(CliFleetFiles, FilesInOtherEncodingsReadRightOrAreRefused) {
  // What a spreadsheet on a Russian Windows saves: Windows-1251, semicolons.
  Write("cp1251.csv", Utf8ToCp1251(u8"name;groups;line\r\nТабло у входа;Юг;COM1\r\n"));
  ASSERT_EQ(Fleet("import cp1251.csv"), 0) << err_;
  EXPECT_NE(err_.find("прочитан как Windows-1251"), std::string::npos) << err_;
  ASSERT_EQ(Fleet("list --json"), 0);
  EXPECT_NE(out_.find("\"name\":\"Табло у входа\",\"groups\":[\"Юг\"]"), std::string::npos) << out_;

  const struct {
    const char* what;
    std::string bytes;
    const char* words;
  } refused[] = {
      {"an emoji", "name,line\nname\xF0\x9F\x98\x80,COM1\n", "запись 1: name: символ «😀»"},
      {"Japanese", "name,line\nok,COM1\n東京,COM2\n", "запись 2: name: символ «東»"},
      {"an escape sequence", "name,line\n\"x\x1b[2J\",COM1\n", "содержит управляющий символ \\x1B"},
      {"a line with a scheme", "name,line\nb,http://x\n", "запись 1: линия 'http://x' не из тех"},
      {"no line", "name,line\nb,\n", "запись 1: линия не задана"},
      {"a board the register refuses", "name,line,address\nb,COM1,200\n", "запись 1: address"},
  };
  for (const auto& c : refused) {
    Write("bad.csv", c.bytes);
    EXPECT_EQ(Fleet("import bad.csv"), 1) << c.what;
    EXPECT_NE(err_.find(c.words), std::string::npos) << c.what << "\n" << err_;
    EXPECT_EQ(err_.find('\x1b'), std::string::npos) << c.what;
  }
  EXPECT_EQ(BoardCount(), 1);
}

// A register of many thousand boards: the file reads and the register takes
// it in one transaction, in seconds; one bad record at the very end keeps
// the whole file out.
TEST_F(CliFleetFiles, TwoHundredThousandBoardsImportWhole) {
  constexpr int kBoards = 200000;
  std::string csv = "name,groups,line,address\n";
  csv.reserve(size_t{kBoards} * 32);
  for (int i = 0; i < kBoards; ++i)
    csv += "board" + std::to_string(i) + ",g" + std::to_string(i % 100) + ",/dev/ttyS" +
           std::to_string(i % 32) + "," + std::to_string(i % 128) + "\n";
  Write("big.csv", csv + "late,g1,/dev/ttyS0,128\n");
  EXPECT_EQ(Fleet("import big.csv"), 1);
  EXPECT_NE(err_.find("запись 200001"), std::string::npos) << err_;
  EXPECT_EQ(BoardCount(), 0);

  Write("big.csv", csv);
  ASSERT_EQ(Fleet("import big.csv"), 0) << err_;
  EXPECT_NE(out_.find("Внесено табло: 200000, заменено: 0"), std::string::npos) << out_;
  ASSERT_EQ(Fleet("list --group g7"), 0) << err_;
  EXPECT_NE(out_.find("Табло: 2000\n"), std::string::npos) << out_.substr(out_.size() - 100);
  ASSERT_EQ(Fleet("export"), 0) << err_;
  EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), kBoards + 1);
}

// The log as the fleet window exports it, and the plain form for programs;
// a hostile board name neither runs in a spreadsheet nor drives a terminal.
TEST_F(CliFleetFiles, TheLogInCsvForSpreadsheetsAndForPrograms) {
  ASSERT_EQ(Fleet("add " + Quoted("=cmd|' /C calc'!A0") + " --line /dev/lentar-no-such-line "
                  "--group +g --group юг"),
            0)
      << err_;
  ASSERT_EQ(Fleet("add " + Quoted("bell\x1b[2J") + " --line COM1"), 2);
  Write("image.bin", std::string(64, '\x55'));
  EXPECT_EQ(Fleet("deliver image.bin --all --timeout 200 --ini lentar.ini"), 1) << err_;

  ASSERT_EQ(Fleet("log --csv"), 0) << err_;
  EXPECT_EQ(out_.rfind("\xEF\xBB\xBF" "Начало;Конец;Табло;Группы;Линия;Адрес;Оператор;Набор;"
                       "SHA-256;Размер;Попытка;Итог;Сообщение\r\n",
                       0),
            0u)
      << out_;
  EXPECT_NE(out_.find(";'=cmd|' /C calc'!A0;'+g, юг;/dev/lentar-no-such-line;;"), std::string::npos)
      << out_;
  EXPECT_NE(out_.find(";Сбой линии;"), std::string::npos) << out_;
  EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), std::count(out_.begin(), out_.end(), '\r'));

  ASSERT_EQ(Fleet("log --csv-plain"), 0) << err_;
  EXPECT_EQ(out_.rfind("started,finished,board,groups,line,address,operator,set_file,sha256,size,"
                       "attempt,outcome,message,run\n",
                       0),
            0u)
      << out_;
  EXPECT_NE(out_.find(",=cmd|' /C calc'!A0,+g;юг,/dev/lentar-no-such-line,-1,"), std::string::npos)
      << out_;
  EXPECT_NE(out_.find(",failed,"), std::string::npos) << out_;
}

// status takes boards by name, as deliver does.
TEST_F(CliFleetFiles, StatusOfBoardsByName) {
  for (const char* name : {"a", "b", "c"})
    ASSERT_EQ(Fleet(std::string("add ") + name + " --line /dev/lentar-no-such-line"), 0) << err_;
  EXPECT_EQ(Fleet("status --board a c --timeout 100 --ini lentar.ini"), 1) << err_;
  EXPECT_NE(out_.find("a: нет связи"), std::string::npos) << out_;
  EXPECT_NE(out_.find("c: нет связи"), std::string::npos) << out_;
  EXPECT_EQ(out_.find("b: "), std::string::npos) << out_;
  EXPECT_NE(out_.find("На связи: 0 из 2"), std::string::npos) << out_;
  EXPECT_EQ(Fleet("status --board nobody --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("табло 'nobody' нет в реестре"), std::string::npos) << err_;
}

}  // namespace
}  // namespace lentar::cli::testing
