// A TCP proxy between a client and a server that can freeze: it keeps every
// connection open but stops passing bytes either way, as a stalled firewall
// or a hung link does (the client's writes are still accepted by the local
// socket, no answer ever comes). Thawed, it passes bytes again; Cut() closes
// every connection, as a server restart does.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lentar::testing {

class FreezingProxy {
 public:
  // Listens on a free loopback port, passing connections to
  // 127.0.0.1:serverPort.
  explicit FreezingProxy(int serverPort) : serverPort_(serverPort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listener_, 16) != 0)
      return;
    socklen_t length = sizeof sa;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &length);
    port_ = ntohs(sa.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~FreezingProxy() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& t : pumps_) t.join();
    ::close(listener_);
  }
  FreezingProxy(const FreezingProxy&) = delete;
  FreezingProxy& operator=(const FreezingProxy&) = delete;

  int Port() const { return port_; }
  void Freeze(bool frozen) { frozen_ = frozen; }
  // Closes every connection passed so far.
  void Cut() {
    std::lock_guard lock(mutex_);
    for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
  }

 private:
  void Accept() {
    while (!stop_) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) break;
      const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      sa.sin_port = htons(static_cast<uint16_t>(serverPort_));
      if (::connect(server, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(client);
        ::close(server);
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        sockets_.push_back(client);
        sockets_.push_back(server);
      }
      pumps_.emplace_back([this, client, server] { Pump(client, server); });
    }
  }
  // Passes bytes both ways until either side closes or the proxy stops.
  void Pump(int a, int b) {
    char buffer[16384];
    while (!stop_) {
      if (frozen_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (::poll(fds, 2, 50) <= 0) continue;
      bool closed = false;
      for (int i = 0; i < 2 && !closed; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0 || ::send(fds[1 - i].fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
          closed = true;
      }
      if (closed) break;
    }
    {
      std::lock_guard lock(mutex_);
      std::erase(sockets_, a);
      std::erase(sockets_, b);
    }
    ::close(a);
    ::close(b);
  }

  int serverPort_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> frozen_{false};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<int> sockets_;
  std::thread acceptor_;
  std::vector<std::thread> pumps_;
};

}  // namespace lentar::testing
