// The loader's operations as the operator starts them, one flow each, run
// alike by the loader window and by lentar-cli loader: connecting, listing
// the blocks, storing a block (room check, place, packing when asked, the
// data and then the entry), reading a block, erasing one entry or all,
// formatting and packing.
//
// Every flow takes its session, an options record and a progress callback
// (whole percents, called on the thread that runs the flow), and returns what
// happened: an outcome and the text the operator reads, the same words in the
// window and on the command line. The flows block; a window runs them on a
// worker thread, and "Прервать" (or Ctrl+C) sets the session's stop flag:
// the flow ends at its next safe point (loaderprotocol.h) and says
// "Прервано оператором". Work that did not finish is never reported done. The
// loader is back at its base speed when a flow returns, whatever happened.
//
// A flow keeps what it learnt of the loader in a LoaderContents the caller
// holds: the memory type and the directory. After a store, an erase of one
// entry or a packing the directory is the loader's, page for page, whatever
// happened; after other work that did not finish, read it again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "comm/loaderdirectory.h"
#include "comm/loaderprotocol.h"
#include "comm/session.h"

namespace lentar::comm {

enum class LoaderOutcome {
  Done,
  Interrupted,       // stopped at the operator's request at a safe point
  NoConnection,      // the loader did not answer (or answered wrongly)
  NoDataMemory,      // the loader has no data memory
  NoRoom,            // the block is larger than the free space, or no entry is free
  NoFittingGap,      // enough free space, but in no single gap (packing not asked)
  DamagedDirectory,  // the directory's blocks overlap or leave the memory
  PackingStopped,    // packing had to stop to keep a block safe (a store: no
                     // safe way to make room, and nothing was changed)
  WriteFailed,       // the block could not be stored
  EraseFailed,       // the entry could not be cleared
  ClearFailed,       // the directory could not be cleared
};

struct LoaderResult {
  LoaderOutcome outcome = LoaderOutcome::NoConnection;
  // What the operator reads (Windows-1251); empty for Done.
  std::string text;
  // The loader answered the handshake and told its memory type (the work
  // failed later, if at all).
  bool connected = false;
  // Store: the directory entry and the address the block went to.
  int slot = -1;
  uint32_t address = 0;
  bool Done() const { return outcome == LoaderOutcome::Done; }
};

struct LoaderOptions {
  // The transfer speed (RateTable index, LoaderSpeedIndex: LdSpeed + 3).
  int speedIndex = 6;
  // Store: pack the blocks first when no single gap takes the block.
  bool optimise = false;
  // List and erase all: refuse a loader without data memory before touching
  // its directory. (Storing, erasing an entry, formatting and packing always
  // refuse it: such a loader takes no memory command.)
  bool requireDataMemory = true;
};

// What the program knows of the loader.
struct LoaderContents {
  int memoryType = 0;
  LoaderDirectory directory{};
};

// The text of an outcome (Windows-1251), as the loader window words it; empty
// for Done and for the two whose text names something (PackingStopped: the
// block, EraseFailed: the entry), which only the flows make.
std::string LoaderOutcomeText(LoaderOutcome outcome);

// The connect handshake and the loader's information (memory type, page
// size): what every action begins with. A loader whose memory type tells of
// no data memory is sent no memory command: the flows that need memory say
// NoDataMemory once they have connected.
LoaderResult ConnectToLoader(LoaderSession& session, LoaderContents& contents);

// Connects and reads the directory at the transfer speed.
LoaderResult ListLoaderBlocks(LoaderSession& session, const LoaderOptions& options,
                              const LoaderProgress& progress, LoaderContents& contents);

// Stores data as a new block named name (cut to 15 characters, blanks
// trimmed): connects, reads the directory afresh, checks the room, takes the
// first gap that fits (when none fits and options.optimise, first moving the
// fewest bytes of blocks that safely make a gap: PlanRoom), writes the data
// and then the entry. The result's slot
// and address tell where it went.
LoaderResult StoreLoaderBlock(LoaderSession& session, const LoaderOptions& options,
                              const std::vector<uint8_t>& data, const std::string& name,
                              const LoaderProgress& progress, LoaderContents& contents);

// Reads the block of directory entry `entry` of contents.directory (no
// handshake: the caller has just listed the loader).
LoaderResult ReadLoaderBlock(LoaderSession& session, const LoaderOptions& options, int entry,
                             const LoaderProgress& progress, const LoaderContents& contents,
                             std::vector<uint8_t>& data);

// Connects and clears directory entry `entry` of contents.directory (and any
// copy of it), at the base speed; the block's bytes stay.
LoaderResult EraseLoaderEntry(LoaderSession& session, int entry, LoaderContents& contents);

// Connects and zeroes the whole directory, at the base speed.
LoaderResult EraseAllLoaderEntries(LoaderSession& session, const LoaderOptions& options,
                                   const LoaderProgress& progress, LoaderContents& contents);

// Connects and zeroes the directory and the passwords at the transfer speed.
LoaderResult FormatLoaderMemory(LoaderSession& session, const LoaderOptions& options,
                                const LoaderProgress& progress, LoaderContents& contents);

// Connects, reads the directory and packs the blocks together.
// PackingStopped when a block could not be moved safely (the text names it
// and the free places as they are).
LoaderResult DefragmentLoader(LoaderSession& session, const LoaderOptions& options,
                              const LoaderProgress& progress, LoaderContents& contents);

}  // namespace lentar::comm
