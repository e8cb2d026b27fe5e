// The loader's flows against the simulated loader over an in-memory line:
// what each reports, and "Прервать" at the first, a middle and the last step
// of every long one.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comm/loaderflows.h"
#include "comm/stopflag.h"
#include "simloader.h"
#include "support/memory_board.h"

namespace {

using namespace lentar::comm;
using lentar::boardsim::SimLoader;
using lentar::comm::testing::Bytes;
using lentar::comm::testing::MemoryBoard;

struct Block {
  int entry;
  uint32_t start;
  uint16_t size;
  std::string name;
};

Bytes Pattern(size_t size, unsigned seed) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 5 + seed * 41 + (i >> 7));
  return data;
}

Bytes Memory(int type, const std::vector<Block>& blocks) {
  Bytes memory(lentar::boardsim::SimMemorySize(type), 0xFF);
  LoaderDirectory d{};
  for (const Block& b : blocks) {
    WriteEntry(d, b.entry, {b.start, b.size, b.name, 1});
    const Bytes data = Pattern(b.size, static_cast<unsigned>(b.entry));
    std::copy(data.begin(), data.end(), memory.begin() + b.start);
  }
  std::copy(d.begin(), d.end(), memory.begin());
  return memory;
}

LoaderDirectory DirectoryIn(const Bytes& memory) {
  LoaderDirectory d;
  std::copy_n(memory.begin(), d.size(), d.begin());
  return d;
}

// Every block is listed once by an entry whose data are the block's bytes.
::testing::AssertionResult ListsEveryBlock(const Bytes& memory, const std::vector<Block>& blocks) {
  const LoaderDirectory d = DirectoryIn(memory);
  for (const Block& b : blocks) {
    const Bytes data = Pattern(b.size, static_cast<unsigned>(b.entry));
    int found = 0;
    for (int entry : BlockEntries(d)) {
      const DirEntry e = ReadEntry(d, entry);
      if (e.name == b.name && e.size == b.size && e.start + e.size <= memory.size() &&
          std::equal(data.begin(), data.end(), memory.begin() + e.start))
        ++found;
    }
    if (found != 1) return ::testing::AssertionFailure() << "block " << b.name << " listed " << found << " times";
  }
  return ::testing::AssertionSuccess();
}

// The simulated loader behind an in-memory line, with the speed it was last
// switched to.
class SimulatedLoader {
 public:
  SimulatedLoader(int type, const Bytes& memory) : sim_(type, memory) {
    session_.LoaderReplyTimeout = 30;
    session_.LoaderSwitchPause = 0;
    board_.SetResponder([this](const Bytes& request) {
      int rate = -1;
      auto reply = sim_.Handle(request, rate);
      if (rate >= 0) rate_ = rate;
      return reply;
    });
  }
  LoaderSession& Session() { return session_; }
  const Bytes& Memory() const { return sim_.Memory(); }
  int Rate() const { return rate_; }
  size_t Requests() const { return board_.Requests().size(); }
  // Memory requests (read or write) that touched [lo, hi).
  size_t MemoryRequestsWithin(uint32_t lo, uint32_t hi) const {
    size_t n = 0;
    for (const Bytes& r : board_.Requests()) {
      if (r.size() < 7 || (r[2] != 0x15 && r[2] != 0x16)) continue;
      const uint32_t at = r[3] | r[4] << 8 | r[5] << 16;
      const uint32_t length = r[2] == 0x16 ? r[6] : static_cast<uint32_t>(r.size() - 6);
      if (at < hi && lo < at + length) ++n;
    }
    return n;
  }
  // Bytes read from [lo, hi).
  size_t BytesRead(uint32_t lo, uint32_t hi) const {
    size_t n = 0;
    for (const Bytes& r : board_.Requests()) {
      if (r.size() != 7 || r[2] != 0x16) continue;
      const uint32_t at = r[3] | r[4] << 8 | r[5] << 16;
      if (at >= lo && at + r[6] <= hi) n += r[6];
    }
    return n;
  }

 private:
  SimLoader sim_;
  MemoryBoard board_;
  LoaderSession session_{board_.Port()};
  int rate_ = kLoaderBaseSpeed;
};

constexpr int kType = 1;
// Three blocks of 4000 bytes with 6400-byte gaps between them: 19200 bytes
// free, but 8000 bytes fit only after packing.
const std::vector<Block> kBlocks = {{0, 7552, 4000, "b"}, {1, 17984, 4000, "c"}, {2, 28416, 4000, "d"}};

struct Operation {
  const char* name;
  std::function<LoaderResult(LoaderSession&, LoaderContents&, const LoaderProgress&, Bytes&)> run;
  // Whether the loader's directory may have lost entries when the work was
  // stopped (erasing and formatting clear it page by page).
  bool clearsEntries = false;
  // The steps at the end that always follow the one before them: the last
  // block's entry after its data, when packing.
  int finishing = 0;
};

LoaderOptions Options(bool optimise = false) {
  LoaderOptions options;
  options.speedIndex = 7;
  options.optimise = optimise;
  return options;
}

const Operation kOperations[] = {
    {"store",
     [](LoaderSession& s, LoaderContents& c, const LoaderProgress& p, Bytes&) {
       return StoreLoaderBlock(s, Options(), Pattern(3000, 7), "new", p, c);
     }},
    {"store after packing",
     [](LoaderSession& s, LoaderContents& c, const LoaderProgress& p, Bytes&) {
       return StoreLoaderBlock(s, Options(true), Pattern(8000, 7), "new", p, c);
     }},
    {"read",
     [](LoaderSession& s, LoaderContents& c, const LoaderProgress& p, Bytes& data) {
       LoaderResult listed = ListLoaderBlocks(s, Options(), {}, c);
       return listed.Done() ? ReadLoaderBlock(s, Options(), 1, p, c, data) : listed;
     }},
    {"erase all",
     [](LoaderSession& s, LoaderContents& c, const LoaderProgress& p, Bytes&) {
       return EraseAllLoaderEntries(s, Options(), p, c);
     },
     true},
    {"format",
     [](LoaderSession& s, LoaderContents& c, const LoaderProgress& p, Bytes&) {
       return FormatLoaderMemory(s, Options(), p, c);
     },
     true},
    {"defragment",
     [](LoaderSession& s, LoaderContents& c, const LoaderProgress& p, Bytes&) {
       return DefragmentLoader(s, Options(), p, c);
     },
     false,
     1},
};

TEST(LoaderFlows, EachOperationDoneWithoutAStop) {
  for (const Operation& op : kOperations) {
    SimulatedLoader loader(kType, Memory(kType, kBlocks));
    LoaderContents contents;
    Bytes data;
    int steps = 0;
    const LoaderResult r = op.run(loader.Session(), contents, [&](int) { ++steps; }, data);
    EXPECT_TRUE(r.Done()) << op.name << ": " << r.text;
    EXPECT_TRUE(r.text.empty()) << op.name;
    EXPECT_GE(steps, 3) << op.name;
    EXPECT_EQ(loader.Rate(), kLoaderBaseSpeed) << op.name;
  }
}

// Two loaders, each on its own line and session, worked at once from two
// threads: each connects again and again (every handshake draws random bytes
// from its session) and stores a block; both end done, every block listed
// with its bytes. Run under ThreadSanitizer (scripts/tsan.sh comm_tests) this
// is where sessions sharing anything would show.
TEST(LoaderFlows, TwoSessionsAtOnceEachEndDone) {
  constexpr int kConnects = 20;
  SimulatedLoader first(kType, Memory(kType, kBlocks));
  SimulatedLoader second(kType, Memory(kType, kBlocks));
  struct Run {
    SimulatedLoader* loader;
    int connected = 0;
    LoaderResult stored;
  } runs[] = {{&first, 0, {}}, {&second, 0, {}}};
  {
    std::vector<std::thread> threads;
    for (Run& run : runs) {
      threads.emplace_back([&run] {
        LoaderSession& session = run.loader->Session();
        LoaderContents contents;
        for (int i = 0; i < kConnects; ++i)
          if (ConnectToLoader(session, contents).Done()) ++run.connected;
        run.stored = StoreLoaderBlock(session, Options(), Pattern(3000, 7), "new", {}, contents);
      });
    }
    for (std::thread& t : threads) t.join();
  }
  for (const Run& run : runs) {
    const char* which = run.loader == &first ? "first" : "second";
    EXPECT_EQ(run.connected, kConnects) << which;
    ASSERT_TRUE(run.stored.Done()) << which << ": " << run.stored.text;
    EXPECT_TRUE(ListsEveryBlock(run.loader->Memory(), kBlocks)) << which;
    EXPECT_EQ(ReadEntry(DirectoryIn(run.loader->Memory()), run.stored.slot).name, "new") << which;
    EXPECT_EQ(run.loader->Rate(), kLoaderBaseSpeed) << which;
  }
}

// "Прервать" after the first step, half way and before the last step: the
// work ends there as interrupted, never done; the loader and the line are
// back at the base speed and it answers there; a stored block is not listed
// half written, a stopped packing lists every block with its bytes and the
// caller's directory is the loader's.
TEST(LoaderFlows, AStopAtTheFirstAMiddleOrTheLastStepIsInterruptedNeverDone) {
  for (const Operation& op : kOperations) {
    int steps = 0;
    {
      SimulatedLoader whole(kType, Memory(kType, kBlocks));
      LoaderContents contents;
      Bytes data;
      ASSERT_TRUE(op.run(whole.Session(), contents, [&](int) { ++steps; }, data).Done()) << op.name;
    }
    for (const int stopAt : {1, steps / 2, steps - 1 - op.finishing}) {
      const std::string where = std::string(op.name) + ", stopped at step " + std::to_string(stopAt) +
                                " of " + std::to_string(steps);
      SimulatedLoader loader(kType, Memory(kType, kBlocks));
      LoaderSession& session = loader.Session();
      LoaderContents contents;
      Bytes data;
      int step = 0;
      const LoaderResult r = op.run(session, contents, [&](int) {
        if (++step == stopAt) session.Stop().Request();
      }, data);
      EXPECT_EQ(r.outcome, LoaderOutcome::Interrupted) << where;
      EXPECT_EQ(r.text, InterruptedText()) << where;
      EXPECT_LT(step, steps) << where;
      EXPECT_TRUE(data.empty()) << where;
      EXPECT_EQ(session.Speed, kLoaderBaseSpeed) << where;
      EXPECT_EQ(session.Port().BaudRate(), 9600) << where;
      EXPECT_EQ(loader.Rate(), kLoaderBaseSpeed) << where;

      const Bytes& memory = loader.Memory();
      if (!op.clearsEntries) {
        EXPECT_TRUE(ListsEveryBlock(memory, kBlocks)) << where;
        EXPECT_EQ(BlockEntries(DirectoryIn(memory)).size(), kBlocks.size()) << where << ": a half block listed";
        EXPECT_TRUE(contents.directory == DirectoryIn(memory)) << where;
      }

      // Stopped, the loader answers at the base speed; cleared, the flag lets
      // the next work run to its end.
      session.Stop().Clear();
      LoaderContents after;
      const size_t before = loader.Requests();
      ASSERT_TRUE(ConnectToLoader(session, after).Done()) << where;
      EXPECT_EQ(loader.Requests(), before + 2) << where;
      if (!op.clearsEntries) {
        ASSERT_TRUE(DefragmentLoader(session, Options(), {}, after).Done()) << where;
        EXPECT_TRUE(ListsEveryBlock(loader.Memory(), kBlocks)) << where;
        EXPECT_EQ(FreeGaps(after.directory, kType).size(), 1u) << where;
      }
    }
  }
}

// A stop once a block's data are all written waits for the block's entry:
// the block is stored and listed.
TEST(LoaderFlows, AStopAfterABlocksDataWaitsForItsEntry) {
  SimulatedLoader loader(kType, Memory(kType, kBlocks));
  LoaderSession& session = loader.Session();
  LoaderContents contents;
  const LoaderResult r = StoreLoaderBlock(session, Options(), Pattern(3000, 7), "new", [&](int percent) {
    if (percent == 100) session.Stop().Request();
  }, contents);
  ASSERT_TRUE(r.Done()) << r.text;
  const LoaderDirectory d = DirectoryIn(loader.Memory());
  EXPECT_TRUE(contents.directory == d);
  EXPECT_EQ(ReadEntry(d, r.slot).name, "new");
  EXPECT_EQ(loader.Rate(), kLoaderBaseSpeed);
}

// A flag set before the work starts stops it before anything is sent.
TEST(LoaderFlows, AStopBeforeTheStartSendsNothing) {
  for (const Operation& op : kOperations) {
    SimulatedLoader loader(kType, Memory(kType, kBlocks));
    loader.Session().Stop().Request();
    LoaderContents contents;
    Bytes data;
    EXPECT_EQ(op.run(loader.Session(), contents, {}, data).outcome, LoaderOutcome::Interrupted) << op.name;
    EXPECT_EQ(loader.Requests(), 0u) << op.name;
  }
}

TEST(LoaderFlows, StoreSaysWhyItStoresNothing) {
  struct Case {
    const char* name;
    int type;
    std::vector<Block> blocks;
    size_t size;
    bool optimise;
    LoaderOutcome outcome;
  };
  // Two blocks over each other, and no gap of 9000 bytes.
  const std::vector<Block> damaged = {
      {0, 1152, 5000, "a"}, {1, 6000, 900, "b"}, {2, 14016, 3000, "c"}, {3, 24000, 3000, "d"}};
  const Case cases[] = {
      {"no data memory", 0, {}, 100, false, LoaderOutcome::NoDataMemory},
      {"larger than the free space", kType, kBlocks, 19521, true, LoaderOutcome::NoRoom},
      {"no gap fits", kType, kBlocks, 8000, false, LoaderOutcome::NoFittingGap},
      {"damaged directory", kType, damaged, 9000, true, LoaderOutcome::DamagedDirectory},
  };
  for (const Case& c : cases) {
    SimulatedLoader loader(c.type, Memory(c.type, c.blocks));
    const Bytes memory = loader.Memory();
    LoaderContents contents;
    const LoaderResult r =
        StoreLoaderBlock(loader.Session(), Options(c.optimise), Pattern(c.size, 1), "x", {}, contents);
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(r.text, LoaderOutcomeText(c.outcome)) << c.name;
    EXPECT_FALSE(r.text.empty()) << c.name;
    EXPECT_TRUE(loader.Memory() == memory) << c.name;
    EXPECT_EQ(loader.Rate(), kLoaderBaseSpeed) << c.name;
  }
}

// The common case on a loader: A (3550 bytes), B (18400) and C (3500)
// stored one after the other, A erased, then a set of 7800 bytes to store
// with 9664 bytes free: A's hole and the end, neither large enough. C moves
// into A's hole and the set goes after B; B, which could only move through
// a place as large as itself, is neither read nor written.
TEST(LoaderFlows, StoreMovesTheLastBlockIntoAnErasedBlocksHole) {
  const std::vector<Block> kept = {{1, 4736, 18400, "B"}, {2, 23168, 3500, "C"}};
  SimulatedLoader loader(kType, Memory(kType, {{0, 1152, 3550, "A"}, kept[0], kept[1]}));
  LoaderContents contents;
  ASSERT_TRUE(ListLoaderBlocks(loader.Session(), Options(), {}, contents).Done());
  ASSERT_TRUE(EraseLoaderEntry(loader.Session(), 0, contents).Done());
  ASSERT_EQ(FreeSpace(contents.directory, kType), 9664);
  const Bytes set = Pattern(7800, 9);

  const LoaderResult asked = StoreLoaderBlock(loader.Session(), Options(), set, "set", {}, contents);
  EXPECT_EQ(asked.outcome, LoaderOutcome::NoFittingGap);
  const LoaderResult r = StoreLoaderBlock(loader.Session(), Options(true), set, "set", {}, contents);
  ASSERT_TRUE(r.Done()) << r.text;
  EXPECT_EQ(r.address, 23168u);
  const Bytes& memory = loader.Memory();
  EXPECT_TRUE(ListsEveryBlock(memory, kept));
  const LoaderDirectory d = DirectoryIn(memory);
  EXPECT_TRUE(contents.directory == d);
  EXPECT_EQ(ReadEntry(d, 2).start, 1152u);
  EXPECT_EQ(ReadEntry(d, 1).start, 4736u);
  EXPECT_TRUE(std::equal(set.begin(), set.end(), memory.begin() + 23168));
  EXPECT_EQ(ReadEntry(d, r.slot).name, "set");
  EXPECT_EQ(BlockEntries(d).size(), 3u);
  EXPECT_EQ(loader.MemoryRequestsWithin(4736, 23168), 0u);
  // C is the only block read: 3500 bytes, not the 25 KiB of every block.
  EXPECT_EQ(loader.BytesRead(DataAreaStart, 32768), 3500u);
  EXPECT_EQ(loader.Rate(), kLoaderBaseSpeed);
}

// When the block in the way is larger than any hole, nothing is read or
// moved: the store is refused at once, naming the block.
TEST(LoaderFlows, StoreRefusesAtOnceWhenNoSafeWayMakesRoom) {
  const std::vector<Block> kept = {{1, 4736, 18400, "B"}, {2, 23168, 4000, "C"}};
  SimulatedLoader loader(kType, Memory(kType, kept));
  const Bytes memory = loader.Memory();
  LoaderContents contents;
  const size_t before = loader.Requests();
  const LoaderResult r = StoreLoaderBlock(loader.Session(), Options(true), Pattern(7800, 9), "set", {}, contents);
  EXPECT_EQ(r.outcome, LoaderOutcome::PackingStopped);
  EXPECT_NE(r.text.find("\xAB" "B\xBB"), std::string::npos) << r.text;
  EXPECT_TRUE(loader.Memory() == memory);
  // Only the directory was read.
  EXPECT_GT(loader.Requests(), before);
  EXPECT_EQ(loader.MemoryRequestsWithin(kLoaderDirectorySize, 32768), 0u);
  EXPECT_EQ(loader.Rate(), kLoaderBaseSpeed);
}

}  // namespace
