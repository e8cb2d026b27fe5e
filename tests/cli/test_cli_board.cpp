// lentar-cli board against lentar-boardsim on a pseudo-terminal, run as a
// script would run it. Each test starts its own simulator.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/cli_test_support.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using lentar::comm::testing::SimProcess;

class CliBoard : public lentar::cli::testing::CliFolderTest {
 protected:
  CliBoard() : CliFolderTest("lentar_cli_board") {}

  void TearDown() override {
    EXPECT_TRUE(sim_.Stop());
    CliFolderTest::TearDown();
  }

  void StartSim(std::vector<std::string> args = {}) {
    args.push_back("--save-dir");
    args.push_back(dir_.string());
    ASSERT_TRUE(sim_.Start(dir_, args)) << sim_.Log();
  }

  // Runs "lentar-cli board --port <the simulator> --ini lentar.ini args".
  int Board(const std::string& args) { return Run("board --port board --ini lentar.ini " + args); }

  SimProcess sim_;
};

TEST_F(CliBoard, StatusSettingsAndClock) {
  StartSim();
  ASSERT_EQ(Board("status"), 0) << err_;
  EXPECT_NE(out_.find("Скорость: 3\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Ёмкость буфера 2: 32000\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Версия ПО табло: LENTAR-SIM"), std::string::npos) << out_;

  ASSERT_EQ(Board("set --speed 2 --brightness 7 --flip on"), 0) << err_;
  for (const char* line : {"Скорость: 2\n", "Яркость: 7\n", "Перевернуть: вкл\n"})
    EXPECT_NE(out_.find(line), std::string::npos) << line << out_;

  ASSERT_EQ(Board("set-clock"), 0) << err_;
  ASSERT_EQ(Board("clock"), 0) << err_;
  EXPECT_NE(out_.find(" г., "), std::string::npos) << out_;

  ASSERT_EQ(Board("clear --buffer 2"), 0) << err_;
  EXPECT_EQ(out_, "Буфер №2 очищен!\n");
}

TEST_F(CliBoard, UploadsASetCompiledAndAnImageAsItIs) {
  StartSim();
  Write("set.txt", "Hello\r\nworld");
  ASSERT_EQ(Run("compile set.txt -o compiled.bin --ini lentar.ini"), 0) << err_;
  ASSERT_EQ(Board("upload set.txt"), 0) << err_;
  EXPECT_NE(out_.find("Загрузка успешно завершена!"), std::string::npos) << out_;
  // Into a file the progress bar is one finished line, not redrawn in place.
  EXPECT_EQ(err_.find('\r'), std::string::npos) << err_;
  EXPECT_NE(err_.find("] 100%\n"), std::string::npos) << "a progress bar: " << err_;
  EXPECT_EQ(err_.find("100%"), err_.rfind("100%")) << err_;
  EXPECT_EQ(err_.find("%"), err_.find("100%") + 3) << "no partial bars: " << err_;
  EXPECT_EQ(Read("upload-1.bin"), Read("compiled.bin"));

  std::string image(1000, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  Write("image.bin", image);
  ASSERT_EQ(Board("upload image.bin --buffer 2 --streamed --restart"), 0) << err_;
  EXPECT_EQ(Read("upload-2.bin"), image) << "a .bin image goes as it is";
  ASSERT_EQ(Board("status"), 0) << err_;
  EXPECT_NE(out_.find("Текущий буфер: 2\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Размер данных: 1000 байт\n"), std::string::npos) << out_;
}

TEST_F(CliBoard, PortFromTheSettingsFile) {
  StartSim();
  Write("lentar.ini", "[Settings]\r\nTabPortDevice=" + sim_.Link() + "\r\n");
  ASSERT_EQ(Run("board --ini lentar.ini status"), 0) << err_;
  EXPECT_NE(out_.find("Скорость: 3\n"), std::string::npos) << out_;
}

TEST_F(CliBoard, PasswordIsEnteredWhenTheBoardAsks) {
  // A Cyrillic password given to both programs on their command lines: both
  // take it as the board's Windows-1251 text (6 bytes, not 12 of UTF-8).
  StartSim({"--password", "секрет"});
  Write("image.bin", "ABC");
  // Without a password and with a wrong one, the board window's text and
  // then the reason.
  EXPECT_EQ(Board("upload image.bin"), 1);
  EXPECT_NE(err_.find("Ошибка связи с контроллером!\n"), std::string::npos) << err_;
  EXPECT_NE(err_.find("спрашивает пароль"), std::string::npos) << err_;
  EXPECT_EQ(Board("upload image.bin --password nope"), 1);
  EXPECT_NE(err_.find("Введен неверный пароль\nОшибка связи с контроллером!\n"), std::string::npos)
      << err_;
  EXPECT_EQ(Board("upload image.bin --password секре"), 1);
  ASSERT_EQ(Board("upload image.bin --password секрет"), 0) << err_;
  EXPECT_EQ(Read("upload-1.bin"), "ABC");
}

std::string PatternImage(size_t size, int seed) {
  std::string image(size, '\0');
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>(i * 7 + static_cast<size_t>(seed));
  return image;
}

TEST_F(CliBoard, ReadAfterTheUploadAndTheStartAreRetried) {
  // The first buffer-info read after the upload and every start command go
  // unanswered.
  StartSim({"--ignore", "0x34@2", "--ignore", "0x2D"});
  const std::string image = PatternImage(700, 1);
  Write("image.bin", image);
  ASSERT_EQ(Board("--timeout 200 upload image.bin"), 0) << err_;
  EXPECT_NE(out_.find("Загрузка успешно завершена!"), std::string::npos) << out_;
  EXPECT_EQ(Read("upload-1.bin"), image);

  // The image gets there, but the start asked for is never confirmed: no
  // success is said.
  EXPECT_EQ(Board("--timeout 200 upload image.bin --restart"), 1) << err_;
  EXPECT_EQ(out_.find("Загрузка успешно завершена!"), std::string::npos) << out_;
  EXPECT_NE(err_.find("образ загружен (700 байт, буфер 1), но табло не подтвердило запуск "
                      "буфера 1\n"),
            std::string::npos)
      << err_;
  EXPECT_EQ(Read("upload-2.bin"), image);
}

TEST_F(CliBoard, ResumeCompletesOnlyTheImageThatWasStreamed) {
  // The end marker of the first streamed upload never gets an answer: every
  // block is on the board, the upload is not finished.
  StartSim({"--ignore", "0x2C@2", "--ignore", "0x2C@3"});
  const std::string a = PatternImage(900, 1), b = PatternImage(900, 2);
  Write("a.bin", a);
  Write("b.bin", b);
  EXPECT_EQ(Board("upload b.bin --streamed --resume"), 1);
  EXPECT_NE(err_.find("прерванная потоковая загрузка в буфер 1"), std::string::npos) << err_;

  ASSERT_EQ(Board("--timeout 200 upload a.bin --streamed"), 1) << err_;
  EXPECT_NE(err_.find("Ошибка соединения!"), std::string::npos) << err_;
  EXPECT_TRUE(fs::exists(Path("lentar-streams.ini"))) << "noted beside the settings";

  EXPECT_EQ(Board("--timeout 200 upload b.bin --streamed --resume"), 1);
  EXPECT_NE(err_.find("в буфер 1 на '"), std::string::npos) << err_;
  EXPECT_NE(err_.find("передавался потоком другой образ"), std::string::npos) << err_;
  EXPECT_EQ(Board("--timeout 200 upload a.bin --streamed --resume --buffer 2"), 1)
      << "the note is per buffer";
  EXPECT_FALSE(fs::exists(Path("upload-1.bin")));

  ASSERT_EQ(Board("--timeout 200 upload a.bin --streamed --resume"), 0) << err_;
  EXPECT_EQ(Read("upload-1.bin"), a);
  EXPECT_EQ(Board("--timeout 200 upload a.bin --streamed --resume"), 1)
      << "a completed upload leaves nothing to resume";
}

// A full upload of a 5 KB set over a direct line that loses a fifth of the
// requests gets through in at least nine seeded runs of ten, never wrong.
TEST_F(CliBoard, ADirectUploadGetsThroughALineThatLosesAFifth) {
  const std::string image = PatternImage(5026, 3);
  Write("image.bin", image);
  int delivered = 0;
  for (int seed = 1; seed <= 10; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    if (seed > 1) {
      EXPECT_TRUE(sim_.Stop());
    }
    fs::remove(Path("upload-1.bin"));
    StartSim({"--drop", "0.2", "--seed", std::to_string(seed)});
    if (Board("--timeout 100 upload image.bin") != 0) continue;
    ++delivered;
    EXPECT_EQ(Read("upload-1.bin"), image);
  }
  EXPECT_GE(delivered, 9);
}

// The board shows buffer 1; a new set goes into buffer 2 and the board is
// switched only once it is complete. The board dies half way (its memory
// kept, as after a power cut): it still shows the old set, and the resume
// sends only what the board did not confirm, then switches.
TEST_F(CliBoard, AnUploadIntoTheOtherBufferSurvivesABoardKilledHalfWay) {
  const std::vector<std::string> board = {"--board-file", Path("board.mem"), "--delay-ms", "20",
                                          "-v"};
  StartSim(board);
  const std::string old = PatternImage(3000, 1), fresh = PatternImage(5026, 2);
  Write("old.bin", old);
  Write("new.bin", fresh);
  ASSERT_EQ(Board("upload old.bin --restart"), 0) << err_;

  std::thread killer = lentar::comm::testing::KillWhenLogged(sim_, "buffer 1 offset 2560");
  EXPECT_EQ(Board("--timeout 300 upload new.bin --keep-showing"), 1);
  killer.join();
  EXPECT_NE(err_.find("Табло по-прежнему показывает свой набор из буфера №1."), std::string::npos)
      << err_;
  EXPECT_NE(err_.find("upload new.bin --resume --buffer 2"), std::string::npos) << err_;

  StartSim(board);
  ASSERT_EQ(Board("status"), 0) << err_;
  EXPECT_NE(out_.find("Текущий буфер: 1\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Размер данных: 3000 байт\n"), std::string::npos) << out_;
  ASSERT_EQ(Board("upload new.bin --resume --buffer 2"), 0) << err_;
  const std::string log = sim_.Log();
  EXPECT_EQ(log.find("command 0x2C buffer 1 offset 0 "), std::string::npos)
      << "neither cleared nor sent from the start: " << log;
  ASSERT_EQ(Board("status"), 0) << err_;
  EXPECT_NE(out_.find("Текущий буфер: 2\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Размер данных: 5026 байт\n"), std::string::npos) << out_;
  EXPECT_EQ(Read("upload-2.bin"), fresh);

  // Without --keep-showing the buffer on show is loaded as chosen, and the
  // operator is told first.
  ASSERT_EQ(Board("upload old.bin --buffer 2"), 0) << err_;
  EXPECT_NE(err_.find("Внимание: табло показывает буфер №2; до конца загрузки оно будет пустым "
                      "(--keep-showing загрузит буфер №1 и переключит табло на него)"),
            std::string::npos)
      << err_;
  EXPECT_EQ(Read("upload-3.bin"), old);
}

TEST_F(CliBoard, AutomaticBrightnessFontPasswordAndRestart) {
  StartSim();
  // What is not given keeps the board's value.
  ASSERT_EQ(Board("auto-bright --on --dark-brightness 3 --dark-level 300 --bright-level 60000"), 0)
      << err_;
  EXPECT_NE(out_.find("Автояркость: вкл\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Яркость в темноте: 3\nТемнота: 300\nЯркий свет: 60000\n"),
            std::string::npos) << out_;
  ASSERT_EQ(Board("auto-bright --off"), 0) << err_;
  EXPECT_NE(out_.find("Автояркость: выкл\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Темнота: 300\nЯркий свет: 60000\n"), std::string::npos) << out_;
  ASSERT_EQ(Board("auto-bright --dark-level 7"), 0) << err_;
  EXPECT_NE(out_.find("Яркость в темноте: 3\nТемнота: 7\nЯркий свет: 60000\n"),
            std::string::npos) << out_;

  ASSERT_EQ(Board("font 2"), 0) << err_;
  EXPECT_NE(out_.find("по умолчанию 2"), std::string::npos) << out_;

  ASSERT_EQ(Board("password --new abc"), 0) << err_;
  EXPECT_EQ(out_, "Пароль: установлен\n");
  EXPECT_EQ(Board("password --old wrong --new x"), 1);
  EXPECT_NE(err_.find("Введен неверный пароль"), std::string::npos) << err_;
  Write("x.bin", std::string(50, 'x'));
  ASSERT_EQ(Board("upload x.bin --password abc --buffer 2"), 0) << err_;
  ASSERT_EQ(Board("password --old abc --new ''"), 0) << err_;
  EXPECT_EQ(out_, "Пароль: нет\n");

  ASSERT_EQ(Board("restart --buffer 2"), 0) << err_;
  ASSERT_EQ(Board("status"), 0) << err_;
  EXPECT_NE(out_.find("Текущий буфер: 2\nПозиция: 0 (0%)"), std::string::npos) << out_;
}

TEST_F(CliBoard, ADamagedReplyIsToldFromNoReply) {
  StartSim({"--corrupt", "1"});
  EXPECT_EQ(Board("--timeout 200 status"), 1);
  EXPECT_NE(err_.find("ответ табло повреждён"), std::string::npos) << err_;
}

TEST_F(CliBoard, RefusalsAndTheirTexts) {
  StartSim({"--address", "5", "--buffer1", "100"});
  EXPECT_EQ(Run("board --port no-such-device --ini lentar.ini status"), 1);
  EXPECT_NE(err_.find("Ошибка коммуникационного порта!"), std::string::npos) << err_;
  EXPECT_NE(err_.find("no-such-device"), std::string::npos) << err_;

  EXPECT_EQ(Board("--address 3 status"), 1);
  EXPECT_NE(err_.find("табло не отвечает"), std::string::npos) << err_;
  Write("small.bin", std::string(10, 'x'));
  EXPECT_EQ(Board("--address 3 --timeout 200 upload small.bin"), 1);
  EXPECT_NE(err_.find("Ошибка связи с контроллером!\nlentar-cli board: табло не отвечает"),
            std::string::npos)
      << err_;

  Write("big.bin", std::string(100, 'x'));
  EXPECT_EQ(Board("--address 5 upload big.bin"), 1);
  EXPECT_NE(err_.find("Недостаточный размер буфера!"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(Path("upload-1.bin")));

  struct Usage {
    const char* args;
  } usages[] = {{"reboot"}, {"clear"}, {"clear --buffer 3"}, {"set"}, {"set --speed 6"},
                {"set --flip maybe"}, {"upload"}, {"status extra"},
                {"--timeout 50 status"}, {"font"}, {"font 256"}, {"font x"}, {"font 1 2"},
                {"auto-bright --on --off"}, {"auto-bright --dark-level 65536"},
                {"auto-bright --dark-brightness -1"}, {"password"}, {"password --old a"},
                {"password --new 123456789"}, {"restart"}, {"restart --buffer 0"},
                {"--dial 1 status"}, {"--pulse status"}, {"--init ATZ status"},
                {"--modem status"}, {"--modem --dial 1 --dial-timeout -1 status"},
                {"--init A --init B status"}};
  for (const auto& u : usages) EXPECT_EQ(Board(u.args), 2) << u.args << ": " << err_;
  // A raw TCP port has no modem lines: a modem call is refused at once.
  EXPECT_EQ(Run("board --port socket://127.0.0.1:9 --ini lentar.ini --modem --dial 1 status"), 2);
  EXPECT_NE(err_.find("для --modem нужна линия с модемными сигналами"), std::string::npos) << err_;
}

}  // namespace
