// The loader's memory map (directory entries, free space, first fit, the
// sort, chunking, the reorganisation plan) and the loader protocol against
// the simulated loader over an in-memory line, including a reorganisation
// cut short at every one of its requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "comm/loaderprotocol.h"
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

LoaderDirectory DirectoryOf(const std::vector<Block>& blocks) {
  LoaderDirectory d{};
  for (const Block& b : blocks) WriteEntry(d, b.entry, {b.start, b.size, b.name, 1});
  return d;
}

Bytes Pattern(size_t size, unsigned seed) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + seed * 31 + (i >> 8));
  return data;
}

// ---- Directory entries ------------------------------------------------------

TEST(LoaderDirectory, EntryIsEmptyOnlyWithoutStartSizeOrFlag) {
  struct Case {
    uint32_t start;
    uint16_t size;
    uint8_t flag;
    bool empty;
  } cases[] = {
      {1152, 10, 1, false},       {1152, 10, 0xFF, true}, {1152, 10, 0, true},
      {0, 10, 1, true},           {0xFFFFFFFF, 10, 1, true}, {1152, 0, 1, true},
      {1152, 0xFFFF, 1, true},    {1152, 10, 2, false},
  };
  for (const Case& c : cases) {
    LoaderDirectory d{};
    WriteEntry(d, 3, {c.start, c.size, "x", c.flag});
    EXPECT_EQ(EntryEmpty(d, 3), c.empty) << c.start << " " << c.size << " " << int(c.flag);
  }
  LoaderDirectory erased;
  erased.fill(0xFF);
  EXPECT_TRUE(BlockEntries(erased).empty());
  EXPECT_TRUE(BlockEntries(LoaderDirectory{}).empty());
}

TEST(LoaderDirectory, EntryBytesAndNamesCutTo15) {
  LoaderDirectory d;
  d.fill(0xAA);
  WriteEntry(d, 1, {0x00012345, 0x1234, "ABCDEFGHIJKLMNOPQRS", 1});
  const uint8_t expected[32] = {0x45, 0x23, 0x01, 0x00, 0x34, 0x12, 15,  'A', 'B', 'C', 'D',
                                'E',  'F',  'G',  'H',  'I',  'J',  'K', 'L', 'M', 'N', 'O',
                                1,    0,    0,    0,    0,    0,    0,   0,   0,   0};
  EXPECT_EQ(0, std::memcmp(d.data() + 32, expected, 32));
  EXPECT_EQ(d[31], 0xAA);
  EXPECT_EQ(d[64], 0xAA);
  EXPECT_EQ(ReadEntry(d, 1).name, "ABCDEFGHIJKLMNO");
  // A length byte beyond 15 reads as 15 characters.
  d[32 + 6] = 200;
  EXPECT_EQ(ReadEntry(d, 1).name.size(), 15u);
}

TEST(LoaderDirectory, MemoryAndPageSizes) {
  const std::pair<int, int64_t> sizes[] = {{0, 0}, {1, 32768}, {2, 65536}, {3, 131072}, {4, 0}, {255, 0}};
  for (auto [type, size] : sizes) EXPECT_EQ(MemorySize(type), size) << type;
  EXPECT_EQ(PageSizeFor(0), 64);
  EXPECT_EQ(PageSizeFor(1), 64);
  EXPECT_EQ(PageSizeFor(2), 128);
  EXPECT_EQ(PageSizeFor(3), 128);
}

TEST(LoaderDirectory, FreeSpace) {
  EXPECT_EQ(FreeSpace(LoaderDirectory{}, 1), 31616);
  EXPECT_EQ(FreeSpace(DirectoryOf({{0, 1152, 100, "a"}}), 1), 31488);
  EXPECT_EQ(FreeSpace(DirectoryOf({{0, 1152, 100, "a"}}), 3), 131072 - 1152 - 128);
  EXPECT_EQ(FreeSpace(LoaderDirectory{}, 0), 0);
  // More blocks than memory (a damaged directory) never gives a negative.
  std::vector<Block> many;
  for (int i = 0; i < 32; ++i) many.push_back({i, 1152, 60000, "x"});
  EXPECT_EQ(FreeSpace(DirectoryOf(many), 1), 0);
}

TEST(LoaderDirectory, AllocateBlockIsFirstFit) {
  EXPECT_EQ(AllocateBlock(LoaderDirectory{}, 1, 1), 1152u);
  const LoaderDirectory one = DirectoryOf({{4, 1152, 100, "a"}});
  EXPECT_EQ(AllocateBlock(one, 1, 31488), 1280u);
  EXPECT_EQ(AllocateBlock(one, 1, 31489), 0u);
  // A gap between two blocks is used when it fits, skipped when not.
  const LoaderDirectory two = DirectoryOf({{0, 2048, 64, "b"}, {1, 1152, 64, "a"}});
  EXPECT_EQ(AllocateBlock(two, 1, 832), 1216u);
  EXPECT_EQ(AllocateBlock(two, 1, 833), 2112u);
  // No memory, or nothing to store.
  EXPECT_EQ(AllocateBlock(LoaderDirectory{}, 0, 10), 0u);
  EXPECT_EQ(AllocateBlock(LoaderDirectory{}, 1, 0), 0u);
  // A damaged entry far past the end of memory does not make room that is
  // not there.
  EXPECT_EQ(AllocateBlock(DirectoryOf({{0, 0x10000000, 100, "far"}}), 1, 40000), 0u);
  // Overlapping entries never send the search back over a block.
  const LoaderDirectory overlap =
      DirectoryOf({{0, 1152, 6400, "long"}, {1, 1216, 64, "inside"}, {2, 16384, 64, "c"}});
  EXPECT_EQ(AllocateBlock(overlap, 1, 2000), 7552u);
}

TEST(LoaderDirectory, FindFreeEntry) {
  EXPECT_EQ(FindFreeEntry(LoaderDirectory{}), 0);
  EXPECT_EQ(FindFreeEntry(DirectoryOf({{0, 1152, 1, "a"}, {1, 1216, 1, "b"}, {3, 1280, 1, "c"}})), 2);
  std::vector<Block> full;
  for (int i = 0; i < 32; ++i) full.push_back({i, 1152u + 64u * static_cast<uint32_t>(i), 1, "x"});
  EXPECT_EQ(FindFreeEntry(DirectoryOf(full)), -1);
}

TEST(LoaderDirectory, SortPutsBlocksByAddressAndEmptyEntriesLast) {
  LoaderDirectory d = DirectoryOf({{1, 5000, 10, "c"}, {2, 1152, 10, "a"}, {7, 3000, 10, "b"}});
  // Entry 0 holds leftovers of an erased entry.
  std::fill_n(d.begin(), 32, 0xFF);
  SortDirectory(d);
  EXPECT_EQ(ReadEntry(d, 0).name, "a");
  EXPECT_EQ(ReadEntry(d, 1).name, "b");
  EXPECT_EQ(ReadEntry(d, 2).name, "c");
  for (int i = 3; i < 32; ++i) EXPECT_TRUE(EntryEmpty(d, i)) << i;
}

TEST(LoaderDirectory, ChunksNeverCrossAPage) {
  const auto chunks = TransferChunks(100, 200, 64);
  const std::vector<std::pair<uint32_t, size_t>> expected = {{100, 28}, {128, 64}, {192, 64}, {256, 44}};
  ASSERT_EQ(chunks.size(), expected.size());
  for (size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].address, expected[i].first);
    EXPECT_EQ(chunks[i].length, expected[i].second);
  }
  EXPECT_EQ(TransferChunks(1152, 1024, 128).size(), 8u);
  EXPECT_TRUE(TransferChunks(1152, 0, 128).empty());
  EXPECT_EQ(DirectoryPageStart(5, 128), 128u);
  EXPECT_EQ(DirectoryPageStart(5, 64), 128u);
  EXPECT_EQ(DirectoryPageStart(1, 64), 0u);
  EXPECT_EQ(DirectoryPageStart(31, 64), 960u);
}

TEST(LoaderDirectory, PasswordArea) {
  const auto area = BuildPasswordArea({"abc", "", "12345678", "", "", "", "", "x"});
  EXPECT_EQ(area[0], 3);
  EXPECT_EQ(area[1], 'a');
  EXPECT_EQ(area[4], 0);
  EXPECT_EQ(area[16], 0);
  EXPECT_EQ(area[32], 8);
  EXPECT_EQ(area[40], '8');
  EXPECT_EQ(area[112], 1);
  EXPECT_EQ(area[113], 'x');
}

// ---- The plan of a reorganisation -------------------------------------------

TEST(LoaderDefragmentPlan, DamagedDirectoriesAreLeftAlone) {
  EXPECT_FALSE(PlanDefragment(DirectoryOf({{0, 1152, 200, "a"}, {1, 1280, 10, "b"}}), 1).possible);
  EXPECT_FALSE(PlanDefragment(DirectoryOf({{0, 32760, 100, "past"}}), 1).possible);
  EXPECT_FALSE(PlanDefragment(DirectoryOf({{0, 64, 100, "in the directory"}}), 1).possible);
  EXPECT_FALSE(PlanDefragment(LoaderDirectory{}, 0).possible);
  const PackPlan packed = PlanDefragment(DirectoryOf({{0, 1152, 100, "a"}}), 1);
  EXPECT_TRUE(packed.possible && packed.complete);
  EXPECT_TRUE(packed.steps.empty());
}

TEST(LoaderDirectory, ACopyOfAnEntryIsOneBlock) {
  // Entry 4 is the copy a renumbering cut short leaves of entry 1; entry 6
  // has the same place but another name, so it is no copy.
  LoaderDirectory d = DirectoryOf({{1, 2048, 300, "a"}, {4, 2048, 300, "a"}, {2, 1152, 64, "b"}});
  EXPECT_EQ(BlockEntries(d), (std::vector<int>{1, 2}));
  EXPECT_EQ(EntryAndCopies(d, 1), (std::vector<int>{1, 4}));
  EXPECT_EQ(FreeSpace(d, 1), 32768 - 1152 - 64 - 320);
  const std::vector<FreeGap> gaps = FreeGaps(d, 1);
  ASSERT_EQ(gaps.size(), 2u);
  EXPECT_EQ(gaps[0].start, 1216u);
  EXPECT_EQ(gaps[0].length, 2048u - 1216u);
  EXPECT_EQ(gaps[1].start, 2048u + 320u);
  EXPECT_EQ(gaps[1].length, 32768u - 2368u);
  WriteEntry(d, 6, {2048, 300, "other", 1});
  EXPECT_EQ(BlockEntries(d), (std::vector<int>{1, 2, 6}));
  EXPECT_FALSE(PlanDefragment(d, 1).possible);
}

TEST(LoaderDefragmentPlan, NoRoomToMoveABlockOverItselfStopsThere) {
  // One page free before a block and one after it: moving it down would
  // write over its only copy, and no hole takes it whole.
  const LoaderDirectory d = DirectoryOf({{0, 1216, 31488, "big"}});
  const PackPlan plan = PlanDefragment(d, 1);
  EXPECT_TRUE(plan.possible);
  EXPECT_FALSE(plan.complete);
  EXPECT_EQ(plan.stoppedAt, 0);
  EXPECT_TRUE(plan.steps.empty());
  EXPECT_EQ(plan.result, d);
}

// ---- The protocol against the simulated loader --------------------------------

// The simulated loader behind an in-memory line. After `budget` requests the
// line goes dead: nothing more reaches the loader.
class LoaderLine {
 public:
  LoaderLine(int type, const Bytes& memory) : sim_(type, memory) {
    // Replies here are synchronous: a missing one is missing.
    session_.LoaderReplyTimeout = 30;
    session_.LoaderSwitchPause = 0;
    board_.SetResponder([this](const Bytes& request) -> std::optional<Bytes> {
      if (budget_ == 0) return std::nullopt;
      if (budget_ > 0) --budget_;
      int rate = -1;
      return sim_.Handle(request, rate);
    });
  }
  TComPort& Port() { return board_.Port(); }
  LoaderSession& Session() { return session_; }
  const std::vector<Bytes>& Requests() const { return board_.Requests(); }
  SimLoader& Sim() { return sim_; }
  void CutAfter(int requests) { budget_ = requests; }

 private:
  SimLoader sim_;
  MemoryBoard board_;
  LoaderSession session_{board_.Port()};
  int budget_ = -1;
};

// A reorganisation run over the directory the caller holds: Defragment, or
// MakeRoom for a block of some size. finished: what the loader holds once
// it has run to its end.
struct Reorganisation {
  std::function<bool(LoaderSession&, LoaderDirectory&, int type, const LoaderProgress&)> run;
  std::function<bool(const LoaderDirectory&, int type)> finished;
};

const Reorganisation kPacking = {
    [](LoaderSession& s, LoaderDirectory& d, int type, const LoaderProgress& p) {
      return Defragment(s, d, type, 4, p);
    },
    // One gap, and no block listed twice.
    [](const LoaderDirectory& d, int type) {
      int listed = 0;
      for (int i = 0; i < kLoaderEntryCount; ++i) listed += EntryEmpty(d, i) ? 0 : 1;
      return FreeGaps(d, type).size() == 1 && listed == static_cast<int>(BlockEntries(d).size());
    }};

Reorganisation RoomFor(size_t size) {
  return {[size](LoaderSession& s, LoaderDirectory& d, int type, const LoaderProgress& p) {
            bool made = false;
            return MakeRoom(s, d, type, size, 4, p, &made) && made;
          },
          [size](const LoaderDirectory& d, int type) { return AllocateBlock(d, type, size) != 0; }};
}

class LoaderProtocol : public ::testing::Test {
 protected:
  // A loader memory of the type holding the blocks, each filled with its own
  // pattern, the directory and everything else erased.
  static Bytes Memory(int type, const std::vector<Block>& blocks) {
    Bytes memory(static_cast<size_t>(MemorySize(type)), 0xFF);
    const LoaderDirectory d = DirectoryOf(blocks);
    std::copy(d.begin(), d.end(), memory.begin());
    for (const Block& b : blocks) {
      const Bytes data = Pattern(b.size, static_cast<unsigned>(b.entry));
      std::copy(data.begin(), data.end(), memory.begin() + b.start);
    }
    return memory;
  }

  // Every block is listed by an entry whose data are the block's bytes.
  static ::testing::AssertionResult HoldsEveryBlock(const Bytes& memory,
                                                    const std::vector<Block>& blocks) {
    LoaderDirectory d;
    std::copy_n(memory.begin(), d.size(), d.begin());
    for (const Block& b : blocks) {
      const Bytes data = Pattern(b.size, static_cast<unsigned>(b.entry));
      bool found = false;
      for (int entry : BlockEntries(d)) {
        const DirEntry e = ReadEntry(d, entry);
        if (e.name != b.name || e.size != b.size || e.flag != 1) continue;
        if (e.start + e.size > memory.size()) continue;
        found = std::equal(data.begin(), data.end(), memory.begin() + e.start);
        if (found) break;
      }
      if (!found) return ::testing::AssertionFailure() << "block " << b.name << " lost";
    }
    return ::testing::AssertionSuccess();
  }

  // Cut short by the line at every request, or stopped by the operator at
  // every step: every entry lists a whole block, every block stays listed
  // with its bytes, and the same work run again finishes. start: the
  // directory the loader holds, when not the blocks' own.
  static void CheckEveryCutAndStop(int type, const std::vector<Block>& blocks, const Reorganisation& work,
                                   const std::string& layout, const LoaderDirectory* start = nullptr);
};

TEST_F(LoaderProtocol, WriteMemoryGoesInPageChunksWithProgress) {
  LoaderLine line(1, {});
  line.Session().PageSize = 64;
  const Bytes data = Pattern(200, 1);
  std::vector<int> percents;
  ASSERT_TRUE(WriteMemory(line.Session(), 100, data.size(), data.data(),
                          [&](int p) { percents.push_back(p); }));
  // The writes; the short reads between them keep the acknowledgements apart.
  std::vector<Bytes> writes;
  for (const Bytes& r : line.Requests())
    if (r[2] == 0x15) writes.push_back(r);
  ASSERT_EQ(writes.size(), 4u);
  const std::pair<uint32_t, size_t> expected[] = {{100, 28}, {128, 64}, {192, 64}, {256, 44}};
  for (size_t i = 0; i < 4; ++i) {
    const Bytes& r = writes[i];
    EXPECT_EQ(r[0], 0x01);
    EXPECT_EQ(r[1], 0x06);
    EXPECT_EQ(r[2], 0x15);
    EXPECT_EQ(uint32_t(r[3] | r[4] << 8 | r[5] << 16), expected[i].first);
    EXPECT_EQ(r.size() - 6, expected[i].second);
  }
  EXPECT_EQ(percents, (std::vector<int>{14, 46, 78, 100}));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), line.Sim().Memory().begin() + 100));

  Bytes back(200);
  ASSERT_TRUE(ReadMemory(line.Session(), 100, back.size(), back.data()));
  EXPECT_EQ(back, data);
}

TEST_F(LoaderProtocol, TheLoaderRefusesWritesAcrossPagesOrPastTheEnd) {
  LoaderLine line(1, {});
  const Bytes data(64, 0x11);
  EXPECT_FALSE(loader::CmdWriteMem(line.Session(), 100, data.data(), 64));  // crosses 128
  EXPECT_FALSE(loader::CmdWriteMem(line.Session(), 32768 - 32, data.data(), 64));
  EXPECT_TRUE(loader::CmdWriteMem(line.Session(), 128, data.data(), 64));
  EXPECT_TRUE(std::all_of(line.Sim().Memory().begin() + 64, line.Sim().Memory().begin() + 128,
                          [](uint8_t b) { return b == 0xFF; }));
  uint8_t out[16];
  EXPECT_FALSE(loader::CmdReadMem(line.Session(), 32760, 16, out));
}

TEST_F(LoaderProtocol, InfoSetsThePageSizeAndDirectoryPagesAreWholePages) {
  for (int type : {0, 1, 2, 3}) {
    LoaderLine line(type, {});
    LoaderInfo info;
    line.Session().PageSize = 0;
    ASSERT_TRUE(ReadLoaderInfo(line.Session(), info));
    EXPECT_EQ(info.MemoryType(), type);
    EXPECT_EQ(line.Session().PageSize, type <= 1 ? 64 : 128);
  }
  LoaderLine line(3, {});
  line.Session().PageSize = 128;
  LoaderDirectory d = DirectoryOf({{5, 1152, 10, "five"}});
  ASSERT_TRUE(WriteDirectoryPage(line.Session(), 5, d));
  ASSERT_EQ(line.Requests().size(), 1u);
  const Bytes& r = line.Requests()[0];
  EXPECT_EQ(r[3] | r[4] << 8 | r[5] << 16, 128);
  EXPECT_EQ(r.size() - 6, 128u);
  EXPECT_FALSE(WriteDirectoryPage(line.Session(), 32, d));
  EXPECT_FALSE(WriteDirectoryPage(line.Session(), -1, d));
  EXPECT_EQ(line.Requests().size(), 1u);
}

TEST_F(LoaderProtocol, SpeedSwitchesAndConnect) {
  LoaderLine line(3, {});
  ASSERT_TRUE(SetLoaderSpeed(line.Session(), 7));
  EXPECT_EQ(line.Port().BaudRate(), 57600);
  ASSERT_TRUE(SetLoaderSpeed(line.Session(), kLoaderSpeedBack));
  EXPECT_EQ(line.Port().BaudRate(), 9600);
  const auto& r = line.Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0], (Bytes{0x01, 0x06, 0x14, 7}));
  EXPECT_EQ(r[1].size(), 16u);  // connect with 13 bytes
  EXPECT_EQ(r[1][2], 0x01);
  EXPECT_EQ(r[2], (Bytes{0x01, 0x06, 0x14, 3}));
}

// Back at the base speed the loader gets its pause before the next request,
// which waits for it: nothing goes sooner, however soon it is asked.
TEST_F(LoaderProtocol, TheFirstRequestBackAtTheBaseSpeedWaitsThePause) {
  LoaderLine line(3, {});
  line.Session().LoaderSwitchPause = 40;
  ASSERT_TRUE(SetLoaderSpeed(line.Session(), 7));
  ASSERT_TRUE(SetLoaderSpeed(line.Session(), kLoaderSpeedBack));
  const auto back = std::chrono::steady_clock::now();
  ASSERT_TRUE(loader::CmdConnect(line.Session()));
  EXPECT_GE(std::chrono::steady_clock::now() - back, std::chrono::milliseconds(35));
}

TEST_F(LoaderProtocol, FormatZeroesDirectoryAndPasswords) {
  LoaderLine line(1, Memory(1, {{0, 1152, 100, "a"}}));
  line.Session().PageSize = 64;
  ASSERT_TRUE(FormatLoader(line.Session(), 4));
  const Bytes& m = line.Sim().Memory();
  EXPECT_TRUE(std::all_of(m.begin(), m.begin() + 1152, [](uint8_t b) { return b == 0; }));
  const Bytes data = Pattern(100, 0);  // the data area is not touched
  EXPECT_TRUE(std::equal(data.begin(), data.end(), m.begin() + 1152));
}

TEST_F(LoaderProtocol, DefragmentPacksInAddressOrderAndRenumbers) {
  // Page 64. Entry 3 holds the lowest block, with a gap before it; entry 0 a
  // block that must move over its own place; entry 9 one far away.
  const std::vector<Block> blocks = {
      {0, 4096, 3000, "overlap"}, {3, 1344, 100, "first"}, {9, 20000, 64, "far"}};
  LoaderLine line(1, Memory(1, blocks));
  line.Session().PageSize = 64;
  LoaderDirectory d;
  std::copy_n(line.Sim().Memory().begin(), d.size(), d.begin());
  bool complete = false;
  ASSERT_TRUE(Defragment(line.Session(), d, 1, 4, {}, &complete));
  EXPECT_TRUE(complete);

  LoaderDirectory expected{};
  WriteEntry(expected, 0, {1152, 100, "first", 1});
  WriteEntry(expected, 1, {1280, 3000, "overlap", 1});
  WriteEntry(expected, 2, {4288, 64, "far", 1});
  EXPECT_EQ(d, expected);
  const Bytes& m = line.Sim().Memory();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), m.begin()));
  EXPECT_TRUE(HoldsEveryBlock(m, blocks));
  EXPECT_EQ(AllocateBlock(d, 1, FreeSpace(d, 1)), 4352u);
}

// Every entry the directory lists is one of the blocks, whole: what a cut
// at any request must leave.
::testing::AssertionResult EveryEntryIsAWholeBlock(const Bytes& memory, const std::vector<Block>& blocks) {
  LoaderDirectory d;
  std::copy_n(memory.begin(), d.size(), d.begin());
  for (int i = 0; i < kLoaderEntryCount; ++i) {
    if (EntryEmpty(d, i)) continue;
    const DirEntry e = ReadEntry(d, i);
    const auto block = std::find_if(blocks.begin(), blocks.end(), [&](const Block& b) { return b.name == e.name; });
    if (block == blocks.end() || e.size != block->size || e.start + e.size > memory.size())
      return ::testing::AssertionFailure() << "entry " << i << " lists no block";
    const Bytes data = Pattern(block->size, static_cast<unsigned>(block->entry));
    if (!std::equal(data.begin(), data.end(), memory.begin() + e.start))
      return ::testing::AssertionFailure() << "entry " << i << " lists " << e.name << " over other bytes";
  }
  return ::testing::AssertionSuccess();
}

void LoaderProtocol::CheckEveryCutAndStop(int type, const std::vector<Block>& blocks,
                                          const Reorganisation& work, const std::string& layout,
                                          const LoaderDirectory* start) {
  Bytes memory = Memory(type, blocks);
  if (start) std::copy(start->begin(), start->end(), memory.begin());
  LoaderDirectory original;
  std::copy_n(memory.begin(), original.size(), original.begin());

  // The whole run, to count its requests and its steps.
  LoaderLine whole(type, memory);
  whole.Session().PageSize = PageSizeFor(type);
  LoaderDirectory d = original;
  int steps = 0;
  ASSERT_TRUE(work.run(whole.Session(), d, type, [&](int) { ++steps; })) << layout;
  ASSERT_TRUE(work.finished(d, type)) << layout;
  EXPECT_TRUE(EveryEntryIsAWholeBlock(whole.Sim().Memory(), blocks)) << layout;
  const int requests = static_cast<int>(whole.Requests().size());
  ASSERT_GT(requests, 10) << layout;

  // What the loader holds after the cut: every block, and the same work
  // run again finishes it.
  const auto check = [&](LoaderLine& line, LoaderDirectory& copy, const std::string& where) {
    EXPECT_TRUE(EveryEntryIsAWholeBlock(line.Sim().Memory(), blocks)) << where;
    EXPECT_TRUE(HoldsEveryBlock(line.Sim().Memory(), blocks)) << where;
    // The caller's directory is what the loader holds.
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), line.Sim().Memory().begin())) << where;
    // Opened again, each block is one row and the free space is right.
    EXPECT_EQ(BlockEntries(copy).size(), blocks.size()) << where;
    EXPECT_EQ(FreeSpace(copy, type), FreeSpace(original, type)) << where;
    LoaderLine next(type, line.Sim().Memory());
    next.Session().PageSize = PageSizeFor(type);
    ASSERT_TRUE(work.run(next.Session(), copy, type, {})) << where;
    EXPECT_TRUE(work.finished(copy, type)) << where;
    EXPECT_TRUE(EveryEntryIsAWholeBlock(next.Sim().Memory(), blocks)) << where;
    EXPECT_TRUE(HoldsEveryBlock(next.Sim().Memory(), blocks)) << where;
  };

  for (int cut = 0; cut < requests; ++cut) {
    LoaderLine line(type, memory);
    line.Session().PageSize = PageSizeFor(type);
    // An unanswered request fails at once on this line.
    line.Session().LoaderReplyTimeout = 2;
    line.CutAfter(cut);
    LoaderDirectory copy = original;
    const std::string where = layout + ", cut after " + std::to_string(cut);
    EXPECT_FALSE(work.run(line.Session(), copy, type, {})) << where;
    check(line, copy, where);
  }

  // "Прервать" at each step: the work ends at the next step that begins
  // something (never between a block's data and its entry), back at the
  // base speed.
  for (int stop = 1; stop < steps; ++stop) {
    LoaderLine line(type, memory);
    line.Session().PageSize = PageSizeFor(type);
    LoaderSession& session = line.Session();
    LoaderDirectory copy = original;
    int step = 0;
    const bool ok = work.run(session, copy, type, [&](int) {
      if (++step == stop) session.Stop().Request();
    });
    const std::string where = layout + ", stopped at step " + std::to_string(stop);
    // Only the steps that finish a block may still go after the stop.
    if (ok) {
      EXPECT_TRUE(work.finished(copy, type)) << where;
    }
    EXPECT_EQ(session.Speed, kLoaderBaseSpeed) << where;
    EXPECT_EQ(line.Requests().back(), (Bytes{0x01, 0x06, 0x14, 3})) << where;
    check(line, copy, where);
  }
}

TEST_F(LoaderProtocol, DefragmentCutShortAtEveryRequestLosesNoBlock) {
  // "overlap" moves over its own place, through a free place further up; in
  // the second layout most entries must pass through a spare one.
  const std::vector<Block> layouts[] = {{{0, 2048, 3000, "overlap"},
                                         {1, 1536, 100, "second"},
                                         {3, 1344, 60, "first"},
                                         {4, 20000, 700, "far"},
                                         {31, 12288, 130, "last entry"}},
                                        {{5, 8000, 500, "e"},
                                         {2, 1152, 64, "a"},
                                         {0, 3072, 1000, "c"},
                                         {1, 2240, 300, "b"},
                                         {6, 16384, 90, "f"}}};
  for (const auto& [type, blocks] : {std::pair{1, layouts[0]}, {3, layouts[0]}, {1, layouts[1]}})
    CheckEveryCutAndStop(type, blocks, kPacking, "type " + std::to_string(type));
}

// Room for a new block: the blocks that stand in the way of a gap of its
// size move whole into holes that take them, the fewest bytes first; when no
// safe way exists nothing is sent. Every plan is cut at every request.
TEST_F(LoaderProtocol, RoomForABlockMovesTheFewestBytesSafely) {
  struct Case {
    const char* name;
    int type;
    std::vector<Block> blocks;
    size_t size;
    bool safe;                         // a safe plan exists
    int64_t moved;                     // bytes it writes
    std::vector<std::string> movers;   // the blocks it moves
    int copyAt = -1;                   // an entry holding a copy of entry 2 (a renumbering cut short)
  };
  // 32 KiB: an erased block's hole of 3584 bytes at the start, B (18400) and
  // C (3500) after it, 6080 bytes free at the end: 9664 free, no hole takes
  // 7800, and B cannot pass over its own place.
  const std::vector<Block> erasedFirst = {{1, 4736, 18400, "B"}, {2, 23168, 3500, "C"}};
  const Case cases[] = {
      {"the last block into an erased block's hole", 1, erasedFirst, 7800, true, 3520, {"C"}},
      {"the same with a copy of its entry left behind", 1, erasedFirst, 7800, true, 3520, {"C"}, 20},
      {"the smaller of two blocks that could move", 1,
       {{0, 5248, 2000, "P"}, {1, 9344, 18000, "Q"}, {2, 27392, 1000, "R"}}, 5000, true, 1024, {"R"}},
      {"two blocks into two holes", 1,
       {{0, 2176, 15000, "P"}, {1, 18240, 10240, "Q"}, {2, 28480, 1000, "R1"}, {3, 29504, 1000, "R2"}}, 4000,
       true, 2048, {"R1", "R2"}},
      {"64 KiB, pages of 128, a large block at the end", 2,
       {{1, 4736, 18400, "B"}, {2, 23168, 3500, "C"}, {3, 33024, 32000, "D"}}, 9000, true, 3584, {"C"}},
      {"the block in the way is larger than the hole", 1, {{1, 4736, 18400, "B"}, {2, 23168, 4000, "C"}}, 7800,
       false, 0, {}},
      {"only a block larger than every hole stands in the way", 1,
       {{0, 1216, 12000, "X"}, {1, 13248, 12000, "Y"}}, 7500, false, 0, {}},
  };
  for (const Case& c : cases) {
    LoaderDirectory d = DirectoryOf(c.blocks);
    if (c.copyAt >= 0) WriteEntry(d, c.copyAt, ReadEntry(d, 2));
    const PackPlan plan = PlanRoom(d, c.type, c.size);
    ASSERT_TRUE(plan.possible) << c.name;
    EXPECT_EQ(plan.complete, c.safe) << c.name;
    EXPECT_EQ(plan.bytesMoved, c.moved) << c.name;
    std::vector<std::string> movers;
    for (const PackStep& step : plan.steps)
      if (step.kind == PackStep::Kind::WriteData) movers.push_back(ReadEntry(d, step.block).name);
    EXPECT_EQ(movers, c.movers) << c.name;
    if (c.safe) {
      EXPECT_NE(AllocateBlock(plan.result, c.type, c.size), 0u) << c.name;
      // The copy goes; each block is listed once.
      int listed = 0;
      for (int i = 0; i < kLoaderEntryCount; ++i) listed += EntryEmpty(plan.result, i) ? 0 : 1;
      EXPECT_EQ(listed, static_cast<int>(c.blocks.size())) << c.name;
      CheckEveryCutAndStop(c.type, c.blocks, RoomFor(c.size), c.name, &d);
      continue;
    }
    // No safe way: the block that cannot pass is named and nothing is sent.
    EXPECT_TRUE(plan.steps.empty()) << c.name;
    EXPECT_GE(plan.stoppedAt, 0) << c.name;
    Bytes memory = Memory(c.type, c.blocks);
    LoaderLine line(c.type, memory);
    line.Session().PageSize = PageSizeFor(c.type);
    bool made = true;
    EXPECT_TRUE(MakeRoom(line.Session(), d, c.type, c.size, 4, {}, &made)) << c.name;
    EXPECT_FALSE(made) << c.name;
    EXPECT_TRUE(line.Requests().empty()) << c.name;
  }
}

TEST_F(LoaderProtocol, ErasingABlockClearsItsCopiesToo) {
  // The copy sits on another directory page than the entry.
  std::vector<Block> blocks = {{1, 2048, 300, "a"}, {2, 1152, 64, "b"}};
  Bytes memory = Memory(1, blocks);
  LoaderDirectory d = DirectoryOf(blocks);
  WriteEntry(d, 20, ReadEntry(d, 1));
  std::copy(d.begin(), d.end(), memory.begin());
  LoaderLine line(1, memory);
  line.Session().PageSize = 64;
  ASSERT_TRUE(EraseEntry(line.Session(), d, 1));
  EXPECT_TRUE(EntryEmpty(d, 1) && EntryEmpty(d, 20));
  EXPECT_TRUE(std::equal(d.begin(), d.end(), line.Sim().Memory().begin()));
  EXPECT_EQ(BlockEntries(d), std::vector<int>{2});
}

TEST_F(LoaderProtocol, DefragmentOfAFullDirectoryKeepsTheNumbering) {
  std::vector<Block> blocks;
  for (int i = 0; i < 32; ++i)
    blocks.push_back({i, 1152u + 256u * static_cast<uint32_t>(31 - i), 60, "b" + std::to_string(i)});
  LoaderLine line(1, Memory(1, blocks));
  line.Session().PageSize = 64;
  LoaderDirectory d;
  std::copy_n(line.Sim().Memory().begin(), d.size(), d.begin());
  ASSERT_TRUE(Defragment(line.Session(), d, 1, 4));
  for (int i = 0; i < 32; ++i) {
    const DirEntry e = ReadEntry(d, i);
    EXPECT_EQ(e.name, "b" + std::to_string(i));
    EXPECT_EQ(e.start, 1152u + 64u * static_cast<uint32_t>(31 - i));
  }
  EXPECT_TRUE(HoldsEveryBlock(line.Sim().Memory(), blocks));
}

TEST_F(LoaderProtocol, DefragmentRefusesADamagedDirectoryWithoutWriting) {
  const std::vector<Block> blocks = {{0, 1152, 200, "a"}, {1, 1280, 10, "b"}};
  LoaderLine line(1, Memory(1, blocks));
  LoaderDirectory d = DirectoryOf(blocks);
  EXPECT_FALSE(Defragment(line.Session(), d, 1, 4));
  EXPECT_TRUE(line.Requests().empty());
  EXPECT_FALSE(Defragment(line.Session(), d, 0, 4));
}

// ---- Replies that come twice or late -----------------------------------------

// How the scripted loader below goes wrong at its nth request of a kind.
enum class Fault {
  RepeatedRead,      // the nth read is answered twice
  RepeatedReadAtOnce,  // the same, both copies there before the next request
  RepeatedAckLost,   // the nth write is acknowledged twice, the next request is lost
  LateReply,         // the nth request is answered only after its deadline
};

// The simulated loader behind a line that hands the computer one reply for
// each request it sends, in order. A reply sent twice, or late, is still on
// its way when the next request goes out and arrives as if it answered that
// one: the worst moment for the computer. Only RepeatedReadAtOnce lets both
// copies arrive before the next request.
class ScriptedLoader {
 public:
  ScriptedLoader(int type, const Bytes& memory, Fault fault, int nth)
      : sim_(type, memory), fault_(fault), nth_(nth) {
    // The scripted loader answers at once or not at all.
    session_.LoaderReplyTimeout = 5;
    session_.LoaderSwitchPause = 0;
    board_.SetResponder([this](const Bytes& request) { return Answer(request); });
  }
  LoaderSession& Session() { return session_; }
  const Bytes& Memory() const { return sim_.Memory(); }
  bool Struck() const { return struck_; }

 private:
  std::optional<Bytes> Answer(const Bytes& request) {
    if (loseNext_) {
      loseNext_ = false;
    } else {
      int rate = -1;
      if (std::optional<Bytes> reply = sim_.Handle(request, rate)) {
        queue_.push_back(*reply);
        if (Strikes(request[2])) {
          struck_ = true;
          if (fault_ == Fault::LateReply) return std::nullopt;  // comes with the next one
          if (fault_ == Fault::RepeatedReadAtOnce) board_.Reply(*reply);
          else queue_.push_back(*reply);
          loseNext_ = fault_ == Fault::RepeatedAckLost;
        }
      }
    }
    if (queue_.empty()) return std::nullopt;
    Bytes next = queue_.front();
    queue_.pop_front();
    return next;
  }

  bool Strikes(uint8_t code) {
    if ((fault_ == Fault::RepeatedRead || fault_ == Fault::RepeatedReadAtOnce) && code != 0x16)
      return false;
    if (fault_ == Fault::RepeatedAckLost && code != 0x15) return false;
    return ++seen_ == nth_;
  }

  SimLoader sim_;
  MemoryBoard board_;
  LoaderSession session_{board_.Port()};
  Fault fault_;
  int nth_;
  int seen_ = 0;
  bool struck_ = false;
  bool loseNext_ = false;
  std::deque<Bytes> queue_;
};

// Each of list, read, write and erase, as the command line and the loader
// window do them, with the loader going wrong at each of its requests in
// turn: a failure may be reported, but a success always matches what the
// loader really holds.
TEST_F(LoaderProtocol, AReplyTwiceOrLateNeverPassesForAnother) {
  const int type = 1;
  const std::vector<Block> blocks = {{0, 1152, 300, "a"}, {2, 2048, 130, "b"}, {5, 4096, 64, "c"}};
  const Bytes memory = Memory(type, blocks);
  const Bytes image = Pattern(200, 9);
  const auto list = [](LoaderSession& port, LoaderDirectory& d) {
    LoaderInfo info;
    return ConnectLoader(port, info) && ReadDirectory(port, d, 4);
  };
  struct Operation {
    const char* name;
    std::function<bool(LoaderSession&, LoaderDirectory&, Bytes&)> run;
  };
  const Operation operations[] = {
      {"list", [&](LoaderSession& port, LoaderDirectory& d, Bytes&) { return list(port, d); }},
      {"read",
       [&](LoaderSession& port, LoaderDirectory& d, Bytes& data) {
         return list(port, d) && ReadBlock(port, ReadEntry(d, BlockEntries(d)[1]), 4, data);
       }},
      {"write",
       [&](LoaderSession& port, LoaderDirectory& d, Bytes&) {
         if (!list(port, d)) return false;
         const DirEntry entry{AllocateBlock(d, type, image.size()), 200, "new", 1};
         return StoreBlock(port, d, FindFreeEntry(d), entry, image.data(), 4);
       }},
      {"erase",
       [&](LoaderSession& port, LoaderDirectory& d, Bytes&) {
         return list(port, d) && EraseEntry(port, d, BlockEntries(d)[0]);
       }},
  };
  const std::pair<Fault, const char*> faults[] = {
      {Fault::RepeatedRead, "read reply twice"},
      {Fault::RepeatedReadAtOnce, "read reply twice at once"},
      {Fault::RepeatedAckLost, "ack twice, next lost"},
      {Fault::LateReply, "late reply"}};
  for (const auto& [fault, faultName] : faults) {
    for (const Operation& op : operations) {
      int successes = 0;
      for (int nth = 1;; ++nth) {
        ScriptedLoader loader(type, memory, fault, nth);
        loader.Session().PageSize = 64;
        LoaderDirectory d{};
        Bytes data;
        const bool ok = op.run(loader.Session(), d, data);
        if (!loader.Struck()) {
          EXPECT_TRUE(ok) << op.name << ": the run without a fault";
          break;
        }
        if (!ok) continue;
        ++successes;
        const std::string where = std::string(op.name) + ", " + faultName + " at " + std::to_string(nth);
        const Bytes& m = loader.Memory();
        const std::string name = op.name;
        EXPECT_TRUE(std::equal(d.begin(), d.end(), m.begin())) << where << ": directory";
        EXPECT_TRUE(HoldsEveryBlock(m, name == "erase" ? std::vector<Block>(blocks.begin() + 1, blocks.end())
                                                       : blocks))
            << where;
        if (name == "erase") {
          EXPECT_EQ(BlockEntries(d).size(), 2u) << where;
        }
        if (name == "read") {
          EXPECT_TRUE(data.size() == 130 && std::equal(data.begin(), data.end(), m.begin() + 2048))
              << where;
        }
        if (name == "write") {
          const DirEntry stored = ReadEntry(d, 1);
          EXPECT_EQ(stored.name, "new") << where;
          EXPECT_TRUE(std::equal(image.begin(), image.end(), m.begin() + stored.start)) << where;
        }
      }
      // Copies that arrive before the next request are only dropped.
      if (fault == Fault::RepeatedReadAtOnce) {
        EXPECT_GT(successes, 0) << op.name;
      }
    }
  }
}

TEST_F(LoaderProtocol, ClockRoundTrip) {
  LoaderLine line(3, {});
  BoardClock set;
  set.year = 2024;
  set.month = 2;
  set.day = 29;
  set.hour = 13;
  set.minute = 5;
  set.second = 30;
  ASSERT_TRUE(loader::CmdSetClock(line.Session(), set));
  BoardClock read;
  ASSERT_TRUE(loader::CmdReadClock(line.Session(), read));
  EXPECT_EQ(read.year, 2024);
  EXPECT_EQ(read.month, 2);
  EXPECT_EQ(read.day, 29);
  EXPECT_EQ(read.hour, 13);
  EXPECT_EQ(read.dayOfWeek, 4);  // Thursday
}

}  // namespace
