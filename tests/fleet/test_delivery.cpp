// Delivery to many boards against lentar-boardsim: separate lines at once, a
// bus of addressed boards one at a time, failures that stop nobody else,
// retries only where the line failed, and every attempt in the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/textutil.h"
#include "fleet/delivery.h"
#include "fleet/sweep.h"
#include "markup/compiler.h"
#include "support/sim_process.h"

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
// is never started, and nothing that did not arrive whole is reported
// delivered.
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
  EXPECT_EQ(results[2].outcome, BoardOutcome::Interrupted);
  EXPECT_EQ(results[2].message, comm::InterruptedText());
  EXPECT_EQ(results[2].attempts, 0);  // its turn on the line never came
  // Only the attempts made are in the log.
  std::vector<LogEntry> log;
  ASSERT_TRUE(reg.ReadLog({}, log, error));
  EXPECT_EQ(log.size(), 2u);
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
    EXPECT_FALSE(results[i].version.empty()) << fleet[i].name;
    EXPECT_TRUE(results[i].clockRead) << fleet[i].name;
    EXPECT_GT(std::llabs(results[i].drift), 60) << fleet[i].name;
    EXPECT_TRUE(results[i].clockSet) << fleet[i].name;
    EXPECT_EQ(results[i].capacity[0], 32000) << fleet[i].name;
  }
  EXPECT_FALSE(results[1].online);
  EXPECT_NE(Cp1251ToUtf8(results[1].message).find("не отвечает"), std::string::npos)
      << Cp1251ToUtf8(results[1].message);
  EXPECT_EQ(results[0].lastDelivery.setFile, "/sets/today.txt");
  EXPECT_TRUE(results[2].lastDelivery.finished.empty());
  EXPECT_EQ(AddressRuns(bus.Log()), (std::vector<int>{1, 2}));

  // Set: the boards now keep the computer's (shifted) time.
  o.setClockOver = -1;
  Sweep(fleet, o, &reg, {}, results);
  for (size_t i : {0u, 2u, 3u}) {
    EXPECT_LE(std::llabs(results[i].drift), 3) << fleet[i].name;
    EXPECT_FALSE(results[i].clockSet) << fleet[i].name;
  }
}

}  // namespace
}  // namespace lentar::fleet
