// A register of many boards taken in from a CSV file, as an operator moving
// a large fleet from a spreadsheet does: N boards (200,000 unless given on
// the command line) in 100 groups on 32 lines, imported into a new register,
// then the same file again (every board replaced), then exported.
//
// For each step it reports the wall time, the CPU time and the peak memory
// of the lentar-cli process. The goal: each step in a few seconds for
// 200,000 boards (about 6 MB of CSV).
//
// Usage: bench-fleet_import [N...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "measure_process.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;

using lentar::bench::Measure;
using lentar::bench::RunResult;

bool BenchImport(int count) {
  const fs::path dir = fs::temp_directory_path() /
                       ("bench_fleet_import_" + std::to_string(getpid()) + "_" + std::to_string(count));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string csv = (dir / "boards.csv").string();
  {
    std::ofstream out(csv, std::ios::binary);
    out << "name,groups,line,address,note\n";
    for (int i = 0; i < count; ++i)
      out << "Табло " << i << ",группа " << i % 100 << ",/dev/ttyS" << i % 32 << "," << i % 128
          << ",у входа\n";
  }
  const std::string bin = LENTAR_BIN_DIR;
  const std::string db = (dir / "fleet.sqlite").string();
  const struct {
    const char* name;
    std::vector<std::string> args;
  } steps[] = {
      {"import", {bin + "/lentar-cli", "fleet", "--db", db, "--create", "import", csv}},
      {"again", {bin + "/lentar-cli", "fleet", "--db", db, "import", csv}},
      {"export", {bin + "/lentar-cli", "fleet", "--db", db, "export"}},
  };
  bool ok = true;
  std::printf("%7d boards, %.1f MB of CSV:\n", count,
              static_cast<double>(fs::file_size(csv)) / (1024.0 * 1024.0));
  for (const auto& step : steps) {
    const RunResult r = Measure(step.args, dir, step.name);
    ok = ok && r.status == 0;
    std::printf("  %-7s %6.2f s, CPU %6.2f s, peak memory %6.1f MB%s\n", step.name, r.wallSeconds,
                r.cpuSeconds, r.peakMegabytes, r.status == 0 ? "" : " (FAILED)");
    std::fflush(stdout);
  }
  if (ok) fs::remove_all(dir);
  else std::fprintf(stderr, "bench-fleet_import: kept %s\n", dir.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {200000};
  bool ok = true;
  for (int n : counts) ok = BenchImport(n) && ok;
  return ok ? 0 : 1;
}
