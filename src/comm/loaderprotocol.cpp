#include "comm/loaderprotocol.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <random>
#include <thread>

namespace lentar::comm {

namespace {

const std::string kAck = std::string("\x02\x01", 2) + "OK";
const std::string kConnectAnswer = std::string("\x02\x01", 2) + "CONOK";

void Pause(const LoaderSession& session) {
  if (session.LoaderSwitchPause > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(session.LoaderSwitchPause));
}

std::vector<uint8_t> Request(LoaderCode code, std::initializer_list<uint8_t> arguments = {}) {
  std::vector<uint8_t> payload = {0x01, kLoaderAddress, static_cast<uint8_t>(code)};
  payload.insert(payload.end(), arguments);
  return payload;
}

void PutAddress(std::vector<uint8_t>& request, uint32_t address) {
  for (int k = 0; k < 3; ++k) request.push_back(static_cast<uint8_t>(address >> (8 * k)));
}

// ---- Keeping the exchange in step ------------------------------------------
//
// The loader answers each request with one reply, in order, and a reply says
// nothing about the request it answers: an acknowledgement is the same two
// letters for every write, a read reply only its length. A reply that comes
// twice (from the loader or from the line), or late, would pass for the
// answer to the next request, and a write that never reached the loader
// would stand acknowledged. Two rules keep every reply taken its own
// request's:
//
//  - As on the board's line, after a reply missed (or answered wrongly) the
//    line first falls quiet for a whole reply deadline, late answers
//    forgotten, and a frame that arrives while nothing is asked is dropped.
//  - A request is never sent when its reply could not be told from the last
//    reply taken: then a short request with a reply of another shape goes
//    between (a read of one byte, or the connect handshake after a one-byte
//    read). A copy of the last reply then never passes for the next one, so
//    every reply taken is the answer to its own request: a copy that slips
//    in is refused as the wrong shape, a lost request leaves its reply
//    missing.

// What a reply is, as far as it can be told from another one.
struct Shape {
  enum Kind : uint8_t { None, Ack, ConnectAnswer, Data } kind = None;
  size_t length = 0;  // data bytes of a data reply
  bool operator==(const Shape&) const = default;
};

Shape DataShape(size_t length) { return {Shape::Data, length}; }

// The shape of the last reply taken in a session. It is kept beside the
// line's count of frames accounted for at that moment: a line whose count has
// moved on without this session has taken nothing that could be mistaken for
// the next reply.
Shape LastShape(const LoaderSession& session) {
  const LoaderSession::LastReply& last = session.lastReply;
  if (last.accounted != session.Port().Exchange().framesAccounted) return Shape{};
  return {static_cast<Shape::Kind>(last.kind), last.length};
}

void SetLastShape(LoaderSession& session, Shape shape) {
  session.lastReply = {shape.kind, shape.length, session.Port().Exchange().framesAccounted};
}

// Before every request: after a missed reply, the line falls quiet first (up
// to three deadlines); a frame nobody asked for is dropped.
bool PrepareLine(LoaderSession& session) {
  TComPort::ExchangeState& x = session.Port().Exchange();
  if (x.replyOutstanding) {
    uint64_t arrived = 0;
    if (!session.Port().Settle(session.LoaderReplyTimeout, 3 * session.LoaderReplyTimeout, arrived)) return false;
    x.replyOutstanding = false;
    x.framesAccounted = arrived;
    SetLastShape(session, {});
    return true;
  }
  const uint64_t arrived = session.Port().FramesArrived();
  if (arrived != x.framesAccounted) {
    const Shape last = LastShape(session);
    session.Port().DiscardFrame();
    ++x.unexpected;
    x.framesAccounted = arrived;
    SetLastShape(session, last);  // a dropped copy may be followed by another
  }
  return true;
}

// The request went out and its reply did not come, or came wrong.
bool OutOfStep(LoaderSession& session) {
  TComPort::ExchangeState& x = session.Port().Exchange();
  x.replyOutstanding = true;
  ++x.missed;
  SetLastShape(session, {});
  return false;
}

// After a speed switch whatever was on its way is noise or the switch's own
// acknowledgement: forgotten without waiting, and the next reply must not be
// an acknowledgement.
void ForgetInFlight(LoaderSession& session) {
  session.Port().DiscardFrame();
  TComPort::ExchangeState& x = session.Port().Exchange();
  x.framesAccounted = session.Port().FramesArrived();
  x.replyOutstanding = false;
  SetLastShape(session, {Shape::Ack});
}

std::vector<uint8_t> ConnectRequest(LoaderSession& session) {
  std::mt19937& random = session.Random();
  std::vector<uint8_t> request = Request(LoaderCode::Connect);
  for (int i = 0; i < 13; ++i) request.push_back(static_cast<uint8_t>(random() & 0xFF));
  return request;
}

std::vector<uint8_t> ReadRequest(uint32_t address, size_t count) {
  std::vector<uint8_t> request = Request(LoaderCode::ReadMem);
  PutAddress(request, address);
  request.push_back(static_cast<uint8_t>(count));
  return request;
}

bool Exchange(LoaderSession& session, const std::vector<uint8_t>& request, Shape expect,
              uint8_t* destination = nullptr);

// A request whose reply cannot be taken for the last one, sent when the
// next reply would look like the last.
bool Separate(LoaderSession& session, const Shape& next) {
  if (next.kind == Shape::None || !(LastShape(session) == next)) return true;
  if (next == DataShape(1)) return Exchange(session, ConnectRequest(session), {Shape::ConnectAnswer});
  uint8_t byte = 0;
  return Exchange(session, ReadRequest(0, 1), DataShape(1), &byte);
}

// Sends a request and takes its reply: a text reply that must be exactly the
// acknowledgement or the connect answer, or a data reply of exactly 03 01 and
// expect.length bytes, copied to destination.
bool Exchange(LoaderSession& session, const std::vector<uint8_t>& request, Shape expect,
              uint8_t* destination) {
  if (!PrepareLine(session) || !Separate(session, expect) || !PrepareLine(session)) return false;
  std::this_thread::sleep_until(session.quietUntil);
  if (!session.Port().SendFrame(request)) return false;
  std::array<uint8_t, 260> reply{};
  size_t n = 0;
  if (!session.Port().WaitFrame(reply.data(), reply.size(), session.LoaderReplyTimeout, n)) return OutOfStep(session);
  ++session.Port().Exchange().framesAccounted;
  if (expect.kind == Shape::Data) {
    if (n != expect.length + 2 || reply[0] != 0x03 || reply[1] != 0x01) return OutOfStep(session);
    std::copy_n(reply.begin() + 2, expect.length, destination);
  } else {
    // A text reply is the payload up to its first zero byte.
    const auto end = std::find(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n), 0);
    const std::string text(reply.begin(), end);
    if (text != (expect.kind == Shape::Ack ? kAck : kConnectAnswer)) return OutOfStep(session);
  }
  SetLastShape(session, expect);
  return true;
}

bool ExchangeAck(LoaderSession& session, const std::vector<uint8_t>& request) {
  return Exchange(session, request, {Shape::Ack});
}

// Whole percent of done out of total, to nearest, halves to even.
int Percent(size_t done, size_t total) {
  if (total == 0) return 100;
  const size_t num = 100 * done;
  size_t q = num / total;
  const size_t r2 = 2 * (num % total);
  if (r2 > total || (r2 == total && (q & 1) != 0)) ++q;
  return static_cast<int>(q);
}

using ChunkFn = std::function<bool(const MemoryChunk&)>;

// A transfer stopped by the session's stop flag ends between two chunks,
// after the page it was at: never before its first chunk, so that a single
// page (a directory page finishing a block) always goes whole.
bool Transfer(const LoaderSession& session, uint32_t address, size_t count, const ChunkFn& each, const LoaderProgress& progress,
              size_t doneBefore = 0, size_t total = 0) {
  if (total == 0) total = count;
  bool first = true;
  for (const MemoryChunk& chunk : TransferChunks(address, count, session.PageSize)) {
    if (!first && session.StopRequested()) return false;
    first = false;
    if (!each(chunk)) return false;
    if (progress) progress(Percent(doneBefore + chunk.offset + chunk.length, total));
  }
  return true;
}

bool WriteRange(LoaderSession& session, uint32_t address, size_t count, const uint8_t* source,
                const LoaderProgress& progress, size_t doneBefore, size_t total) {
  return Transfer(session, address, count, [&](const MemoryChunk& c) {
    return loader::CmdWriteMem(session, c.address, source + c.offset, c.length);
  }, progress, doneBefore, total);
}

bool ReadRange(LoaderSession& session, uint32_t address, size_t count, uint8_t* destination,
               const LoaderProgress& progress, size_t doneBefore, size_t total) {
  return Transfer(session, address, count, [&](const MemoryChunk& c) {
    return loader::CmdReadMem(session, c.address, c.length, destination + c.offset);
  }, progress, doneBefore, total);
}

}  // namespace

namespace loader {

bool CmdConnect(LoaderSession& session) {
  return Exchange(session, ConnectRequest(session), {Shape::ConnectAnswer});
}

bool CmdReadClock(LoaderSession& session, BoardClock& clock) {
  std::array<uint8_t, 7> bytes{};
  if (!Exchange(session, Request(LoaderCode::ReadClock, {0, 0, 0, 0, 0}), DataShape(bytes.size()),
                bytes.data()))
    return false;
  clock = DecodeBoardClock(bytes.data());
  return true;
}

bool CmdSetClock(LoaderSession& session, const BoardClock& clock) {
  const auto b = EncodeBoardClock(clock);
  return ExchangeAck(session, Request(LoaderCode::SetClock, {b[0], b[1], b[2], b[3], b[4], b[5], b[6]}));
}

bool CmdReadLoaderInfo(LoaderSession& session, LoaderInfo& info) {
  return Exchange(session, Request(LoaderCode::ReadLoaderInfo), DataShape(info.bytes.size()),
                  info.bytes.data());
}

bool CmdSetLoaderBaud(LoaderSession& session, int rateIndex) {
  return ExchangeAck(session, Request(LoaderCode::SetLoaderBaud, {static_cast<uint8_t>(rateIndex)}));
}

bool CmdWriteMem(LoaderSession& session, uint32_t address, const uint8_t* data, size_t length) {
  if (length == 0 || length > 128) return false;
  std::vector<uint8_t> request = Request(LoaderCode::WriteMem);
  PutAddress(request, address);
  request.insert(request.end(), data, data + length);
  return ExchangeAck(session, request);
}

bool CmdReadMem(LoaderSession& session, uint32_t address, size_t count, uint8_t* destination) {
  if (count == 0 || count > 255) return false;
  return Exchange(session, ReadRequest(address, count), DataShape(count), destination);
}

}  // namespace loader

bool ReadLoaderInfo(LoaderSession& session, LoaderInfo& info) {
  if (!loader::CmdReadLoaderInfo(session, info)) return false;
  session.PageSize = PageSizeFor(info.MemoryType());
  return true;
}

bool SetLoaderSpeed(LoaderSession& session, int index) {
  if (index >= 0 && index <= 7) {
    Pause(session);
    loader::CmdSetLoaderBaud(session, index);  // the loader may answer at either speed
    Pause(session);
    session.Port().SetBaudIndex(index);
    session.Speed = index;
    Pause(session);
    ForgetInFlight(session);
    return loader::CmdConnect(session);
  }
  Pause(session);
  const bool acknowledged = loader::CmdSetLoaderBaud(session, kLoaderBaseSpeed);
  Pause(session);
  session.Port().SetBaudRate(9600);
  session.Speed = kLoaderBaseSpeed;
  // The pause before the first request at the base speed is taken by that
  // request (Exchange): work that ends here, or goes on with its own pause
  // before a switch, does not wait for it twice.
  session.quietUntil =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(session.LoaderSwitchPause, 0));
  return acknowledged;
}

LoaderSpeedScope::LoaderSpeedScope(LoaderSession& session, int speedIndex) : session_(session) {
  up_ = SetLoaderSpeed(session_, speedIndex);
}

LoaderSpeedScope::~LoaderSpeedScope() { Back(); }

bool LoaderSpeedScope::Back() {
  if (switched_) {
    switched_ = false;
    back_ = SetLoaderSpeed(session_, kLoaderSpeedBack);
  }
  return back_;
}

bool ReadMemory(LoaderSession& session, uint32_t address, size_t count, uint8_t* destination,
                const LoaderProgress& progress) {
  return ReadRange(session, address, count, destination, progress, 0, 0);
}

bool WriteMemory(LoaderSession& session, uint32_t address, size_t count, const uint8_t* source,
                 const LoaderProgress& progress) {
  return WriteRange(session, address, count, source, progress, 0, 0);
}

bool ReadDirectory(LoaderSession& session, LoaderDirectory& directory, int speedIndex,
                   const LoaderProgress& progress) {
  LoaderSpeedScope speed(session, speedIndex);
  if (!speed.Up()) return false;
  LoaderDirectory read{};
  if (!ReadMemory(session, 0, read.size(), read.data(), progress)) return false;
  directory = read;
  return true;
}

bool WriteDirectoryPage(LoaderSession& session, int index, const LoaderDirectory& directory) {
  if (index < 0 || index >= kLoaderEntryCount) return false;
  const uint32_t start = DirectoryPageStart(index, session.PageSize);
  const size_t length = std::min<size_t>(static_cast<size_t>(session.PageSize), kLoaderDirectorySize - start);
  return WriteMemory(session, start, length, directory.data() + start);
}

bool ConnectLoader(LoaderSession& session, LoaderInfo& info) {
  return loader::CmdConnect(session) && ReadLoaderInfo(session, info);
}

bool ReadBlock(LoaderSession& session, const DirEntry& entry, int speedIndex, std::vector<uint8_t>& data,
               const LoaderProgress& progress) {
  std::vector<uint8_t> read(entry.size);
  LoaderSpeedScope speed(session, speedIndex);
  const bool ok = speed.Up() && ReadMemory(session, entry.start, read.size(), read.data(), progress);
  if (!speed.Back() || !ok) return false;
  data = std::move(read);
  return true;
}

bool StoreBlock(LoaderSession& session, LoaderDirectory& directory, int slot, const DirEntry& entry,
                const uint8_t* data, int speedIndex, const LoaderProgress& progress) {
  if (slot < 0 || slot >= kLoaderEntryCount) return false;
  LoaderDirectory updated = directory;
  WriteEntry(updated, slot, entry);
  LoaderSpeedScope speed(session, speedIndex);
  // A stop ends the data part way (no entry points at them); once the data
  // are whole, their entry follows.
  const bool ok = speed.Up() && WriteMemory(session, entry.start, entry.size, data, progress) &&
                  WriteDirectoryPage(session, slot, updated);
  if (!speed.Back() || !ok) return false;
  directory = updated;
  return true;
}

bool EraseEntry(LoaderSession& session, LoaderDirectory& directory, int index) {
  if (index < 0 || index >= kLoaderEntryCount) return false;
  // Copies of the entry (left by a renumbering cut short) go first and the
  // entry itself last, so that a cut in between leaves the block listed, not
  // a copy that would show it again as a stranger.
  std::vector<int> entries = EntryAndCopies(directory, index);
  if (entries.empty()) entries.push_back(index);
  LoaderDirectory updated = directory;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    ClearEntry(updated, *it);
    const auto next = std::next(it);
    const bool samePage = next != entries.rend() &&
                          DirectoryPageStart(*next, session.PageSize) == DirectoryPageStart(*it, session.PageSize);
    if (samePage) continue;
    if (!WriteDirectoryPage(session, *it, updated)) return false;
    const uint32_t page = DirectoryPageStart(*it, session.PageSize);
    const size_t length = std::min<size_t>(static_cast<size_t>(session.PageSize), kLoaderDirectorySize - page);
    std::copy_n(updated.begin() + page, length, directory.begin() + page);
  }
  return true;
}

bool ClearDirectory(LoaderSession& session) {
  const LoaderDirectory zeros{};
  return WriteMemory(session, 0, zeros.size(), zeros.data());
}

bool FormatLoader(LoaderSession& session, int speedIndex, const LoaderProgress& progress) {
  LoaderSpeedScope speed(session, speedIndex);
  if (!speed.Up()) return false;
  const std::vector<uint8_t> zeros(kLoaderDirectorySize + kPasswordAreaSize, 0);
  if (!WriteMemory(session, 0, zeros.size(), zeros.data(), progress)) return false;
  return speed.Back();
}

bool WritePasswords(LoaderSession& session, const std::array<uint8_t, kPasswordAreaSize>& area) {
  return WriteMemory(session, kPasswordAreaStart, area.size(), area.data());
}

bool RunPackPlan(LoaderSession& session, LoaderDirectory& directory, int type, const PackPlan& plan,
                 int speedIndex, const LoaderProgress& progress) {
  if (MemorySize(type) == 0 || !plan.possible) return false;
  if (plan.steps.empty()) return true;
  const int page = PageSizeFor(type);

  // The blocks the plan moves are read first, each once, from where the
  // directory lists them; the work, in bytes: those reads and every write.
  std::vector<int> moved;
  for (const PackStep& step : plan.steps)
    if (step.kind == PackStep::Kind::WriteData &&
        std::find(moved.begin(), moved.end(), step.block) == moved.end())
      moved.push_back(step.block);
  std::map<int, TDataItem> items;
  size_t total = 0;
  for (int entry : moved) total += ReadEntry(directory, entry).size;
  for (const PackStep& step : plan.steps) {
    total += step.kind == PackStep::Kind::WriteData
                 ? static_cast<size_t>(RoundToPage(ReadEntry(directory, step.block).size, page))
                 : static_cast<size_t>(page);
  }

  LoaderSpeedScope speed(session, speedIndex);
  bool ok = speed.Up();
  size_t done = 0;
  for (int entry : moved) {
    if (ok && session.StopRequested()) ok = false;
    if (!ok) break;
    const DirEntry e = ReadEntry(directory, entry);
    TDataItem item(e.size);
    item.flag = e.flag;
    item.name = e.name;
    ok = ReadRange(session, e.start, e.size, item.data.data(), progress, done, total);
    done += e.size;
    items.emplace(entry, std::move(item));
  }
  for (const PackStep& step : plan.steps) {
    // A stop waits for the step that finishes the one before it.
    if (ok && !step.finishesPrevious && session.StopRequested()) ok = false;
    if (!ok) break;
    if (step.kind == PackStep::Kind::WriteData) {
      std::vector<uint8_t> bytes = items.at(step.block).data;
      bytes.resize(static_cast<size_t>(RoundToPage(static_cast<int64_t>(bytes.size()), page)), 0);
      ok = WriteRange(session, step.address, bytes.size(), bytes.data(), progress, done, total);
      done += bytes.size();
    } else {
      const size_t length = std::min<size_t>(static_cast<size_t>(page), kLoaderDirectorySize - step.address);
      ok = WriteRange(session, step.address, length, step.directory.data() + step.address, progress,
                      done, total);
      done += length;
      // The loader now holds this page: the caller's image follows it.
      if (ok)
        std::copy_n(step.directory.begin() + step.address, length, directory.begin() + step.address);
    }
  }
  const bool back = speed.Back();
  return ok && back;
}

bool Defragment(LoaderSession& session, LoaderDirectory& directory, int type, int speedIndex,
                const LoaderProgress& progress, bool* complete) {
  if (complete) *complete = false;
  if (MemorySize(type) == 0) return false;
  const PackPlan plan = PlanDefragment(directory, type);
  if (!RunPackPlan(session, directory, type, plan, speedIndex, progress)) return false;
  if (complete) *complete = plan.complete;
  return true;
}

bool MakeRoom(LoaderSession& session, LoaderDirectory& directory, int type, size_t size, int speedIndex,
              const LoaderProgress& progress, bool* made) {
  if (made) *made = false;
  if (MemorySize(type) == 0) return false;
  const PackPlan plan = PlanRoom(directory, type, size);
  // No safe way: nothing is read or written.
  if (plan.possible && !plan.complete) return true;
  if (!RunPackPlan(session, directory, type, plan, speedIndex, progress)) return false;
  if (made) *made = true;
  return true;
}

int LoaderSpeedIndex(const TSettings& settings) { return settings.LdSpeed + 3; }

bool OpenLoaderPortQuiet(LoaderSession& session, std::string& errorText,
                         const TSettings& settings) {
  errorText.clear();
  TComPort& port = session.Port();
  port.Open(LoaderPortDevice(settings));
  if (!port.IsOpen()) {
    errorText =
        port.OpenFailed() || port.LostText().empty() ? port.LastErrorText() : port.LostText();
    return false;
  }
  session.Port().SetBaudRate(9600);
  session.Speed = kLoaderBaseSpeed;
  return true;
}

void CloseLoaderPort(LoaderSession& session) { session.Port().Open(""); }

}  // namespace lentar::comm
