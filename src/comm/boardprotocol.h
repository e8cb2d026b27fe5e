// The board protocol: the request/reply commands spoken with an LED board
// over a link-framed serial line.
//
// Every request is one frame [01, AddressByte, command code, arguments...];
// the board answers with one frame: a text reply [02 01 text...] (the
// acknowledgement is "\002\001OK", the connect answer "\002\001CONOK") or a
// data reply [03 01 data...] of a fixed length per command. Numbers are
// little-endian, clock fields packed BCD.
//
// Each command is a function of a board session (session.h) returning a
// success flag; none shows a message. The session says which line, which
// board (its AddressByte) and how long a reply is awaited (its ReplyTimeout);
// why a command failed is left in its LastReplyFault(). A command whose reply
// does not arrive in time, or arrives malformed, fails; there is no retry
// inside a command. After such a failure the next command first lets the
// line fall quiet (up to three deadlines), so that a late reply is never
// taken for the answer to a later request.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "comm/comport.h"
#include "comm/session.h"
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


// ---- Commands --------------------------------------------------------------

bool CmdConnect(BoardSession& session);
bool CmdReadVersion(BoardSession& session, std::string& version);
bool CmdReadAutoBright(BoardSession& session, AutoBrightBlock& block);
bool CmdWriteAutoBright(BoardSession& session, const std::array<uint8_t, 6>& settable);
bool CmdReadClock(BoardSession& session, BoardClock& clock);
bool CmdSetClock(BoardSession& session, const BoardClock& clock);
bool CmdSetFlip(BoardSession& session, bool flipped);
bool CmdReadStatus(BoardSession& session, StatusBlock& status);
bool CmdSetBrightness(BoardSession& session, int brightness);
// Refuses (false, nothing sent) when offset + length exceeds 64770; more
// than 128 bytes are cut to 128. With no data: at offset 0 it clears the
// buffer, at offset = image size it ends an upload of that many bytes.
bool CmdWriteBlock(BoardSession& session, int buffer, size_t offset, const uint8_t* data, size_t length);
bool CmdStartBuffer(BoardSession& session, int buffer);
bool CmdSetSpeed(BoardSession& session, int speed);
bool CmdSetDefaultFont(BoardSession& session, int font);
bool CmdReadBufferInfo(BoardSession& session, BufferInfo& info);
// Passwords are cut to 8 bytes; an empty password to enter is sent as one
// zero byte.
PasswordReply CmdEnterPassword(BoardSession& session, const std::string& password);
PasswordReply CmdSetPassword(BoardSession& session, const std::string& password);
bool CmdSetBaud(BoardSession& session, int rateIndex);
bool CmdReadOptions(BoardSession& session, OptionsBlock& options);
bool CmdSetClearOnSwitch(BoardSession& session, bool on);
PasswordReply CmdEnterModemPassword(BoardSession& session, const std::string& password);
PasswordReply CmdQueryModemAccess(BoardSession& session);
bool CmdBeginStream(BoardSession& session);
// Sent without waiting for a reply; the same refusal rule as CmdWriteBlock.
bool CmdStreamBlock(BoardSession& session, int buffer, size_t offset, const uint8_t* data,
                      size_t length);
bool CmdReadBlockMap(BoardSession& session, BlockMap& map);

// ---- Sequences -------------------------------------------------------------

using ProgressFn = std::function<void(int percent)>;

// Connect handshake, up to 3 attempts 500 ms apart; on success blockDelay is
// half the round trip in ms plus 20.
bool MeasureLink(BoardSession& session, int& blockDelay);
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
// for the next resume. The session's stop flag ends it between blocks (or
// before the end marker): false, with confirmed as after a failure.
bool UploadAcknowledged(BoardSession& session, int buffer, const uint8_t* image, size_t size,
                        const ProgressFn& progress, size_t firstBlock = 0,
                        size_t* confirmed = nullptr);
// Modem line: blocks streamed BlockDelay ms apart without replies (full), then
// up to 3 repair rounds from the board's block map, then the end marker.
// Without full, the map from an interrupted upload decides what is sent.
// With watchDSR, a dropped DSR line fails the upload at once. The session's
// stop flag ends it before the next block or request (false); the board's
// block map keeps what arrived for a resume.
bool UploadStreamed(BoardSession& session, int buffer, const uint8_t* image, size_t size,
                    const ProgressFn& progress, bool watchDSR, bool full);
// Clears a buffer: the empty block at offset 0.
bool ClearBuffer(BoardSession& session, int buffer);
// Sets the board's clock from the clock source (the computer's local time).
bool SetClockNow(BoardSession& session, const ClockSource& clock = LocalTimeNow);
// Apply settings: speed, then brightness, then orientation, each only after
// the previous one was acknowledged.
bool ApplyBoardSettings(BoardSession& session, int speed, int brightness, bool flipped);

// Opens the session's line on the settings' board device when it is not
// open yet and gives the session the line's ReplyTimeout and RetryCount;
// false with the reason in errorText when the port could not be opened.
// Windows report the failure themselves.
bool OpenBoardPortQuiet(BoardSession& session, std::string& errorText,
                        const TSettings& settings);
// Restores the modem lines, purges and closes the session's line.
void CloseBoardPort(BoardSession& session);

}  // namespace lentar::comm
