// A program run to its end by a benchmark, measured as an operator's
// computer would feel it: the wall time, and the CPU time and peak memory
// of that process alone.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/sim_process.h"

namespace lentar::bench {

struct RunResult {
  int status = -1;
  double wallSeconds = 0;
  double cpuSeconds = 0;
  double peakMegabytes = 0;
};

// Runs args (the program first) with its output in dir/NAME.out and
// dir/NAME.err.
inline RunResult Measure(const std::vector<std::string>& args, const std::filesystem::path& dir,
                         const char* name) {
  RunResult r;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = comm::testing::SpawnProgram(args, (dir / (std::string(name) + ".out")).string(),
                                                (dir / (std::string(name) + ".err")).string());
  if (pid < 0) return r;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return r;
}

}  // namespace lentar::bench
