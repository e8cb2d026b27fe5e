#include "comm/loaderprotocol.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <thread>

namespace lentar::comm {

int PageSize = 128;
int LoaderReplyTimeout = 2000;
int LoaderSwitchPause = 100;

namespace {

const std::string kAck = std::string("\x02\x01", 2) + "OK";
const std::string kConnectAnswer = std::string("\x02\x01", 2) + "CONOK";

void Pause() {
  if (LoaderSwitchPause > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(LoaderSwitchPause));
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

// The shape of the last reply taken on a port. It is kept beside the port's
// count of frames accounted for at that moment: a port whose count has moved
// on without this file (or a new port object in the same place) has taken
// nothing that could be mistaken for the next reply.
struct LastReply {
  Shape shape;
  uint64_t accounted = 0;
};

LastReply& LastOf(TComPort& port) {
  static std::mutex lock;
  static std::map<const TComPort*, LastReply> replies;
  std::lock_guard guard(lock);
  return replies[&port];
}

Shape LastShape(TComPort& port) {
  const LastReply& last = LastOf(port);
  return last.accounted == port.Exchange().framesAccounted ? last.shape : Shape{};
}

void SetLastShape(TComPort& port, Shape shape) {
  LastOf(port) = {shape, port.Exchange().framesAccounted};
}

// Before every request: after a missed reply, the line falls quiet first (up
// to three deadlines); a frame nobody asked for is dropped.
bool PrepareLine(TComPort& port) {
  TComPort::ExchangeState& x = port.Exchange();
  if (x.replyOutstanding) {
    uint64_t arrived = 0;
    if (!port.Settle(LoaderReplyTimeout, 3 * LoaderReplyTimeout, arrived)) return false;
    x.replyOutstanding = false;
    x.framesAccounted = arrived;
    SetLastShape(port, {});
    return true;
  }
  const uint64_t arrived = port.FramesArrived();
  if (arrived != x.framesAccounted) {
    const Shape last = LastShape(port);
    port.DiscardFrame();
    ++x.unexpected;
    x.framesAccounted = arrived;
    SetLastShape(port, last);  // a dropped copy may be followed by another
  }
  return true;
}

// The request went out and its reply did not come, or came wrong.
bool OutOfStep(TComPort& port) {
  TComPort::ExchangeState& x = port.Exchange();
  x.replyOutstanding = true;
  ++x.missed;
  SetLastShape(port, {});
  return false;
}

// After a speed switch whatever was on its way is noise or the switch's own
// acknowledgement: forgotten without waiting, and the next reply must not be
// an acknowledgement.
void ForgetInFlight(TComPort& port) {
  port.DiscardFrame();
  TComPort::ExchangeState& x = port.Exchange();
  x.framesAccounted = port.FramesArrived();
  x.replyOutstanding = false;
  SetLastShape(port, {Shape::Ack});
}

std::vector<uint8_t> ConnectRequest() {
  static std::mt19937 random{std::random_device{}()};
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

bool Exchange(TComPort& port, const std::vector<uint8_t>& request, Shape expect,
              uint8_t* destination = nullptr);

// A request whose reply cannot be taken for the last one, sent when the
// next reply would look like the last.
bool Separate(TComPort& port, const Shape& next) {
  if (next.kind == Shape::None || !(LastShape(port) == next)) return true;
  if (next == DataShape(1)) return Exchange(port, ConnectRequest(), {Shape::ConnectAnswer});
  uint8_t byte = 0;
  return Exchange(port, ReadRequest(0, 1), DataShape(1), &byte);
}

// Sends a request and takes its reply: a text reply that must be exactly the
// acknowledgement or the connect answer, or a data reply of exactly 03 01 and
// expect.length bytes, copied to destination.
bool Exchange(TComPort& port, const std::vector<uint8_t>& request, Shape expect,
              uint8_t* destination) {
  if (!PrepareLine(port) || !Separate(port, expect) || !PrepareLine(port)) return false;
  if (!port.SendFrame(request)) return false;
  std::array<uint8_t, 260> reply{};
  size_t n = 0;
  if (!port.WaitFrame(reply.data(), reply.size(), LoaderReplyTimeout, n)) return OutOfStep(port);
  ++port.Exchange().framesAccounted;
  if (expect.kind == Shape::Data) {
    if (n != expect.length + 2 || reply[0] != 0x03 || reply[1] != 0x01) return OutOfStep(port);
    std::copy_n(reply.begin() + 2, expect.length, destination);
  } else {
    // A text reply is the payload up to its first zero byte.
    const auto end = std::find(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n), 0);
    const std::string text(reply.begin(), end);
    if (text != (expect.kind == Shape::Ack ? kAck : kConnectAnswer)) return OutOfStep(port);
  }
  SetLastShape(port, expect);
  return true;
}

bool ExchangeAck(TComPort& port, const std::vector<uint8_t>& request) {
  return Exchange(port, request, {Shape::Ack});
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

bool Transfer(uint32_t address, size_t count, const ChunkFn& each, const LoaderProgress& progress,
              size_t doneBefore = 0, size_t total = 0) {
  if (total == 0) total = count;
  for (const MemoryChunk& chunk : TransferChunks(address, count, PageSize)) {
    if (!each(chunk)) return false;
    if (progress) progress(Percent(doneBefore + chunk.offset + chunk.length, total));
  }
  return true;
}

bool WriteRange(TComPort& port, uint32_t address, size_t count, const uint8_t* source,
                const LoaderProgress& progress, size_t doneBefore, size_t total) {
  return Transfer(address, count, [&](const MemoryChunk& c) {
    return loader::CmdWriteMem(port, c.address, source + c.offset, c.length);
  }, progress, doneBefore, total);
}

bool ReadRange(TComPort& port, uint32_t address, size_t count, uint8_t* destination,
               const LoaderProgress& progress, size_t doneBefore, size_t total) {
  return Transfer(address, count, [&](const MemoryChunk& c) {
    return loader::CmdReadMem(port, c.address, c.length, destination + c.offset);
  }, progress, doneBefore, total);
}

}  // namespace

namespace loader {

bool CmdConnect(TComPort& port) {
  return Exchange(port, ConnectRequest(), {Shape::ConnectAnswer});
}

bool CmdReadClock(TComPort& port, BoardClock& clock) {
  std::array<uint8_t, 7> bytes{};
  if (!Exchange(port, Request(LoaderCode::ReadClock, {0, 0, 0, 0, 0}), DataShape(bytes.size()),
                bytes.data()))
    return false;
  clock = DecodeBoardClock(bytes.data());
  return true;
}

bool CmdSetClock(TComPort& port, const BoardClock& clock) {
  const auto b = EncodeBoardClock(clock);
  return ExchangeAck(port, Request(LoaderCode::SetClock, {b[0], b[1], b[2], b[3], b[4], b[5], b[6]}));
}

bool CmdReadLoaderInfo(TComPort& port, LoaderInfo& info) {
  return Exchange(port, Request(LoaderCode::ReadLoaderInfo), DataShape(info.bytes.size()),
                  info.bytes.data());
}

bool CmdSetLoaderBaud(TComPort& port, int rateIndex) {
  return ExchangeAck(port, Request(LoaderCode::SetLoaderBaud, {static_cast<uint8_t>(rateIndex)}));
}

bool CmdWriteMem(TComPort& port, uint32_t address, const uint8_t* data, size_t length) {
  if (length == 0 || length > 128) return false;
  std::vector<uint8_t> request = Request(LoaderCode::WriteMem);
  PutAddress(request, address);
  request.insert(request.end(), data, data + length);
  return ExchangeAck(port, request);
}

bool CmdReadMem(TComPort& port, uint32_t address, size_t count, uint8_t* destination) {
  if (count == 0 || count > 255) return false;
  return Exchange(port, ReadRequest(address, count), DataShape(count), destination);
}

}  // namespace loader

bool ReadLoaderInfo(TComPort& port, LoaderInfo& info) {
  if (!loader::CmdReadLoaderInfo(port, info)) return false;
  PageSize = PageSizeFor(info.MemoryType());
  return true;
}

bool SetLoaderSpeed(TComPort& port, int index) {
  if (index >= 0 && index <= 7) {
    Pause();
    loader::CmdSetLoaderBaud(port, index);  // the loader may answer at either speed
    Pause();
    port.SetBaudIndex(index);
    Pause();
    ForgetInFlight(port);
    return loader::CmdConnect(port);
  }
  Pause();
  const bool acknowledged = loader::CmdSetLoaderBaud(port, kLoaderBaseSpeed);
  Pause();
  port.SetBaudRate(9600);
  Pause();
  return acknowledged;
}

bool ReadMemory(TComPort& port, uint32_t address, size_t count, uint8_t* destination,
                const LoaderProgress& progress) {
  return ReadRange(port, address, count, destination, progress, 0, 0);
}

bool WriteMemory(TComPort& port, uint32_t address, size_t count, const uint8_t* source,
                 const LoaderProgress& progress) {
  return WriteRange(port, address, count, source, progress, 0, 0);
}

bool ReadDirectory(TComPort& port, LoaderDirectory& directory, int speedIndex,
                   const LoaderProgress& progress) {
  bool ok = SetLoaderSpeed(port, speedIndex);
  if (ok) {
    LoaderDirectory read{};
    ok = ReadMemory(port, 0, read.size(), read.data(), progress);
    if (ok) directory = read;
  }
  SetLoaderSpeed(port, kLoaderSpeedBack);
  return ok;
}

bool WriteDirectoryPage(TComPort& port, int index, const LoaderDirectory& directory) {
  if (index < 0 || index >= kLoaderEntryCount) return false;
  const uint32_t start = DirectoryPageStart(index, PageSize);
  const size_t length = std::min<size_t>(static_cast<size_t>(PageSize), kLoaderDirectorySize - start);
  return WriteMemory(port, start, length, directory.data() + start);
}

bool ConnectLoader(TComPort& port, LoaderInfo& info) {
  return loader::CmdConnect(port) && ReadLoaderInfo(port, info);
}

bool ReadBlock(TComPort& port, const DirEntry& entry, int speedIndex, std::vector<uint8_t>& data,
               const LoaderProgress& progress) {
  std::vector<uint8_t> read(entry.size);
  const bool ok = SetLoaderSpeed(port, speedIndex) &&
                  ReadMemory(port, entry.start, read.size(), read.data(), progress);
  if (!SetLoaderSpeed(port, kLoaderSpeedBack) || !ok) return false;
  data = std::move(read);
  return true;
}

bool StoreBlock(TComPort& port, LoaderDirectory& directory, int slot, const DirEntry& entry,
                const uint8_t* data, int speedIndex, const LoaderProgress& progress) {
  if (slot < 0 || slot >= kLoaderEntryCount) return false;
  LoaderDirectory updated = directory;
  WriteEntry(updated, slot, entry);
  const bool ok = SetLoaderSpeed(port, speedIndex) &&
                  WriteMemory(port, entry.start, entry.size, data, progress) &&
                  WriteDirectoryPage(port, slot, updated);
  if (!SetLoaderSpeed(port, kLoaderSpeedBack) || !ok) return false;
  directory = updated;
  return true;
}

bool EraseEntry(TComPort& port, LoaderDirectory& directory, int index) {
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
                          DirectoryPageStart(*next, PageSize) == DirectoryPageStart(*it, PageSize);
    if (samePage) continue;
    if (!WriteDirectoryPage(port, *it, updated)) return false;
    const uint32_t page = DirectoryPageStart(*it, PageSize);
    const size_t length = std::min<size_t>(static_cast<size_t>(PageSize), kLoaderDirectorySize - page);
    std::copy_n(updated.begin() + page, length, directory.begin() + page);
  }
  return true;
}

bool ClearDirectory(TComPort& port) {
  const LoaderDirectory zeros{};
  return WriteMemory(port, 0, zeros.size(), zeros.data());
}

bool FormatLoader(TComPort& port, int speedIndex, const LoaderProgress& progress) {
  if (!SetLoaderSpeed(port, speedIndex)) return false;
  const std::vector<uint8_t> zeros(kLoaderDirectorySize + kPasswordAreaSize, 0);
  if (!WriteMemory(port, 0, zeros.size(), zeros.data(), progress)) return false;
  return SetLoaderSpeed(port, kLoaderSpeedBack);
}

bool WritePasswords(TComPort& port, const std::array<uint8_t, kPasswordAreaSize>& area) {
  return WriteMemory(port, kPasswordAreaStart, area.size(), area.data());
}

bool Defragment(TComPort& port, LoaderDirectory& directory, int type, int speedIndex,
                const LoaderProgress& progress, bool* complete) {
  if (complete) *complete = false;
  if (MemorySize(type) == 0) return false;
  const PackPlan plan = PlanDefragment(directory, type);
  if (!plan.possible) return false;
  const int page = PageSizeFor(type);

  // The work, in bytes: every block read once, every step written.
  std::map<int, TDataItem> items;
  size_t total = 0;
  for (int entry : BlockEntries(directory)) total += ReadEntry(directory, entry).size;
  for (const PackStep& step : plan.steps) {
    total += step.kind == PackStep::Kind::WriteData
                 ? static_cast<size_t>(RoundToPage(ReadEntry(directory, step.block).size, page))
                 : static_cast<size_t>(page);
  }

  bool ok = SetLoaderSpeed(port, speedIndex);
  size_t done = 0;
  for (int entry : BlockEntries(directory)) {
    if (!ok) break;
    const DirEntry e = ReadEntry(directory, entry);
    TDataItem item(e.size);
    item.flag = e.flag;
    item.name = e.name;
    ok = ReadRange(port, e.start, e.size, item.data.data(), progress, done, total);
    done += e.size;
    items.emplace(entry, std::move(item));
  }
  for (const PackStep& step : plan.steps) {
    if (!ok) break;
    if (step.kind == PackStep::Kind::WriteData) {
      std::vector<uint8_t> bytes = items.at(step.block).data;
      bytes.resize(static_cast<size_t>(RoundToPage(static_cast<int64_t>(bytes.size()), page)), 0);
      ok = WriteRange(port, step.address, bytes.size(), bytes.data(), progress, done, total);
      done += bytes.size();
    } else {
      const size_t length = std::min<size_t>(static_cast<size_t>(page), kLoaderDirectorySize - step.address);
      ok = WriteRange(port, step.address, length, step.directory.data() + step.address, progress,
                      done, total);
      done += length;
      // The loader now holds this page: the caller's image follows it.
      if (ok)
        std::copy_n(step.directory.begin() + step.address, length, directory.begin() + step.address);
    }
  }
  const bool back = SetLoaderSpeed(port, kLoaderSpeedBack);
  if (ok && complete) *complete = plan.complete;
  return ok && back;
}

int LoaderSpeedIndex(const TSettings& settings) { return settings.LdSpeed + 3; }

bool OpenLoaderPortQuiet(std::string& errorText, const TSettings& settings) {
  errorText.clear();
  TComPort& port = LoaderPort();
  port.Open(LoaderPortDevice(settings));
  if (!port.IsOpen()) {
    errorText = port.LastErrorText();
    return false;
  }
  port.SetBaudRate(9600);
  return true;
}

void CloseLoaderPort() { LoaderPort().Open(""); }

}  // namespace lentar::comm
