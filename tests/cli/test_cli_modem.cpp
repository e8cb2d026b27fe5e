// lentar-cli board --modem against lentar-boardsim's Hayes modem over RFC 2217,
// which carries DTR to the simulator and DSR back: the whole call from the
// reset to the hang-up, as a script runs it. Every call takes a few seconds
// of real modem pauses (the DTR pulse of the reset), so the calls of the
// table run side by side, each with its own simulator and folder.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "core/settings.h"
#include "support/cli_test_support.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using lentar::comm::testing::SimProcess;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A pattern that tells every 128-byte block from the others.
std::string Image(size_t size) {
  std::string image(size, '\0');
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 7 + i / 128) & 0xFF);
  return image;
}

// One run of lentar-cli and what is expected of it.
struct Step {
  std::string args;  // after "board --port <modem> --ini lentar.ini --modem --dial 123"
  int exitCode = 0;
  std::vector<std::string> err = {};  // texts its standard error holds
  std::vector<std::string> out = {};  // texts its standard output holds
};

struct Call {
  const char* what;
  std::vector<std::string> sim;  // the simulator's options
  std::vector<Step> steps;
  std::vector<std::string> log = {};     // lines the simulator's log holds afterwards
  std::vector<std::string> notLog = {};  // ... and does not
  bool uploaded = false;            // the board holds image.bin in buffer 1 at the end
};

struct Result {
  bool simStarted = false;
  std::vector<int> exitCodes;
  std::vector<std::string> outs, errs;
  std::string log;
  std::string upload;
};

const std::string kImage = Image(6000);

Result RunCall(const fs::path& dir, const Call& call) {
  Result r;
  fs::create_directories(dir);
  // The settings a script's machine would have: tone dialling, two
  // initialisation lines and the modem password.
  lentar::TSettings settings;
  lentar::DefaultSettings(settings);
  settings.ToneDial = 1;
  settings.ModemInit = "AT&F\r\nATX4";
  settings.DefModemPass = "mp";
  lentar::WriteSettings(settings, (dir / "lentar.ini").string());
  std::ofstream(dir / "image.bin", std::ios::binary) << kImage;

  SimProcess sim;
  std::vector<std::string> args = {"-v", "--save-dir", dir.string()};
  args.insert(args.end(), call.sim.begin(), call.sim.end());
  r.simStarted = sim.StartListening(dir, true, args);
  if (!r.simStarted) return r;
  for (const Step& step : call.steps) {
    const std::string cmd = "cd '" + dir.string() + "' && '" LENTAR_BIN_DIR "/lentar-cli' board" +
                            " --port " + sim.Link() + " --ini lentar.ini --modem --dial 123 " +
                            step.args + " >out.log 2>err.log";
    const int status = std::system(cmd.c_str());
    r.exitCodes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    r.outs.push_back(ReadAll(dir / "out.log"));
    r.errs.push_back(ReadAll(dir / "err.log"));
  }
  sim.Stop();
  r.log = sim.Log();
  r.upload = ReadAll(dir / "upload-1.bin");
  return r;
}

class CliModem : public lentar::cli::testing::CliFolderTest {
 protected:
  CliModem() : CliFolderTest("lentar_cli_modem") {}
};

TEST_F(CliModem, CallsAndTheirOutcomes) {
  // Quick modems: the dial's result comes 100 ms after ATD.
  const std::vector<std::string> modem = {"--modem", "--connect-delay-ms", "100",
                                          "--modem-password", "mp"};
  const auto with = [&modem](std::vector<std::string> more) {
    more.insert(more.begin(), modem.begin(), modem.end());
    return more;
  };
  const std::vector<Call> calls = {
      {"tone, the settings' initialisation lines and modem password",
       modem,
       {{"status", 0, {}, {"Скорость: 3\n", "Доступ: открыт\n"}}},
       {"modem command AT&F", "modem command ATX4", "modem command ATDT123", "command 0x46",
        "modem hung up"}},
      {"pulse, initialisation lines and modem password of the command line",
       with({"--modem-password", "other"}),
       {{"--pulse --init ATM0 --init 'ATS7=30' --modem-password other clock", 0, {}, {" г., "}}},
       {"modem command ATM0", "modem command ATS7=30", "modem command ATDP123", "command 0x08"},
       {"AT&F"}},
      {"a busy line",
       with({"--dial-result", "busy"}),
       {{"status", 1, {"Ошибка соединения: Занято"}}},
       {"modem command ATDT123"},
       {"command 0x"}},
      {"nobody answers",
       with({"--dial-result", "no-answer"}),
       {{"status", 1, {"Ошибка соединения: Нет ответа"}}}},
      {"the modem refuses an initialisation line",
       with({"--init-error"}),
       {{"status", 1, {"Ошибка инициализации: Ошибка"}}},
       {"modem command AT&F"},
       {"ATD"}},
      {"no modem on the line",
       {},
       {{"status", 1, {"Нет отклика от модема"}}},
       {},
       {"command 0x"}},
      {"the call takes longer than the script waits",
       with({"--connect-delay-ms", "5000"}),
       {{"--dial-timeout 1 status", 1, {"соединение не установилось за 1 с"}}},
       {"modem command ATDT123"},
       {"command 0x"}},
      {"a wrong modem password: refused, and the call hung up",
       modem,
       {{"--modem-password nope status", 1, {"не открыло доступ через модем"}}},
       {"command 0x46", "modem hung up"},
       {"command 0x34"}},
      // The modem may drop DSR before the dial has seen it up: either way the
      // carrier is reported lost.
      {"a call lost right after it came up is told as the lost call, not as the password",
       with({"--call-lasts-ms", "5", "--ignore", "0x47"}),
       {{"status", 1, {"Нет несущей"}}},
       {"modem command ATDT123", "modem hung up"}},
      {"a streamed upload whose lost blocks are repaired from the board's block map",
       with({"--ignore", "0x4F@3", "--ignore", "0x4F@20"}),
       {{"--timeout 1000 upload image.bin", 0, {}, {"Загрузка успешно завершена!"}}},
       {"modem hung up"},
       {},
       true},
      {"the call lost during an upload fails it, and --resume completes it in the next call",
       with({"--drop-call-after", "4000"}),
       {{"--timeout 1000 upload image.bin", 1, {"Ошибка соединения!"}},
        {"--timeout 1000 upload image.bin --resume", 0, {}, {"Загрузка успешно завершена!"}}},
       {"modem hung up"},
       {},
       true},
  };

  std::vector<std::future<Result>> running;
  for (size_t i = 0; i < calls.size(); ++i)
    running.push_back(std::async(std::launch::async, RunCall, dir_ / std::to_string(i),
                                 std::cref(calls[i])));
  for (size_t i = 0; i < calls.size(); ++i) {
    const Call& call = calls[i];
    SCOPED_TRACE(call.what);
    const Result r = running[i].get();
    ASSERT_TRUE(r.simStarted);
    for (size_t s = 0; s < call.steps.size(); ++s) {
      const Step& step = call.steps[s];
      SCOPED_TRACE(step.args);
      EXPECT_EQ(r.exitCodes[s], step.exitCode) << r.errs[s];
      for (const std::string& text : step.err)
        EXPECT_NE(r.errs[s].find(text), std::string::npos) << r.errs[s];
      for (const std::string& text : step.out)
        EXPECT_NE(r.outs[s].find(text), std::string::npos) << r.outs[s];
    }
    for (const std::string& text : call.log)
      EXPECT_NE(r.log.find(text), std::string::npos) << text << " in\n" << r.log;
    for (const std::string& text : call.notLog)
      EXPECT_EQ(r.log.find(text), std::string::npos) << text << " in\n" << r.log;
    if (call.uploaded) {
      EXPECT_TRUE(r.upload == kImage) << "the board holds another image";
    }
  }
}

}  // namespace
