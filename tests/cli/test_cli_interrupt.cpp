// lentar-cli board upload stopped by a real Ctrl+C (SIGINT to the process)
// half way through, over a direct line and through a modem, against
// lentar-boardsim: the program ends at the next block with exit status 130,
// leaves the board answering at its base speed (a modem hung up), and a
// later --resume ("Дозагрузка") completes the image to the very byte.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "comm/loaderdirectory.h"
#include "core/settings.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using lentar::comm::testing::SimProcess;
using lentar::comm::testing::TestFolder;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A pattern that tells every 128-byte block from the others.
std::string Image(size_t size) {
  std::string image(size, '\0');
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 7 + i / 128) & 0xFF);
  return image;
}

// Starts lentar-cli with args, its output in dir/out.log and dir/err.log;
// the process id, or -1.
pid_t StartCli(const fs::path& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {LENTAR_BIN_DIR "/lentar-cli"};
  argv.insert(argv.end(), args.begin(), args.end());
  return lentar::comm::testing::SpawnProgram(argv, (dir / "out.log").string(),
                                             (dir / "err.log").string());
}

// Waits for the process to end (killing it after a generous deadline); its
// exit status, or -1 when it did not exit by itself.
int WaitCli(pid_t pid) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits until the simulator's log holds text; false after a generous deadline.
bool WaitForLog(const SimProcess& sim, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (sim.Log().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class CliInterrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestFolder("lentar_cli_interrupt",
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(CliInterrupt, CtrlCStopsAnUploadBetweenBlocksAndAResumeCompletesIt) {
  const struct {
    const char* what;
    bool modem;
    const char* block;  // the simulator's log line of a block half way
  } cases[] = {
      {"direct line, loading at 28800 bit/s", false, "command 0x2C buffer 0 offset 1280 "},
      {"through a modem, streamed", true, "command 0x4F buffer 0 offset 1280 "},
  };
  const std::string image = Image(4000);  // 32 blocks
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = dir_ / (c.modem ? "modem" : "direct");
    fs::create_directories(dir);
    lentar::TSettings settings;
    lentar::DefaultSettings(settings);
    settings.BaseSpeed = 0;
    settings.DLSpeed = 2;
    settings.ModemInit = "ATE1";
    lentar::WriteSettings(settings, (dir / "lentar.ini").string());
    std::ofstream(dir / "image.bin", std::ios::binary) << image;

    // Every byte takes its time on the line, so that Ctrl+C lands mid-way.
    SimProcess sim;
    std::vector<std::string> simArgs = {"-v", "--pace", "--save-dir", dir.string()};
    if (c.modem) {
      simArgs.insert(simArgs.end(), {"--modem", "--connect-delay-ms", "100"});
      ASSERT_TRUE(sim.StartListening(dir, true, simArgs)) << sim.Log();
    } else {
      ASSERT_TRUE(sim.Start(dir, simArgs)) << sim.Log();
    }
    std::vector<std::string> board = {"board", "--port", sim.Link(), "--ini",
                                      (dir / "lentar.ini").string()};
    if (c.modem) board.insert(board.end(), {"--modem", "--dial", "123"});
    const auto run = [&](std::vector<std::string> more) {
      more.insert(more.begin(), board.begin(), board.end());
      return StartCli(dir, more);
    };
    const std::string source = (dir / "image.bin").string();

    const pid_t pid = run({"upload", source});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForLog(sim, c.block)) << sim.Log();
    kill(pid, SIGINT);
    EXPECT_EQ(WaitCli(pid), 130) << ReadAll(dir / "err.log");
    const std::string err = ReadAll(dir / "err.log");
    EXPECT_NE(err.find("Прервано оператором"), std::string::npos) << err;
    EXPECT_NE(err.find("Дозагрузка: upload " + source + " --resume --buffer 1"),
              std::string::npos)
        << err;
    EXPECT_EQ(ReadAll(dir / "out.log").find("успешно"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "upload-1.bin")) << "the board never closed the upload";
    EXPECT_EQ(sim.Log().find(c.modem ? "command 0x2C buffer 0 offset 4000 "
                                     : "command 0x2C buffer 0 offset 3968 "),
              std::string::npos)
        << "stopped well before the end";
    if (c.modem) {
      EXPECT_NE(sim.Log().find("modem hung up"), std::string::npos) << sim.Log();
    } else {
      EXPECT_EQ(Occurrences(sim.Log(), "command 0x37"), 2u)
          << "to the loading speed and back: " << sim.Log();
    }

    // The board answers the next run, which completes the image.
    EXPECT_EQ(WaitCli(run({"status"})), 0) << ReadAll(dir / "err.log");
    EXPECT_EQ(WaitCli(run({"upload", source, "--resume"})), 0) << ReadAll(dir / "err.log");
    EXPECT_EQ(ReadAll(dir / "upload-1.bin"), image);
    EXPECT_TRUE(sim.Stop());
  }
}

}  // namespace

// Ctrl+C while the number is being dialled, with no limit on the wait: the
// dial is given up, the modem told to hang up (DTR down), and the program
// ends with 130 instead of waiting for a call that takes a minute.
TEST_F(CliInterrupt, CtrlCWhileDiallingHangsUp) {
  lentar::TSettings settings;
  lentar::DefaultSettings(settings);
  settings.ModemInit = "ATE1";
  lentar::WriteSettings(settings, (dir_ / "lentar.ini").string());
  SimProcess sim;
  ASSERT_TRUE(sim.StartListening(dir_, true, {"-v", "--modem", "--connect-delay-ms", "60000"}))
      << sim.Log();
  const pid_t pid = StartCli(dir_, {"board", "--port", sim.Link(), "--ini",
                                    (dir_ / "lentar.ini").string(), "--modem", "--dial", "123",
                                    "--dial-timeout", "0", "status"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForLog(sim, "modem command ATDT123")) << sim.Log();
  kill(pid, SIGINT);
  EXPECT_EQ(WaitCli(pid), 130) << ReadAll(dir_ / "err.log");
  EXPECT_NE(ReadAll(dir_ / "err.log").find("Прервано оператором"), std::string::npos)
      << ReadAll(dir_ / "err.log");
  EXPECT_EQ(ReadAll(dir_ / "out.log"), "");
  EXPECT_TRUE(sim.Stop());
}

namespace {

// SIGTERM (a service manager, kill) and SIGHUP (the terminal closed) stop the
// work at the next safe point as Ctrl+C does, with the signal's own exit
// status: a board upload and a loader write stop between blocks and leave the
// device answering; a fleet delivery gives its lines back, closes its log
// rows (the board being loaded "interrupted", the board whose turn had not
// come "not-started") and leaves no row unfinished.
TEST_F(CliInterrupt, SigtermAndSighupStopLikeCtrlC) {
  const struct {
    int signal;
    int exitStatus;
  } stops[] = {{SIGTERM, 143}, {SIGHUP, 129}, {SIGINT, 130}};
  const auto image = Image(6000);
  for (const auto& s : stops) {
    for (const std::string command : {"board upload", "loader write", "fleet deliver"}) {
      SCOPED_TRACE(command + " stopped by signal " + std::to_string(s.signal));
      const fs::path dir = dir_ / (command.substr(0, command.find(' ')) + std::to_string(s.signal));
      fs::create_directories(dir);
      const std::string ini = (dir / "lentar.ini").string();
      lentar::TSettings settings;
      lentar::DefaultSettings(settings);
      lentar::WriteSettings(settings, ini);
      std::ofstream(dir / "image.bin", std::ios::binary) << image;
      const std::string source = (dir / "image.bin").string();
      const std::string db = (dir / "fleet.sqlite").string();
      const auto cli = [&](const std::vector<std::string>& args) {
        return WaitCli(StartCli(dir, args));
      };

      SimProcess sim;
      std::string during;  // the simulator's log line once the work is under way
      std::vector<std::string> args;
      if (command == "loader write") {
        // An empty directory, the rest erased.
        std::string memory(static_cast<size_t>(lentar::comm::MemorySize(3)), '\xFF');
        memory.replace(0, lentar::comm::kLoaderDirectorySize,
                       std::string(lentar::comm::kLoaderDirectorySize, '\0'));
        std::ofstream(dir / "memory.bin", std::ios::binary) << memory;
        ASSERT_TRUE(sim.Start(dir, {"--loader", "--memory-type", "3", "--memory-file",
                                    (dir / "memory.bin").string(), "--pace", "-v"}))
            << sim.Log();
        during = "command 0x15 address";
        args = {"loader", "--port", sim.Link(), "--ini", ini, "write", source, "--name", "big"};
      } else if (command == "board upload") {
        ASSERT_TRUE(sim.Start(dir, {"--pace", "-v", "--save-dir", dir.string()})) << sim.Log();
        during = "command 0x2C buffer 0 offset 1280 ";
        args = {"board", "--port", sim.Link(), "--ini", ini, "upload", source};
      } else {
        ASSERT_TRUE(sim.StartListening(dir, false, {"--addresses", "1,2", "--pace", "-v"}))
            << sim.Log();
        for (const char* board : {"1", "2"})
          ASSERT_EQ(cli({"fleet", "--db", db, "--create", "add", std::string("b") + board, "--line",
                         sim.Link(), "--address", board, "--group", "bus"}),
                    0)
              << ReadAll(dir / "err.log");
        during = "command 0x2C";
        args = {"fleet", "--db", db, "deliver", source, "--group", "bus", "--ini", ini};
      }
      const pid_t pid = StartCli(dir, args);
      ASSERT_GT(pid, 0);
      ASSERT_TRUE(WaitForLog(sim, during)) << sim.Log();
      kill(pid, s.signal);
      EXPECT_EQ(WaitCli(pid), s.exitStatus) << ReadAll(dir / "err.log");
      const std::string out = ReadAll(dir / "out.log"), err = ReadAll(dir / "err.log");
      EXPECT_NE((out + err).find("Прервано оператором"), std::string::npos) << out << err;

      // The device answers the next command; the delivery's line is free
      // and its log complete.
      if (command == "loader write") {
        EXPECT_EQ(cli({"loader", "--port", sim.Link(), "--ini", ini, "list"}), 0)
            << ReadAll(dir / "err.log");
      } else if (command == "board upload") {
        EXPECT_EQ(cli({"board", "--port", sim.Link(), "--ini", ini, "status"}), 0)
            << ReadAll(dir / "err.log");
      } else {
        EXPECT_NE(out.find("b2: не начато: Прервано оператором"), std::string::npos) << out;
        EXPECT_NE(out.find("не начато: 1"), std::string::npos) << out;
        ASSERT_EQ(cli({"fleet", "--db", db, "log", "--json"}), 0) << ReadAll(dir / "err.log");
        const std::string log = ReadAll(dir / "out.log");
        EXPECT_EQ(log.find("\"finished\":\"\""), std::string::npos) << log;
        EXPECT_NE(log.find("\"outcome\":\"not-started\""), std::string::npos) << log;
        EXPECT_EQ(Occurrences(log, "\"board\":"), 2u) << log;
      }
      EXPECT_TRUE(sim.Stop());
    }
  }
}

}  // namespace
