#include "comm/boardprotocol.h"

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "core/dates.h"
#include "core/textutil.h"

namespace lentar::comm {

namespace {

using Clock = std::chrono::steady_clock;

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

const std::string kAck = std::string("\x02\x01", 2) + "OK";
const std::string kConnectAnswer = std::string("\x02\x01", 2) + "CONOK";

std::vector<uint8_t> Request(const BoardSession& session, BoardCode code,
                             std::initializer_list<uint8_t> arguments = {}) {
  std::vector<uint8_t> payload = {0x01, session.AddressByte, static_cast<uint8_t>(code)};
  payload.insert(payload.end(), arguments);
  return payload;
}

void Fail(BoardSession& session, ReplyFault::Kind kind, size_t got = 0, size_t expected = 0) {
  session.SetLastReplyFault(ReplyFault{kind, got, expected});
}

// Before every request the line must be in step: each reply taken so far
// was the reply to its own request. A request that went unanswered may still
// be answered late, after its retry went out, and that late answer would
// pass for the retry's. So after a missed reply the line is first let fall
// quiet for a whole reply deadline, late answers forgotten; a line that
// keeps talking for three deadlines gets no request at all. A frame that
// arrived while nothing was outstanding was never asked for: it is dropped
// and counted, and an upload that sees one no longer trusts its
// acknowledgements.
bool PrepareLine(BoardSession& session) {
  TComPort::ExchangeState& x = session.Port().Exchange();
  if (x.replyOutstanding) {
    uint64_t arrived = 0;
    if (!session.Port().Settle(session.ReplyTimeout, 3 * session.ReplyTimeout, arrived)) {
      Fail(session, ReplyFault::LineBusy);
      return false;
    }
    x.replyOutstanding = false;
    x.framesAccounted = arrived;
    return true;
  }
  const uint64_t arrived = session.Port().FramesArrived();
  if (arrived != x.framesAccounted) {
    session.Port().DiscardFrame();
    ++x.unexpected;
    x.framesAccounted = arrived;
  }
  return true;
}

// The request is out and its reply did not come, or came wrong.
void MarkOutOfStep(BoardSession& session) {
  TComPort::ExchangeState& x = session.Port().Exchange();
  x.replyOutstanding = true;
  ++x.missed;
}

void FailNoReply(BoardSession& session) {
  Fail(session, session.Port().FramesRejected() != session.rejectedBefore ? ReplyFault::Damaged : ReplyFault::NoReply);
  MarkOutOfStep(session);
}

bool SendRequest(BoardSession& session, const std::vector<uint8_t>& request) {
  session.SetLastReplyFault(ReplyFault{});
  if (!PrepareLine(session)) return false;
  session.rejectedBefore = session.Port().FramesRejected();
  if (!session.Port().SendFrame(request)) {
    Fail(session, ReplyFault::NotSent);
    return false;
  }
  return true;
}

// Sends a request and waits for a text reply (the payload up to its first
// zero byte).
bool ExchangeText(BoardSession& session, const std::vector<uint8_t>& request, std::string& reply) {
  reply.clear();
  if (!SendRequest(session, request)) return false;
  if (!session.Port().WaitTextFrame(reply, session.ReplyTimeout)) {
    FailNoReply(session);
    return false;
  }
  ++session.Port().Exchange().framesAccounted;
  return true;
}

bool IsTextReply(const std::string& reply) {
  return reply.size() >= 2 && reply[0] == 0x02 && reply[1] == 0x01;
}

// A text reply that must be exactly `expected`; anything else may be some
// other request's late answer, so the line is taken as out of step.
bool ExchangeExpect(BoardSession& session, const std::vector<uint8_t>& request,
                    const std::string& expected) {
  std::string reply;
  if (!ExchangeText(session, request, reply)) return false;
  if (reply == expected) return true;
  Fail(session, IsTextReply(reply) ? ReplyFault::Refused : ReplyFault::WrongKind);
  MarkOutOfStep(session);
  return false;
}

bool ExchangeAck(BoardSession& session, const std::vector<uint8_t>& request) {
  return ExchangeExpect(session, request, kAck);
}

// A refusal of a password is an answer like the acknowledgement; only a
// reply that is no text reply at all puts the line out of step.
PasswordReply ExchangePassword(BoardSession& session, const std::vector<uint8_t>& request) {
  std::string reply;
  PasswordReply result;
  result.replied = ExchangeText(session, request, reply);
  if (result.replied && !IsTextReply(reply)) {
    Fail(session, ReplyFault::WrongKind);
    MarkOutOfStep(session);
    result.replied = false;
  }
  result.accepted = result.replied && reply == kAck;
  return result;
}

// Sends a request and waits for a data reply of exactly 03 01 + size bytes.
template <size_t N>
bool ExchangeData(BoardSession& session, const std::vector<uint8_t>& request, std::array<uint8_t, N>& out) {
  if (!SendRequest(session, request)) return false;
  std::array<uint8_t, 256> reply{};
  size_t n = 0;
  if (!session.Port().WaitFrame(reply.data(), reply.size(), session.ReplyTimeout, n)) {
    FailNoReply(session);
    return false;
  }
  ++session.Port().Exchange().framesAccounted;
  if (n < 2 || reply[0] != 0x03 || reply[1] != 0x01) {
    Fail(session, ReplyFault::WrongKind, n, N);
    MarkOutOfStep(session);
    return false;
  }
  if (n != N + 2) {
    Fail(session, ReplyFault::WrongLength, n - 2, N);
    MarkOutOfStep(session);
    return false;
  }
  for (size_t i = 0; i < N; ++i) out[i] = reply[2 + i];
  return true;
}

std::vector<uint8_t> BlockRequest(const BoardSession& session, BoardCode code, int buffer, size_t offset, const uint8_t* data,
                                  size_t length) {
  std::vector<uint8_t> request = Request(session, code, {static_cast<uint8_t>(buffer),
                                                static_cast<uint8_t>(offset & 0xFF),
                                                static_cast<uint8_t>((offset >> 8) & 0xFF)});
  if (length > 0) request.insert(request.end(), data, data + length);
  return request;
}

std::vector<uint8_t> PasswordBytes(const std::string& password, bool zeroWhenEmpty) {
  std::vector<uint8_t> bytes(password.begin(),
                             password.begin() + static_cast<std::ptrdiff_t>(
                                                    std::min(password.size(), kMaxPassword)));
  if (bytes.empty() && zeroWhenEmpty) bytes.push_back(0);
  return bytes;
}

std::vector<uint8_t> PasswordRequest(const BoardSession& session, BoardCode code, const std::string& password,
                                     bool zeroWhenEmpty) {
  std::vector<uint8_t> request = Request(session, code);
  const std::vector<uint8_t> bytes = PasswordBytes(password, zeroWhenEmpty);
  request.insert(request.end(), bytes.begin(), bytes.end());
  return request;
}

uint8_t ToBcd(int value) {
  value %= 100;
  if (value < 0) value += 100;
  return static_cast<uint8_t>((value / 10) << 4 | (value % 10));
}

int FromBcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

// Percent of the image sent after `sent` bytes, rounded to nearest with
// halves to even.
int PercentOf(size_t sent, size_t size) {
  const size_t num = 100 * sent;
  size_t q = num / size;
  const size_t r2 = 2 * (num % size);
  if (r2 > size || (r2 == size && (q & 1) != 0)) ++q;
  return static_cast<int>(q);
}

class ProgressReporter {
 public:
  explicit ProgressReporter(const ProgressFn& fn) : fn_(fn) {}
  void Report(size_t sent, size_t size) {
    const int percent = PercentOf(sent, size);
    if (percent == last_) return;
    last_ = percent;
    if (fn_) fn_(percent);
  }

 private:
  const ProgressFn& fn_;
  int last_ = -1;
};

// The wire bytes of block k: the image bytes, padded with 0xFF to 128. The
// padding stops at the largest image the board holds, so the last block of a
// maximal image carries only the bytes that fit.
std::vector<uint8_t> ImageBlock(const uint8_t* image, size_t size, size_t k) {
  const size_t offset = k * kBlockSize;
  const size_t wire = std::min(kBlockSize, kMaxImageSize - std::min(offset, kMaxImageSize));
  std::vector<uint8_t> block(wire, 0xFF);
  const size_t n = std::min(wire, size - offset);
  std::copy(image + offset, image + offset + n, block.begin());
  return block;
}

size_t BlockCount(size_t size) { return (size + kBlockSize - 1) / kBlockSize; }

// Watches an acknowledged upload for replies out of step. A board answers in
// order, one reply per request, so as long as no request went unanswered and
// no frame came unasked, every acknowledgement belongs to its own block.
class StepWatch {
 public:
  explicit StepWatch(BoardSession& session)
      : session_(session),
        port_(session.Port()),
        missed_(session.Port().Exchange().missed),
        unexpected_(session.Port().Exchange().unexpected),
        owed_(session.Port().Exchange().replyOutstanding) {}

  // A frame came that no request asked for: some acknowledgement taken so
  // far may have been another request's.
  bool Broken() const { return port_.Exchange().unexpected != unexpected_; }

  // Before the closing write. After a missed reply, a late answer may have
  // been credited to the retry and shifted every later one by a place; the
  // last real answer is then still on its way, so the line must stay quiet
  // for a whole deadline and bring nothing.
  bool Confirmed() {
    if (Broken()) return false;
    TComPort::ExchangeState& x = port_.Exchange();
    if (!owed_ && x.missed == missed_ && !x.replyOutstanding) return true;
    uint64_t arrived = 0;
    const bool quiet = port_.Settle(session_.ReplyTimeout, 3 * session_.ReplyTimeout, arrived);
    const bool clean = quiet && arrived == x.framesAccounted;
    x.framesAccounted = arrived;
    x.replyOutstanding = !quiet;
    if (!clean) ++x.unexpected;
    return clean;
  }

 private:
  BoardSession& session_;
  TComPort& port_;
  unsigned missed_;
  unsigned unexpected_;
  bool owed_;
};

bool SendEndMarker(BoardSession& session, int buffer, size_t size, int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt)
    if (CmdWriteBlock(session, buffer, size, nullptr, 0)) return true;
  return false;
}

}  // namespace

uint8_t AddressByteFor(int address) {
  return address < 0 ? uint8_t{0x0A} : static_cast<uint8_t>(0x80 | (address & 0x7F));
}

std::array<uint8_t, 7> EncodeBoardClock(const BoardClock& c) {
  return {ToBcd(c.second),
          ToBcd(c.minute),
          ToBcd(c.hour),
          static_cast<uint8_t>(WeekdayNumber(c.day, c.month, c.year)),
          ToBcd(c.day),
          ToBcd(c.month),
          ToBcd(c.year % 100)};
}

BoardClock DecodeBoardClock(const uint8_t* b) {
  BoardClock c;
  c.second = FromBcd(b[0] & 0x7F);
  c.minute = FromBcd(b[1] & 0x7F);
  c.hour = FromBcd(b[2] & 0x3F);
  c.dayOfWeek = b[3] & 0x07;
  if (c.dayOfWeek == 7) c.dayOfWeek = 0;
  c.day = FromBcd(b[4] & 0x3F);
  c.month = FromBcd(b[5] & 0x1F);
  c.year = 2000 + FromBcd(b[6]);
  c.milliseconds = 0;
  return c;
}

bool CmdConnect(BoardSession& session) {
  std::vector<uint8_t> request = Request(session, BoardCode::Connect);
  for (uint8_t i = 3; i < 16; ++i) request.push_back(static_cast<uint8_t>(i + 1));
  return ExchangeExpect(session, request, kConnectAnswer);
}

bool CmdReadVersion(BoardSession& session, std::string& version) {
  std::string reply;
  if (!ExchangeText(session, Request(session, BoardCode::ReadVersion, {0, 0, 0, 0, 0}), reply)) return false;
  if (reply.size() <= 2 || !IsTextReply(reply)) {
    Fail(session, ReplyFault::WrongKind);
    MarkOutOfStep(session);
    return false;
  }
  version = reply.substr(2);
  return true;
}

bool CmdReadAutoBright(BoardSession& session, AutoBrightBlock& block) {
  return ExchangeData(session, Request(session, BoardCode::ReadAutoBright), block.bytes);
}

bool CmdWriteAutoBright(BoardSession& session, const std::array<uint8_t, 6>& s) {
  return ExchangeAck(session, Request(session, BoardCode::WriteAutoBright, {s[0], s[1], s[2], s[3], s[4], s[5]}));
}

bool CmdReadClock(BoardSession& session, BoardClock& clock) {
  std::array<uint8_t, 8> bytes{};
  if (!ExchangeData(session, Request(session, BoardCode::ReadClock, {0, 0, 0, 0, 0}), bytes)) return false;
  clock = DecodeBoardClock(bytes.data());
  return true;
}

bool CmdSetClock(BoardSession& session, const BoardClock& clock) {
  const auto b = EncodeBoardClock(clock);
  return ExchangeAck(session, Request(session, BoardCode::SetClock, {b[0], b[1], b[2], b[3], b[4], b[5], b[6]}));
}

bool CmdSetFlip(BoardSession& session, bool flipped) {
  return ExchangeAck(session, Request(session, BoardCode::SetFlip, {static_cast<uint8_t>(flipped ? 1 : 0)}));
}

bool CmdReadStatus(BoardSession& session, StatusBlock& status) {
  return ExchangeData(session, Request(session, BoardCode::ReadStatus), status.bytes);
}

bool CmdSetBrightness(BoardSession& session, int brightness) {
  return ExchangeAck(session, Request(session, BoardCode::SetBrightness, {static_cast<uint8_t>(brightness)}));
}

bool CmdWriteBlock(BoardSession& session, int buffer, size_t offset, const uint8_t* data, size_t length) {
  if (length > kBlockSize) length = kBlockSize;
  if (offset > kMaxImageSize || offset + length > kMaxImageSize) return false;
  return ExchangeAck(session, BlockRequest(session, BoardCode::WriteBlock, buffer, offset, data, length));
}

bool CmdStartBuffer(BoardSession& session, int buffer) {
  return ExchangeAck(session, Request(session, BoardCode::StartBuffer, {static_cast<uint8_t>(buffer)}));
}

bool CmdSetSpeed(BoardSession& session, int speed) {
  return ExchangeAck(session, Request(session, BoardCode::SetSpeed, {static_cast<uint8_t>(speed)}));
}

bool CmdSetDefaultFont(BoardSession& session, int font) {
  return ExchangeAck(session, Request(session, BoardCode::SetDefaultFont, {static_cast<uint8_t>(font)}));
}

bool CmdReadBufferInfo(BoardSession& session, BufferInfo& info) {
  return ExchangeData(session, Request(session, BoardCode::ReadBufferInfo), info.bytes);
}

PasswordReply CmdEnterPassword(BoardSession& session, const std::string& password) {
  return ExchangePassword(session, PasswordRequest(session, BoardCode::EnterPassword, password, true));
}

PasswordReply CmdSetPassword(BoardSession& session, const std::string& password) {
  return ExchangePassword(session, PasswordRequest(session, BoardCode::SetPassword, password, false));
}

bool CmdSetBaud(BoardSession& session, int rateIndex) {
  return ExchangeAck(session, Request(session, BoardCode::SetBaud, {static_cast<uint8_t>(rateIndex)}));
}

bool CmdReadOptions(BoardSession& session, OptionsBlock& options) {
  return ExchangeData(session, Request(session, BoardCode::ReadOptions), options.bytes);
}

bool CmdSetClearOnSwitch(BoardSession& session, bool on) {
  return ExchangeAck(session, Request(session, BoardCode::SetClearOnSwitch, {static_cast<uint8_t>(on ? 1 : 0)}));
}

PasswordReply CmdEnterModemPassword(BoardSession& session, const std::string& password) {
  return ExchangePassword(session, PasswordRequest(session, BoardCode::EnterModemPassword, password, false));
}

PasswordReply CmdQueryModemAccess(BoardSession& session) {
  return ExchangePassword(session, Request(session, BoardCode::QueryModemAccess));
}

bool CmdBeginStream(BoardSession& session) { return ExchangeAck(session, Request(session, BoardCode::BeginStream)); }

bool CmdStreamBlock(BoardSession& session, int buffer, size_t offset, const uint8_t* data, size_t length) {
  if (length > kBlockSize) length = kBlockSize;
  if (offset > kMaxImageSize || offset + length > kMaxImageSize) return false;
  session.Port().SendFrame(BlockRequest(session, BoardCode::StreamBlock, buffer, offset, data, length));
  return true;
}

bool CmdReadBlockMap(BoardSession& session, BlockMap& map) {
  return ExchangeData(session, Request(session, BoardCode::ReadBlockMap), map.bytes);
}

bool MeasureLink(BoardSession& session, int& blockDelay) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto start = Clock::now();
    const bool ok = CmdConnect(session);
    const auto end = Clock::now();
    if (ok) {
      const auto elapsed =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
      blockDelay = static_cast<int>(elapsed / 2 + 20);
      return true;
    }
    if (attempt < 2) SleepMs(500);
  }
  return false;
}

bool UploadAcknowledged(BoardSession& session, int buffer, const uint8_t* image, size_t size,
                        const ProgressFn& progress, size_t firstBlock, size_t* confirmed) {
  // The leading blocks the board is known to hold, for a later resume.
  size_t held = std::min(firstBlock, BlockCount(size));
  const auto finish = [&](bool ok) {
    if (confirmed) *confirmed = held;
    return ok;
  };
  if (size < 1 || size > kMaxImageSize || image == nullptr) return finish(false);
  ProgressReporter reporter(progress);
  if (held > 0) reporter.Report(std::min(size, held * kBlockSize), size);
  StepWatch watch(session);
  // Until the first missed reply every acknowledgement is surely its own
  // block's; after one, a late answer could have been credited to the wrong
  // block, which the watch only tells later.
  const unsigned missedBefore = session.Port().Exchange().missed;
  size_t inStep = held;
  // Before a failure is reported, the line is let fall quiet: a frame that
  // still comes unasked means some acknowledgement was misplaced, and only
  // the blocks confirmed before the first missed reply count as held.
  const auto fail = [&]() {
    if (!watch.Confirmed()) held = inStep;
    return finish(false);
  };
  // A board that has acknowledged blocks of this image is there: blocks it
  // then misses were lost on a noisy line, and each is given more attempts
  // before the upload is given up. A board that never answered fails after
  // the usual count.
  bool boardAnswers = false;
  for (size_t k = held; k < BlockCount(size); ++k) {
    // Between blocks is the safe place to stop: every block so far was
    // acknowledged whole, and the next one has not been started.
    if (session.StopRequested()) return fail();
    const std::vector<uint8_t> block = ImageBlock(image, size, k);
    bool acknowledged = false;
    for (int attempt = 0; !acknowledged; ++attempt) {
      const ReplyFault::Kind lost = session.LastReplyFault().kind;
      const bool noisy = boardAnswers && (lost == ReplyFault::NoReply || lost == ReplyFault::Damaged);
      if (attempt >= (noisy ? std::max(session.RetryCount, kNoisyLineAttempts) : session.RetryCount)) break;
      acknowledged = CmdWriteBlock(session, buffer, k * kBlockSize, block.data(), block.size());
    }
    if (!acknowledged) return fail();
    if (watch.Broken()) {
      held = inStep;
      return finish(false);
    }
    held = k + 1;
    if (session.Port().Exchange().missed == missedBefore) inStep = held;
    boardAnswers = true;
    reporter.Report(std::min(size, (k + 1) * kBlockSize), size);
  }
  if (!watch.Confirmed()) {
    held = inStep;
    return finish(false);
  }
  // Stopped before the end marker, the board holds every block but has not
  // closed the upload: a resume sends only the marker.
  if (session.StopRequested()) return finish(false);
  return finish(SendEndMarker(session, buffer, size, std::max(session.RetryCount, kNoisyLineAttempts)));
}

bool UploadStreamed(BoardSession& session, int buffer, const uint8_t* image, size_t size,
                    const ProgressFn& progress, bool watchDSR, bool full) {
  if (size < 1 || size > kMaxImageSize || image == nullptr) return false;
  ProgressReporter reporter(progress);
  const size_t blocks = BlockCount(size);
  // A stop ends the upload before the next block or request goes out; the
  // pauses between blocks end at once. What the board took stays in its
  // block map, from which a resume goes on.
  const StopFlag* stop = &session.Stop();
  // One block out, the pause after it, the DSR check and the progress.
  const auto stream = [&](size_t k) {
    if (stop->Requested()) return false;
    const std::vector<uint8_t> block = ImageBlock(image, size, k);
    CmdStreamBlock(session, buffer, k * kBlockSize, block.data(), block.size());
    PauseUnlessStopped(stop, session.BlockDelay);
    return !(watchDSR && !session.Port().DSRState());
  };
  if (stop->Requested()) return false;
  if (full) {
    if (!CmdBeginStream(session)) return false;
    SleepMs(150);
    for (size_t k = 0; k < blocks; ++k) {
      if (!stream(k)) return false;
      reporter.Report(std::min(size, (k + 1) * kBlockSize), size);
    }
  }
  SleepMs(50);
  bool complete = false;
  for (int round = 0; round < 3 && !complete; ++round) {
    if (stop->Requested()) return false;
    BlockMap map;
    bool gotMap = false;
    for (int attempt = 0; attempt < 3 && !gotMap; ++attempt) {
      gotMap = CmdReadBlockMap(session, map);
      if (!gotMap && !PauseUnlessStopped(stop, 500)) return false;
    }
    if (!gotMap) return false;
    SleepMs(150);
    bool resent = false;
    for (size_t k = 0; k < blocks; ++k) {
      if (!map.Has(k)) {
        resent = true;
        if (!stream(k)) return false;
      }
      reporter.Report(std::min(size, (k + 1) * kBlockSize), size);
    }
    complete = !resent;
  }
  if (!complete || stop->Requested()) return false;
  return SendEndMarker(session, buffer, size, session.RetryCount);
}

bool ClearBuffer(BoardSession& session, int buffer) { return CmdWriteBlock(session, buffer, 0, nullptr, 0); }

bool SetClockNow(BoardSession& session, const ClockSource& clock) {
  return CmdSetClock(session, clock ? clock() : LocalTimeNow());
}

bool ApplyBoardSettings(BoardSession& session, int speed, int brightness, bool flipped) {
  return CmdSetSpeed(session, speed) && CmdSetBrightness(session, brightness) &&
         CmdSetFlip(session, flipped);
}

bool OpenBoardPortQuiet(BoardSession& session, std::string& errorText, const TSettings& settings) {
  errorText.clear();
  if (!session.Port().IsOpen()) {
    session.Port().Open(BoardPortDevice(settings));
    session.UseLineTimeouts();
  }
  TComPort& port = session.Port();
  if (port.IsOpen()) return true;
  // A server that dropped the connection right after taking it leaves an
  // open that worked: the line says why it closed.
  errorText = port.OpenFailed() || port.LostText().empty() ? port.LastErrorText() : port.LostText();
  return false;
}

void CloseBoardPort(BoardSession& session) {
  if (session.Port().IsOpen()) {
    session.Port().RestoreLines();
    session.Port().Purge();
  }
  session.Port().Open("");
}

}  // namespace lentar::comm
