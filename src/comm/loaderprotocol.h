// The loader protocol: the commands spoken with a portable loader in a
// loader session (session.h), and the memory operations built on them.
//
// Requests are link frames [01, 06, command code, arguments...]; the loader
// answers each with one frame, a text reply ("\002\001OK", "\002\001CONOK")
// or a data reply [03 01 data...], judged as the board's are. Every reply is
// awaited the session's LoaderReplyTimeout ms; there are no retries. A reply is only ever
// taken for its own request: after a missed reply the line first falls
// quiet, and a request whose reply would look like the last one taken is
// preceded by a short one whose reply looks different (see the .cpp), so a
// repeated or late reply never passes for the next. On top of a raw memory
// read/write pair this holds the memory map operations of loaderdirectory.h:
// reading the directory, writing one directory page, formatting, the
// passwords, and the reorganisation that packs the blocks together.
//
// The loader writes memory a page at a time: every write request stays
// within one page (64 or 128 bytes, the session's PageSize), so transfers go in chunks that
// never cross a page boundary.
//
// Long work stops at the session's stop flag (stopflag.h) only where the
// loader is left consistent: between the pages of a transfer (a block's data
// stopped part way are listed by no entry), never between a block's data and
// its directory entry, and after the current page of a directory write. A
// stopped operation fails like one cut short; the caller tells the two apart
// by the flag. The speed is switched back on every path.
//
// Nothing here shows a message; every operation reports by its result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/comport.h"
#include "comm/loaderdirectory.h"
#include "comm/session.h"
#include "core/settings.h"

namespace lentar::comm {

enum class LoaderCode : uint8_t {
  Connect = 0x01,
  ReadClock = 0x08,
  SetClock = 0x09,
  ReadLoaderInfo = 0x0D,
  SetLoaderBaud = 0x14,
  WriteMem = 0x15,
  ReadMem = 0x16,
};

// The address byte of every loader request.
inline constexpr uint8_t kLoaderAddress = 0x06;
// The loader's base speed: RateTable index 3, 9600 bit/s.
inline constexpr int kLoaderBaseSpeed = 3;
// SetLoaderSpeed with this index goes back to the base speed.
inline constexpr int kLoaderSpeedBack = -1;

// The reply of CmdReadLoaderInfo: 36 bytes, the memory type at byte 32.
struct LoaderInfo {
  std::array<uint8_t, 36> bytes{};
  int MemoryType() const { return bytes[32]; }
};

// One block read out of the loader during a reorganisation, or any block.
struct TDataItem {
  explicit TDataItem(size_t size) : data(size, 0) {}
  std::vector<uint8_t> data;
  uint8_t flag = 0;
  std::string name;
};

namespace loader {

// The connect handshake: 13 random bytes; true when the loader answers
// exactly "\002\001CONOK".
bool CmdConnect(LoaderSession& session);
// The loader's clock: 7 bytes as the board's clock bytes.
bool CmdReadClock(LoaderSession& session, BoardClock& clock);
bool CmdSetClock(LoaderSession& session, const BoardClock& clock);
bool CmdReadLoaderInfo(LoaderSession& session, LoaderInfo& info);
bool CmdSetLoaderBaud(LoaderSession& session, int rateIndex);
// At most one page, never across a page boundary (the loader refuses it).
bool CmdWriteMem(LoaderSession& session, uint32_t address, const uint8_t* data, size_t length);
// count 1..255 bytes.
bool CmdReadMem(LoaderSession& session, uint32_t address, size_t count, uint8_t* destination);

}  // namespace loader

using LoaderProgress = std::function<void(int percent)>;

// The loader at a transfer speed for the life of a scope: switched up
// (SetLoaderSpeed) when made, back to the base speed when the scope ends, on
// every path: a failure, a stop, an early return. Back() goes back earlier
// and says whether the loader acknowledged it.
class LoaderSpeedScope {
 public:
  LoaderSpeedScope(LoaderSession& session, int speedIndex);
  ~LoaderSpeedScope();
  LoaderSpeedScope(const LoaderSpeedScope&) = delete;
  LoaderSpeedScope& operator=(const LoaderSpeedScope&) = delete;
  // The switch and the connect at the new speed succeeded.
  bool Up() const { return up_; }
  bool Back();

 private:
  LoaderSession& session_;
  bool up_ = false;
  bool switched_ = true;
  bool back_ = false;
};

// CmdReadLoaderInfo, then the session's PageSize from the memory type.
bool ReadLoaderInfo(LoaderSession& session, LoaderInfo& info);
// index 0..7: switch the loader and the port to RateTable[index] and connect
// at the new speed (the result). Any other index: back to 9600; the result
// is whether the loader acknowledged the switch.
// The session's Speed follows.
bool SetLoaderSpeed(LoaderSession& session, int index);
// Chunked transfers (see TransferChunks); a failed chunk ends the transfer.
// progress gets whole percents after every chunk.
bool ReadMemory(LoaderSession& session, uint32_t address, size_t count, uint8_t* destination,
                const LoaderProgress& progress = {});
bool WriteMemory(LoaderSession& session, uint32_t address, size_t count, const uint8_t* source,
                 const LoaderProgress& progress = {});
// At speedIndex (LdSpeed + 3): reads the 1024-byte directory, then goes back
// to the base speed whatever happened.
bool ReadDirectory(LoaderSession& session, LoaderDirectory& directory, int speedIndex,
                   const LoaderProgress& progress = {});
// Writes the whole page of the directory that holds entry index, from the
// directory image, at the current speed. Refuses an index outside 0..31.
bool WriteDirectoryPage(LoaderSession& session, int index, const LoaderDirectory& directory);
// The connect handshake, then ReadLoaderInfo: what every action begins with.
bool ConnectLoader(LoaderSession& session, LoaderInfo& info);
// A block's bytes: at speedIndex, then back to the base speed; true only when
// both the read and the way back succeeded.
bool ReadBlock(LoaderSession& session, const DirEntry& entry, int speedIndex, std::vector<uint8_t>& data,
               const LoaderProgress& progress = {});
// Stores data as entry (its start and size) in directory slot slot: at
// speedIndex the data first, then the entry's directory page, then back to
// the base speed. The data go first so that a store cut short leaves no
// entry pointing at half a block. directory takes the entry only on success.
bool StoreBlock(LoaderSession& session, LoaderDirectory& directory, int slot, const DirEntry& entry,
                const uint8_t* data, int speedIndex, const LoaderProgress& progress = {});
// Clears entry index and any copy of it (each directory page written at the
// current speed, the copies' first); the block's bytes stay where they are.
// directory follows every page the loader took.
bool EraseEntry(LoaderSession& session, LoaderDirectory& directory, int index);
// Zeroes the directory (at the current speed).
bool ClearDirectory(LoaderSession& session);
// At speedIndex: zeroes the directory and the passwords, then back to the
// base speed (also after a failure).
bool FormatLoader(LoaderSession& session, int speedIndex, const LoaderProgress& progress = {});
// The 128-byte password area, at the current speed.
bool WritePasswords(LoaderSession& session, const std::array<uint8_t, kPasswordAreaSize>& area);
// Carries out a reorganisation plan made over directory, at speedIndex and
// back: every block the plan moves is read first, then each step is one
// write. directory follows the loader's directory as each page is written,
// so after a failure it still describes what the loader holds. A plan
// without steps sends nothing. False for a loader without data memory, a
// damaged directory (a plan not possible), or a failed exchange.
bool RunPackPlan(LoaderSession& session, LoaderDirectory& directory, int type, const PackPlan& plan,
                 int speedIndex, const LoaderProgress& progress = {});
// Packs the blocks together (PlanDefragment). complete (when given) tells
// whether every block could be packed.
bool Defragment(LoaderSession& session, LoaderDirectory& directory, int type, int speedIndex,
                const LoaderProgress& progress = {}, bool* complete = nullptr);
// Makes room for a new block of size bytes (PlanRoom). made (when given)
// tells whether there is room now; when no safe plan exists the result is
// true, made false, and nothing was sent.
bool MakeRoom(LoaderSession& session, LoaderDirectory& directory, int type, size_t size, int speedIndex,
              const LoaderProgress& progress = {}, bool* made = nullptr);

// The speed index of the loader transfers: LdSpeed + 3 (9600 .. 57600).
int LoaderSpeedIndex(const TSettings& settings);
// Opens the session's line on the settings' loader device at 9600 bit/s; false with
// the reason in errorText when it could not be opened. Windows report it.
bool OpenLoaderPortQuiet(LoaderSession& session, std::string& errorText,
                         const TSettings& settings);
// Closes the session's line.
void CloseLoaderPort(LoaderSession& session);

}  // namespace lentar::comm
