// The board protocol: the request/reply commands spoken with an LED board
// over a link-framed serial line.
//
// Every request is one frame [01, AddressByte, command code, arguments...];
// the board answers with one frame: a text reply [02 01 text...] (the
// acknowledgement is "\002\001OK", the connect answer "\002\001CONOK") or a
// data reply [03 01 data...] of a fixed length per command. Numbers are
// little-endian, clock fields packed BCD.
//
// Each command is a function returning a success flag; none shows a message.
// A command whose reply does not arrive within ReplyTimeout, or arrives
// malformed, fails; there is no retry inside a command. After such a failure
// the next command first lets the line fall quiet (up to three deadlines),
// so that a late reply is never taken for the answer to a later request.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "comm/comport.h"
#include "core/dates.h"
#include "core/settings.h"

namespace lentar::comm {

// Command codes (the third request byte).
enum class BoardCode : uint8_t {
  Connect = 0x01,
  ReadVersion = 0x03,
  ReadAutoBright = 0x04,
  WriteAutoBright = 0x05,
  ReadClock = 0x08,
  SetClock = 0x09,
  SetFlip = 0x0C,
  ReadStatus = 0x0D,
  SetBrightness = 0x17,
  WriteBlock = 0x2C,
  StartBuffer = 0x2D,
  SetSpeed = 0x2F,
  SetDefaultFont = 0x30,
  ReadBufferInfo = 0x34,
  EnterPassword = 0x35,
  SetPassword = 0x36,
  SetBaud = 0x37,
  ReadOptions = 0x3F,
  SetClearOnSwitch = 0x44,
  EnterModemPassword = 0x46,
  QueryModemAccess = 0x47,
  BeginStream = 0x4E,
  StreamBlock = 0x4F,
  ReadBlockMap = 0x50,
};

// Upload geometry: images travel in 128-byte blocks; an image holds at most
// 64770 bytes (506 full blocks and 2 bytes).
inline constexpr size_t kBlockSize = 128;
inline constexpr size_t kMaxImageSize = 64770;
inline constexpr size_t kMaxPassword = 8;

// ---- Shared protocol state -----------------------------------------------

// Second byte of every request: 0x0A for no address, else 0x80 | address.
extern uint8_t AddressByte;
// Reply deadline in ms: 2000, 10000 while a modem call is up.
extern int ReplyTimeout;
// Attempts per block and end marker: 2, 5 while a modem call is up.
extern int RetryCount;
// Pause between streamed blocks in ms, measured before each upload.
extern int BlockDelay;

// The address byte for a board address: -1 (or any negative) for none.
uint8_t AddressByteFor(int address);

// ---- Replies ---------------------------------------------------------------

// The board's calendar clock: a plain date and time. The wire form below is
// the protocol's concern.
using BoardClock = DateTime;
// The 7 wire bytes: BCD seconds, minutes, hours, day of week (1 = Monday ..
// 7 = Sunday, computed from the date), BCD day, month, year modulo 100.
std::array<uint8_t, 7> EncodeBoardClock(const BoardClock& clock);
// The inverse; the board's day-of-week byte 7 reads as Sunday, milliseconds
// are 0 and the year is 2000 + the year byte.
BoardClock DecodeBoardClock(const uint8_t* bytes);
// Where SetClockNow takes the time from; empty: the computer's clock.
using ClockSource = std::function<BoardClock()>;

struct StatusBlock {
  std::array<uint8_t, 22> bytes{};
  bool Flipped() const { return bytes[2] != 0; }
  int Speed() const { return bytes[4]; }
  int Brightness() const { return bytes[5]; }
  int DefaultFont() const { return bytes[8]; }
  int FontCount() const { return bytes[9]; }
  int CurrentFont() const { return bytes[11]; }
  bool PasswordSet() const { return bytes[19] != 0; }
  bool AccessGranted() const { return bytes[20] != 0; }
  bool AutoBrightness() const { return bytes[21] != 0; }
};

struct BufferInfo {
  std::array<uint8_t, 17> bytes{};
  int CurrentBuffer() const { return bytes[0]; }  // 0 = buffer 1
  int Position() const { return bytes[1] | bytes[2] << 8; }
  int DataLength() const { return bytes[3] | bytes[4] << 8; }
  // Capacity of buffer 0 or 1 in bytes.
  int Capacity(int buffer) const {
    const size_t at = buffer == 0 ? 13 : 15;
    return bytes[at] | bytes[at + 1] << 8;
  }
};

struct OptionsBlock {
  std::array<uint8_t, 32> bytes{};
  bool ClearOnSwitch() const { return bytes[4] != 0; }
};

struct AutoBrightBlock {
  std::array<uint8_t, 11> bytes{};
  int Brightness() const { return bytes[0]; }
  bool Enabled() const { return bytes[1] != 0; }
  int DarkBrightness() const { return bytes[2]; }
  int DarkSensor() const { return bytes[3] | bytes[4] << 8; }
  int BrightSensor() const { return bytes[5] | bytes[6] << 8; }
  int CurrentSensor() const { return bytes[7] | bytes[8] << 8; }
  int Timer() const { return bytes[9] | bytes[10] << 8; }
  // The bytes CmdWriteAutoBright carries: 1..6.
  std::array<uint8_t, 6> Settable() const {
    return {bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6]};
  }
};

struct BlockMap {
  std::array<uint8_t, 64> bytes{};
  bool Has(size_t block) const {
    return block < 512 && (bytes[block / 8] >> (block % 8) & 1) != 0;
  }
};

// The two answers of the password commands: a reply arrived, and it was the
// acknowledgement.
struct PasswordReply {
  bool replied = false;
  bool accepted = false;
};

// Why the last command failed, for the operator's message.
struct ReplyFault {
  enum Kind {
    None,
    NotSent,      // the port did not take the request
    LineBusy,     // the line did not fall quiet after a missed reply
    NoReply,      // nothing within ReplyTimeout
    Damaged,      // only a frame whose check bytes did not match
    Refused,      // a text reply other than the one expected
    WrongKind,    // a reply of another kind (text for data, data for text)
    WrongLength,  // a data reply with got data bytes where expected were due
  };
  Kind kind = None;
  size_t got = 0;
  size_t expected = 0;
};
ReplyFault LastReplyFault();

// ---- Commands --------------------------------------------------------------

bool CmdConnect(TComPort& port);
bool CmdReadVersion(TComPort& port, std::string& version);
bool CmdReadAutoBright(TComPort& port, AutoBrightBlock& block);
bool CmdWriteAutoBright(TComPort& port, const std::array<uint8_t, 6>& settable);
bool CmdReadClock(TComPort& port, BoardClock& clock);
bool CmdSetClock(TComPort& port, const BoardClock& clock);
bool CmdSetFlip(TComPort& port, bool flipped);
bool CmdReadStatus(TComPort& port, StatusBlock& status);
bool CmdSetBrightness(TComPort& port, int brightness);
// Refuses (false, nothing sent) when offset + length exceeds 64770; more
// than 128 bytes are cut to 128. With no data: at offset 0 it clears the
// buffer, at offset = image size it ends an upload of that many bytes.
bool CmdWriteBlock(TComPort& port, int buffer, size_t offset, const uint8_t* data, size_t length);
bool CmdStartBuffer(TComPort& port, int buffer);
bool CmdSetSpeed(TComPort& port, int speed);
bool CmdSetDefaultFont(TComPort& port, int font);
bool CmdReadBufferInfo(TComPort& port, BufferInfo& info);
// Passwords are cut to 8 bytes; an empty password to enter is sent as one
// zero byte.
PasswordReply CmdEnterPassword(TComPort& port, const std::string& password);
PasswordReply CmdSetPassword(TComPort& port, const std::string& password);
bool CmdSetBaud(TComPort& port, int rateIndex);
bool CmdReadOptions(TComPort& port, OptionsBlock& options);
bool CmdSetClearOnSwitch(TComPort& port, bool on);
PasswordReply CmdEnterModemPassword(TComPort& port, const std::string& password);
PasswordReply CmdQueryModemAccess(TComPort& port);
bool CmdBeginStream(TComPort& port);
// Sent without waiting for a reply; the same refusal rule as CmdWriteBlock.
bool CmdStreamBlock(TComPort& port, int buffer, size_t offset, const uint8_t* data,
                      size_t length);
bool CmdReadBlockMap(TComPort& port, BlockMap& map);

// ---- Sequences -------------------------------------------------------------

using ProgressFn = std::function<void(int percent)>;

// Connect handshake, up to 3 attempts 500 ms apart; on success blockDelay is
// half the round trip in ms plus 20.
bool MeasureLink(TComPort& port, int& blockDelay);
// Attempts per block, and per preparing command of an upload, once the board
// has shown it is there: a noisy line loses requests, a silent one loses all.
inline constexpr int kNoisyLineAttempts = 6;
// Direct line: every 128-byte block (0xFF-padded) acknowledged, each tried up
// to RetryCount times (kNoisyLineAttempts once a block of this image was
// acknowledged), then the end marker. progress gets whole percents,
// only when they change. The end marker goes out only when every block was
// confirmed by its own reply: a reply nobody asked for fails the upload, and
// after any missed reply the line must stay quiet for a deadline before it.
// firstBlock > 0 completes an interrupted upload whose leading blocks the
// board already holds: nothing before it is sent. confirmed (when given)
// receives the leading blocks the board surely holds, also after a failure,
// for the next resume.
bool UploadAcknowledged(TComPort& port, int buffer, const uint8_t* image, size_t size,
                        const ProgressFn& progress, size_t firstBlock = 0,
                        size_t* confirmed = nullptr);
// Modem line: blocks streamed BlockDelay ms apart without replies (full), then
// up to 3 repair rounds from the board's block map, then the end marker.
// Without full, the map from an interrupted upload decides what is sent.
// With watchDSR, a dropped DSR line fails the upload at once.
bool UploadStreamed(TComPort& port, int buffer, const uint8_t* image, size_t size,
                    const ProgressFn& progress, bool watchDSR, bool full);
// Clears a buffer: the empty block at offset 0.
bool ClearBuffer(TComPort& port, int buffer);
// Sets the board's clock from the clock source (the computer's local time).
bool SetClockNow(TComPort& port, const ClockSource& clock = LocalTimeNow);
// Apply settings: speed, then brightness, then orientation, each only after
// the previous one was acknowledged.
bool ApplyBoardSettings(TComPort& port, int speed, int brightness, bool flipped);

// Opens BoardPort on the settings' board device when it is not open yet and
// resets ReplyTimeout and RetryCount; false with the reason in errorText when
// the port could not be opened. Windows report the failure themselves.
bool OpenBoardPortQuiet(std::string& errorText, const TSettings& settings = Settings());
// Restores the modem lines, purges and closes BoardPort.
void CloseBoardPort();

}  // namespace lentar::comm
