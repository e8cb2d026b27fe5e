#include "comm/loaderflows.h"

#include <string>
#include <utility>

#include "comm/stopflag.h"
#include "core/textutil.h"

namespace lentar::comm {

namespace {

LoaderResult Outcome(LoaderOutcome outcome, std::string text) {
  LoaderResult result;
  result.outcome = outcome;
  result.text = std::move(text);
  return result;
}

LoaderResult Outcome(LoaderOutcome outcome) { return Outcome(outcome, LoaderOutcomeText(outcome)); }

LoaderResult Done() { return Outcome(LoaderOutcome::Done, {}); }

// A step that failed: stopped at the operator's request, or the given
// failure.
LoaderResult Failed(const LoaderSession& session, LoaderResult failure) {
  return session.StopRequested() ? Outcome(LoaderOutcome::Interrupted) : std::move(failure);
}

LoaderResult Failed(const LoaderSession& session, LoaderOutcome failure) {
  return Failed(session, Outcome(failure));
}

// Connects, refuses a loader without data memory when asked to, and does
// the work; the result says that the loader answered the handshake.
template <class Work>
LoaderResult Connected(LoaderSession& session, bool requireDataMemory, LoaderContents& contents,
                       Work work) {
  LoaderResult connected = ConnectToLoader(session, contents);
  if (!connected.Done()) return connected;
  LoaderResult result = requireDataMemory && MemorySize(contents.memoryType) == 0
                            ? Outcome(LoaderOutcome::NoDataMemory)
                            : work();
  result.connected = true;
  return result;
}

LoaderResult ReadDirectoryOf(LoaderSession& session, const LoaderOptions& options,
                             const LoaderProgress& progress, LoaderContents& contents) {
  if (!ReadDirectory(session, contents.directory, options.speedIndex, progress))
    return Failed(session, LoaderOutcome::NoConnection);
  return Done();
}

// The packing had to stop to keep a block safe: which block (named as the
// directory listed it before the packing), and the free places as they are
// now.
LoaderResult PackingStopped(const std::string& blockName, const LoaderContents& contents) {
  return Outcome(LoaderOutcome::PackingStopped,
                 Utf8ToCp1251(PackingStoppedText(blockName) + "\n" +
                              FreeGapsText(FreeGaps(contents.directory, contents.memoryType)) + "."));
}

// Packs contents.directory's blocks; Done only when all of them are packed.
LoaderResult Pack(LoaderSession& session, const LoaderOptions& options,
                  const LoaderProgress& progress, LoaderContents& contents) {
  const PackPlan plan = PlanDefragment(contents.directory, contents.memoryType);
  if (!plan.possible) return Outcome(LoaderOutcome::DamagedDirectory);
  const std::string stoppedAt = plan.complete ? std::string() : ReadEntry(contents.directory, plan.stoppedAt).name;
  if (!RunPackPlan(session, contents.directory, contents.memoryType, plan, options.speedIndex, progress))
    return Failed(session, LoaderOutcome::NoConnection);
  return plan.complete ? Done() : PackingStopped(stoppedAt, contents);
}

// Moves blocks out of the way of a new block of size bytes, the fewest bytes
// that can be moved safely; when no safe way exists nothing is sent and the
// text names the block in the way and the free places as they are.
LoaderResult MakeRoomFor(LoaderSession& session, const LoaderOptions& options, size_t size,
                         const LoaderProgress& progress, LoaderContents& contents) {
  const PackPlan plan = PlanRoom(contents.directory, contents.memoryType, size);
  if (!plan.possible) return Outcome(LoaderOutcome::DamagedDirectory);
  if (!plan.complete) {
    if (plan.stoppedAt < 0) return Outcome(LoaderOutcome::NoRoom);
    const std::string name = ReadEntry(contents.directory, plan.stoppedAt).name;
    return Outcome(LoaderOutcome::PackingStopped,
                   Utf8ToCp1251(NoSafeRoomText(name) + "\n" +
                                FreeGapsText(FreeGaps(contents.directory, contents.memoryType)) + "."));
  }
  if (!RunPackPlan(session, contents.directory, contents.memoryType, plan, options.speedIndex, progress))
    return Failed(session, LoaderOutcome::NoConnection);
  return Done();
}

LoaderResult Store(LoaderSession& session, const LoaderOptions& options,
                   const std::vector<uint8_t>& data, const std::string& name,
                   const LoaderProgress& progress, LoaderContents& contents) {
  // The directory is read afresh: the page written back with the new entry
  // carries the loader's own entries, whatever was plugged in since the
  // caller last looked.
  if (LoaderResult listed = ReadDirectoryOf(session, options, {}, contents); !listed.Done())
    return listed;
  const int type = contents.memoryType;
  if (data.size() > kMaxLoaderBlock || FindFreeEntry(contents.directory) < 0 ||
      FreeSpace(contents.directory, type) < static_cast<int64_t>(data.size()))
    return Outcome(LoaderOutcome::NoRoom);
  uint32_t address = AllocateBlock(contents.directory, type, data.size());
  if (address == 0) {
    if (!options.optimise) return Outcome(LoaderOutcome::NoFittingGap);
    LoaderResult room = MakeRoomFor(session, options, data.size(), progress, contents);
    if (!room.Done()) return room;
    address = AllocateBlock(contents.directory, type, data.size());
    if (address == 0) return Outcome(LoaderOutcome::NoRoom);
    // Between the packing and the store: a safe point.
    if (session.StopRequested()) return Outcome(LoaderOutcome::Interrupted);
  }

  DirEntry entry;
  entry.start = address;
  entry.size = static_cast<uint16_t>(data.size());
  entry.name = TrimBlanks(name);
  if (entry.name.size() > kLoaderNameLength) entry.name.resize(kLoaderNameLength);
  entry.flag = 1;
  const int slot = FindFreeEntry(contents.directory);
  if (!StoreBlock(session, contents.directory, slot, entry, data.data(), options.speedIndex, progress))
    return Failed(session, LoaderOutcome::WriteFailed);
  LoaderResult stored = Done();
  stored.slot = slot;
  stored.address = address;
  return stored;
}

}  // namespace

std::string LoaderOutcomeText(LoaderOutcome outcome) {
  switch (outcome) {
    case LoaderOutcome::Done: return {};
    case LoaderOutcome::Interrupted: return InterruptedText();
    case LoaderOutcome::NoConnection: return Utf8ToCp1251(u8"Ошибка соединения с загрузчиком");
    // The loader's own words, misspelling and all: operators know this text.
    case LoaderOutcome::NoDataMemory: return Utf8ToCp1251(u8"Загрузчик не имеет памяди данных!");
    case LoaderOutcome::NoRoom:
      return Utf8ToCp1251(u8"Недостаточно места в загрузчике! Удалите какие-либо данные!");
    case LoaderOutcome::NoFittingGap:
      return Utf8ToCp1251(u8"Нет свободного блока достаточного размера!");
    case LoaderOutcome::DamagedDirectory: return Utf8ToCp1251(kDamagedDirectoryText);
    case LoaderOutcome::PackingStopped: return {};  // names the block: PackingStopped()
    case LoaderOutcome::WriteFailed: return Utf8ToCp1251(u8"Не удалось записать данные!");
    case LoaderOutcome::EraseFailed: return {};  // names the entry: EraseLoaderEntry()
    case LoaderOutcome::ClearFailed: return Utf8ToCp1251(u8"Не удалось стереть заголовки!");
  }
  return {};
}

LoaderResult ConnectToLoader(LoaderSession& session, LoaderContents& contents) {
  if (session.StopRequested()) return Outcome(LoaderOutcome::Interrupted);
  LoaderInfo info;
  if (!ConnectLoader(session, info)) return Failed(session, LoaderOutcome::NoConnection);
  contents.memoryType = info.MemoryType();
  LoaderResult connected = Done();
  connected.connected = true;
  return connected;
}

LoaderResult ListLoaderBlocks(LoaderSession& session, const LoaderOptions& options,
                              const LoaderProgress& progress, LoaderContents& contents) {
  return Connected(session, options.requireDataMemory, contents,
                   [&] { return ReadDirectoryOf(session, options, progress, contents); });
}

LoaderResult StoreLoaderBlock(LoaderSession& session, const LoaderOptions& options,
                              const std::vector<uint8_t>& data, const std::string& name,
                              const LoaderProgress& progress, LoaderContents& contents) {
  if (data.empty()) return Outcome(LoaderOutcome::WriteFailed);
  return Connected(session, true, contents,
                   [&] { return Store(session, options, data, name, progress, contents); });
}


LoaderResult ReadLoaderBlock(LoaderSession& session, const LoaderOptions& options, int entry,
                             const LoaderProgress& progress, const LoaderContents& contents,
                             std::vector<uint8_t>& data) {
  if (session.StopRequested()) return Outcome(LoaderOutcome::Interrupted);
  const DirEntry e = ReadEntry(contents.directory, entry);
  if (e.Empty()) return Outcome(LoaderOutcome::NoConnection);
  if (!ReadBlock(session, e, options.speedIndex, data, progress))
    return Failed(session, LoaderOutcome::NoConnection);
  return Done();
}

LoaderResult EraseLoaderEntry(LoaderSession& session, int entry, LoaderContents& contents) {
  return Connected(session, true, contents, [&] {
    if (!EraseEntry(session, contents.directory, entry)) {
      return Failed(session, Outcome(LoaderOutcome::EraseFailed,
                                     Utf8ToCp1251(u8"Не удалось стереть блок №") +
                                         std::to_string(entry + 1) + "!"));
    }
    return Done();
  });
}

LoaderResult EraseAllLoaderEntries(LoaderSession& session, const LoaderOptions& options,
                                   const LoaderProgress& progress, LoaderContents& contents) {
  return Connected(session, options.requireDataMemory, contents, [&] {
    const LoaderDirectory zeros{};
    if (!WriteMemory(session, 0, zeros.size(), zeros.data(), progress))
      return Failed(session, LoaderOutcome::ClearFailed);
    contents.directory = zeros;
    return Done();
  });
}

LoaderResult FormatLoaderMemory(LoaderSession& session, const LoaderOptions& options,
                                const LoaderProgress& progress, LoaderContents& contents) {
  return Connected(session, true, contents, [&] {
    if (!FormatLoader(session, options.speedIndex, progress))
      return Failed(session, LoaderOutcome::NoConnection);
    contents.directory = LoaderDirectory{};
    return Done();
  });
}

LoaderResult DefragmentLoader(LoaderSession& session, const LoaderOptions& options,
                              const LoaderProgress& progress, LoaderContents& contents) {
  return Connected(session, true, contents, [&] {
    LoaderResult listed = ReadDirectoryOf(session, options, {}, contents);
    return listed.Done() ? Pack(session, options, progress, contents) : listed;
  });
}

}  // namespace lentar::comm
