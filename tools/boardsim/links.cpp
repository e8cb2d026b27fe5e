#include "links.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lentar::boardsim {

namespace telnet = lentar::comm::telnet;

void WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd out{fd, POLLOUT, 0};
        poll(&out, 1, 100);
        continue;
      }
      return;  // the other side has gone; its read tells the loop
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

bool PtyLink::Read(std::vector<uint8_t>& data) {
  uint8_t chunk[4096];
  const ssize_t n = read(master_, chunk, sizeof chunk);
  if (n <= 0) {
    // No one holds the terminal open at the moment; the program may open it
    // again later.
    usleep(10000);
    return true;
  }
  data.insert(data.end(), chunk, chunk + n);
  return true;
}

void PtyLink::Write(const uint8_t* bytes, size_t count) { WriteAll(master_, bytes, count); }

TcpLink::TcpLink(int socket, bool rfc2217) : socket_(socket) {
  const int one = 1;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (rfc2217) {
    codec_ = std::make_unique<telnet::Codec>(telnet::Codec::Role::Server);
    Send(codec_->Start());
  }
}

TcpLink::~TcpLink() { close(socket_); }

void TcpLink::Send(const std::vector<uint8_t>& bytes) {
  if (!bytes.empty()) WriteAll(socket_, bytes.data(), bytes.size());
}

bool TcpLink::Read(std::vector<uint8_t>& data) {
  uint8_t chunk[4096];
  const ssize_t n = read(socket_, chunk, sizeof chunk);
  if (n == 0) return false;
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (!codec_) {
    data.insert(data.end(), chunk, chunk + n);
    return true;
  }
  std::vector<uint8_t> reply;
  std::vector<telnet::ComEvent> events;
  codec_->Receive(chunk, static_cast<size_t>(n), data, reply, events);
  Send(reply);
  if (!agreed_ && codec_->ComPortAgreed()) {
    agreed_ = true;
    NotifyModemState(false);
  }
  for (const auto& e : events) OnCommand(e);
  return true;
}

void TcpLink::Write(const uint8_t* bytes, size_t count) {
  if (!codec_) {
    WriteAll(socket_, bytes, count);
    return;
  }
  std::vector<uint8_t> out;
  out.reserve(count + 8);
  codec_->EncodeData(bytes, count, out);
  Send(out);
}

void TcpLink::SetDsr(bool on) {
  if (on == dsr_) return;
  dsr_ = on;
  if (codec_ && agreed_) NotifyModemState(true);
}

void TcpLink::NotifyModemState(bool changed) {
  uint8_t state = dsr_ ? telnet::kModemDsr : 0;
  if (changed) state |= telnet::kModemDeltaDsr;
  std::vector<uint8_t> out;
  codec_->EncodeCommand(telnet::ComCommand::NotifyModemState,
                        static_cast<uint8_t>(state & modemMask_), out);
  Send(out);
}

// Every setting is taken as asked and confirmed with its value; a zero value
// asks for the current one.
void TcpLink::OnCommand(const telnet::ComEvent& e) {
  using telnet::ComCommand;
  const auto command = static_cast<ComCommand>(e.command);
  const uint8_t v = e.value.empty() ? 0 : e.value[0];
  std::vector<uint8_t> out;
  const auto answer = [&](uint8_t value) { codec_->EncodeCommand(command, value, out); };
  switch (command) {
    case ComCommand::SetBaudRate: {
      const uint32_t rate = telnet::Codec::BaudRateOf(e.value);
      if (rate > 0 && rate <= 4000000) baudRate_ = static_cast<int>(rate);
      codec_->EncodeBaudRate(static_cast<uint32_t>(baudRate_ > 0 ? baudRate_ : 9600), out);
      break;
    }
    case ComCommand::SetDataSize:
      if (v >= 5 && v <= 8) dataSize_ = v;
      answer(dataSize_);
      break;
    case ComCommand::SetParity:
      if (v >= 1 && v <= 5) parity_ = v;
      answer(parity_);
      break;
    case ComCommand::SetStopSize:
      if (v >= 1 && v <= 3) stopSize_ = v;
      answer(stopSize_);
      break;
    case ComCommand::SetControl:
      switch (v) {
        case 0: answer(flow_); break;
        case 1: case 2: case 3: flow_ = v; answer(v); break;
        case telnet::kControlRequestDtr: answer(dtr_ ? telnet::kControlDtrOn : telnet::kControlDtrOff); break;
        case telnet::kControlDtrOn: dtr_ = true; answer(v); break;
        case telnet::kControlDtrOff: dtr_ = false; answer(v); break;
        case telnet::kControlRequestRts: answer(rts_ ? telnet::kControlRtsOn : telnet::kControlRtsOff); break;
        case telnet::kControlRtsOn: rts_ = true; answer(v); break;
        case telnet::kControlRtsOff: rts_ = false; answer(v); break;
        default: answer(v); break;
      }
      break;
    case ComCommand::NotifyModemState:
      NotifyModemState(false);
      break;
    case ComCommand::SetModemStateMask:
      modemMask_ = v;
      answer(v);
      break;
    case ComCommand::SetLineStateMask:
    case ComCommand::PurgeData:
      answer(v);
      break;
    default:
      break;
  }
  Send(out);
}

Listener::~Listener() {
  if (socket_ >= 0) close(socket_);
}

bool Listener::Listen(const std::string& hostPort, std::string& error) {
  std::string host, port;
  if (!hostPort.empty() && hostPort.front() == '[') {
    const size_t close = hostPort.find("]:");
    if (close == std::string::npos) {
      error = "expected HOST:PORT, not '" + hostPort + "'";
      return false;
    }
    host = hostPort.substr(1, close - 1);
    port = hostPort.substr(close + 2);
  } else {
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      error = "expected HOST:PORT, not '" + hostPort + "'";
      return false;
    }
    host = hostPort.substr(0, colon);
    port = hostPort.substr(colon + 1);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "'" + hostPort + "': " + gai_strerror(rc);
    return false;
  }
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) continue;
    const int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(s, a->ai_addr, a->ai_addrlen) == 0 && listen(s, 4) == 0) {
      socket_ = s;
      break;
    }
    error = "'" + hostPort + "': " + std::strerror(errno);
    close(s);
  }
  freeaddrinfo(found);
  return socket_ >= 0;
}

std::string Listener::Address() const {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (getsockname(socket_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  char host[INET6_ADDRSTRLEN] = {};
  int port = 0;
  if (addr.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
    inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
    port = ntohs(a->sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
  }
  const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
  inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
  port = ntohs(a->sin_port);
  return std::string(host) + ":" + std::to_string(port);
}

int Listener::Accept() {
  const int s = accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
  return s;
}

}  // namespace lentar::boardsim
