// lentar-cli over the network: through ser2net, a real and independent serial
// server, serving lentar-boardsim's pseudo-terminal on a loopback port in raw
// mode and in telnet(rfc2217) mode; against lentar-boardsim --listen itself;
// and the ports command.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/cli_test_support.h"
#include "support/scripted_server.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using lentar::comm::testing::SimProcess;

// A loopback port nobody listens on at the moment of asking.
int FreeLoopbackPort() { return lentar::comm::testing::LoopbackSocket(false).Port(); }

bool Accepts(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

std::string FindProgram(const char* name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin", "/sbin"}) {
    const fs::path p = fs::path(dir) / name;
    if (access(p.c_str(), X_OK) == 0) return p.string();
  }
  return {};
}

// ser2net serving one device on a loopback port, its configuration written
// for the test.
class Ser2Net {
 public:
  ~Ser2Net() { Stop(); }

  // Starts ser2net; false with a reason in error.
  bool Start(const fs::path& dir, const std::string& device, bool rfc2217, std::string& error) {
    const std::string program = FindProgram("ser2net");
    if (program.empty()) {
      error = "ser2net is not installed (scripts/install-deps.sh installs it)";
      return false;
    }
    const std::string config = (dir / "ser2net.yaml").string();
    const std::string log = (dir / "ser2net.log").string();
    // The port is chosen free just before ser2net binds it; should another
    // program take it in between, the next one is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = FreeLoopbackPort();
      std::ofstream(config) << "connection: &board\n"
                            << "  accepter: " << (rfc2217 ? "telnet(rfc2217),tcp," : "tcp,")
                            << "127.0.0.1," << port_ << "\n"
                            << "  connector: serialdev," << device << ",9600n82,local\n"
                            << "  options:\n"
                            << "    kickolduser: true\n"
                            // Hand every byte on at once rather than waiting
                            // for more to gather: each frame waits for its
                            // answer.
                            << "    chardelay: false\n";
      std::vector<std::string> argv = {program, "-n", "-d", "-c", config, "-P",
                                       (dir / "ser2net.pid").string()};
      pid_ = lentar::comm::testing::SpawnProgram(argv, "/dev/null", log);
      if (pid_ <= 0) {
        error = "ser2net did not start";
        return false;
      }
      for (int i = 0; i < 500; ++i) {
        if (Accepts(port_)) return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
          pid_ = -1;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      Stop();
    }
    std::ifstream in(log);
    error = "ser2net does not listen: " +
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// An image with every byte value, telnet's 255 and carriage returns among
// them, of the largest size a board takes.
std::string Image() {
  std::string image(64770, '\0');
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<char>(i % 5 == 0 ? 0xFF : i % 9 == 0 ? 0x0D : (i * 131) ^ (i >> 8));
  return image;
}

class CliNetwork : public lentar::cli::testing::CliFolderTest,
                   public ::testing::WithParamInterface<bool> {
 protected:
  CliNetwork() : CliFolderTest("lentar_cli_net") {}
  void TearDown() override {
    server_.Stop();
    sim_.Stop();
    CliFolderTest::TearDown();
  }

  bool Rfc2217() const { return GetParam(); }
  std::string Scheme() const { return Rfc2217() ? "rfc2217://" : "socket://"; }

  SimProcess sim_;
  Ser2Net server_;
};

TEST_P(CliNetwork, StatusAndUploadThroughSer2Net) {
  ASSERT_TRUE(sim_.Start(dir_, {"--buffer1", "65535", "--save-dir", dir_.string()})) << sim_.Log();
  std::string error;
  ASSERT_TRUE(server_.Start(dir_, fs::read_symlink(sim_.Link()).string(), Rfc2217(), error))
      << error;
  const std::string port = Scheme() + "127.0.0.1:" + std::to_string(server_.Port());

  ASSERT_EQ(Run("board --port " + port + " --ini lentar.ini status"), 0) << err_;
  EXPECT_NE(out_.find("Версия ПО табло: LENTAR-SIM"), std::string::npos) << out_;

  Write("image.bin", Image());
  ASSERT_EQ(Run("board --port " + port + " --ini lentar.ini upload image.bin"), 0) << err_;
  EXPECT_NE(out_.find("Загрузка успешно завершена!"), std::string::npos) << out_;
  EXPECT_TRUE(Read("upload-1.bin") == Image()) << "the image arrives byte-exact";

  // Streamed blocks are paced at half the round trip plus 20 ms each: a
  // smaller image keeps the test short.
  const std::string part = Image().substr(0, 3000);
  Write("part.bin", part);
  ASSERT_EQ(Run("board --port " + port + " --ini lentar.ini upload part.bin --streamed"), 0)
      << err_;
  EXPECT_TRUE(Read("upload-2.bin") == part) << "streamed, it arrives byte-exact too";
}

TEST_P(CliNetwork, StatusFromTheSimulatorsOwnListener) {
  ASSERT_TRUE(sim_.StartListening(dir_, Rfc2217(), {})) << sim_.Log();
  ASSERT_EQ(Run("board --port " + sim_.Link() + " --ini lentar.ini status"), 0) << err_;
  EXPECT_NE(out_.find("Версия ПО табло: LENTAR-SIM"), std::string::npos) << out_;
}

TEST_P(CliNetwork, ARefusedConnectionIsReportedInRussian) {
  // Bound, not listening: the connection is refused.
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  const std::string port = Scheme() + "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  EXPECT_EQ(Run("board --port " + port + " --ini lentar.ini status"), 1);
  close(s);
  EXPECT_NE(err_.find("Ошибка коммуникационного порта!"), std::string::npos) << err_;
  EXPECT_NE(err_.find("Соединение отвергнуто: 127.0.0.1:"), std::string::npos) << err_;
  EXPECT_NE(err_.find(port), std::string::npos) << "the port is named as given: " << err_;
}

// A server that closes or resets the connection, at once or after the first
// request, is told one way over both kinds of port, with its address: never
// an empty reason, never a board that "не отвечает".
TEST_P(CliNetwork, AServerThatClosesOrResetsIsToldAsClosed) {
  using lentar::comm::testing::ScriptedServer;
  using lentar::comm::testing::Reset;
  const struct {
    const char* name;
    ScriptedServer::Behaviour server;
  } cases[] = {
      {"closes at once", [](ScriptedServer&, int) {}},
      {"resets at once", [](ScriptedServer&, int fd) { Reset(fd); }},
      {"closes after the first bytes", [](ScriptedServer& s, int fd) { s.AwaitBytes(fd); }},
      {"resets after the first bytes",
       [](ScriptedServer& s, int fd) {
         s.AwaitBytes(fd);
         Reset(fd);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(c.server);
    const std::string port = server.Name(Scheme().c_str());
    EXPECT_EQ(Run("board --port " + port + " --ini lentar.ini status"), 1) << err_;
    EXPECT_NE(err_.find("Ошибка коммуникационного порта! '" + port +
                        "': Соединение закрыто сервером: " + server.Where() + "\n"),
              std::string::npos)
        << err_;
    EXPECT_EQ(err_.find("()"), std::string::npos) << err_;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, CliNetwork, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Rfc2217" : "Raw"; });

// lentar-cli against telnet peers that flood the line and never read: each
// run ends within its time bound, with the peak memory of the process
// bounded (a flood once grew it by gigabytes), exit status 1 and the message
// that names the fault. The bounds are generous: they catch a hang or
// unbounded growth, not slowness.
class CliFlood : public lentar::cli::testing::CliFolderTest {
 protected:
  CliFlood() : CliFolderTest("lentar_cli_flood") {}

  // Runs lentar-cli with args, killed after limitS seconds; its exit status
  // (-1 when killed) and its peak resident size in KiB.
  int RunBounded(const std::string& args, int limitS, long& peakKb) {
    const std::string cmd = "cd '" + dir_.string() + "' && exec timeout -s KILL " +
                            std::to_string(limitS) + " '" LENTAR_BIN_DIR "/lentar-cli' " + args +
                            " >out.log 2>err.log";
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    peakKb = usage.ru_maxrss;
    out_ = Read("out.log");
    err_ = Read("err.log");
    return WIFEXITED(status) && WEXITSTATUS(status) != 137 ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(CliFlood, TelnetFloodsEndWithinBounds) {
  using namespace lentar::comm::testing;
  const struct {
    const char* name;
    ScriptedServer::Behaviour server;
    const char* args;  // after "board --port rfc2217://... --ini lentar.ini"
  } cases[] = {
      {"option commands during the negotiation",
       [](ScriptedServer& s, int fd) { FloodForEver(s, fd, OptionFlood()); }, "status"},
      {"option commands once the modem is dialled, with no limit on the dial",
       [](ScriptedServer& s, int fd) {
         if (s.Send(fd, AgreeToComPort()) && s.AwaitDial(fd)) FloodForEver(s, fd, OptionFlood());
       },
       "--modem --dial 1 --dial-timeout 0 status"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(c.server);
    long peakKb = 0;
    EXPECT_EQ(RunBounded("board --port " + server.Name("rfc2217://") + " --ini lentar.ini " +
                             c.args,
                         60, peakKb),
              1)
        << err_;
    EXPECT_NE(err_.find("Сервер засыпает линию командами согласования telnet: " +
                        server.Where()),
              std::string::npos)
        << err_;
    EXPECT_LT(peakKb, 150 * 1024) << "KiB at the peak";
  }
}

class CliPorts : public lentar::cli::testing::CliFolderTest {
 protected:
  CliPorts() : CliFolderTest("lentar_cli_ports") {}
};

TEST_F(CliPorts, ListsDevicesAndTheWindowsNamesOfExistingOnes) {
  ASSERT_EQ(Run("ports"), 0) << err_;
  EXPECT_EQ(out_.rfind("Последовательные устройства: ", 0), 0u) << out_;
  const size_t names = out_.find("Имена Windows: ");
  ASSERT_NE(names, std::string::npos) << out_;
  int expected = 0;
  for (int n = 1; n <= 256; ++n) {
    const std::string device = "/dev/ttyS" + std::to_string(n - 1);
    const std::string name = "COM" + std::to_string(n) + " ";
    std::error_code ec;
    const bool exists = fs::exists(device, ec);
    expected += exists ? 1 : 0;
    EXPECT_EQ(out_.find("  " + name, names) != std::string::npos, exists) << name << out_;
  }
  EXPECT_NE(out_.find("Имена Windows: " + std::to_string(expected) + "\n"), std::string::npos);
  EXPECT_EQ(Run("ports extra"), 2);
}

}  // namespace
