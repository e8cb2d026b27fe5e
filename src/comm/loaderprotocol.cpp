#include "comm/loaderprotocol.h"

#include <chrono>
#include <map>
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

bool ExchangeText(TComPort& port, const std::vector<uint8_t>& request, std::string& reply) {
  reply.clear();
  port.DiscardFrame();  // a late reply to an earlier request is no answer to this one
  if (!port.SendFrame(request)) return false;
  return port.WaitTextFrame(reply, LoaderReplyTimeout);
}

bool ExchangeAck(TComPort& port, const std::vector<uint8_t>& request) {
  std::string reply;
  return ExchangeText(port, request, reply) && reply == kAck;
}

// A data reply of exactly 03 01 + count bytes.
bool ExchangeData(TComPort& port, const std::vector<uint8_t>& request, size_t count,
                  uint8_t* destination) {
  port.DiscardFrame();
  if (!port.SendFrame(request)) return false;
  std::array<uint8_t, 260> reply{};
  size_t n = 0;
  if (!port.WaitFrame(reply.data(), reply.size(), LoaderReplyTimeout, n)) return false;
  if (n != count + 2 || reply[0] != 0x03 || reply[1] != 0x01) return false;
  std::copy_n(reply.begin() + 2, count, destination);
  return true;
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
  static std::mt19937 random{std::random_device{}()};
  std::vector<uint8_t> request = Request(LoaderCode::Connect);
  for (int i = 0; i < 13; ++i) request.push_back(static_cast<uint8_t>(random() & 0xFF));
  std::string reply;
  return ExchangeText(port, request, reply) && reply == kConnectAnswer;
}

bool CmdReadClock(TComPort& port, BoardClock& clock) {
  std::array<uint8_t, 7> bytes{};
  if (!ExchangeData(port, Request(LoaderCode::ReadClock, {0, 0, 0, 0, 0}), bytes.size(),
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
  return ExchangeData(port, Request(LoaderCode::ReadLoaderInfo), info.bytes.size(),
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
  std::vector<uint8_t> request = Request(LoaderCode::ReadMem);
  PutAddress(request, address);
  request.push_back(static_cast<uint8_t>(count));
  return ExchangeData(port, request, count, destination);
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
