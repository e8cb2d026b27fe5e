// TComPort: one serial port of the program with its receive path.
//
// Received bytes are assembled into link frames (see linkframe.h) into the
// port's single frame slot; the waiting operations wake the moment a frame
// arrives and give up at a millisecond deadline. For modem work the receive
// path switches to line mode, collecting CR-terminated response lines, and a
// line-state handler can watch DSR while a call is up.
//
// The port never shows a message: Open reports failures in OpenFailed and
// LastErrorText, the other operations by their results.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "comm/linkframe.h"
#include "comm/portconfig.h"
#include "comm/serialline.h"

namespace lentar::comm {

// Modem result codes and the texts the operator sees for them (Windows-1251).
inline constexpr int kModemResultCount = 5;
const char* ModemResultCode(int index);      // "ERROR", "NO CARRIER", ...
std::string ModemResultText(int index);      // "Ошибка", "Нет несущей", ...

// Why a serial device could not be opened when the system refuses it to this
// user. On Debian the serial ports belong to the group dialout, so the text
// names it and how to join it (Windows-1251).
std::string PermissionDeniedText(const std::string& device);
// True for a reason made by PermissionDeniedText: windows show it beside
// their own message, since the operator can do something about it.
bool IsPermissionDeniedText(std::string_view reason);

class TComPort {
 public:
  // Line-state handler: called on the receive thread after every receive
  // pass and, while one is installed, at least every few tens of
  // milliseconds, with the DSR state; setting hangUp drops DTR.
  using LineStateHandler = std::function<void(bool dsr, bool& hangUp)>;

  // The port's default line: the real serial line for a device and a
  // network line for socket:// and rfc2217:// names. It lives in the lines
  // library (lines/portline.cpp defines this constructor), so a program that
  // makes such a port links lentar_lines.
  TComPort(bool dtrDefault, bool rtsDefault);
  // lineFactory makes the line each Open uses.
  TComPort(bool dtrDefault, bool rtsDefault, LineFactory lineFactory);
  ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  // Closes the port and ends its line's receive thread (the next Open starts
  // a new one). A program calls it before its Qt application object goes.
  void Release();

  // Closes any open port and opens the named device (a Windows-1251 path or
  // system name); an empty name only closes ("Порт закрыт").
  void Open(const std::string& name);
  bool IsOpen() const;
  bool OpenFailed() const { return openFailed_; }
  const std::string& LastErrorText() const { return lastErrorText_; }
  // Why the line closed under the port after it was opened (a network
  // server that went away, or was dropped for flooding or for not reading),
  // Windows-1251; empty while the port is open or when nobody knows.
  std::string LostText() const;
  const std::string& PortName() const { return portName_; }
  // Device names the system reports, listed when first asked (listing them
  // walks the system's device tree: a delivery to hundreds of boards makes
  // a port object for each and never asks).
  const std::vector<std::string>& AvailablePorts() const;

  // Frames the payload (1..252 bytes) and writes it; true when every byte
  // was written.
  bool SendFrame(const uint8_t* payload, size_t length);
  bool SendFrame(const std::vector<uint8_t>& payload) {
    return SendFrame(payload.data(), payload.size());
  }
  // Takes a completed frame's payload (at most room bytes); never waits.
  bool GetFrame(uint8_t* destination, size_t room, size_t& length);
  // Waits up to deadlineMs for a frame.
  bool WaitFrame(uint8_t* destination, size_t room, int deadlineMs, size_t& length);
  // A frame's payload as text, up to its first zero byte (empty when none).
  bool GetTextFrame(std::string& text);
  bool WaitTextFrame(std::string& text, int deadlineMs);
  // Forgets a completed frame nobody took (a late reply to an earlier
  // request must never pass for the reply to the next one); true when there
  // was one.
  bool DiscardFrame();
  // Frames completed since the port object was made (taken, forgotten or
  // overwritten alike): a protocol compares it with the replies it took to
  // notice frames nobody asked for.
  uint64_t FramesArrived() const;
  // Frames whose check bytes did not match, since the port object was made.
  uint64_t FramesRejected() const;
  // Lets the line fall quiet: waits until no byte has arrived for quietMs,
  // forgetting every frame that completes meanwhile, but no longer than
  // limitMs in all. True when the line fell quiet; arrived is FramesArrived
  // at that moment.
  bool Settle(int quietMs, int limitMs, uint64_t& arrived);

  // Bookkeeping of the request/reply protocol spoken over this port, kept
  // with the port because a reply still on its way belongs to the line, not
  // to one command.
  struct ExchangeState {
    bool replyOutstanding = false;  // a request went unanswered or was answered wrongly
    uint64_t framesAccounted = 0;   // FramesArrived the protocol has accounted for
    unsigned missed = 0;            // requests unanswered or answered wrongly, in all
    unsigned unexpected = 0;        // frames that arrived unasked for, in all
  };
  ExchangeState& Exchange() { return exchange_; }

  int32_t BaudRate() const;
  void SetBaudRate(int32_t rate);
  // RateTable[index]; an index outside 0..8 means 115200.
  void SetBaudIndex(int index);

  void SetDTR(bool on);
  void SetRTS(bool on);
  bool DTR() const { return dtr_; }
  bool RTS() const { return rts_; }
  void RestoreLines();
  bool DSRState();
  // Discards the system's queues and the frame being assembled.
  void Purge();

  // Inter-byte gap in milliseconds: 500 after every Open.
  int InterByteTimeout() const;
  void SetInterByteTimeout(int ms);

  // Line mode: received bytes go to the line buffer instead of frame assembly.
  void SetLineMode(bool on);
  bool LineMode() const;
  void ClearLineBuffer();
  // Bytes received in line mode since the line buffer was last cleared,
  // kept or not (a chunk that does not fit the buffer is dropped).
  uint64_t LineBytesSinceClear() const;
  // Takes one CR-terminated line; true only for a non-empty line. The CR and
  // any CR or LF bytes stored right after it are consumed with it.
  bool ReadLine(std::string& line);
  // Reads the lines received so far until one equals expected (both trimmed,
  // upper case); stops at the first empty or missing line.
  bool WaitForLine(const std::string& expected);
  // Reads the lines received so far until one is a modem result code; its
  // index, or -1.
  int ReadModemResult();
  // DTR pulse, then "ATZ": true when the modem answered "OK".
  bool ModemReset();
  bool WriteText(const std::string& text, bool addCrLf);

  void SetLineStateHandler(LineStateHandler handler);

  // The line settings (bit rate, data bits, parity, stop bits, flow control)
  // as stored in the settings file, and applied to the open port.
  const PortConfig& Config() const { return config_; }
  void SetConfig(const PortConfig& config);
  std::string ConfigToHex() const;
  void ConfigFromHex(std::string_view hex);

  static constexpr size_t kLineBufferSize = 8192;
  static_assert((kLineBufferSize & (kLineBufferSize - 1)) == 0,
                "the line buffer is a ring indexed by masking: its size is a power of two");

 private:
  void OnData(const uint8_t* bytes, size_t count);
  void OnTick();
  void HangUpFromLineState();
  void CompleteHangUp();
  void ApplyConfig();

  const bool dtrDefault_;
  const bool rtsDefault_;
  LineFactory lineFactory_;
  std::unique_ptr<SerialLine> line_;
  mutable std::once_flag portsListed_;
  mutable std::vector<std::string> availablePorts_;
  std::string portName_;
  bool openFailed_ = true;
  std::string lastErrorText_;
  PortConfig config_;

  // The modem lines as last set. The interface thread and the line-state
  // handler (on the receive thread) both change DTR: signalLock_ orders their
  // changes. The receive thread never waits for it, since a holder may be
  // waiting for the receive thread to carry its change to the device; a
  // hang-up it cannot make at once is left in hangUpAsked_ and made by the
  // holder right after its own change.
  std::mutex signalLock_;
  std::atomic<bool> dtr_;
  std::atomic<bool> rts_;
  std::atomic<bool> hangUpAsked_{false};

  // Frame assembly and the frame slot; frameLock_ also guards the gap.
  mutable std::mutex frameLock_;
  int interByteTimeout_ = 500;
  std::condition_variable frameArrived_;
  FrameAssembler assembler_;
  bool receiving_ = false;
  int64_t lastByteMs_ = 0;  // when the last byte arrived (frame mode)
  uint64_t framesArrived_ = 0;
  uint64_t framesRejected_ = 0;
  ExchangeState exchange_;

  // Line mode and the line buffer (a ring).
  mutable std::mutex lineLock_;
  bool lineMode_ = false;
  std::array<uint8_t, kLineBufferSize> lineBuffer_{};
  size_t lineHead_ = 0;
  size_t lineCount_ = 0;
  uint64_t lineArrived_ = 0;  // since the last ClearLineBuffer

  // The line-state handler; callLock_ is held while it runs so that a
  // replaced handler is never running after SetLineStateHandler returns.
  // watchLock_ keeps the line's polling in step with the handler installed.
  std::recursive_mutex callLock_;
  LineStateHandler lineState_;
  std::mutex watchLock_;
};

}  // namespace lentar::comm
