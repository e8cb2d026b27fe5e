// The loader's memory map: the directory of named blocks, the password area
// and the data area, and the plain functions that read and plan it.
//
// A portable loader carries board data images in a byte-addressable memory of
// 32, 64 or 128 KiB:
//
//   0 .. 1023     the directory: 32 entries of 32 bytes
//   1024 .. 1151  the password area: 8 slots of 16 bytes (length, 15 chars)
//   1152 .. end   the data area; every block starts on a page boundary
//
// A directory entry is [start (4 bytes LE), size (2 bytes LE), name (length
// byte + 15 characters, Windows-1251), valid flag (1), 9 zero bytes]. Erased
// memory (all 0xFF) and zeroed memory both read as empty entries.
//
// Everything here is plain C++ over a 1024-byte directory image: no line, no
// Qt. The directory image usually comes from the loader, so every function
// takes whatever bytes it holds without trusting them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lentar::comm {

inline constexpr size_t kLoaderDirectorySize = 1024;
inline constexpr size_t kLoaderEntrySize = 32;
inline constexpr int kLoaderEntryCount = 32;
inline constexpr uint32_t kPasswordAreaStart = 1024;
inline constexpr size_t kPasswordAreaSize = 128;
inline constexpr size_t kPasswordSlotSize = 16;
inline constexpr uint32_t DataAreaStart = 1152;
// Longest block name an entry holds.
inline constexpr size_t kLoaderNameLength = 15;
// The largest block an entry can describe (0xFFFF reads as empty).
inline constexpr size_t kMaxLoaderBlock = 0xFFFE;

using LoaderDirectory = std::array<uint8_t, kLoaderDirectorySize>;

// One directory entry, decoded.
struct DirEntry {
  uint32_t start = 0;
  uint16_t size = 0;
  std::string name;  // Windows-1251, at most 15 characters
  uint8_t flag = 0;
  // Empty unless start is neither 0 nor 0xFFFFFFFF, size neither 0 nor
  // 0xFFFF and the flag neither 0 nor 0xFF.
  bool Empty() const;
};

// Entry index (0..31) of a directory image; an index outside 0..31 reads as
// an empty entry and is ignored by the writers.
DirEntry ReadEntry(const LoaderDirectory& directory, int index);
bool EntryEmpty(const LoaderDirectory& directory, int index);
// Writes start, size, the name cut to 15 characters, the flag, and zeros in
// the rest of the 32 bytes.
void WriteEntry(LoaderDirectory& directory, int index, const DirEntry& entry);
void ClearEntry(LoaderDirectory& directory, int index);
// True when entry index is a copy of an earlier entry: the same start, size,
// name and flag. A renumbering cut between writing an entry at its new index
// and clearing the old one leaves such a copy; the block is listed once.
bool DuplicatesEarlierEntry(const LoaderDirectory& directory, int index);
// Entry index and the entries that are copies of it, in directory order.
std::vector<int> EntryAndCopies(const LoaderDirectory& directory, int index);
// The non-empty entries' indexes in directory order, each block once (a copy
// of an earlier entry left out): the rows of the loader's block table.
std::vector<int> BlockEntries(const LoaderDirectory& directory);

// Data memory in bytes of a memory type: 1 -> 32768, 2 -> 65536, 3 -> 131072,
// anything else -> 0 (the loader has no data memory).
int64_t MemorySize(int type);
// The loader writes whole pages: 64 bytes for memory type 0 or 1, 128 above.
int PageSizeFor(int type);
// n rounded up to a multiple of pageSize.
int64_t RoundToPage(int64_t n, int pageSize);

// Bytes of the data area not taken by a block (each block counted rounded up
// to whole pages); 0 for a loader without data memory and never negative.
int64_t FreeSpace(const LoaderDirectory& directory, int type);
// The free places of the data area between the blocks (each block taken
// rounded outwards to whole pages), by address.
struct FreeGap {
  uint32_t start = 0;
  uint32_t length = 0;
};
std::vector<FreeGap> FreeGaps(const LoaderDirectory& directory, int type);
// The first empty entry in directory order, or -1.
int FindFreeEntry(const LoaderDirectory& directory);
// Non-empty entries by ascending start address, empty ones after them.
void SortDirectory(LoaderDirectory& directory);
// First fit: the lowest page-aligned address in the data area where size
// bytes fit between the blocks, or 0 when no gap is large enough.
uint32_t AllocateBlock(const LoaderDirectory& directory, int type, size_t size);

// The password area: per slot a length byte and up to 15 characters, zero
// padded.
std::array<uint8_t, kPasswordAreaSize> BuildPasswordArea(const std::array<std::string, 8>& passwords);

// One request of a chunked memory transfer: length bytes at address, taken
// from (or put at) offset of the caller's buffer. The first chunk runs to the
// next page boundary, the others are whole pages, the last what remains.
struct MemoryChunk {
  uint32_t address = 0;
  size_t offset = 0;
  size_t length = 0;
};
std::vector<MemoryChunk> TransferChunks(uint32_t address, size_t count, int pageSize);

// Address of the directory page that holds entry index.
uint32_t DirectoryPageStart(int index, int pageSize);

// ---- Reorganisation ---------------------------------------------------------
//
// Packing the blocks together so that all free space is one gap after them.
// The loader's directory must describe valid data at every moment, so that a
// line cut or a lost loader at any step leaves every block readable:
//
//  - blocks move one at a time, towards the start, in address order; a block's
//    data is written at its new place first and only then its entry, in the
//    one request that writes its directory page;
//  - a block whose new place overlaps its old one is first copied to a free
//    place that overlaps neither, its entry pointed there, and only then
//    copied to the new place; when no such place exists the packing stops
//    there (everything before stays packed and valid);
//  - first an entry that is a copy of another (left by a renumbering cut
//    short) is cleared: the block stays listed by the other one;
//  - finally the entries are renumbered in address order (entry i holds the
//    i-th block, the rest zeroed). An entry is always written at its new
//    index before its old index is cleared, so the worst an interruption
//    leaves is one block listed twice. With all 32 entries taken there is no
//    spare entry to pass through and the numbering stays as it was.
//
// When packing towards the start has to stop at a block, the free space may
// still come together as one gap by moving the blocks that stand in its way
// whole into the holes elsewhere that take them exactly (see PlanRoom); then
// that is the plan, and the numbering stays as it was.
//
// A directory whose blocks overlap each other or run outside the data area is
// not reorganised at all.
struct PackStep {
  enum class Kind { WriteData, WriteDirectoryPage };
  Kind kind = Kind::WriteData;
  // WriteData: the block read from this entry of the original directory is
  // written (rounded up to whole pages, zero padded) at address.
  int block = -1;
  uint32_t address = 0;
  // WriteDirectoryPage: the page at address, taken from directory.
  LoaderDirectory directory{};
  // The step finishes the one before it (the entry of a block whose data
  // were just written at its new place, or the clearing of an entry's old
  // index after it was written at its new one): work that is stopped stops
  // before a step that begins something, never before one of these.
  bool finishesPrevious = false;
};

struct PackPlan {
  bool possible = false;  // false: the directory is damaged; nothing to do
  bool complete = false;  // every block packed: all the free space one gap
  // When not complete: the entry (of the directory planned) of the block that
  // stopped the packing, as no free place could take it on its way; -1
  // otherwise. Planning the result again stops at the same block.
  int stoppedAt = -1;
  std::vector<PackStep> steps;
  LoaderDirectory result{};  // the directory after the last step
  // Data bytes the plan writes (whole pages).
  int64_t bytesMoved = 0;
};

PackPlan PlanDefragment(const LoaderDirectory& directory, int type);

// Room for a new block of size bytes, with as few bytes moved as safely
// possible. The common case on a loader is a hole left by an erased block and
// free space after the last one, neither large enough: a block that stands
// between them moved whole into the hole joins them. So each block that
// stands in the way of a window of the size needed is moved once into a
// place that is free now outside that window (every such move is safe by
// itself: it writes only where no listed block stands, its own old place
// included); of all windows the one that moves the fewest bytes is taken.
// Packing towards the start (PlanDefragment) is taken instead when it moves
// fewer bytes, or when it is the only way. complete: the plan leaves a gap
// for the block (no steps when one is there already). Not complete: there is
// no safe way, no step is planned and stoppedAt names the block that cannot
// be moved out of the way without a place as large as itself.
PackPlan PlanRoom(const LoaderDirectory& directory, int type, size_t size);

// What the operator is told about packing, in UTF-8, the same in the loader
// window and on the command line: a directory the packer refuses, a packing
// that stopped to keep a block safe (blockName in Windows-1251, as entries
// hold it), and the free places as they are.
extern const char* const kDamagedDirectoryText;
std::string PackingStoppedText(const std::string& blockName);
// No safe way to make room for a new block; nothing was changed.
std::string NoSafeRoomText(const std::string& blockName);
std::string FreeGapsText(const std::vector<FreeGap>& gaps);

}  // namespace lentar::comm
