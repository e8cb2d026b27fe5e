// Delivery to many boards against lentar-boardsim: separate lines at once, a
// bus of addressed boards one at a time, failures that stop nobody else,
// retries only where the line failed, and every attempt in the log.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/textutil.h"
#include "fleet/boardline.h"
#include "fleet/delivery.h"
#include "fleet/sweep.h"
#include "markup/compiler.h"
#include "support/pg_server.h"
#include "support/sim_process.h"
#include "support/tcp_proxy.h"

namespace lentar::fleet {
namespace {

namespace fs = std::filesystem;
using comm::testing::ReadFileBytes;
using comm::testing::SimProcess;
using comm::testing::TestFolder;

// Every line name the simulator wrote to its port file.
std::vector<std::string> LinesOf(const fs::path& portFile) {
  std::ifstream in(portFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

BoardRecord Board(const std::string& name, const std::string& line, int address = -1) {
  BoardRecord b;
  b.name = name;
  b.line = line;
  b.address = address;
  return b;
}

// The image a settings file makes of the set, as the delivery compiles it.
std::vector<uint8_t> Compiled(const std::string& set, const std::string& ini) {
  TSettings settings;
  ReadSettingsFile(settings, ini);
  return CompileBoardData(set, settings.DefFontHeight, settings.ColorChannelCount,
                          static_cast<size_t>(settings.OutDataSize))
      .image;
}

// The addresses of the commands a bus simulator logged, in order, with
// repeats of the same address folded: a board served at one go appears once.
std::vector<int> AddressRuns(const std::string& log) {
  std::vector<int> runs;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find("address ");
    if (at == std::string::npos || line.find("command") == std::string::npos) continue;
    const int address = std::stoi(line.substr(at + 8));
    if (runs.empty() || runs.back() != address) runs.push_back(address);
  }
  return runs;
}

DeliveryOptions QuickOptions(const std::string& source, const std::string& ini,
                             const fs::path& dir) {
  DeliveryOptions o;
  o.source = source;
  o.defaultSettings = ini;
  o.settleMs = 20;
  o.lockFolder = (dir / "locks").string();
  o.operatorName = "tester";
  return o;
}

TEST(Delivery, SeparateLinesAndABusOfThreeInOneRun) {
  const auto dir = TestFolder("fleet", "lines_and_bus");
  fs::create_directories(dir / "lines");
  fs::create_directories(dir / "bus");
  SimProcess lines, bus;
  ASSERT_TRUE(lines.StartListening(dir / "lines", false,
                                   {"--count", "3", "--save-dir", (dir / "lines").string(), "-v"}));
  ASSERT_TRUE(bus.StartListening(dir / "bus", false,
                                 {"--addresses", "4,9,12", "--save-dir", (dir / "bus").string(), "-v"}));
  const auto lineNames = LinesOf(dir / "lines" / "port");
  ASSERT_EQ(lineNames.size(), 3u);

  // Two settings files, two images: the bus boards are taller, so their blank
  // columns take more records.
  const std::string set = "Hello, fleet!{[SP:200]}Привет";
  const std::string setPath = Write(dir / "set.txt", Utf8ToCp1251(set));
  const std::string plainIni = Write(dir / "plain.ini", "[Settings]\r\nDefFontHeight=1\r\n");
  const std::string tallIni = Write(dir / "tall.ini", "[Settings]\r\nDefFontHeight=2\r\n");
  std::vector<BoardRecord> boards;
  for (int i = 0; i < 3; ++i) boards.push_back(Board("line" + std::to_string(i + 1), lineNames[i]));
  for (int address : {4, 9, 12}) {
    boards.push_back(Board("bus" + std::to_string(address), bus.Link(), address));
    boards.back().ini = tallIni;
  }
  const auto plainImage = Compiled(Utf8ToCp1251(set), plainIni);
  const auto tallImage = Compiled(Utf8ToCp1251(set), tallIni);
  ASSERT_NE(plainImage, tallImage);

  Register reg;
  std::string error;
  ASSERT_TRUE(reg.Open((dir / "fleet.sqlite").string(), error));
  DeliveryOptions o = QuickOptions(setPath, plainIni, dir);
  o.jobs = 4;
  std::vector<BoardResult> results;
  ASSERT_TRUE(Deliver(boards, o, &reg, {}, results, error)) << error;
  for (size_t i = 0; i < boards.size(); ++i) {
    EXPECT_EQ(results[i].outcome, BoardOutcome::Delivered)
        << boards[i].name << ": " << Cp1251ToUtf8(results[i].message);
    EXPECT_EQ(results[i].attempts, 1);
  }
  // Each board holds exactly its image: the lines' boards the plain one,
  // every bus board the tall one (boards numbered line by line).
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(ReadFileBytes(dir / "lines" / ("board-" + std::to_string(i)) / "upload-1.bin"),
              plainImage) << i;
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(ReadFileBytes(dir / "bus" / ("board-" + std::to_string(i)) / "upload-1.bin"),
              tallImage) << i;
  // One board at a time on the bus: each address's commands in one run.
  EXPECT_EQ(AddressRuns(bus.Log()), (std::vector<int>{4, 9, 12}));
  EXPECT_EQ(bus.Log().find("second client refused"), std::string::npos);

  std::vector<LogEntry> log;
  ASSERT_TRUE(reg.ReadLog({}, log, error));
  ASSERT_EQ(log.size(), boards.size());
  for (const auto& e : log) {
    EXPECT_EQ(e.outcome, "delivered") << e.board;
    EXPECT_EQ(e.operatorName, "tester");
    EXPECT_EQ(e.setFile, setPath);
    const auto& image = e.board.rfind("bus", 0) == 0 ? tallImage : plainImage;
    EXPECT_EQ(e.size, static_cast<long long>(image.size()));
    EXPECT_EQ(e.sha256, Sha256Hex(image));
    EXPECT_FALSE(e.finished.empty());
  }
}

TEST(Delivery, FailuresAreTheirOwnAndOnlyTheLineIsRetried) {
  const auto dir = TestFolder("fleet", "failures");
  fs::create_directories(dir / "boards");
  fs::create_directories(dir / "small");
  // Four boards with a password, the last one unreachable; one small board.
  SimProcess boards, small;
  ASSERT_TRUE(boards.StartListening(dir / "boards", false,
                                    {"--count", "4", "--password", "secret", "--fail-boards", "1",
                                     "--save-dir", (dir / "boards").string()}));
  ASSERT_TRUE(small.StartListening(dir / "small", false, {"--buffer1", "64", "--buffer2", "64"}));
  const auto names = LinesOf(dir / "boards" / "port");
  ASSERT_EQ(names.size(), 4u);
  const std::vector<uint8_t> image = comm::testing::ImagePattern(700, 3);
  const std::string binPath = dir / "image.bin";
  std::ofstream(binPath, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const std::string ini = Write(dir / "lentar.ini", "[Settings]\r\n");

  std::vector<BoardRecord> fleet = {
      Board("good", names[0]),     Board("wrong-password", names[1]),
      Board("no-password", names[2]), Board("unreachable", names[3]),
      Board("small", small.Link()),
  };
  fleet[0].password = "secret";
  fleet[1].password = "guess";
  fleet[3].password = "secret";
  Register reg;
  std::string error;
  ASSERT_TRUE(reg.Open((dir / "fleet.sqlite").string(), error));
  DeliveryOptions o = QuickOptions(binPath, ini, dir);
  o.jobs = 5;
  o.retries = 2;
  o.retryPauseMs = 20;
  o.replyTimeoutMs = 300;
  std::vector<BoardResult> results;
  ASSERT_TRUE(Deliver(fleet, o, &reg, {}, results, error)) << error;

  const struct {
    BoardOutcome outcome;
    int attempts;
    const char* words;
  } expected[] = {
      {BoardOutcome::Delivered, 1, "Загрузка успешно завершена!"},
      {BoardOutcome::Refused, 1, "Введен неверный пароль"},
      {BoardOutcome::Refused, 1, "спрашивает пароль"},
      {BoardOutcome::Failed, 3, "Ошибка"},
      {BoardOutcome::Refused, 1, "Недостаточный размер буфера!"},
  };
  for (size_t i = 0; i < fleet.size(); ++i) {
    const std::string message = Cp1251ToUtf8(results[i].message);
    EXPECT_EQ(results[i].outcome, expected[i].outcome) << fleet[i].name << ": " << message;
    EXPECT_EQ(results[i].attempts, expected[i].attempts) << fleet[i].name;
    EXPECT_NE(message.find(expected[i].words), std::string::npos) << fleet[i].name << ": " << message;
  }
  EXPECT_EQ(ReadFileBytes(dir / "boards" / "board-1" / "upload-1.bin"), image);
  for (int i = 2; i <= 4; ++i)
    EXPECT_FALSE(fs::exists(dir / "boards" / ("board-" + std::to_string(i)) / "upload-1.bin")) << i;

  // The log holds every attempt with its outcome.
  std::map<std::string, std::vector<std::string>> attempts;
  std::vector<LogEntry> log;
  ASSERT_TRUE(reg.ReadLog({}, log, error));
  for (const auto& e : log) attempts[e.board].push_back(std::to_string(e.attempt) + e.outcome);
  EXPECT_EQ(attempts["good"], std::vector<std::string>{"1delivered"});
  EXPECT_EQ(attempts["wrong-password"], std::vector<std::string>{"1refused"});
  EXPECT_EQ(attempts["no-password"], std::vector<std::string>{"1refused"});
  EXPECT_EQ(attempts["unreachable"], (std::vector<std::string>{"1failed", "2failed", "3failed"}));
  EXPECT_EQ(attempts["small"], std::vector<std::string>{"1refused"});
}

TEST(Delivery, ASetTooLargeForItsSettingsIsSkippedUnsent) {
  const auto dir = TestFolder("fleet", "skipped");
  SimProcess sim;
  ASSERT_TRUE(sim.StartListening(dir, false, {"--save-dir", dir.string()}));
  const std::string setPath = Write(dir / "set.txt", std::string(6000, 'A'));
  const std::string ini = Write(dir / "lentar.ini", "[Settings]\r\nOutDataSize=4096\r\n");
  std::vector<BoardRecord> fleet = {Board("b", sim.Link()),
                                    Board("lost-ini", sim.Link(), 3)};
  fleet[1].ini = (dir / "missing.ini").string();
  Register reg;
  std::string error;
  ASSERT_TRUE(reg.Open((dir / "fleet.sqlite").string(), error));
  std::vector<BoardResult> results;
  ASSERT_TRUE(Deliver(fleet, QuickOptions(setPath, ini, dir), &reg, {}, results, error));
  EXPECT_EQ(results[0].outcome, BoardOutcome::Skipped);
  // The operator reads the limit and the file that sets it.
  EXPECT_EQ(Cp1251ToUtf8(results[0].message),
            "Размер данных (6000) превышает максимальный размер! Наибольший размер: 4096 байт "
            "(«Размер данных» в файле настроек '" + ini + "').");
  EXPECT_EQ(results[1].outcome, BoardOutcome::Skipped);
  EXPECT_NE(Cp1251ToUtf8(results[1].message).find("missing.ini"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "upload-1.bin"));
  std::vector<LogEntry> log;
  ASSERT_TRUE(reg.ReadLog({}, log, error));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].outcome, "skipped");
}

// A stop (Ctrl+C) during the first boards: a board whose turn had not come
// is never started and is reported and logged as not started, nothing that
// did not arrive whole is reported delivered, and the tally adds up.
TEST(Delivery, AStopLeavesTheRestUntouchedAndReportsNothingUnfinished) {
  const auto dir = TestFolder("fleet", "stopped");
  SimProcess sim;
  // Paced at the board's 9600 bit/s: the stop comes while the first two
  // boards are being loaded.
  ASSERT_TRUE(sim.StartListening(dir, false, {"--count", "2", "--pace", "--save-dir", dir.string()}));
  const auto names = LinesOf(dir / "port");
  const auto image = comm::testing::ImagePattern(3000, 5);
  const std::string binPath = dir / "image.bin";
  std::ofstream(binPath, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const std::string ini = Write(dir / "lentar.ini", "[Settings]\r\n");
  std::vector<BoardRecord> fleet = {Board("a", names[0]), Board("b", names[1]),
                                    Board("c", names[1], 2)};
  DeliveryOptions o = QuickOptions(binPath, ini, dir);
  o.stop = std::make_shared<comm::StopFlag>();
  o.retries = 3;
  DeliveryEvents events;
  events.progress = [&](size_t, int percent) {
    if (percent >= 5) o.stop->Request();
  };
  Register reg;
  std::string error;
  ASSERT_TRUE(reg.Open((dir / "fleet.sqlite").string(), error));
  std::vector<BoardResult> results;
  ASSERT_TRUE(Deliver(fleet, o, &reg, events, results, error));
  for (size_t i = 0; i < 2; ++i) {
    const fs::path upload = dir / ("board-" + std::to_string(i + 1)) / "upload-1.bin";
    if (results[i].outcome == BoardOutcome::Delivered) {
      EXPECT_EQ(ReadFileBytes(upload), image) << fleet[i].name;
    } else {
      EXPECT_EQ(results[i].outcome, BoardOutcome::Interrupted) << fleet[i].name;
      EXPECT_EQ(results[i].message, comm::InterruptedText()) << fleet[i].name;
    }
    EXPECT_EQ(results[i].attempts, 1) << fleet[i].name;
  }
  EXPECT_EQ(results[2].outcome, BoardOutcome::NotStarted);
  EXPECT_EQ(Cp1251ToUtf8(results[2].message), "не начато: Прервано оператором");
  EXPECT_EQ(results[2].attempts, 0);  // its turn on the line never came
  const DeliveryTally tally = TallyOf(results);
  EXPECT_EQ(tally.notStarted, 1);
  EXPECT_EQ(tally.delivered + tally.stopped, 2);
  EXPECT_EQ(tally.delivered + tally.failed + tally.skipped + tally.stopped + tally.notStarted,
            tally.total);
  EXPECT_EQ(tally.unlogged, 0);
  // The attempts made and the board never started are in the log, each with
  // its outcome; none is left unfinished.
  std::vector<LogEntry> log;
  ASSERT_TRUE(reg.ReadLog({}, log, error));
  ASSERT_EQ(log.size(), 3u);
  std::map<std::string, LogEntry> byBoard;
  for (const auto& e : log) {
    EXPECT_FALSE(e.finished.empty()) << e.board;
    byBoard[e.board] = e;
  }
  EXPECT_EQ(byBoard["c"].outcome, "not-started");
  EXPECT_EQ(byBoard["c"].attempt, 0);
  EXPECT_EQ(OutcomeFromName(byBoard["c"].outcome), BoardOutcome::NotStarted);
  for (const char* board : {"a", "b"})
    EXPECT_EQ(OutcomeFromName(byBoard[board].outcome), results[board[0] - 'a'].outcome) << board;
}

// The sweep reads every board at once, a bus board after board; a clock
// that drifts past the limit is set, and the next sweep finds it right.
TEST(Sweep, ReadsOnlineBoardsClocksAndLastDeliveries) {
  const auto dir = TestFolder("fleet", "sweep");
  fs::create_directories(dir / "lines");
  fs::create_directories(dir / "bus");
  SimProcess lines, bus;
  ASSERT_TRUE(lines.StartListening(dir / "lines", false, {"--count", "2", "--fail-boards", "1"}));
  ASSERT_TRUE(bus.StartListening(dir / "bus", false, {"--addresses", "1,2", "-v"}));
  const auto names = LinesOf(dir / "lines" / "port");
  ASSERT_EQ(names.size(), 2u);
  const std::string ini = Write(dir / "lentar.ini", "[Settings]\r\n");
  std::vector<BoardRecord> fleet = {Board("a", names[0]), Board("dead", names[1]),
                                    Board("bus1", bus.Link(), 1), Board("bus2", bus.Link(), 2)};
  Register reg;
  std::string error;
  ASSERT_TRUE(reg.Open((dir / "fleet.sqlite").string(), error));
  LogEntry delivered;
  delivered.board = "a";
  delivered.setFile = "/sets/today.txt";
  delivered.sha256 = std::string(64, 'b');
  const long long id = reg.BeginAttempt(delivered, error);
  ASSERT_TRUE(reg.FinishAttempt(id, "delivered", "", error));

  // The computer's clock an hour off the boards' (on the same day).
  const auto ahead = [] {
    comm::BoardClock c = LocalTimeNow();
    c.hour += c.hour < 23 ? 1 : -1;
    return c;
  };
  SweepOptions o;
  o.defaultSettings = ini;
  o.jobs = 3;
  o.link.settleMs = 20;
  o.link.replyTimeoutMs = 300;
  o.lockFolder = (dir / "locks").string();
  o.now = ahead;
  o.setClockOver = 60;
  std::vector<size_t> finished;
  std::vector<BoardStatus> results;
  Sweep(fleet, o, &reg, [&](size_t b, const BoardStatus&) { finished.push_back(b); }, results);
  EXPECT_EQ(finished.size(), fleet.size());
  for (size_t i : {0u, 2u, 3u}) {
    EXPECT_TRUE(results[i].online) << fleet[i].name << ": " << Cp1251ToUtf8(results[i].message);
    EXPECT_TRUE(results[i].version && !results[i].version->empty()) << fleet[i].name;
    ASSERT_TRUE(results[i].drift) << fleet[i].name;
    EXPECT_GT(std::llabs(*results[i].drift), 60) << fleet[i].name;
    EXPECT_TRUE(results[i].clockSet) << fleet[i].name;
    ASSERT_TRUE(results[i].capacity) << fleet[i].name;
    EXPECT_EQ((*results[i].capacity)[0], 32000) << fleet[i].name;
  }
  EXPECT_FALSE(results[1].online);
  EXPECT_NE(Cp1251ToUtf8(results[1].message).find("не отвечает"), std::string::npos)
      << Cp1251ToUtf8(results[1].message);
  ASSERT_TRUE(results[0].lastDelivery);
  EXPECT_EQ(results[0].lastDelivery->setFile, "/sets/today.txt");
  EXPECT_FALSE(results[2].lastDelivery);
  EXPECT_EQ(results[2].lastDeliveryError, "");
  EXPECT_EQ(AddressRuns(bus.Log()), (std::vector<int>{1, 2}));

  // Set: the boards now keep the computer's (shifted) time.
  o.setClockOver = -1;
  Sweep(fleet, o, &reg, {}, results);
  for (size_t i : {0u, 2u, 3u}) {
    ASSERT_TRUE(results[i].drift) << fleet[i].name;
    EXPECT_LE(std::llabs(*results[i].drift), 3) << fleet[i].name;
    EXPECT_FALSE(results[i].clockSet) << fleet[i].name;
  }
}

// Every spelling of one line is one key, so that two spellings never put
// two connections on one serial server or device at once; other lines keep
// keys of their own.
TEST(LineKey, EverySpellingOfOneLineIsOneKey) {
  const auto dir = TestFolder("fleet", "line_keys");
  const std::string real = Write(dir / "ttyReal", "");
  Write(dir / "ttyOther", "");
  fs::create_symlink(real, dir / "ttyLink");
  fs::create_directories(dir / "sub");
  const std::vector<std::vector<std::string>> sameLine = {
      {"socket://127.0.0.1:48045", "socket://localhost:48045", "socket://127.0.0.1:048045",
       "SOCKET://LocalHost:48045", "rfc2217://127.0.0.1:48045", "socket://127.0.0.1:48045/"},
      {"socket://[::1]:7000", "socket://[0:0:0:0:0:0:0:1]:7000"},
      {"COM1", "com1", "/dev/ttyS0"},
      {"COM3", "/dev/ttyS2"},
      {real, (dir / "ttyLink").string(), (dir / "sub" / ".." / "ttyReal").string(),
       dir.string() + "//ttyReal"},
      {(dir / "missing").string(), (dir / "sub" / ".." / "missing").string()},
  };
  std::vector<std::string> keys;
  for (const auto& spellings : sameLine) {
    const std::string key = LineKey(spellings.front());
    for (const auto& spelling : spellings) EXPECT_EQ(LineKey(spelling), key) << spelling;
    keys.push_back(key);
  }
  for (const std::string& other :
       {std::string("socket://127.0.0.1:48046"), std::string("socket://127.0.0.2:48045"),
        std::string("COM2"), (dir / "ttyOther").string()})
    keys.push_back(LineKey(other));
  for (size_t i = 0; i < keys.size(); ++i)
    for (size_t j = i + 1; j < keys.size(); ++j) EXPECT_NE(keys[i], keys[j]) << keys[i];
  EXPECT_EQ(LineKey("socket://127.0.0.1:048045"), "tcp://127.0.0.1:48045");

  // The plan of buses: boards on spellings of one line are one bus, served
  // one after another, in the order given.
  const std::vector<BoardRecord> boards = {
      Board("a", "socket://127.0.0.1:48045", 1), Board("b", "socket://127.0.0.1:48046"),
      Board("c", "socket://localhost:48045", 2), Board("d", (dir / "ttyLink").string()),
      Board("e", real)};
  const LinePlan plan = PlanLines(boards);
  ASSERT_EQ(plan.keys.size(), 3u);
  EXPECT_EQ(plan.members[0], (std::vector<size_t>{0, 2}));
  EXPECT_EQ(plan.members[1], (std::vector<size_t>{1}));
  EXPECT_EQ(plan.members[2], (std::vector<size_t>{3, 4}));
}

// A lock folder someone else could write to, or one that is not a real
// folder of the user's, is refused with its path: a lock file of another
// user's there would keep a line "busy" for ever, a link of theirs would have
// the program create files where they like. A folder of the user's own that
// others may only read is taken and closed to them.
TEST(LineLocks, AHostileLockFolderIsRefusedWithItsPath) {
  const auto dir = TestFolder("fleet", "hostile_lock_folder");
  fs::create_directories(dir / "elsewhere");
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* words;  // of the refusal; null: taken
  } cases[] = {
      {"world-writable", [](const fs::path& p) { fs::create_directory(p); ::chmod(p.c_str(), 0777); },
       "могут писать другие пользователи (права 0777)"},
      {"group-writable", [](const fs::path& p) { fs::create_directory(p); ::chmod(p.c_str(), 0770); },
       "могут писать другие пользователи (права 0770)"},
      {"another user's", [](const fs::path& p) {
         fs::create_directory(p);
         ::chmod(p.c_str(), 0700);
         ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0) << "the tests run as root";
       }, "принадлежит другому пользователю (uid 65534)"},
      {"a link to a folder", [&](const fs::path& p) {
         ::chmod((dir / "elsewhere").c_str(), 0700);
         fs::create_directory_symlink(dir / "elsewhere", p);
       }, "символическая ссылка"},
      {"a file", [](const fs::path& p) { std::ofstream(p) << "x"; }, "не папка"},
      {"the user's own, readable by others",
       [](const fs::path& p) { fs::create_directory(p); ::chmod(p.c_str(), 0755); }, nullptr},
      {"none yet", [](const fs::path&) {}, nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path folder = dir / ("locks" + std::to_string(++n));
    c.make(folder);
    LineLock lock;
    std::string why;
    const bool taken = lock.Take(folder.string(), "/dev/ttyS0", nullptr, {}, why);
    if (!c.words) {
      EXPECT_TRUE(taken) << Cp1251ToUtf8(why);
      struct stat st {};
      ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0700u);
      EXPECT_TRUE(fs::exists(LockFilePath(folder.string(), "/dev/ttyS0")));
      continue;
    }
    EXPECT_FALSE(taken);
    const std::string text = Cp1251ToUtf8(why);
    EXPECT_NE(text.find(folder.string()), std::string::npos) << text;
    EXPECT_NE(text.find(c.words), std::string::npos) << text;
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  }
}

// A link planted where a line's lock file goes is never followed: the lock
// is refused, and nothing is made or changed where the link points.
TEST(LineLocks, ALinkPlantedAsALockFileIsNeverFollowed) {
  const auto dir = TestFolder("fleet", "planted_link");
  const fs::path folder = dir / "locks";
  fs::create_directory(folder);
  ::chmod(folder.c_str(), 0700);
  const std::string key = LineKey("socket://127.0.0.1:4001");
  const fs::path victim = dir / "victim.txt";
  for (const bool exists : {false, true}) {
    SCOPED_TRACE(exists ? "to a file of the victim's" : "to where a file would be made");
    fs::remove(victim);
    if (exists) Write(victim, "keep me");
    fs::remove(LockFilePath(folder.string(), key));
    fs::create_symlink(victim, LockFilePath(folder.string(), key));
    LineLock lock;
    std::string why;
    EXPECT_FALSE(lock.Take(folder.string(), key, nullptr, {}, why));
    const std::string text = Cp1251ToUtf8(why);
    EXPECT_NE(text.find(LockFilePath(folder.string(), key)), std::string::npos) << text;
    EXPECT_NE(text.find("символическая ссылка"), std::string::npos) << text;
    EXPECT_EQ(fs::exists(victim), exists);
    if (exists) {
      std::ifstream in(victim);
      std::string content;
      std::getline(in, content);
      EXPECT_EQ(content, "keep me");
    }
  }
}

// A line whose lock cannot be made (a hostile lock folder, a read-only
// disk) is a failure of its boards, said with the reason and logged; the
// other lines go on. A status sweep calls such a board not checked, never
// offline.
TEST(Delivery, ALockThatCannotBeMadeIsAFailureInTheLog) {
  const auto dir = TestFolder("fleet", "lock_not_made");
  SimProcess sim;
  ASSERT_TRUE(sim.StartListening(dir, false, {"--save-dir", dir.string()}));
  const auto image = comm::testing::ImagePattern(500, 7);
  const std::string binPath = Write(dir / "image.bin", std::string(image.begin(), image.end()));
  const std::string ini = Write(dir / "lentar.ini", "[Settings]\r\n");
  const fs::path readOnly = dir / "ro";
  fs::create_directory(readOnly);
  const bool mounted = ::mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
  struct Case {
    const char* what;
    fs::path folder;
    const char* words;
  };
  std::vector<Case> cases = {{"world-writable folder", dir / "open", "права 0777"}};
  fs::create_directory(dir / "open");
  ::chmod((dir / "open").c_str(), 0777);
  if (mounted) cases.push_back({"read-only disk", readOnly / "locks", "Read-only file system"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Register reg;
    std::string error;
    fs::remove(dir / "fleet.sqlite");
    ASSERT_TRUE(reg.Open((dir / "fleet.sqlite").string(), error)) << error;
    DeliveryOptions o = QuickOptions(binPath, ini, dir);
    o.lockFolder = c.folder.string();
    std::vector<BoardResult> results;
    ASSERT_TRUE(Deliver({Board("b", sim.Link())}, o, &reg, {}, results, error));
    EXPECT_EQ(results[0].outcome, BoardOutcome::Failed);
    const std::string text = Cp1251ToUtf8(results[0].message);
    EXPECT_NE(text.find(c.folder.string()), std::string::npos) << text;
    EXPECT_NE(text.find(c.words), std::string::npos) << text;
    EXPECT_TRUE(results[0].logged);
    std::vector<LogEntry> log;
    ASSERT_TRUE(reg.ReadLog({}, log, error));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].outcome, "failed");
    EXPECT_EQ(log[0].message, results[0].message);
    EXPECT_FALSE(log[0].finished.empty());

    SweepOptions so;
    so.defaultSettings = ini;
    so.lockFolder = c.folder.string();
    std::vector<BoardStatus> status;
    Sweep({Board("b", sim.Link())}, so, &reg, {}, status);
    EXPECT_FALSE(status[0].online);
    EXPECT_FALSE(status[0].contacted);
    EXPECT_NE(Cp1251ToUtf8(status[0].message).find(c.words), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(dir / "upload-1.bin"));
  if (mounted) ::umount(readOnly.c_str());
  if (!mounted) GTEST_SKIP() << "no tmpfs could be mounted: the read-only case was not run";
}

// The register on a full disk: the boards are delivered as before, but each
// row the log could not take is said (logFailed, with the disk's words, never
// a damaged file) and marked on the board; once there is room again the log
// holds a finished row for every board that is not so marked.
TEST(Delivery, AFullDiskLeavesNoOutcomeUnsaid) {
  const auto dir = TestFolder("fleet", "full_disk");
  const fs::path disk = dir / "disk";
  fs::create_directory(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "no tmpfs could be mounted";
  struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  SimProcess sim;
  ASSERT_TRUE(sim.StartListening(dir, false, {"--count", "3", "--save-dir", dir.string()}));
  const auto names = LinesOf(dir / "port");
  ASSERT_EQ(names.size(), 3u);
  const auto image = comm::testing::ImagePattern(400, 8);
  const std::string binPath = Write(dir / "image.bin", std::string(image.begin(), image.end()));
  const std::string ini = Write(dir / "lentar.ini", "[Settings]\r\n");
  std::vector<BoardRecord> fleet = {Board("a", names[0]), Board("b", names[1]), Board("c", names[2])};
  const std::string path = (disk / "fleet.sqlite").string();
  {
    Register reg;
    std::string error;
    ASSERT_TRUE(reg.Open(path, error)) << error;
  }
  Register reg;
  std::string error;
  ASSERT_TRUE(reg.Open(path, error)) << error;
  // Every block of the disk taken.
  {
    std::ofstream filler(disk / "filler", std::ios::binary);
    const std::string chunk(4096, 'x');
    for (int i = 0; i < 1024 && filler; ++i) filler.write(chunk.data(), chunk.size());
  }
  std::vector<std::string> said;
  DeliveryEvents events;
  events.logFailed = [&](const std::string& why) { said.push_back(Cp1251ToUtf8(why)); };
  DeliveryOptions o = QuickOptions(binPath, ini, dir);
  std::vector<BoardResult> results;
  ASSERT_TRUE(Deliver(fleet, o, &reg, events, results, error));
  for (size_t i = 0; i < fleet.size(); ++i)
    EXPECT_EQ(results[i].outcome, BoardOutcome::Delivered) << Cp1251ToUtf8(results[i].message);
  const DeliveryTally tally = TallyOf(results);
  EXPECT_GT(tally.unlogged, 0) << "the full disk took every row";
  EXPECT_FALSE(said.empty());
  for (const auto& why : said) EXPECT_EQ(why.find("повреждён"), std::string::npos) << why;

  fs::remove(disk / "filler");
  std::vector<LogEntry> log;
  ASSERT_TRUE(reg.ReadLog({}, log, error)) << error;
  for (size_t i = 0; i < fleet.size(); ++i) {
    if (!results[i].logged) continue;
    const auto row = std::find_if(log.begin(), log.end(),
                                  [&](const LogEntry& e) { return e.board == fleet[i].name; });
    ASSERT_NE(row, log.end()) << fleet[i].name << " is not marked, so it must be in the log";
    EXPECT_EQ(row->outcome, "delivered");
    EXPECT_FALSE(row->finished.empty());
  }
}

// A register shared on a server whose link freezes (a proxy that stops
// forwarding) while a board is being loaded: the run cannot renew its lease,
// so it stops the work on the line before the lease runs out, never reports
// the board delivered, and a second run, once the lease has run out, takes
// the line and delivers with no second client ever on it.
TEST(SharedDelivery, AFrozenRegisterLinkStopsTheWorkWithinTheLease) {
  std::string error;
  const std::string address = lentar::testing::PgFreshDatabase("frozen_link", error);
  ASSERT_TRUE(error.empty()) << error;
  if (address.empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  // postgresql://USER@127.0.0.1:PORT/DB, and the same through the proxy.
  const size_t colon = address.rfind(':'), slash = address.rfind('/');
  const int serverPort = std::stoi(address.substr(colon + 1, slash - colon - 1));
  lentar::testing::TcpProxy proxy;
  ASSERT_TRUE(proxy.Start(static_cast<uint16_t>(serverPort)));
  const std::string proxied =
      address.substr(0, colon + 1) + std::to_string(proxy.Port()) + address.substr(slash);
  const auto dir = TestFolder("fleet", "frozen_link");
  // The password file names the server's port; the proxy's is another.
  {
    std::ifstream in(std::getenv("PGPASSFILE"));
    std::ofstream out(dir / "pgpass");
    for (std::string line; std::getline(in, line);) {
      const size_t first = line.find(':'), second = line.find(':', first + 1);
      out << line.substr(0, first + 1) << "*" << line.substr(second) << "\n";
    }
  }
  ::chmod((dir / "pgpass").c_str(), 0600);
  ::setenv("PGPASSFILE", (dir / "pgpass").c_str(), 1);
  SimProcess sim;
  ASSERT_TRUE(sim.StartListening(dir, false, {"--pace", "-v", "--save-dir", dir.string()}));
  const auto image = comm::testing::ImagePattern(8000, 9);
  const std::string binPath = Write(dir / "image.bin", std::string(image.begin(), image.end()));
  const std::string ini = Write(dir / "lentar.ini", "[Settings]\r\n");
  const std::vector<BoardRecord> fleet = {Board("b1", sim.Link())};

  // The first run, over the proxy, on a thread of its own (the register is
  // used by the thread that opened it); the link freezes once the image is
  // on its way.
  std::atomic<bool> frozen{false};
  std::vector<BoardResult> first;
  std::string firstError;
  std::thread run1([&] {
    Register reg;
    if (!reg.Open(proxied, firstError)) {
      frozen = true;
      return;
    }
    DeliveryOptions o = QuickOptions(binPath, ini, dir);
    o.lockFolder = (dir / "pc1").string();
    o.leaseMs = 3000;
    DeliveryEvents events;
    events.progress = [&](size_t, int percent) {
      if (percent >= 3 && !frozen) {
        proxy.Freeze();
        frozen = true;
      }
    };
    if (!Deliver(fleet, o, &reg, events, first, firstError)) frozen = true;
  });
  struct Join {
    lentar::testing::TcpProxy& proxy;
    std::thread& run;
    ~Join() {
      proxy.Thaw();
      if (run.joinable()) run.join();
    }
  } join{proxy, run1};
  while (!frozen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(firstError.empty()) << Cp1251ToUtf8(firstError);

  // The second run, another computer's, straight to the server.
  Register reg;
  ASSERT_TRUE(reg.Open(address, error)) << error;
  DeliveryOptions o = QuickOptions(binPath, ini, dir);
  o.lockFolder = (dir / "pc2").string();
  // Its own lease is not what is tried here: long enough that a busy test
  // machine's slow renewal never costs it the line.
  o.leaseMs = 15000;
  bool waited = false;
  DeliveryEvents events;
  events.lineBusy = [&](const std::string&) { waited = true; };
  std::vector<BoardResult> second;
  ASSERT_TRUE(Deliver(fleet, o, &reg, events, second, error)) << error;
  EXPECT_TRUE(waited) << "the first run held the line when the link froze";
  EXPECT_EQ(second[0].outcome, BoardOutcome::Delivered) << Cp1251ToUtf8(second[0].message);
  EXPECT_EQ(sim.Log().find("second client refused"), std::string::npos)
      << "the first run was still on the line when the second took it";
  EXPECT_EQ(ReadFileBytes(dir / "upload-1.bin"), image);

  proxy.Thaw();
  run1.join();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].outcome, BoardOutcome::Failed);
  EXPECT_NE(Cp1251ToUtf8(first[0].message).find("линия потеряна"), std::string::npos)
      << Cp1251ToUtf8(first[0].message);
  // The log: the first run's attempt failed with the line lost, the second
  // one's delivered.
  std::vector<LogEntry> log;
  ASSERT_TRUE(reg.ReadLog({}, log, error)) << error;
  std::vector<std::string> outcomes;
  for (const auto& e : log) outcomes.push_back(e.outcome);
  std::sort(outcomes.begin(), outcomes.end());
  EXPECT_EQ(outcomes, (std::vector<std::string>{"delivered", "failed"}));
}

}  // namespace
}  // namespace lentar::fleet
