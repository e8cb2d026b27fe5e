// lentar-boardsim: a simulated LED board or loader on a pseudo-terminal.
//
// The program (or a test) opens the terminal's slave side like any serial
// port; the simulator reads link frames from the master side and answers them
// as a board does. Faults can be injected (requests ignored, replies damaged,
// replies delayed), and with --pace every byte takes the time it takes on a
// real line at the current bit rate, so upload timings are those of a board.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "comm/linkframe.h"
#include "core/atomicfile.h"
#include "simboard.h"
#include "simloader.h"

namespace {

using lentar::boardsim::SimBoard;
using lentar::boardsim::SimLoader;
using lentar::boardsim::SimOptions;
using lentar::comm::BuildFrame;
using lentar::comm::FrameAssembler;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

constexpr int kRates[9] = {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200};
// A byte on the line: start bit, 8 data bits, 2 stop bits.
constexpr int kBitsPerByte = 11;
// The board's own inter-byte gap that ends a broken frame, in ms.
constexpr int64_t kGapMs = 500;

struct Options {
  SimOptions board;
  std::string link;
  bool pace = false;
  double drop = 0;
  double corrupt = 0;
  int delayMs = 0;
  uint64_t seed = 1;
  std::string saveDir;
  bool verbose = false;
  // A loader instead of a board.
  bool loader = false;
  int memoryType = 3;
  std::string memoryFile;
};

void Usage(std::FILE* out) {
  std::fputs(
      "Usage: lentar-boardsim [--link PATH] [--buffer1 BYTES] [--buffer2 BYTES]\n"
      "                       [--address N] [--password TEXT] [--pace] [--drop P]\n"
      "                       [--corrupt P] [--delay-ms N] [--seed N] [--save-dir DIR] [-v]\n"
      "       lentar-boardsim --loader [--memory-type 0|1|2|3] [--memory-file FILE]\n"
      "                       [--link PATH] [--pace] [--drop P] [--corrupt P] [--delay-ms N]\n"
      "                       [--seed N] [-v]\n"
      "\n"
      "A simulated LED board, or with --loader a simulated loader, on a\n"
      "pseudo-terminal. Prints the terminal's path on the\n"
      "first line of standard output, or links it at PATH with --link. Runs until\n"
      "killed; exits cleanly on SIGTERM.\n"
      "\n"
      "  --link PATH      symbolic link to the pseudo-terminal\n"
      "  --buffer1 BYTES  capacity of buffer 1 (default 32000, at most 65535)\n"
      "  --buffer2 BYTES  capacity of buffer 2 (default 32000, at most 65535)\n"
      "  --address N      answer only address N, 0..127, and requests without an\n"
      "                   address (default: every address)\n"
      "  --password TEXT  board password, up to 8 bytes (default: none)\n"
      "  --pace           deliver every byte at the current bit rate (11 bits a byte)\n"
      "  --drop P         fraction of received frames ignored, 0..1\n"
      "  --corrupt P      fraction of received frames answered with a damaged frame\n"
      "  --delay-ms N     delay before every reply\n"
      "  --seed N         seed of the fault injection (default 1)\n"
      "  --save-dir DIR   write each completed upload as DIR/upload-N.bin\n"
      "  --loader         answer as a loader instead of a board\n"
      "  --memory-type T  the loader's memory: 1 = 32 KiB, 2 = 64 KiB, 3 = 128 KiB\n"
      "                   (default), 0 = none\n"
      "  --memory-file F  the loader's memory starts as the file's bytes (erased\n"
      "                   memory when there is no such file) and is written back to\n"
      "                   it on exit, so the loader keeps its blocks between runs\n"
      "  -v               log every command received to standard error\n",
      out);
}

bool ParseLong(const char* text, long long lo, long long hi, long long& value) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  value = v;
  return true;
}

bool ParseFraction(const char* text, double& value) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= 0 && v <= 1)) return false;
  value = v;
  return true;
}

bool BadValue(const std::string& option, const char* value) {
  std::fprintf(stderr, "lentar-boardsim: bad value for %s: '%s'\n", option.c_str(), value);
  return false;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "lentar-boardsim: %s needs a value\n", a.c_str());
        return nullptr;
      }
      return argv[++i];
    };
    long long n = 0;
    const char* v = nullptr;
    if (a == "-h" || a == "--help") {
      Usage(stdout);
      std::exit(0);
    } else if (a == "--pace") {
      o.pace = true;
    } else if (a == "-v") {
      o.verbose = true;
    } else if (a == "--loader") {
      o.loader = true;
    } else if (!(v = value())) {
      return false;
    } else if (a == "--link") {
      o.link = v;
    } else if (a == "--buffer1" || a == "--buffer2") {
      if (!ParseLong(v, 1, 65535, n)) return BadValue(a, v);
      o.board.capacity[a == "--buffer1" ? 0 : 1] = static_cast<int>(n);
    } else if (a == "--address") {
      if (!ParseLong(v, 0, 127, n)) return BadValue(a, v);
      o.board.address = static_cast<int>(n);
    } else if (a == "--password") {
      o.board.password = v;
      if (o.board.password.size() > 8) o.board.password.resize(8);
    } else if (a == "--drop") {
      if (!ParseFraction(v, o.drop)) return BadValue(a, v);
    } else if (a == "--corrupt") {
      if (!ParseFraction(v, o.corrupt)) return BadValue(a, v);
    } else if (a == "--delay-ms") {
      if (!ParseLong(v, 0, 600000, n)) return BadValue(a, v);
      o.delayMs = static_cast<int>(n);
    } else if (a == "--seed") {
      if (!ParseLong(v, 0, INT64_MAX, n)) return BadValue(a, v);
      o.seed = static_cast<uint64_t>(n);
    } else if (a == "--save-dir") {
      o.saveDir = v;
    } else if (a == "--memory-type") {
      if (!ParseLong(v, 0, 3, n)) return BadValue(a, v);
      o.memoryType = static_cast<int>(n);
    } else if (a == "--memory-file") {
      o.memoryFile = v;
    } else {
      std::fprintf(stderr, "lentar-boardsim: unknown option %s\n", a.c_str());
      return false;
    }
  }
  return true;
}

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void SleepUntilNs(int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && !g_stop) {
  }
}

class Simulator {
 public:
  Simulator(const Options& o, int master, std::vector<uint8_t> memory)
      : o_(o), master_(master), board_(o.board), rng_(o.seed) {
    if (o_.loader) loader_.emplace(o_.memoryType, memory);
    if (!o_.saveDir.empty()) {
      board_.SetUploadHook([this](int, const std::vector<uint8_t>& data) {
        const std::string path = o_.saveDir + "/upload-" + std::to_string(++uploads_) + ".bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
      });
    }
  }

  // The loader's memory, for --memory-file.
  const std::vector<uint8_t>* LoaderMemory() const {
    return loader_ ? &loader_->Memory() : nullptr;
  }

  void Run() {
    uint8_t chunk[4096];
    while (!g_stop) {
      pollfd p{master_, POLLIN, 0};
      const int r = poll(&p, 1, 50);
      if (r <= 0) continue;
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0) {
        // No one holds the terminal open at the moment.
        usleep(10000);
        continue;
      }
      const int64_t readAt = NowNs();
      for (ssize_t i = 0; i < n && !g_stop; ++i) {
        // With pacing, each byte arrives one byte time after the previous.
        int64_t at = readAt;
        if (o_.pace) {
          rxFreeAt_ = std::max(rxFreeAt_, readAt) + ByteNs();
          at = rxFreeAt_;
        }
        if (assembler_.Feed(chunk[i], at / 1000000, kGapMs) != FrameAssembler::Outcome::Accepted)
          continue;
        std::vector<uint8_t> payload(256);
        size_t len = 0;
        assembler_.Take(payload.data(), payload.size(), len);
        payload.resize(len);
        if (o_.pace) SleepUntilNs(at);
        OnFrame(payload);
      }
    }
  }

 private:
  int64_t ByteNs() const { return int64_t{1000000000} * kBitsPerByte / kRates[rateIndex_]; }

  double Chance() { return static_cast<double>(rng_() >> 11) * 0x1.0p-53; }

  void OnFrame(const std::vector<uint8_t>& payload) {
    if (o_.verbose) {
      const uint8_t code = payload.size() > 2 ? payload[2] : 0;
      if (o_.loader && (code == 0x15 || code == 0x16) && payload.size() >= 6) {
        std::fprintf(stderr, "loadersim: command 0x%02X address %d data %zu\n", code,
                     payload[3] | payload[4] << 8 | payload[5] << 16, payload.size() - 6);
      } else if ((code == 0x2C || code == 0x4F) && payload.size() >= 6) {
        std::fprintf(stderr, "boardsim: command 0x%02X buffer %d offset %d data %zu\n", code,
                     payload[3], payload[4] | payload[5] << 8, payload.size() - 6);
      } else {
        std::fprintf(stderr, "boardsim: command 0x%02X, %zu bytes\n", code, payload.size());
      }
    }
    const bool drop = Chance() < o_.drop;
    const bool corrupt = Chance() < o_.corrupt;
    if (drop) {
      if (o_.verbose) std::fputs("boardsim: dropped\n", stderr);
      return;
    }
    int newRate = -1;
    const auto reply = loader_ ? loader_->Handle(payload, newRate) : board_.Handle(payload, newRate);
    if (!reply) return;
    std::vector<uint8_t> frame = BuildFrame(*reply);
    if (corrupt && frame.size() > 3) {
      frame.back() ^= 0x5A;  // both checks fail
      if (o_.verbose) std::fputs("boardsim: reply damaged\n", stderr);
    }
    if (o_.delayMs > 0) usleep(static_cast<useconds_t>(o_.delayMs) * 1000);
    Send(frame);
    if (newRate >= 0) {
      rateIndex_ = newRate;
      rxFreeAt_ = 0;
    }
  }

  void Send(const std::vector<uint8_t>& frame) {
    if (!o_.pace) {
      WriteAll(frame.data(), frame.size());
      return;
    }
    int64_t at = std::max(NowNs(), rxFreeAt_);
    for (uint8_t b : frame) {
      at += ByteNs();
      SleepUntilNs(at);
      WriteAll(&b, 1);
    }
  }

  void WriteAll(const uint8_t* p, size_t n) {
    while (n > 0 && !g_stop) {
      const ssize_t w = write(master_, p, n);
      if (w < 0) {
        if (errno == EINTR || errno == EAGAIN) {
          usleep(1000);
          continue;
        }
        return;
      }
      p += w;
      n -= static_cast<size_t>(w);
    }
  }

  const Options& o_;
  int master_;
  SimBoard board_;
  std::optional<SimLoader> loader_;
  FrameAssembler assembler_;
  std::mt19937_64 rng_;
  int rateIndex_ = 3;
  int64_t rxFreeAt_ = 0;
  int uploads_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    Usage(stderr);
    return 2;
  }
  std::vector<uint8_t> memory;
  if (o.loader && !o.memoryFile.empty()) {
    std::error_code ec;
    std::string bytes;
    if (std::filesystem::exists(o.memoryFile, ec) && !lentar::ReadWholeFile(o.memoryFile, bytes)) {
      std::fprintf(stderr, "lentar-boardsim: cannot read '%s'\n", o.memoryFile.c_str());
      return 1;
    }
    memory.assign(bytes.begin(), bytes.end());
  }
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("lentar-boardsim: pseudo-terminal");
    return 1;
  }
  const char* slaveName = ptsname(master);
  if (!slaveName) {
    std::perror("lentar-boardsim: ptsname");
    return 1;
  }
  const std::string slavePath = slaveName;
  // Hold the slave side open ourselves, so that the master never sees a
  // hang-up while the program closes and reopens the port; raw mode so no
  // byte is translated.
  const int slaveHold = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  if (slaveHold >= 0 && tcgetattr(slaveHold, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slaveHold, TCSANOW, &tio);
  }
  if (tcgetattr(master, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
  }

  if (!o.link.empty()) {
    std::error_code ec;
    std::filesystem::remove(o.link, ec);
    if (symlink(slavePath.c_str(), o.link.c_str()) != 0) {
      std::perror("lentar-boardsim: --link");
      return 1;
    }
  } else {
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);
  }

  Simulator sim(o, master, std::move(memory));
  sim.Run();

  int status = 0;
  if (const auto* kept = sim.LoaderMemory(); kept && !o.memoryFile.empty()) {
    if (!lentar::WriteFileAtomically(
            o.memoryFile, std::string_view(reinterpret_cast<const char*>(kept->data()), kept->size()))) {
      std::fprintf(stderr, "lentar-boardsim: cannot write '%s'\n", o.memoryFile.c_str());
      status = 1;
    }
  }

  if (!o.link.empty()) unlink(o.link.c_str());
  if (slaveHold >= 0) close(slaveHold);
  close(master);
  return status;
}
