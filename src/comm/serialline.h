// The one line interface every device exchange goes through.
//
// A line is a serial connection: bytes out, bytes in, the line settings and
// the modem signals. The real lines live in the lines library (lines/): a
// QSerialPort or a TCP socket in a thread of its own; tests that need the
// modem signals a pseudo-terminal cannot carry use an in-memory line.
//
// Every call may come from any thread. Received bytes and the line-state
// ticks are delivered to the handlers installed with SetHandlers, on the
// line's own receive thread (for the in-memory line: on the thread that feeds
// it). A tick follows every receive pass and every change of the line's state
// the line learns of (it closed under the caller, a modem signal reported);
// modem signals that no event reports are polled only while
// WatchLineState(true) asks for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/portconfig.h"

namespace lentar::comm {

class SerialLine {
 public:
  using DataHandler = std::function<void(const uint8_t* bytes, size_t count)>;
  using TickHandler = std::function<void()>;

  virtual ~SerialLine() = default;

  // Installs the receivers before Open; they are called until Close returns.
  virtual void SetHandlers(DataHandler onData, TickHandler onTick) = 0;
  // Opens the named device with the given settings. On failure returns false
  // with the system's reason in error.
  virtual bool Open(const std::string& device, const PortConfig& config, std::string& error) = 0;
  // Closes the device; no handler runs after it returns.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Writes all bytes; false when the line refused them or is closed.
  virtual bool Write(const uint8_t* bytes, size_t count) = 0;
  // Applies new line settings to the open device.
  virtual bool Apply(const PortConfig& config) = 0;
  virtual void SetDTR(bool on) = 0;
  virtual void SetRTS(bool on) = 0;
  // DSR as the modem reports it; false when closed or not known.
  virtual bool DSR() = 0;
  // Discards whatever waits in the input and output queues.
  virtual void Purge() = 0;
  // While on, the tick handler also runs every few tens of milliseconds, so
  // that a change of DSR is seen on a line that does not report it by itself.
  // Lines that report every change of their modem signals need no polling.
  virtual void WatchLineState(bool) {}
  // Device names the system reports, in its order.
  virtual std::vector<std::string> ListPorts() = 0;
  // Why the line closed under its user (a server that went away, a peer
  // dropped for flooding), in the operator's words (Windows-1251); empty
  // while open or when the line does not know.
  virtual std::string CloseReason() const { return {}; }
};

using LineFactory = std::function<std::unique_ptr<SerialLine>()>;

}  // namespace lentar::comm
