// Storing a block in a loader, against lentar-boardsim --loader on a
// pseudo-terminal.
//
// Paced: a 32,768-byte image written into a 128 KiB loader at 57,600 bit/s
// the way the loader window writes it (switch to the transfer speed, the
// data in page chunks, the directory page, back to 9600), with the simulator
// delivering every byte at line speed. The wire-time limit is the time the
// bytes of every request and reply frame take on the line at 11 bits a byte,
// each at the speed it travels at, the speed switches included; the write
// should stay within 1.10 of it. Unpaced: the same as fast as the
// pseudo-terminal carries it.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "comm/loaderprotocol.h"
#include "support/sim_process.h"

namespace {

using namespace lentar::comm;
using lentar::comm::testing::ScopedFolder;
using lentar::comm::testing::SimProcess;

constexpr size_t kImageSize = 32768;
constexpr int kBitsPerByte = 11;
constexpr int kSpeedIndex = 7;  // 57,600 bit/s
constexpr size_t kFrame = 3;    // length and the two check bytes

// Seconds the bytes take on the line at rate.
double Wire(size_t bytes, int rate) { return static_cast<double>(bytes * kBitsPerByte) / rate; }

// The wire-time limit of one stored block.
double WireLimit() {
  const size_t request = kFrame + 3;         // 01 06 code
  const size_t ack = kFrame + 4;             // 02 01 O K
  const size_t switchRequest = request + 1;  // the rate index
  double seconds = 0;
  // Up: the switch at 9600, then the connect handshake at the new speed.
  seconds += Wire(switchRequest + ack, 9600);
  seconds += Wire(request + 13 + kFrame + 7, 57600);
  // The data, then the directory page: one request and one acknowledgement
  // per 128-byte page, and between two acknowledgements (and before the way
  // back) a one-byte read, so that no acknowledgement passes for another's.
  const size_t pages = kImageSize / 128 + 1;
  const size_t separatingRead = (request + 4) + (kFrame + 2 + 1);
  seconds += Wire(pages * (request + 3 + 128 + ack + separatingRead), 57600);
  // Back: the switch is sent and acknowledged at the transfer speed.
  seconds += Wire(switchRequest + ack, 57600);
  return seconds;
}

void RunWrite(benchmark::State& state, bool paced) {
  const ScopedFolder dir("lentar_bench", "loader");
  SimProcess sim;
  std::vector<std::string> args = {"--loader", "--memory-type", "3"};
  if (paced) args.push_back("--pace");
  if (!sim.Start(dir.Path(), args)) {
    state.SkipWithError("lentar-boardsim did not start");
    return;
  }
  TComPort port(true, true);
  port.Open(sim.Link());
  port.SetBaudRate(9600);
  LoaderSession session(port);
  LoaderInfo info;
  if (!port.IsOpen() || !loader::CmdConnect(session) || !ReadLoaderInfo(session, info)) {
    state.SkipWithError("the loader does not answer");
    return;
  }
  std::vector<uint8_t> image(kImageSize);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  LoaderDirectory directory{};
  WriteEntry(directory, 0, {DataAreaStart, static_cast<uint16_t>(kImageSize), "bench", 1});
  for (auto _ : state) {
    const bool ok = SetLoaderSpeed(session, kSpeedIndex) &&
                    WriteMemory(session, DataAreaStart, image.size(), image.data()) &&
                    WriteDirectoryPage(session, 0, directory) &&
                    SetLoaderSpeed(session, kLoaderSpeedBack);
    if (!ok) {
      state.SkipWithError("the write failed");
      return;
    }
  }
  state.counters["bytes_per_second"] = benchmark::Counter(
      static_cast<double>(kImageSize * state.iterations()), benchmark::Counter::kIsRate);
  if (paced) {
    state.counters["wire_limit_s"] = WireLimit();
    state.counters["ratio_to_limit"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * WireLimit(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
}

void BM_LoaderWritePaced57600(benchmark::State& state) { RunWrite(state, true); }
void BM_LoaderWriteUnpaced(benchmark::State& state) { RunWrite(state, false); }

BENCHMARK(BM_LoaderWritePaced57600)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_LoaderWriteUnpaced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  // The serial line's thread runs a Qt event loop.
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
