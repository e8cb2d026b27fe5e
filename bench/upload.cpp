// Upload timing against lentar-boardsim on a pseudo-terminal and over
// loopback TCP.
//
// Paced: an acknowledged upload of the largest image (64,770 bytes) at
// 57,600 bit/s with the simulator delivering every byte at line speed. The
// wire-time limit is the time the bytes of every request and reply frame
// take on the line at 11 bits a byte; the upload should stay within 1.05 of
// it. Unpaced: the same upload as fast as the pseudo-terminal carries it, in
// blocks per second. Network: the same acknowledged upload to
// lentar-boardsim --listen over socket:// (raw TCP) and over rfc2217:// (telnet
// with Com Port Control), in blocks per second; the target is 2,000 a second,
// as over the pseudo-terminal.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/boardprotocol.h"
#include "support/sim_process.h"

namespace {

using namespace lentar::comm;
using lentar::comm::testing::ScopedFolder;
using lentar::comm::testing::SimProcess;
namespace fs = std::filesystem;

constexpr size_t kImageSize = kMaxImageSize;
constexpr int kBitsPerByte = 11;

// Frame bytes of the whole acknowledged upload: every block request, the end
// marker, and an acknowledgement for each.
size_t UploadWireBytes(size_t size) {
  size_t bytes = 0;
  size_t requests = 0;
  for (size_t offset = 0; offset < size; offset += kBlockSize) {
    const size_t data = std::min(kBlockSize, kMaxImageSize - offset);
    bytes += 3 + 6 + data;
    ++requests;
  }
  bytes += 3 + 6;  // end marker
  ++requests;
  bytes += requests * (3 + 4);  // "\002\001OK"
  return bytes;
}

// How the simulator is reached.
enum class Line { Pty, Raw, Rfc2217 };

// Starts the simulator with args on the line.
bool StartSimulator(SimProcess& sim, const fs::path& dir, Line line,
                    const std::vector<std::string>& args) {
  return line == Line::Pty ? sim.Start(dir, args)
                           : sim.StartListening(dir, line == Line::Rfc2217, args);
}

std::vector<uint8_t> Image() {
  std::vector<uint8_t> image(kImageSize);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  return image;
}

void RunUpload(benchmark::State& state, bool paced) {
  const ScopedFolder dir("lentar_bench", "upload");
  SimProcess sim;
  if (!StartSimulator(sim, dir.Path(), Line::Pty,
                      paced ? std::vector<std::string>{"--pace", "--buffer1", "65535"}
                            : std::vector<std::string>{"--buffer1", "65535"})) {
    state.SkipWithError("lentar-boardsim did not start");
    return;
  }
  TComPort port(true, true);
  port.Open(sim.Link());
  if (!port.IsOpen()) {
    state.SkipWithError("the port did not open");
    return;
  }
  BoardSession session(port);
  session.AddressByte = 0x0A;
  session.ReplyTimeout = 2000;
  session.RetryCount = 2;
  // Both ends to 57,600 bit/s, as the board window does before an upload.
  if (!CmdSetBaud(session, 7)) {
    state.SkipWithError("the board did not take the speed");
    return;
  }
  port.SetBaudIndex(7);
  const std::vector<uint8_t> image = Image();
  const size_t blocks = (kImageSize + kBlockSize - 1) / kBlockSize;
  for (auto _ : state) {
    if (!ClearBuffer(session, 0) ||
        !UploadAcknowledged(session, 0, image.data(), image.size(), nullptr)) {
      state.SkipWithError("the upload failed");
      return;
    }
  }
  const double wireSeconds =
      static_cast<double>(UploadWireBytes(kImageSize) * kBitsPerByte) / 57600.0;
  state.counters["blocks_per_second"] = benchmark::Counter(
      static_cast<double>(blocks * state.iterations()), benchmark::Counter::kIsRate);
  if (paced) {
    state.counters["wire_limit_s"] = wireSeconds;
    // Each iteration also clears the buffer: one more request and reply.
    const double clearSeconds = static_cast<double>((3 + 6 + 3 + 4) * kBitsPerByte) / 57600.0;
    state.counters["limit_per_upload_s"] = wireSeconds + clearSeconds;
    state.counters["ratio_to_limit"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * (wireSeconds + clearSeconds),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
  CmdSetBaud(session, 3);
}

void BM_UploadPaced57600(benchmark::State& state) { RunUpload(state, true); }
void BM_UploadUnpaced(benchmark::State& state) { RunUpload(state, false); }

// The acknowledged upload over loopback TCP, as fast as it goes.
void RunNetworkUpload(benchmark::State& state, Line line) {
  const ScopedFolder dir("lentar_bench", "upload");
  SimProcess sim;
  if (!StartSimulator(sim, dir.Path(), line, {"--buffer1", "65535"})) {
    state.SkipWithError("lentar-boardsim did not start listening");
    return;
  }
  TComPort port(true, true);
  port.Open(sim.Link());
  if (!port.IsOpen()) {
    state.SkipWithError("the network port did not open");
    return;
  }
  BoardSession session(port);
  session.AddressByte = 0x0A;
  session.ReplyTimeout = 2000;
  session.RetryCount = 2;
  const std::vector<uint8_t> image = Image();
  const size_t blocks = (kImageSize + kBlockSize - 1) / kBlockSize;
  for (auto _ : state) {
    if (!ClearBuffer(session, 0) ||
        !UploadAcknowledged(session, 0, image.data(), image.size(), nullptr)) {
      state.SkipWithError("the upload failed");
      return;
    }
  }
  state.counters["blocks_per_second"] = benchmark::Counter(
      static_cast<double>(blocks * state.iterations()), benchmark::Counter::kIsRate);
}

void BM_UploadSocket(benchmark::State& state) { RunNetworkUpload(state, Line::Raw); }
void BM_UploadRfc2217(benchmark::State& state) { RunNetworkUpload(state, Line::Rfc2217); }

BENCHMARK(BM_UploadPaced57600)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_UploadUnpaced)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_UploadSocket)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_UploadRfc2217)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

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
