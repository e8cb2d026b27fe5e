// Starts lentar-boardsim on a pseudo-terminal linked into a test folder, or on
// a free loopback TCP port, and stops it again. Each test (and each benchmark
// run) starts its own simulator.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lentar::comm::testing {

// Starts the program argv[0] with the arguments argv, reading nothing (its
// standard input is /dev/null), its standard output and error written to the
// files out and err; its process id, or -1.
inline pid_t SpawnProgram(const std::vector<std::string>& argv, const std::string& out,
                          const std::string& err) {
  std::vector<std::string> copy = argv;
  std::vector<char*> cargv;
  for (auto& a : copy) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() { Stop(); }

  // Starts the simulator with args, its terminal linked at dir/board and
  // its standard error in dir/sim.log. False when the link did not appear
  // within the (generous) deadline.
  bool Start(const std::filesystem::path& dir, std::vector<std::string> args) {
    link_ = (dir / "board").string();
    return Spawn(dir, {"--link", link_}, std::move(args), link_);
  }

  // Starts the simulator serving TCP on a free loopback port (raw, or RFC 2217
  // with rfc2217); Link() is then the port name to open, such as
  // socket://127.0.0.1:40123.
  bool StartListening(const std::filesystem::path& dir, bool rfc2217,
                      std::vector<std::string> args) {
    const std::string portFile = (dir / "port").string();
    std::vector<std::string> head = {"--listen", "127.0.0.1:0", "--port-file", portFile};
    if (rfc2217) head.push_back("--rfc2217");
    if (!Spawn(dir, head, std::move(args), portFile)) return false;
    std::ifstream in(portFile);
    std::getline(in, link_);
    return !link_.empty();
  }

  // Kills the simulator at once, as a server that fails.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  // SIGTERM, then wait; true when the simulator exited cleanly.
  bool Stop() {
    if (pid_ <= 0) return true;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  const std::string& Link() const { return link_; }
  std::string Log() const {
    std::ifstream in(log_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  bool Spawn(const std::filesystem::path& dir, std::vector<std::string> head,
             std::vector<std::string> args, const std::string& readyFile) {
    log_ = (dir / "sim.log").string();
    // A simulator killed before (a power cut) leaves its terminal's link or
    // port file behind; taken as the sign of the new one being ready, it
    // would send the test to a terminal nobody serves any more.
    std::error_code stale;
    std::filesystem::remove(readyFile, stale);
    std::vector<std::string> argv = {LENTAR_BIN_DIR "/lentar-boardsim"};
    argv.insert(argv.end(), head.begin(), head.end());
    argv.insert(argv.end(), args.begin(), args.end());
    // Nothing is read from its standard output (the terminal's link or the
    // port file tells where it is), and a simulator left behind by a test
    // that aborted must not hold the test runner's output pipe open.
    pid_ = SpawnProgram(argv, "/dev/null", log_);
    if (pid_ <= 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      std::error_code ec;
      if (std::filesystem::exists(readyFile, ec)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  pid_t pid_ = -1;
  std::string link_;
  std::string log_;
};

// Kills the simulator at once, as a power cut, from a thread of its own as
// soon as its log (it runs with -v) shows text: half way through an upload
// that the calling thread is running. Join the thread before the simulator
// is used again.
inline std::thread KillWhenLogged(SimProcess& sim, std::string text) {
  return std::thread([&sim, text = std::move(text)] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sim.Log().find(text) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    sim.Kill();
  });
}

// A fresh, empty folder for one test.
inline std::filesystem::path TestFolder(const std::string& prefix, const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() /
                   (prefix + "_" + std::to_string(::getpid()) + "_" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// A fresh, empty folder for one run, removed again with the object.
class ScopedFolder {
 public:
  ScopedFolder(const std::string& prefix, const std::string& name)
      : path_(TestFolder(prefix, name)) {}
  ScopedFolder(const ScopedFolder&) = delete;
  ScopedFolder& operator=(const ScopedFolder&) = delete;
  ~ScopedFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The bytes of a file the simulator wrote (an upload it saved, its memory).
inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A board image of size bytes whose bytes differ with seed.
inline std::vector<uint8_t> ImagePattern(size_t size, unsigned seed) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>((i * 131 + seed) ^ (i >> 7));
  return image;
}

}  // namespace lentar::comm::testing
