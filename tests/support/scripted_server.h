// Loopback sockets for the network port tests, and a hostile server on one:
// a loopback TCP server that runs a scripted behaviour on every connection
// (floods, resets, a modem that floods once dialled), never blocking in a
// write.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comm/telnetcodec.h"

namespace lentar::comm::testing {

namespace telnet = lentar::comm::telnet;
using ServerBytes = std::vector<uint8_t>;

// A loopback socket bound to a free port, listening (with room for backlog
// waiting connections) or not.
class LoopbackSocket {
 public:
  explicit LoopbackSocket(bool listening, int backlog = 1) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (listening) listen(fd_, backlog);
  }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;
  ~LoopbackSocket() { close(fd_); }
  int Fd() const { return fd_; }
  int Port() const { return port_; }
  std::string Name(const char* scheme) const {
    return std::string(scheme) + "127.0.0.1:" + std::to_string(port_);
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A server on a loopback port that runs one behaviour on every connection
// it accepts, one after another, until the server is stopped.
// Writes never block: a peer that stops reading leaves the server spinning
// on its stop flag, not stuck in a write.
class ScriptedServer {
 public:
  using Behaviour = std::function<void(ScriptedServer& server, int fd)>;

  explicit ScriptedServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
  }
  std::string Name(const char* scheme) const { return socket_.Name(scheme); }
  std::string Where() const { return socket_.Name(""); }
  int Port() const { return socket_.Port(); }
  bool Stopping() const { return stop_; }

  // Writes all of bytes unless the peer went away or the server stops.
  bool Send(int fd, const ServerBytes& bytes) {
    size_t done = 0;
    while (done < bytes.size() && !stop_) {
      const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 10);
    }
    return done == bytes.size();
  }
  // Waits for the peer's first bytes; false when it left or the server stops.
  bool AwaitBytes(int fd) {
    uint8_t chunk[512];
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      return read(fd, chunk, sizeof chunk) > 0;
    }
    return false;
  }
  // Plays a modem's command mode until the dial command has come: every
  // other command line echoed and answered "OK". False when the peer left or the server stops.
  bool AwaitDial(int fd) {
    std::string heard;
    char chunk[512];
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n <= 0) return false;
      heard.append(chunk, static_cast<size_t>(n));
      for (size_t cr; (cr = heard.find('\r')) != std::string::npos; heard.erase(0, cr + 1)) {
        if (heard.find("ATD") < cr) return true;
        // The command echoed, then the modem's answer on a line of its own.
        const std::string answer = heard.substr(0, cr) + "\r\r\nOK\r\n";
        if (!Send(fd, ServerBytes(answer.begin(), answer.end()))) return false;
      }
    }
    return false;
  }
  // Keeps the connection until the server stops, reading nothing.
  void Hold() {
    while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{socket_.Fd(), POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      const int c = accept(socket_.Fd(), nullptr, nullptr);
      if (c < 0) continue;
      fcntl(c, F_SETFL, fcntl(c, F_GETFL) | O_NONBLOCK);
      behaviour_(*this, c);
      close(c);
    }
  }

  Behaviour behaviour_;
  LoopbackSocket socket_{true, 4};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Option commands for every option in turn, as fast as the line takes them.
inline ServerBytes OptionFlood() {
  ServerBytes flood;
  for (int i = 0; i < 4096; ++i)
    flood.insert(flood.end(), {telnet::kIAC, i % 2 ? telnet::kDO : telnet::kWILL,
                               static_cast<uint8_t>(50 + i % 200)});
  return flood;
}

// The server side of a proper com-port negotiation: the client's offers
// answered, so the client opens.
inline ServerBytes AgreeToComPort() {
  return {telnet::kIAC, telnet::kDO,   telnet::kOptComPort, telnet::kIAC, telnet::kDO,
          telnet::kOptBinary, telnet::kIAC, telnet::kWILL, telnet::kOptBinary,
          telnet::kIAC, telnet::kDO, telnet::kOptSuppressGoAhead, telnet::kIAC,
          telnet::kWILL, telnet::kOptSuppressGoAhead};
}

inline void FloodForEver(ScriptedServer& server, int fd, const ServerBytes& unit) {
  while (!server.Stopping() && server.Send(fd, unit)) {
  }
}

// Reset instead of an orderly close.
inline void Reset(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

}  // namespace lentar::comm::testing
