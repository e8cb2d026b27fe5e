// lentar-boardsim: a simulated LED board or loader on a pseudo-terminal or on
// a TCP port, the board optionally behind a simulated modem.
//
// The program (or a test) opens the terminal's slave side like any serial
// port, or connects to the TCP port as to a serial server (raw, or telnet
// with Com Port Control); the simulator assembles link frames from what it
// receives and answers them as a board does. Faults can be injected (requests
// ignored, replies damaged, replies delayed), and with --pace every byte takes
// the time it takes on a real line at the current bit rate, so upload timings
// are those of a board.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/atomicfile.h"
#include "core/paths.h"
#include "links.h"
#include "simboard.h"
#include "simframe.h"
#include "simloader.h"
#include "simmodem.h"

namespace {

using lentar::boardsim::DialResult;
using lentar::boardsim::FrameReader;
using lentar::boardsim::Link;
using lentar::boardsim::Listener;
using lentar::boardsim::ModemOptions;
using lentar::boardsim::PtyLink;
using lentar::boardsim::Reply;
using lentar::boardsim::SimBoard;
using lentar::boardsim::SimLoader;
using lentar::boardsim::SimModem;
using lentar::boardsim::SimOptions;
using lentar::boardsim::TcpLink;
using lentar::boardsim::WrapFrame;

// Set by SIGTERM or SIGINT; every line's thread watches it.
std::atomic<int> g_stop{0};
static_assert(std::atomic<int>::is_always_lock_free);
void OnSignal(int) { g_stop = 1; }

constexpr int kRates[9] = {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200};
// A byte on the line: start bit, 8 data bits, 2 stop bits.
constexpr int kBitsPerByte = 11;
// The board's own inter-byte gap that ends a broken frame, in ms.
constexpr int64_t kGapMs = 500;

struct Options {
  SimOptions board;
  std::string link;
  std::string listen;
  bool rfc2217 = false;
  std::string portFile;
  bool modem = false;
  ModemOptions modemOptions;
  bool pace = false;
  double drop = 0;
  double corrupt = 0;
  int delayMs = 0;
  uint64_t seed = 1;
  std::string saveDir;
  std::string boardFile;  // the board's memory, kept between runs
  bool verbose = false;
  // A loader instead of a board.
  bool loader = false;
  int memoryType = 3;
  bool readOnly = false;
  std::string memoryFile;
  // Requests to ignore: command code and which one of them (1 = the first
  // received, 0 = every one).
  std::vector<std::pair<int, long long>> ignore;
  // A fleet: count lines (TCP ports) served at once, each with the boards of
  // addresses on it (one board answering every address when empty), the
  // last failBoards boards of them all silent.
  int count = 1;
  std::vector<int> addresses;
  int failBoards = 0;
};

void Usage(std::FILE* out) {
  std::fputs(
      "Usage: lentar-boardsim [--link PATH | --listen HOST:PORT [--rfc2217] [--port-file PATH]]\n"
      "                       [--buffer1 BYTES] [--buffer2 BYTES] [--address N]\n"
      "                       [--password TEXT] [--pace] [--drop P] [--corrupt P]\n"
      "                       [--delay-ms N] [--seed N] [--ignore CODE[@N]] [--save-dir DIR]\n"
      "                       [--board-file FILE] [-v]\n"
      "                       [--count N] [--addresses A,B,...] [--fail-boards K]\n"
      "                       [--modem [--dial-result RESULT] [--init-error]\n"
      "                        [--connect-delay-ms N] [--modem-password TEXT]\n"
      "                        [--drop-call-after N] [--call-lasts-ms N]]\n"
      "       lentar-boardsim --loader [--memory-type 0|1|2|3] [--memory-file FILE] [--read-only]\n"
      "                       [--link PATH | --listen HOST:PORT [--rfc2217]] [--pace]\n"
      "                       [--drop P] [--corrupt P] [--delay-ms N] [--seed N]\n"
      "                       [--ignore CODE[@N]] [-v]\n"
      "\n"
      "A simulated LED board, or with --loader a simulated loader, on a\n"
      "pseudo-terminal or a TCP port. On a terminal it prints the terminal's path on\n"
      "the first line of standard output, or links it at PATH with --link. Runs\n"
      "until killed; exits cleanly on SIGTERM.\n"
      "\n"
      "  --link PATH      symbolic link to the pseudo-terminal\n"
      "  --listen HOST:PORT  serve the board over TCP instead, one client at a time\n"
      "                   (the next may connect when it leaves); PORT 0 takes a\n"
      "                   free port. Prints the name a program opens\n"
      "                   (socket://HOST:PORT or rfc2217://HOST:PORT) on the first\n"
      "                   line of standard output, or writes it to --port-file PATH\n"
      "  --rfc2217        speak telnet with Com Port Control (RFC 2217), as a serial\n"
      "                   server does: the client sets the bit rate and drives DTR,\n"
      "                   the simulator reports DSR\n"
      "  --buffer1 BYTES  capacity of buffer 1 (default 32000, at most 65535)\n"
      "  --buffer2 BYTES  capacity of buffer 2 (default 32000, at most 65535)\n"
      "  --address N      answer only address N, 0..127, and requests without an\n"
      "                   address (default: every address)\n"
      "  --password TEXT  board password, up to 8 characters (default: none)\n"
      "  --pace           deliver every byte at the current bit rate (11 bits a byte);\n"
      "                   over RFC 2217 the rate the client set, otherwise the\n"
      "                   board's own speed\n"
      "  --drop P         fraction of received frames ignored, 0..1\n"
      "  --corrupt P      fraction of received frames answered with a damaged frame\n"
      "  --delay-ms N     delay before every reply\n"
      "  --seed N         seed of the fault injection (default 1)\n"
      "  --ignore CODE[@N]  ignore the Nth request with command code CODE (hex, as\n"
      "                   0x34), or every one without @N; may be repeated\n"
      "  --save-dir DIR   write each completed upload as DIR/upload-N.bin\n"
      "  --board-file F   the board's memory (both buffers, the buffer on show, the\n"
      "                   block map of a streamed upload) starts from the file and is\n"
      "                   written to it before every reply, so a killed simulator\n"
      "                   comes back holding what it acknowledged, as a board does\n"
      "                   after a power cut\n"
      "  --count N        serve N lines at once, on N consecutive TCP ports from\n"
      "                   --listen's PORT (each on a free port of its own with PORT\n"
      "                   0), each line with its own board (memory, clock,\n"
      "                   pacing); --port-file then lists their names, one a line\n"
      "  --addresses A,B,...  several addressed boards on each line, as on an\n"
      "                   RS-485 bus: each answers only requests to its own address\n"
      "                   (a request without an address is answered by the first);\n"
      "                   with -v each logged command names its address\n"
      "  --fail-boards K  the last K boards (counted line by line, address by\n"
      "                   address) are unreachable: they never answer\n"
      "                   Fault options apply to every board alike. With several\n"
      "                   boards --save-dir DIR keeps board I's uploads in\n"
      "                   DIR/board-I (I from 1, counted as for --fail-boards)\n"
      "  --loader         answer as a loader instead of a board\n"
      "  --memory-type T  the loader's memory: 1 = 32 KiB, 2 = 64 KiB, 3 = 128 KiB\n"
      "                   (default), 0 = no data memory (every memory read\n"
      "                   and write refused)\n"
      "  --memory-file F  the loader's memory starts as the file's bytes (erased\n"
      "                   memory when there is no such file) and is written back to\n"
      "                   it on exit, so the loader keeps its blocks between runs\n"
      "  --read-only      the loader refuses every memory write\n"
      "  -v               log every command (and modem command line) received to\n"
      "                   standard error\n"
      "\n"
      "Modem (a Hayes modem in front of the board):\n"
      "  --modem          AT commands with echo, ATD dials; the call connects with\n"
      "                   \"CONNECT 9600\" and raises DSR; dropping DTR hangs up\n"
      "  --dial-result R  connect (default), busy, no-answer, no-carrier, no-dialtone\n"
      "  --init-error     answer ERROR to every command line but ATZ, ATD and ATH\n"
      "  --connect-delay-ms N  time from ATD to the result (default 2000)\n"
      "  --modem-password TEXT  password a modem call must give (default: the board\n"
      "                   password)\n"
      "  --drop-call-after N  lose the call (DSR falls, NO CARRIER) once N bytes of\n"
      "                   it have reached the board\n"
      "  --call-lasts-ms N  lose the call (DSR falls, NO CARRIER) N ms after it came\n"
      "                   up\n"
      "  DSR and DTR travel only over --listen with --rfc2217. A pseudo-terminal has\n"
      "  no modem lines: there the AT dialogue and the call work, but the program\n"
      "  cannot see DSR and cannot hang up by dropping DTR.\n",
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

bool ParseDialResult(const std::string& text, DialResult& result) {
  static const struct {
    const char* name;
    DialResult result;
  } kResults[] = {{"connect", DialResult::Connect},
                  {"busy", DialResult::Busy},
                  {"no-answer", DialResult::NoAnswer},
                  {"no-carrier", DialResult::NoCarrier},
                  {"no-dialtone", DialResult::NoDialTone}};
  for (const auto& r : kResults) {
    if (text == r.name) {
      result = r.result;
      return true;
    }
  }
  return false;
}

bool BadValue(const std::string& option, const char* value) {
  std::fprintf(stderr, "lentar-boardsim: bad value for %s: '%s'\n", option.c_str(), value);
  return false;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  bool modemOption = false;
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
    } else if (a == "--version") {
      std::printf("lentar-boardsim %s\n", LENTAR_VERSION);
      std::exit(0);
    } else if (a == "--pace") {
      o.pace = true;
    } else if (a == "-v") {
      o.verbose = true;
    } else if (a == "--rfc2217") {
      o.rfc2217 = true;
    } else if (a == "--modem") {
      o.modem = true;
    } else if (a == "--loader") {
      o.loader = true;
    } else if (a == "--init-error") {
      o.modemOptions.initError = true;
      modemOption = true;
    } else if (a == "--read-only") {
      o.readOnly = true;
    } else if (!(v = value())) {
      return false;
    } else if (a == "--link") {
      o.link = v;
    } else if (a == "--listen") {
      o.listen = v;
    } else if (a == "--port-file") {
      o.portFile = v;
    } else if (a == "--buffer1" || a == "--buffer2") {
      if (!ParseLong(v, 1, 65535, n)) return BadValue(a, v);
      o.board.capacity[a == "--buffer1" ? 0 : 1] = static_cast<int>(n);
    } else if (a == "--address") {
      if (!ParseLong(v, 0, 127, n)) return BadValue(a, v);
      o.board.address = static_cast<int>(n);
    } else if (a == "--password") {
      // Passwords are board text: Windows-1251, as lentar-cli sends them.
      o.board.password = lentar::FromNativeArgument(v);
      if (o.board.password.size() > 8) o.board.password.resize(8);
    } else if (a == "--modem-password") {
      std::string password = lentar::FromNativeArgument(v);
      if (password.size() > 8) password.resize(8);
      o.board.modemPassword = password;
      modemOption = true;
    } else if (a == "--dial-result") {
      if (!ParseDialResult(v, o.modemOptions.dialResult)) return BadValue(a, v);
      modemOption = true;
    } else if (a == "--connect-delay-ms") {
      if (!ParseLong(v, 0, 600000, n)) return BadValue(a, v);
      o.modemOptions.connectDelayMs = static_cast<int>(n);
      modemOption = true;
    } else if (a == "--drop-call-after") {
      if (!ParseLong(v, 0, 100000000, n)) return BadValue(a, v);
      o.modemOptions.dropCallAfter = n;
      modemOption = true;
    } else if (a == "--call-lasts-ms") {
      if (!ParseLong(v, 0, 86400000, n)) return BadValue(a, v);
      o.modemOptions.callLastsMs = static_cast<int>(n);
      modemOption = true;
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
    } else if (a == "--ignore") {
      const std::string text = v;
      const size_t at = text.find('@');
      char* end = nullptr;
      const long code = std::strtol(text.substr(0, at).c_str(), &end, 16);
      if (end == nullptr || *end != '\0' || at == 0 || code < 0 || code > 255) return BadValue(a, v);
      n = 0;
      if (at != std::string::npos && !ParseLong(text.c_str() + at + 1, 1, INT64_MAX, n))
        return BadValue(a, v);
      o.ignore.emplace_back(static_cast<int>(code), n);
    } else if (a == "--count") {
      if (!ParseLong(v, 1, 10000, n)) return BadValue(a, v);
      o.count = static_cast<int>(n);
    } else if (a == "--addresses") {
      o.addresses.clear();
      std::string text = v;
      size_t at = 0;
      while (true) {
        const size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (!ParseLong(item.c_str(), 0, 127, n) ||
            std::find(o.addresses.begin(), o.addresses.end(), n) != o.addresses.end())
          return BadValue(a, v);
        o.addresses.push_back(static_cast<int>(n));
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
    } else if (a == "--fail-boards") {
      if (!ParseLong(v, 0, 1000000, n)) return BadValue(a, v);
      o.failBoards = static_cast<int>(n);
    } else if (a == "--save-dir") {
      o.saveDir = v;
    } else if (a == "--board-file") {
      o.boardFile = v;
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
  if (o.modem && o.loader) {
    std::fputs("lentar-boardsim: the modem stands in front of a board, not a loader\n", stderr);
    return false;
  }
  if (modemOption && !o.modem) {
    std::fputs("lentar-boardsim: the modem options go with --modem\n", stderr);
    return false;
  }
  if (!o.listen.empty() && !o.link.empty()) {
    std::fputs("lentar-boardsim: --link is for the pseudo-terminal, --listen for TCP\n", stderr);
    return false;
  }
  const bool fleet = o.count > 1 || o.addresses.size() > 1;
  if (fleet && o.loader) {
    std::fputs("lentar-boardsim: --count and --addresses are for boards\n", stderr);
    return false;
  }
  if (o.count > 1 && o.listen.empty()) {
    std::fputs("lentar-boardsim: --count goes with --listen\n", stderr);
    return false;
  }
  if (!o.addresses.empty() && o.board.address >= 0) {
    std::fputs("lentar-boardsim: --address or --addresses, not both\n", stderr);
    return false;
  }
  if (fleet && !o.boardFile.empty()) {
    std::fputs("lentar-boardsim: --board-file keeps one board; not with --count or --addresses\n",
               stderr);
    return false;
  }
  if (o.listen.empty() && (o.rfc2217 || !o.portFile.empty())) {
    std::fputs("lentar-boardsim: --rfc2217 and --port-file go with --listen\n", stderr);
    return false;
  }
  return true;
}

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

int64_t NowMs() { return NowNs() / 1000000; }

void SleepUntilNs(int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && !g_stop) {
  }
}

// The highest N of the upload-N.bin files already in dir (0 when none), so a
// simulator started again on the same folder numbers on instead of
// overwriting what an earlier run saved.
int HighestUploadNumber(const std::string& dir) {
  int highest = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    constexpr std::string_view head = "upload-", tail = ".bin";
    if (name.size() <= head.size() + tail.size() || name.rfind(head, 0) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    const std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    highest = std::max(highest, std::stoi(digits));
  }
  return highest;
}

// The board (and the modem in front of it), or the loader, behind one link
// at a time.
class Simulator {
 public:
  // The boards of one line: numbers first.. of the whole simulator, the
  // line's number line (for the log); one board unless --addresses.
  Simulator(const Options& o, std::vector<uint8_t> memory, int first = 1, int line = 0)
      : o_(o), rng_(o.seed) {
    const int total = o.count * static_cast<int>(std::max<size_t>(o.addresses.size(), 1));
    const bool several = total > 1;
    if (o.count > 1) who_ = "boardsim line " + std::to_string(line + 1) + ": ";
    const size_t perLine = std::max<size_t>(o.addresses.size(), 1);
    for (size_t k = 0; k < perLine; ++k) {
      SimOptions board = o.board;
      if (!o.addresses.empty()) board.address = o.addresses[k];
      const int number = first + static_cast<int>(k);
      boards_.push_back(std::make_unique<SimBoard>(board));
      silent_.push_back(number > total - o.failBoards);
      if (!o_.saveDir.empty()) {
        std::string dir = o_.saveDir;
        if (several) {
          dir += "/board-" + std::to_string(number);
          std::error_code ec;
          std::filesystem::create_directories(dir, ec);
        }
        saveDirs_.push_back(dir);
        uploads_.push_back(HighestUploadNumber(dir));
        boards_.back()->SetUploadHook([this, k](int, const std::vector<uint8_t>& data) {
          const std::string path = saveDirs_[k] + "/upload-" + std::to_string(++uploads_[k]) + ".bin";
          std::ofstream(path, std::ios::binary)
              .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        });
      }
    }
    if (o_.loader) {
      loader_.emplace(o_.memoryType, memory);
      loader_->SetReadOnly(o_.readOnly);
      if (!o_.memoryFile.empty()) OpenMemoryFile();
    }
    if (!o_.loader && !o_.boardFile.empty()) LoadBoardFile();
    if (o_.modem) {
      modem_ = std::make_unique<SimModem>(
          o_.modemOptions,
          [this](const uint8_t* bytes, size_t n) {
            if (link_) link_->Write(bytes, n);
          },
          [this](const uint8_t* bytes, size_t n) { FeedBoard(bytes, n, NowNs()); });
      if (o_.verbose)
        modem_->SetCommandHook([this](const std::string& line) {
          std::fprintf(stderr, "%smodem command %s\n", who_.c_str(), line.c_str());
        });
      modem_->SetHangUpHook([this] {
        for (auto& board : boards_) board->EndModemCall();
        if (o_.verbose) std::fprintf(stderr, "%smodem hung up\n", who_.c_str());
      });
    }
  }

  ~Simulator() {
    if (memoryFd_ >= 0) close(memoryFd_);
  }

  // The loader's memory, for --memory-file.
  const std::vector<uint8_t>* LoaderMemory() const {
    return loader_ ? &loader_->Memory() : nullptr;
  }

  // Serves the link until the computer leaves or a stop is asked. With the
  // listener given, another client that connects meanwhile is refused.
  void Serve(Link& link, Listener* listener = nullptr) {
    link_ = &link;
    rxFreeAt_ = 0;
    // Nothing of a frame an earlier client left half sent belongs to this one.
    frames_ = FrameReader{kGapMs};
    std::vector<uint8_t> data;
    while (!g_stop) {
      pollfd p[2] = {{link.Fd(), POLLIN, 0}, {listener ? listener->Fd() : -1, POLLIN, 0}};
      int timeoutMs = 50;
      if (modem_ && modem_->NextEventMs() >= 0)
        timeoutMs = static_cast<int>(std::clamp<int64_t>(modem_->NextEventMs() - NowMs(), 0, 50));
      const int r = poll(p, listener ? 2 : 1, timeoutMs);
      if (r > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR))) {
        data.clear();
        const bool alive = link.Read(data);
        if (!data.empty()) FromComputer(data.data(), data.size(), NowNs());
        // A newcomer waiting meanwhile is served next, as the first client.
        if (!alive) break;
      }
      if (r > 0 && listener && (p[1].revents & POLLIN)) {
        // A serial line has one computer at a time: a second client is
        // turned away, and nothing it sent ever reaches the board. A client
        // that closed and connected again at once is no second client: the
        // end of its old connection may still be on its way, so the
        // newcomer is refused only while the current client stays quiet.
        pollfd current{link.Fd(), POLLIN, 0};
        if (poll(&current, 1, 200) == 0) {
          const int other = listener->Accept();
          if (other >= 0) {
            close(other);
            if (o_.verbose) std::fprintf(stderr, "%ssecond client refused\n", who_.c_str());
          }
        }
      }
      if (modem_) {
        modem_->SetDtr(link.Dtr(), NowMs());
        modem_->Poll(NowMs());
        link.SetDsr(modem_->Dsr());
      }
    }
    // The computer has gone: so has DTR.
    if (modem_) {
      modem_->SetDtr(false, NowMs());
      modem_->SetDtr(true, NowMs());
    }
    link_ = nullptr;
  }

 private:
  int64_t ByteNs() const {
    const int rate = link_ && link_->BaudRate() > 0 ? link_->BaudRate() : kRates[rateIndex_];
    return int64_t{1000000000} * kBitsPerByte / rate;
  }

  double Chance() { return static_cast<double>(rng_() >> 11) * 0x1.0p-53; }

  void FromComputer(const uint8_t* bytes, size_t n, int64_t readAt) {
    if (modem_) {
      modem_->SetDtr(link_->Dtr(), readAt / 1000000);
      modem_->FromComputer(bytes, n, readAt / 1000000);
    } else {
      FeedBoard(bytes, n, readAt);
    }
  }

  void FeedBoard(const uint8_t* bytes, size_t n, int64_t readAt) {
    for (size_t i = 0; i < n && !g_stop; ++i) {
      // With pacing, each byte arrives one byte time after the previous.
      int64_t at = readAt;
      if (o_.pace) {
        rxFreeAt_ = std::max(rxFreeAt_, readAt) + ByteNs();
        at = rxFreeAt_;
      }
      auto payload = frames_.Feed(bytes[i], at / 1000000);
      if (!payload) continue;
      if (o_.pace) SleepUntilNs(at);
      OnFrame(*payload);
    }
  }

  void OnFrame(const std::vector<uint8_t>& payload) {
    if (o_.verbose) {
      const uint8_t code = payload.size() > 2 ? payload[2] : 0;
      // On a bus every board hears every request: the log names whose it is.
      std::string who = who_;
      if (!o_.addresses.empty() && payload.size() > 1)
        who += payload[1] & 0x80 ? "address " + std::to_string(payload[1] & 0x7F) + ": "
                                 : std::string("no address: ");
      if (o_.loader && (code == 0x15 || code == 0x16) && payload.size() >= 6) {
        std::fprintf(stderr, "loadersim: command 0x%02X address %d data %zu\n", code,
                     payload[3] | payload[4] << 8 | payload[5] << 16, payload.size() - 6);
      } else if ((code == 0x2C || code == 0x4F) && payload.size() >= 6) {
        std::fprintf(stderr, "%scommand 0x%02X buffer %d offset %d data %zu\n", who.c_str(), code,
                     payload[3], payload[4] | payload[5] << 8, payload.size() - 6);
      } else {
        std::fprintf(stderr, "%scommand 0x%02X, %zu bytes\n", who.c_str(), code, payload.size());
      }
    }
    bool drop = Chance() < o_.drop;
    const bool corrupt = Chance() < o_.corrupt;
    if (payload.size() > 2) {
      const long long nth = ++received_[payload[2]];
      for (const auto& [code, which] : o_.ignore)
        if (code == payload[2] && (which == 0 || which == nth)) drop = true;
    }
    if (drop) {
      if (o_.verbose) std::fprintf(stderr, "%sdropped\n", who_.c_str());
      return;
    }
    int newRate = -1;
    Reply reply;
    if (loader_) {
      reply = loader_->Handle(payload, newRate);
    } else {
      // Every board on the line hears the request; one answers (the others
      // are silent for another board's address, and a request without an
      // address is answered by the first board only: two answers at once
      // would be garbled on a real bus). An unreachable board hears nothing.
      for (size_t k = 0; k < boards_.size(); ++k) {
        if (silent_[k]) continue;
        int rate = -1;
        auto answer = boards_[k]->Handle(payload, rate);
        if (answer && !reply) {
          reply = std::move(answer);
          newRate = rate;
        }
      }
    }
    // Flash is written before the loader acknowledges: a simulator killed
    // after any reply has kept every byte it acknowledged.
    if (loader_) WriteThrough();
    else KeepBoardFile();
    if (!reply) return;
    std::vector<uint8_t> frame = WrapFrame(*reply);
    if (corrupt && frame.size() > 3) {
      frame.back() ^= 0x5A;  // both checks fail
      if (o_.verbose) std::fprintf(stderr, "%sreply damaged\n", who_.c_str());
    }
    if (o_.delayMs > 0) usleep(static_cast<useconds_t>(o_.delayMs) * 1000);
    Send(frame);
    if (newRate >= 0) {
      rateIndex_ = newRate;
      rxFreeAt_ = 0;
    }
  }

  // --memory-file is written through, as flash is: every change of the
  // loader's memory reaches the file before the reply leaves, so a killed
  // simulator (a power cut) keeps what it acknowledged.
  void OpenMemoryFile() {
    memoryFd_ = open(o_.memoryFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (memoryFd_ < 0) {
      std::fprintf(stderr, "lentar-boardsim: cannot write '%s'\n", o_.memoryFile.c_str());
      return;
    }
    written_.clear();
    WriteThrough();
  }

  void WriteThrough() {
    if (memoryFd_ < 0) return;
    const std::vector<uint8_t>& memory = loader_->Memory();
    size_t first = 0, end = memory.size();
    if (written_.size() == memory.size()) {
      while (first < end && memory[first] == written_[first]) ++first;
      while (end > first && memory[end - 1] == written_[end - 1]) --end;
      if (first == end) return;
    } else if (ftruncate(memoryFd_, static_cast<off_t>(memory.size())) != 0) {
      std::perror("lentar-boardsim: --memory-file");
    }
    for (size_t at = first; at < end;) {
      const ssize_t n = pwrite(memoryFd_, memory.data() + at, end - at, static_cast<off_t>(at));
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        std::perror("lentar-boardsim: --memory-file");
        return;
      }
      at += static_cast<size_t>(n);
    }
    written_ = memory;
  }

  // --board-file: the board's memory as the file left it (a missing file is
  // a new board; a file that is no board memory is left alone and not
  // written over).
  void LoadBoardFile() {
    std::error_code ec;
    if (!std::filesystem::exists(o_.boardFile, ec)) {
      boardFileOk_ = true;
      return;
    }
    std::string bytes;
    if (lentar::ReadWholeFile(o_.boardFile, bytes) &&
        boards_[0]->RestoreMemory(std::vector<uint8_t>(bytes.begin(), bytes.end()))) {
      boardFileOk_ = true;
      boardKept_ = boards_[0]->Memory();
      return;
    }
    std::fprintf(stderr, "lentar-boardsim: '%s' holds no board memory; it is not used\n",
                 o_.boardFile.c_str());
  }

  // Written whole and replaced atomically whenever a request changed it,
  // before the reply leaves.
  void KeepBoardFile() {
    if (!boardFileOk_) return;
    std::vector<uint8_t> memory = boards_[0]->Memory();
    if (memory == boardKept_) return;
    if (!lentar::WriteFileAtomically(
            o_.boardFile,
            std::string_view(reinterpret_cast<const char*>(memory.data()), memory.size())))
      std::fprintf(stderr, "lentar-boardsim: cannot write '%s'\n", o_.boardFile.c_str());
    boardKept_ = std::move(memory);
  }

  // The board's bytes towards the computer, through the modem when there is one.
  void Emit(const uint8_t* bytes, size_t n) {
    if (modem_) modem_->FromBoard(bytes, n);
    else if (link_) link_->Write(bytes, n);
  }

  void Send(const std::vector<uint8_t>& frame) {
    if (!o_.pace) {
      Emit(frame.data(), frame.size());
      return;
    }
    int64_t at = std::max(NowNs(), rxFreeAt_);
    for (uint8_t b : frame) {
      at += ByteNs();
      SleepUntilNs(at);
      Emit(&b, 1);
    }
  }

  const Options& o_;
  std::vector<std::unique_ptr<SimBoard>> boards_;
  std::vector<bool> silent_;  // --fail-boards: never answers
  std::vector<std::string> saveDirs_;
  std::vector<int> uploads_;
  std::string who_ = "boardsim: ";  // what every log line starts with
  std::optional<SimLoader> loader_;
  std::unique_ptr<SimModem> modem_;
  Link* link_ = nullptr;
  FrameReader frames_{kGapMs};
  std::mt19937_64 rng_;
  int rateIndex_ = 3;
  int64_t rxFreeAt_ = 0;
  int memoryFd_ = -1;             // --memory-file, written through
  std::vector<uint8_t> written_;  // what the file holds
  bool boardFileOk_ = false;          // --board-file is in use
  std::vector<uint8_t> boardKept_;    // what it holds
  std::array<long long, 256> received_{};  // requests received per command code
};

// Writes the loader's memory back to --memory-file; false when that failed.
bool KeepLoaderMemory(const Options& o, const Simulator& sim) {
  const auto* kept = sim.LoaderMemory();
  if (!kept || o.memoryFile.empty()) return true;
  if (lentar::WriteFileAtomically(
          o.memoryFile, std::string_view(reinterpret_cast<const char*>(kept->data()), kept->size())))
    return true;
  std::fprintf(stderr, "lentar-boardsim: cannot write '%s'\n", o.memoryFile.c_str());
  return false;
}

// The line's listening address: --listen's, with the port moved on by line
// (port 0 stays 0: each line takes a free port of its own).
std::string LineAddress(const std::string& listen, int line) {
  if (line == 0) return listen;
  const size_t colon = listen.rfind(':');
  long long port = 0;
  if (colon == std::string::npos || !ParseLong(listen.c_str() + colon + 1, 0, 65535, port))
    return listen;
  if (port == 0) return listen;
  return listen.substr(0, colon + 1) + std::to_string(port + line);
}

// One line's clients, one after another, until a stop is asked.
void ServeLine(const Options& o, Listener& listener, Simulator& sim, const std::string& who) {
  while (!g_stop) {
    pollfd p{listener.Fd(), POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int client = listener.Accept();
    if (client < 0) continue;
    if (o.verbose) std::fprintf(stderr, "%sclient connected\n", who.c_str());
    TcpLink link(client, o.rfc2217);
    sim.Serve(link, &listener);
    if (o.verbose) std::fprintf(stderr, "%sclient left\n", who.c_str());
  }
}

int ServeTcp(const Options& o, std::vector<uint8_t> memory) {
  std::vector<std::unique_ptr<Listener>> listeners;
  std::string names;
  for (int line = 0; line < o.count; ++line) {
    listeners.push_back(std::make_unique<Listener>());
    std::string error;
    const std::string address = LineAddress(o.listen, line);
    if (!listeners.back()->Listen(address, error)) {
      std::fprintf(stderr, "lentar-boardsim: --listen %s\n", error.c_str());
      return 1;
    }
    names += (o.rfc2217 ? "rfc2217://" : "socket://") + listeners.back()->Address() + "\n";
  }
  if (!o.portFile.empty()) {
    // Replaced whole, so a test waiting for the file never reads half a name.
    if (!lentar::WriteFileAtomically(o.portFile, names)) {
      std::perror("lentar-boardsim: --port-file");
      return 1;
    }
  } else {
    std::fputs(names.c_str(), stdout);
    std::fflush(stdout);
  }
  const int perLine = static_cast<int>(std::max<size_t>(o.addresses.size(), 1));
  std::vector<std::unique_ptr<Simulator>> sims;
  for (int line = 0; line < o.count; ++line)
    sims.push_back(std::make_unique<Simulator>(o, line == 0 ? std::move(memory) : std::vector<uint8_t>{},
                                               1 + line * perLine, line));
  if (o.count == 1) {
    ServeLine(o, *listeners[0], *sims[0], "boardsim: ");
  } else {
    // Each line in a thread of its own: pacing and replies on one line never
    // hold up another.
    std::vector<std::thread> threads;
    for (int line = 0; line < o.count; ++line)
      threads.emplace_back([&, line] {
        ServeLine(o, *listeners[static_cast<size_t>(line)], *sims[static_cast<size_t>(line)],
                  "boardsim line " + std::to_string(line + 1) + ": ");
      });
    for (auto& t : threads) t.join();
  }
  if (!o.portFile.empty()) unlink(o.portFile.c_str());
  return KeepLoaderMemory(o, *sims[0]) ? 0 : 1;
}

int ServePty(const Options& o, std::vector<uint8_t> memory) {
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

  Simulator sim(o, std::move(memory));
  PtyLink link(master);
  sim.Serve(link);

  const int status = KeepLoaderMemory(o, sim) ? 0 : 1;
  if (!o.link.empty()) unlink(o.link.c_str());
  if (slaveHold >= 0) close(slaveHold);
  close(master);
  return status;
}

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
  return o.listen.empty() ? ServePty(o, std::move(memory)) : ServeTcp(o, std::move(memory));
}
