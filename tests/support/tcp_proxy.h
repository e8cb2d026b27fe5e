// A TCP relay between a client and a server on the loopback that can be
// frozen: while frozen it forwards nothing either way and keeps every
// connection open, as a network link that silently stops carrying packets
// (a cable pulled between two routers, a firewall dropping a session). New
// connections are accepted meanwhile but get nothing through either. Cut
// drops every connection at once, as a server restarting does.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lentar::testing {

class TcpProxy {
 public:
  TcpProxy() = default;
  TcpProxy(const TcpProxy&) = delete;
  TcpProxy& operator=(const TcpProxy&) = delete;
  ~TcpProxy() { Stop(); }

  // Listens on a free loopback port and relays every connection to
  // 127.0.0.1:targetPort; false when no port could be had.
  bool Start(uint16_t targetPort) {
    target_ = targetPort;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return false;
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
    return true;
  }

  uint16_t Port() const { return port_; }
  void Freeze() { frozen_ = true; }
  void Thaw() { frozen_ = false; }
  // Ends every connection relayed so far, both ways.
  void Cut() {
    std::lock_guard guard(lock_);
    for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
  }

  void Stop() {
    quit_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> pumps;
    {
      std::lock_guard guard(lock_);
      pumps.swap(pumps_);
    }
    for (auto& p : pumps) p.join();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

 private:
  void Accept() {
    while (!quit_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = htons(target_);
      if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(client);
        if (server >= 0) ::close(server);
        continue;
      }
      std::lock_guard guard(lock_);
      sockets_.push_back(client);
      sockets_.push_back(server);
      pumps_.emplace_back([this, client, server] { Pump(client, server); });
    }
  }

  // Relays both ways until either side closes or the proxy stops; nothing
  // is read while frozen, so the peers' own buffers fill and their calls
  // wait, as over a dead link.
  void Pump(int a, int b) {
    char buffer[16384];
    while (!quit_) {
      if (frozen_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      bool closed = false;
      for (int i = 0; i < 2 && !closed; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
          closed = true;
          break;
        }
        const int to = i == 0 ? b : a;
        for (ssize_t sent = 0; sent < n;) {
          const ssize_t w = ::send(to, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
          if (w <= 0) {
            closed = true;
            break;
          }
          sent += w;
        }
      }
      if (closed) break;
    }
    std::lock_guard guard(lock_);  // Cut never reaches a number reused
    std::erase(sockets_, a);
    std::erase(sockets_, b);
    ::close(a);
    ::close(b);
  }

  uint16_t target_ = 0;
  uint16_t port_ = 0;
  int listener_ = -1;
  std::atomic<bool> frozen_{false};
  std::atomic<bool> quit_{false};
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<std::thread> pumps_;
  std::vector<int> sockets_;  // of the connections relayed now
};

}  // namespace lentar::testing
