// How the simulator is reached: a pseudo-terminal, or a TCP connection that
// carries the serial bytes raw or inside telnet with Com Port Control (the
// way a serial server such as ser2net carries them).
//
// A link hands over the computer's serial bytes, takes the device's bytes
// back, and carries the modem lines where it can: over RFC 2217 the computer
// drives DTR and sets the bit rate, and the simulator reports DSR; a
// pseudo-terminal and a raw connection carry neither.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/telnetcodec.h"

namespace lentar::boardsim {

class Link {
 public:
  virtual ~Link() = default;
  // The descriptor to wait on for input.
  virtual int Fd() const = 0;
  // Reads what has arrived; the serial bytes among it are appended to data.
  // False when the computer has gone (the connection closed).
  virtual bool Read(std::vector<uint8_t>& data) = 0;
  virtual void Write(const uint8_t* bytes, size_t count) = 0;
  // DTR as the computer set it; true where the link carries no modem lines.
  virtual bool Dtr() const { return true; }
  virtual void SetDsr(bool) {}
  // The bit rate the computer set on the line; 0 where the link does not say.
  virtual int BaudRate() const { return 0; }
};

// The master side of a pseudo-terminal (not owned).
class PtyLink : public Link {
 public:
  explicit PtyLink(int master) : master_(master) {}
  int Fd() const override { return master_; }
  bool Read(std::vector<uint8_t>& data) override;
  void Write(const uint8_t* bytes, size_t count) override;

 private:
  int master_;
};

// One accepted TCP connection (owned, closed with the link).
class TcpLink : public Link {
 public:
  TcpLink(int socket, bool rfc2217);
  ~TcpLink() override;
  int Fd() const override { return socket_; }
  bool Read(std::vector<uint8_t>& data) override;
  void Write(const uint8_t* bytes, size_t count) override;
  bool Dtr() const override { return dtr_; }
  void SetDsr(bool on) override;
  int BaudRate() const override { return baudRate_; }

 private:
  void Send(const std::vector<uint8_t>& bytes);
  void OnCommand(const lentar::comm::telnet::ComEvent& event);
  void NotifyModemState(bool changed);

  int socket_;
  std::unique_ptr<lentar::comm::telnet::Codec> codec_;  // RFC 2217 only
  bool agreed_ = false;
  bool dtr_ = true;
  bool rts_ = true;
  bool dsr_ = false;
  int baudRate_ = 0;
  uint8_t dataSize_ = 8;
  uint8_t parity_ = 1;
  uint8_t stopSize_ = 1;
  uint8_t flow_ = 1;
  uint8_t modemMask_ = 0xFF;
};

// A listening TCP socket.
class Listener {
 public:
  ~Listener();
  // Binds HOST:PORT (PORT 0: any free port). False with a reason on failure.
  bool Listen(const std::string& hostPort, std::string& error);
  int Fd() const { return socket_; }
  // The address actually bound, as HOST:PORT.
  std::string Address() const;
  // Accepts one waiting connection; -1 when none.
  int Accept();

 private:
  int socket_ = -1;
};

// Writes all bytes to a descriptor, retrying after interruptions.
void WriteAll(int fd, const uint8_t* bytes, size_t count);

}  // namespace lentar::boardsim
