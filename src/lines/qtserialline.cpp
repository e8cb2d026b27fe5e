// The real line: a QSerialPort owned by its own thread. The thread runs an
// event loop, so bytes are handed on the moment the system reports them and a
// write from the waiting thread starts without delay; every call from another
// thread is carried into the line's thread and waited for. Nothing runs on a
// timer unless the line state is watched.
#include <QCoreApplication>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>

#include <unistd.h>

#include "comm/comport.h"
#include "comm/linkframe.h"
#include "comm/serialline.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "linethread.h"
#include "qtserialline.h"

namespace lentar::comm {

namespace {

// How often the line-state handler runs while the line state is watched and
// no bytes arrive.
constexpr int kWatchMs = 20;

// Why a serial device would not open, in the operator's language. Qt reports
// both a device this user may not open and a device another program holds
// (its lock file, TIOCEXCL) as a permission error: the device's own access
// rights tell the two apart, so that nobody is sent to the dialout group for
// a port that is merely busy (root never is).
std::string OpenFailureText(const std::string& device, QSerialPort::SerialPortError code,
                            const QString& qtText) {
  switch (code) {
    case QSerialPort::DeviceNotFoundError:
      return Utf8ToCp1251(u8"устройство не найдено");
    case QSerialPort::OpenError:
      return Utf8ToCp1251(u8"порт уже открыт");
    case QSerialPort::PermissionError: {
      const std::string native = NativePath(device).string();
      if (::access(native.c_str(), R_OK | W_OK) == 0)
        return Utf8ToCp1251(u8"порт занят другой программой");
      return PermissionDeniedText(device);
    }
    default:
      return Utf8ToCp1251(qtText.toUtf8().toStdString());
  }
}

QSerialPort::Parity ToQt(Parity p) {
  switch (p) {
    case Parity::Odd: return QSerialPort::OddParity;
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::Mark: return QSerialPort::MarkParity;
    case Parity::Space: return QSerialPort::SpaceParity;
    case Parity::None: break;
  }
  return QSerialPort::NoParity;
}

QSerialPort::StopBits ToQt(StopBits s) {
  switch (s) {
    case StopBits::One: return QSerialPort::OneStop;
    case StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case StopBits::Two: break;
  }
  return QSerialPort::TwoStop;
}

QSerialPort::FlowControl ToQt(FlowControl f) {
  switch (f) {
    case FlowControl::Hardware: return QSerialPort::HardwareControl;
    case FlowControl::Software: return QSerialPort::SoftwareControl;
    case FlowControl::None: break;
  }
  return QSerialPort::NoFlowControl;
}

class QtSerialLine : public SerialLine {
 public:
  QtSerialLine() = default;
  ~QtSerialLine() override {
    Close();
    thread_.Stop();
  }

  void SetHandlers(DataHandler onData, TickHandler onTick) override {
    onData_ = std::move(onData);
    onTick_ = std::move(onTick);
  }

  bool Open(const std::string& device, const PortConfig& config, std::string& error) override {
    if (!QCoreApplication::instance()) {
      error = "the serial line needs a running Qt application object";
      return false;
    }
    thread_.Start();
    Close();
    const QString name =
        QString::fromUtf8(reinterpret_cast<const char*>(NativePath(device).u8string().c_str()));
    bool ok = false;
    Run([&] {
      auto port = std::make_unique<QSerialPort>(name);
      ApplyTo(*port, config);
      if (!port->open(QIODevice::ReadWrite)) {
        error = OpenFailureText(device, port->error(), port->errorString());
        return;
      }
      // The settings once more now that the device is open, and the modem
      // lines as the configuration asks (a pseudo-terminal has none; that is
      // not an error for the line).
      ApplyTo(*port, config);
      port->setDataTerminalReady(config.DtrOn());
      if (config.FlowControl() != FlowControl::Hardware) port->setRequestToSend(config.RtsOn());
      port->clearError();
      QObject::connect(port.get(), &QSerialPort::readyRead, port.get(), [this] { ReadPass(); });
      // A device that goes away (a USB adapter pulled out, the far end of a
      // pseudo-terminal closed) makes every read fail at once, over and over:
      // the line is closed instead of spinning on it, and the port hears of
      // it at once.
      QObject::connect(port.get(), &QSerialPort::errorOccurred, port.get(),
                       [this](QSerialPort::SerialPortError e) {
                         if (!port_ || (e != QSerialPort::ResourceError &&
                                        e != QSerialPort::ReadError))
                           return;
                         port_->close();
                         {
                           std::lock_guard guard(openLock_);
                           open_ = false;
                         }
                         UpdateWatch();
                         if (onTick_) onTick_();
                       });
      // DSR changes raise no event: while the line state is watched, a
      // timer (owned by the port, so it goes with it) polls it.
      watchTimer_ = new QTimer(port.get());
      QObject::connect(watchTimer_, &QTimer::timeout, watchTimer_, [this] {
        if (onTick_) onTick_();
      });
      port_ = std::move(port);
      UpdateWatch();
      ok = true;
    });
    return ok;
  }

  void Close() override {
    Run([&] {
      watchTimer_ = nullptr;
      port_.reset();  // closes the device; its timer goes with it
    });
  }

  bool IsOpen() const override {
    std::lock_guard guard(openLock_);
    return open_;
  }

  bool Write(const uint8_t* bytes, size_t count) override {
    bool ok = false;
    Run([&] {
      if (!port_) return;
      const qint64 written =
          port_->write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count));
      port_->flush();
      ok = written == static_cast<qint64>(count);
    });
    return ok;
  }

  bool Apply(const PortConfig& config) override {
    bool ok = false;
    Run([&] {
      if (!port_) return;
      ok = ApplyTo(*port_, config);
      port_->clearError();
    });
    return ok;
  }

  void SetDTR(bool on) override {
    Run([&] {
      if (!port_) return;
      port_->setDataTerminalReady(on);
      port_->clearError();
    });
  }

  void SetRTS(bool on) override {
    Run([&] {
      if (!port_) return;
      port_->setRequestToSend(on);
      port_->clearError();
    });
  }

  bool DSR() override {
    bool on = false;
    Run([&] {
      if (!port_) return;
      on = (port_->pinoutSignals() & QSerialPort::DataSetReadySignal) != 0;
      port_->clearError();
    });
    return on;
  }

  void Purge() override {
    Run([&] {
      if (!port_) return;
      port_->clear(QSerialPort::AllDirections);
      port_->clearError();
    });
  }

  void WatchLineState(bool on) override {
    watching_ = on;
    Run([&] { UpdateWatch(); });
  }

  std::vector<std::string> ListPorts() override {
    std::vector<std::string> names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
      names.push_back(FromNativePath(std::filesystem::path(info.systemLocation().toStdU16String())));
    return names;
  }

 private:
  static bool ApplyTo(QSerialPort& port, const PortConfig& config) {
    bool ok = port.setBaudRate(config.BaudRate());
    ok = port.setDataBits(static_cast<QSerialPort::DataBits>(config.DataBits())) && ok;
    ok = port.setParity(ToQt(config.Parity())) && ok;
    ok = port.setStopBits(ToQt(config.StopBits())) && ok;
    ok = port.setFlowControl(ToQt(config.FlowControl())) && ok;
    return ok;
  }

  // Runs f in the line's thread and waits for it (see LineThread::Run); the
  // open state follows what f did to the port.
  template <class F>
  void Run(F&& f) {
    thread_.Run([&] {
      f();
      std::lock_guard guard(openLock_);
      open_ = port_ != nullptr && port_->isOpen();
    });
  }

  // In the line's thread: the poll runs while watched and the device is open.
  void UpdateWatch() {
    if (!watchTimer_) return;
    if (watching_ && port_ && port_->isOpen()) {
      if (!watchTimer_->isActive()) watchTimer_->start(kWatchMs);
    } else {
      watchTimer_->stop();
    }
  }

  void ReadPass() {
    if (!port_) return;
    // Everything queued, a frame's worth at a time.
    std::array<char, kMaxFrameSize> chunk;
    for (;;) {
      const qint64 n = port_->read(chunk.data(), static_cast<qint64>(chunk.size()));
      if (n <= 0) break;
      if (onData_) onData_(reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<size_t>(n));
    }
    port_->clearError();
    if (onTick_) onTick_();
  }

  LineThread thread_{QStringLiteral("serial line")};
  // Made, used and destroyed in thread_ only.
  std::unique_ptr<QSerialPort> port_;
  QTimer* watchTimer_ = nullptr;  // a child of port_
  std::atomic<bool> watching_{false};
  DataHandler onData_;
  TickHandler onTick_;
  mutable std::mutex openLock_;
  bool open_ = false;
};

}  // namespace

std::unique_ptr<SerialLine> MakeQtSerialLine() { return std::make_unique<QtSerialLine>(); }

}  // namespace lentar::comm
