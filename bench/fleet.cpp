// Delivery to a fleet of simulated boards, as an operator with hundreds of
// boards runs it: a 4 KiB set to N boards, each on its own socket:// line,
// the simulator pacing every byte at the board's speed (57,600 bit/s while
// the image goes out), all lines at once (--jobs N).
//
// For each N (200 and 1,000 unless given on the command line) it reports the
// whole delivery's wall time as a ratio to one board's delivery measured in
// the same run, and the CPU time and peak memory of the delivering
// lentar-cli process. The goal: 200 boards within 1.5 times one board's
// time; at most 200 MB for 1,000 boards.
//
// Usage: bench-fleet [N...]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "measure_process.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using lentar::comm::testing::SpawnProgram;

using lentar::bench::Measure;
using lentar::bench::RunResult;

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

bool BenchFleet(int count) {
  const fs::path dir = fs::temp_directory_path() / ("bench_fleet_" + std::to_string(getpid()) +
                                                    "_" + std::to_string(count));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string bin = LENTAR_BIN_DIR;
  // The boards start at 9,600 bit/s and are switched to 57,600 for the image
  // (DLSpeed 4), as a direct line is.
  std::ofstream(dir / "lentar.ini", std::ios::binary) << "[Settings]\r\nOutDataSize=64000\r\nDLSpeed=4\r\n";
  std::string set;
  while (set.size() < 4096) set += "Fleet delivery benchmark, one set for every board. ";
  set.resize(4096);
  std::ofstream(dir / "set.txt", std::ios::binary) << set;

  const pid_t sim = SpawnProgram({bin + "/lentar-boardsim", "--listen", "127.0.0.1:0", "--port-file",
                           (dir / "port").string(), "--count", std::to_string(count), "--pace"},
                          "/dev/null", (dir / "sim.err").string());
  std::vector<std::string> lines;
  for (int i = 0; i < 600 && lines.size() != static_cast<size_t>(count); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lines = ReadLines(dir / "port");
  }
  if (lines.size() != static_cast<size_t>(count)) {
    std::fprintf(stderr, "bench-fleet: the simulator did not start %d boards\n", count);
    kill(sim, SIGKILL);
    waitpid(sim, nullptr, 0);
    return false;
  }
  {
    std::ofstream csv(dir / "boards.csv");
    csv << "name,groups,line\n";
    for (int i = 0; i < count; ++i) csv << "b" << i + 1 << ",fleet," << lines[static_cast<size_t>(i)] << "\n";
  }
  const std::string db = (dir / "fleet.sqlite").string();
  const std::string ini = (dir / "lentar.ini").string();
  const std::string setPath = (dir / "set.txt").string();
  const RunResult import =
      Measure({bin + "/lentar-cli", "fleet", "--db", db, "--create", "import", (dir / "boards.csv").string()}, dir, "import");
  bool ok = import.status == 0;
  const RunResult one = Measure({bin + "/lentar-cli", "fleet", "--db", db, "deliver", setPath,
                                 "--board", "b1", "--ini", ini},
                                dir, "one");
  const RunResult all = Measure({bin + "/lentar-cli", "fleet", "--db", db, "deliver", setPath,
                                 "--all", "--jobs", std::to_string(count), "--ini", ini},
                                dir, "all");
  ok = ok && one.status == 0 && all.status == 0;
  std::printf("%5d boards: one board %.2f s, all %.2f s, ratio %.2f; delivering process: "
              "CPU %.2f s, peak memory %.1f MB%s\n",
              count, one.wallSeconds, all.wallSeconds, all.wallSeconds / one.wallSeconds,
              all.cpuSeconds, all.peakMegabytes, ok ? "" : " (FAILED: see the .err files)");
  std::fflush(stdout);
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  if (ok) fs::remove_all(dir);
  else std::fprintf(stderr, "bench-fleet: kept %s\n", dir.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {200, 1000};
  // Every board's line is a socket and a lock file in the delivering
  // process, and two sockets in the simulator.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  bool ok = true;
  for (int n : counts) ok = BenchFleet(n) && ok;
  return ok ? 0 : 1;
}
