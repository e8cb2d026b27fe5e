// The network lines: a QTcpSocket owned by the line's own thread, raw or
// speaking telnet with Com Port Control. Like the serial line, the thread runs
// an event loop, so received bytes are handed on as they arrive and every
// call from another thread is carried into the line's thread and waited for.
// The modem lines' changes come as RFC 2217 notifications with the data, so
// the line-state handler runs after every receive pass and when the
// connection drops, never on a timer.
#include "lines/tcpline.h"

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "comm/telnetcodec.h"
#include "core/textutil.h"
#include "linethread.h"

namespace lentar::comm {

namespace {

// Received bytes are handed on in passes of at most this many.
constexpr qint64 kPassBytes = 9001;

// Bytes that may wait for a server to take them. A board exchange has a
// frame or two on the way; a streamed upload a few blocks. More than this
// waiting means the server has stopped reading: it gets kDrainMs to take
// them, then the connection is given up instead of the queue growing.
constexpr qint64 kMaxQueuedBytes = 64 * 1024;
constexpr int kDrainMs = 3000;

// The system's name look-up: every address of host, as text.
std::vector<std::string> SystemResolve(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::vector<std::string> addresses;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const QHostAddress address(a->ai_addr);
    if (address.isNull()) continue;
    const std::string text = address.toString().toStdString();
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end())
      addresses.push_back(text);
  }
  freeaddrinfo(found);
  return addresses;
}

// A look-up that may outlast its waiter: it runs in a thread of its own,
// which keeps this state alive until it has finished.
struct LookUp {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  std::vector<std::string> addresses;
};

// The addresses of host, looked up within timeoutMs. A name server that
// never answers makes the system's look-up wait far longer than a port's
// bound (a resolver tries each server several times over); the wait here
// ends at the bound, and the look-up is left to finish on its own.
// nullopt when the time ran out.
std::optional<std::vector<std::string>> ResolveWithin(const std::string& host, int timeoutMs,
                                                      NameResolver resolver) {
  if (QHostAddress literal; literal.setAddress(QString::fromStdString(host)))
    return std::vector<std::string>{host};
  if (!resolver) resolver = SystemResolve;
  auto lookUp = std::make_shared<LookUp>();
  std::thread([lookUp, resolver, host] {
    std::vector<std::string> addresses = resolver(host);
    std::lock_guard guard(lookUp->lock);
    lookUp->addresses = std::move(addresses);
    lookUp->finished = true;
    lookUp->done.notify_all();
  }).detach();
  std::unique_lock guard(lookUp->lock);
  if (!lookUp->done.wait_for(guard, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                             [&] { return lookUp->finished; }))
    return std::nullopt;
  return lookUp->addresses;
}

std::string Cp(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

std::string Where(const NetworkPortName& name) {
  const bool v6 = name.host.find(':') != std::string::npos;
  return (v6 ? "[" + name.host + "]" : name.host) + ":" + std::to_string(name.port);
}

// The cause of a failed connection in the operator's language.
std::string ConnectError(QAbstractSocket::SocketError error, const NetworkPortName& name,
                         const QString& detail) {
  switch (error) {
    case QAbstractSocket::HostNotFoundError:
      return Cp(u8"Узел сети не найден: ") + name.host;
    case QAbstractSocket::ConnectionRefusedError:
      return Cp(u8"Соединение отвергнуто: ") + Where(name);
    case QAbstractSocket::SocketTimeoutError:
      return Cp(u8"Истекло время ожидания соединения: ") + Where(name);
    case QAbstractSocket::RemoteHostClosedError:
      return Cp(u8"Соединение закрыто сервером: ") + Where(name);
    case QAbstractSocket::NetworkError:
      return Cp(u8"Сеть недоступна: ") + Where(name);
    case QAbstractSocket::SocketAccessError:
      return Cp(u8"Нет доступа к сети: ") + Where(name);
    default: {
      std::string text = Cp(u8"Ошибка сети: ") + Where(name);
      if (!detail.trimmed().isEmpty())
        text += " (" + Utf8ToCp1251(detail.trimmed().toUtf8().toStdString()) + ")";
      return text;
    }
  }
}

std::string ClosedByServerText(const NetworkPortName& name) {
  return Cp(u8"Соединение закрыто сервером: ") + Where(name);
}

uint8_t ParityValue(Parity parity) { return static_cast<uint8_t>(static_cast<uint8_t>(parity) + 1); }

uint8_t StopValue(StopBits stop) {
  switch (stop) {
    case StopBits::One: return 1;
    case StopBits::OneAndHalf: return 3;
    case StopBits::Two: break;
  }
  return 2;
}

uint8_t FlowValue(FlowControl flow) {
  switch (flow) {
    case FlowControl::Hardware: return telnet::kControlHardwareFlow;
    case FlowControl::Software: return telnet::kControlSoftwareFlow;
    case FlowControl::None: break;
  }
  return telnet::kControlNoFlow;
}

class TcpLine : public SerialLine {
 public:
  TcpLine(NetworkPortName::Kind kind, NetworkLineOptions options)
      : kind_(kind), options_(std::move(options)) {}
  ~TcpLine() override {
    Close();
    thread_.Stop();
  }

  void SetHandlers(DataHandler onData, TickHandler onTick) override {
    onData_ = std::move(onData);
    onTick_ = std::move(onTick);
  }

  bool Open(const std::string& device, const PortConfig& config, std::string& error) override {
    const auto name = ParseNetworkPort(device);
    if (!name || name->kind != kind_) {
      error = Cp(u8"Неверное имя сетевого порта: ") + device;
      return false;
    }
    if (!QCoreApplication::instance()) {
      error = "the network line needs a running Qt application object";
      return false;
    }
    thread_.Start();
    Close();
    // The name is looked up here, against the connect bound: the socket's
    // own look-up would not end before the system's resolver gives up.
    const QDeadlineTimer connectDeadline(options_.connectMs);
    const auto addresses = ResolveWithin(name->host, options_.connectMs, options_.resolver);
    if (!addresses) {
      error = Cp(u8"Истекло время поиска узла сети: ") + name->host;
      return false;
    }
    if (addresses->empty()) {
      error = ConnectError(QAbstractSocket::HostNotFoundError, *name, {});
      return false;
    }
    bool ok = false;
    Run([&] {
      QTcpSocket* socket = nullptr;
      for (const std::string& address : *addresses) {
        delete socket;
        socket = new QTcpSocket(thread_.Context());
        socket->connectToHost(QHostAddress(QString::fromStdString(address)), name->port);
        const int remaining =
            static_cast<int>(std::max<qint64>(1, connectDeadline.remainingTime()));
        if (socket->waitForConnected(remaining)) break;
        // A server that took the connection and dropped it at once (closed
        // or reset) is told as such, whatever the socket made of it: after a
        // reset the socket tries the address again on the broken descriptor
        // and reports that attempt as unfinished.
        const QAbstractSocket::SocketError failure = socket->error();
        const bool closed = failure == QAbstractSocket::RemoteHostClosedError ||
                            failure == QAbstractSocket::UnknownSocketError ||
                            failure == QAbstractSocket::UnfinishedSocketOperationError;
        error = closed ? ClosedByServerText(*name)
                       : ConnectError(failure, *name, socket->errorString());
        if (connectDeadline.hasExpired() || closed) break;
      }
      if (socket->state() != QAbstractSocket::ConnectedState) {
        delete socket;
        return;
      }
      error.clear();
      // Frames are small and every one waits for its answer: no coalescing.
      socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
      socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
      socket_ = socket;
      dropped_ = false;
      where_ = *name;
      {
        std::lock_guard guard(stateLock_);
        dsr_ = kind_ == NetworkPortName::Kind::Raw;
        closeReason_.clear();
      }
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this] { ReadPass(); });
      QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] { OnDropped(); });
      QObject::connect(socket, &QTcpSocket::errorOccurred, socket,
                       [this](QAbstractSocket::SocketError) { OnDropped(); });
      // An error met inside a write may leave the socket closed without a
      // disconnected signal: its state says so all the same.
      QObject::connect(socket, &QTcpSocket::stateChanged, socket,
                       [this](QAbstractSocket::SocketState) { OnDropped(); });
      // A server that went away while the line was being set up fails the
      // open, with the reason the line heard.
      const bool negotiated =
          kind_ != NetworkPortName::Kind::Rfc2217 || Negotiate(*name, config, error);
      if (negotiated && dropped_)
        error = CloseReason().empty() ? ClosedByServerText(*name) : CloseReason();
      if (!negotiated || dropped_) {
        socket_ = nullptr;
        socket->disconnect(socket, nullptr, nullptr, nullptr);
        socket->abort();
        delete socket;
        codec_.reset();
        return;
      }
      {
        std::lock_guard guard(stateLock_);
        open_ = true;
      }
      ok = true;
      // Bytes that came with the server's answers wait in the socket.
      if (socket_->bytesAvailable() > 0) ReadPass();
    });
    return ok;
  }

  void Close() override {
    Run([&] {
      {
        std::lock_guard guard(stateLock_);
        open_ = false;
        closeReason_.clear();
      }
      if (socket_) {
        socket_->disconnect(socket_, nullptr, nullptr, nullptr);
        if (codec_) socket_->flush();
        socket_->abort();
        delete socket_;
        socket_ = nullptr;
      }
      codec_.reset();
    });
  }

  bool IsOpen() const override {
    std::lock_guard guard(stateLock_);
    return open_;
  }

  bool Write(const uint8_t* bytes, size_t count) override {
    bool ok = false;
    Run([&] {
      if (!socket_ || !IsOpen()) return;
      if (socket_->state() != QAbstractSocket::ConnectedState) OnDropped();
      if (!socket_ || dropped_) return;
      if (codec_) {
        std::vector<uint8_t> out;
        out.reserve(count + 8);
        codec_->EncodeData(bytes, count, out);
        ok = Queue(out.data(), out.size());
      } else {
        ok = Queue(bytes, count);
      }
    });
    return ok;
  }

  bool Apply(const PortConfig& config) override {
    bool ok = false;
    Run([&] {
      if (!socket_ || !IsOpen()) return;
      if (codec_) SendLineSettings(config);
      ok = true;
    });
    return ok;
  }

  void SetDTR(bool on) override {
    Run([&] {
      if (!socket_ || !codec_ || !IsOpen()) return;
      SendControl(on ? telnet::kControlDtrOn : telnet::kControlDtrOff);
    });
  }

  void SetRTS(bool on) override {
    Run([&] {
      if (!socket_ || !codec_ || !IsOpen()) return;
      SendControl(on ? telnet::kControlRtsOn : telnet::kControlRtsOff);
    });
  }

  bool DSR() override {
    std::lock_guard guard(stateLock_);
    return open_ && dsr_;
  }

  void Purge() override {
    Run([&] {
      if (!socket_ || !IsOpen()) return;
      // What has arrived but was not handed on yet is dropped here; the
      // server drops its own queues.
      while (socket_->bytesAvailable() > 0) socket_->read(kPassBytes);
      if (codec_) {
        std::vector<uint8_t> out;
        codec_->EncodeCommand(telnet::ComCommand::PurgeData, telnet::kPurgeBoth, out);
        Send(out);
      }
    });
  }

  std::vector<std::string> ListPorts() override { return {}; }

  std::string CloseReason() const override {
    std::lock_guard guard(stateLock_);
    return closeReason_;
  }

 private:
  // Offers the telnet options, waits until the server agrees to the com-port
  // option, then sends the line settings and the modem lines.
  bool Negotiate(const NetworkPortName& name, const PortConfig& config,
                 std::string& error) {
    codec_ = std::make_unique<telnet::Codec>(telnet::Codec::Role::Client);
    Send(codec_->Start());
    const QDeadlineTimer deadline(options_.negotiateMs);
    // A server that talks without ever agreeing still runs into the deadline;
    // one that floods the line with option commands is dropped before it.
    while (!codec_->ComPortAgreed() && !codec_->ComPortRefused() && !dropped_ &&
           !deadline.hasExpired()) {
      if (socket_->bytesAvailable() > 0) {
        ReadPass();
        continue;
      }
      if (!socket_->waitForReadyRead(
              static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
        break;
    }
    if (!codec_->ComPortAgreed() || dropped_) {
      if (dropped_) error = CloseReason().empty() ? ClosedByServerText(name) : CloseReason();
      else if (codec_->ComPortRefused())
        error = Cp(u8"Сервер не поддерживает управление портом (RFC 2217): ") + Where(name);
      else error = Cp(u8"Сервер не ответил на согласование RFC 2217: ") + Where(name);
      return false;
    }
    SendLineSettings(config);
    SendControl(config.DtrOn() ? telnet::kControlDtrOn : telnet::kControlDtrOff);
    if (config.FlowControl() != FlowControl::Hardware)
      SendControl(config.RtsOn() ? telnet::kControlRtsOn : telnet::kControlRtsOff);
    // Every modem line change is to be reported.
    std::vector<uint8_t> out;
    codec_->EncodeCommand(telnet::ComCommand::SetModemStateMask, 0xFF, out);
    Send(out);
    return true;
  }

  void SendLineSettings(const PortConfig& config) {
    std::vector<uint8_t> out;
    codec_->EncodeBaudRate(static_cast<uint32_t>(config.BaudRate()), out);
    codec_->EncodeCommand(telnet::ComCommand::SetDataSize, static_cast<uint8_t>(config.DataBits()),
                          out);
    codec_->EncodeCommand(telnet::ComCommand::SetParity, ParityValue(config.Parity()), out);
    codec_->EncodeCommand(telnet::ComCommand::SetStopSize, StopValue(config.StopBits()), out);
    codec_->EncodeCommand(telnet::ComCommand::SetControl, FlowValue(config.FlowControl()), out);
    Send(out);
  }

  void SendControl(uint8_t value) {
    std::vector<uint8_t> out;
    codec_->EncodeCommand(telnet::ComCommand::SetControl, value, out);
    Send(out);
  }

  void Send(const std::vector<uint8_t>& bytes) {
    if (!socket_ || bytes.empty()) return;
    Queue(bytes.data(), bytes.size());
  }

  // Hands bytes to the socket. A server that has left more than
  // kMaxQueuedBytes untaken is given kDrainMs to take them; one that still
  // does not read is dropped, so nothing piles up without end.
  bool Queue(const uint8_t* bytes, size_t count) {
    if (!socket_ || dropped_) return false;
    if (socket_->bytesToWrite() > kMaxQueuedBytes) {
      const QDeadlineTimer drain(kDrainMs);
      while (socket_ && !dropped_ && socket_->bytesToWrite() > kMaxQueuedBytes &&
             !drain.hasExpired()) {
        if (!socket_->waitForBytesWritten(
                static_cast<int>(std::max<qint64>(1, drain.remainingTime()))) &&
            socket_->state() != QAbstractSocket::ConnectedState)
          break;
      }
      if (!socket_ || dropped_) return false;
      if (socket_->bytesToWrite() > kMaxQueuedBytes) {
        Drop(Cp(u8"Сервер не принимает данные: ") + Where(where_));
        return false;
      }
    }
    const qint64 written =
        socket_->write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count));
    socket_->flush();
    // A write the socket refused, or one that found the connection gone, is
    // the server's doing: the line closes now, not when the socket's signals
    // get round to it.
    if (written != static_cast<qint64>(count) ||
        socket_->state() != QAbstractSocket::ConnectedState) {
      Drop(ClosedByServerText(where_));
      return false;
    }
    return true;
  }

  // Gives the connection up on this side, for the reason given: the line is
  // closed from now on, as when the server goes away. The socket itself is
  // deleted by Close (this may run inside one of its signals).
  void Drop(const std::string& reason) {
    if (!socket_ || dropped_) return;
    {
      std::lock_guard guard(stateLock_);
      closeReason_ = reason;
    }
    socket_->disconnect(socket_, nullptr, nullptr, nullptr);
    socket_->abort();
    MarkDropped();
  }

  void ReadPass() {
    if (!socket_) return;
    std::vector<uint8_t> data, reply;
    std::vector<telnet::ComEvent> events;
    char chunk[kPassBytes];
    for (;;) {
      const qint64 n = socket_->read(chunk, sizeof chunk);
      if (n <= 0) break;
      const auto* bytes = reinterpret_cast<const uint8_t*>(chunk);
      if (!codec_) {
        if (onData_) onData_(bytes, static_cast<size_t>(n));
        continue;
      }
      data.clear();
      reply.clear();
      events.clear();
      codec_->Receive(bytes, static_cast<size_t>(n), data, reply, events);
      if (codec_->Flooding()) {
        Drop(Cp(u8"Сервер засыпает линию командами согласования telnet: ") + Where(where_));
        return;
      }
      Send(reply);
      for (const telnet::ComEvent& e : events) {
        if (e.command == static_cast<uint8_t>(telnet::ComCommand::NotifyModemState) &&
            !e.value.empty()) {
          std::lock_guard guard(stateLock_);
          dsr_ = (e.value[0] & telnet::kModemDsr) != 0;
        }
      }
      if (!data.empty() && onData_) onData_(data.data(), data.size());
    }
    if (IsOpen() && onTick_) onTick_();
  }

  // The server went away: the line is closed from now on, and the port hears
  // of it at once so that nothing waits for a reply that cannot come.
  void OnDropped() {
    if (!socket_ || dropped_ || socket_->state() == QAbstractSocket::ConnectedState) return;
    {
      // However it went (an orderly close, a reset, a broken pipe), the
      // operator hears one thing: the server closed the connection.
      std::lock_guard guard(stateLock_);
      if (closeReason_.empty()) closeReason_ = ClosedByServerText(where_);
    }
    MarkDropped();
  }

  void MarkDropped() {
    dropped_ = true;
    bool wasOpen = false;
    {
      std::lock_guard guard(stateLock_);
      wasOpen = open_;
      open_ = false;
      dsr_ = false;
    }
    if (wasOpen && onTick_) onTick_();
  }

  template <class F>
  void Run(F&& f) {
    thread_.Run(f);
  }

  const NetworkPortName::Kind kind_;
  const NetworkLineOptions options_;
  LineThread thread_{QStringLiteral("network line")};
  QTcpSocket* socket_ = nullptr;  // lives in thread_, a child of its context
  std::unique_ptr<telnet::Codec> codec_;  // rfc2217 only; used in thread_
  bool dropped_ = false;                  // used in thread_
  NetworkPortName where_;                 // used in thread_
  DataHandler onData_;
  TickHandler onTick_;
  mutable std::mutex stateLock_;
  bool open_ = false;
  bool dsr_ = false;
  std::string closeReason_;  // why the connection was lost; guarded by stateLock_
};

}  // namespace

std::unique_ptr<SerialLine> MakeTcpLine(NetworkPortName::Kind kind, NetworkLineOptions options) {
  return std::make_unique<TcpLine>(kind, std::move(options));
}

}  // namespace lentar::comm
