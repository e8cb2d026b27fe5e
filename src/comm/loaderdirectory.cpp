#include "comm/loaderdirectory.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "core/textutil.h"

namespace lentar::comm {

namespace {

constexpr size_t kNameOffset = 6;
constexpr size_t kFlagOffset = 22;

size_t EntryOffset(int index) { return static_cast<size_t>(index) * kLoaderEntrySize; }

uint32_t EntryStart(const LoaderDirectory& d, int index) {
  const size_t at = EntryOffset(index);
  return static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 |
         static_cast<uint32_t>(d[at + 2]) << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

void SetEntryStart(LoaderDirectory& d, int index, uint32_t start) {
  const size_t at = EntryOffset(index);
  for (size_t k = 0; k < 4; ++k) d[at + k] = static_cast<uint8_t>(start >> (8 * k));
}

void SwapEntries(LoaderDirectory& d, int a, int b) {
  std::swap_ranges(d.begin() + static_cast<std::ptrdiff_t>(EntryOffset(a)),
                   d.begin() + static_cast<std::ptrdiff_t>(EntryOffset(a) + kLoaderEntrySize),
                   d.begin() + static_cast<std::ptrdiff_t>(EntryOffset(b)));
}

void CopyEntry(LoaderDirectory& d, int from, int to) {
  std::copy_n(d.begin() + static_cast<std::ptrdiff_t>(EntryOffset(from)), kLoaderEntrySize,
              d.begin() + static_cast<std::ptrdiff_t>(EntryOffset(to)));
}

bool ValidIndex(int index) { return index >= 0 && index < kLoaderEntryCount; }

// A block's place in memory: its bytes rounded outwards to whole pages.
struct Region {
  int64_t lo = 0, hi = 0;
};

}  // namespace

bool DirEntry::Empty() const {
  return start == 0 || start == 0xFFFFFFFFu || size == 0 || size == 0xFFFF || flag == 0 ||
         flag == 0xFF;
}

DirEntry ReadEntry(const LoaderDirectory& d, int index) {
  DirEntry e;
  if (!ValidIndex(index)) return e;
  const size_t at = EntryOffset(index);
  e.start = EntryStart(d, index);
  e.size = static_cast<uint16_t>(d[at + 4] | d[at + 5] << 8);
  const size_t length = std::min<size_t>(d[at + kNameOffset], kLoaderNameLength);
  e.name.assign(reinterpret_cast<const char*>(d.data() + at + kNameOffset + 1), length);
  e.flag = d[at + kFlagOffset];
  return e;
}

bool EntryEmpty(const LoaderDirectory& d, int index) { return ReadEntry(d, index).Empty(); }

void WriteEntry(LoaderDirectory& d, int index, const DirEntry& e) {
  if (!ValidIndex(index)) return;
  ClearEntry(d, index);
  const size_t at = EntryOffset(index);
  SetEntryStart(d, index, e.start);
  d[at + 4] = static_cast<uint8_t>(e.size & 0xFF);
  d[at + 5] = static_cast<uint8_t>(e.size >> 8);
  const size_t length = std::min(e.name.size(), kLoaderNameLength);
  d[at + kNameOffset] = static_cast<uint8_t>(length);
  std::copy_n(e.name.begin(), length, d.begin() + static_cast<std::ptrdiff_t>(at + kNameOffset + 1));
  d[at + kFlagOffset] = e.flag;
}

void ClearEntry(LoaderDirectory& d, int index) {
  if (!ValidIndex(index)) return;
  std::fill_n(d.begin() + static_cast<std::ptrdiff_t>(EntryOffset(index)), kLoaderEntrySize, 0);
}

namespace {

bool SameBlock(const DirEntry& a, const DirEntry& b) {
  return a.start == b.start && a.size == b.size && a.name == b.name && a.flag == b.flag;
}

}  // namespace

bool DuplicatesEarlierEntry(const LoaderDirectory& d, int index) {
  const DirEntry e = ReadEntry(d, index);
  if (e.Empty()) return false;
  for (int i = 0; i < index; ++i)
    if (SameBlock(ReadEntry(d, i), e)) return true;
  return false;
}

std::vector<int> EntryAndCopies(const LoaderDirectory& d, int index) {
  const DirEntry e = ReadEntry(d, index);
  if (e.Empty()) return {};
  std::vector<int> entries;
  for (int i = 0; i < kLoaderEntryCount; ++i)
    if (i == index || (i > index && SameBlock(ReadEntry(d, i), e))) entries.push_back(i);
  return entries;
}

std::vector<int> BlockEntries(const LoaderDirectory& d) {
  std::vector<int> rows;
  for (int i = 0; i < kLoaderEntryCount; ++i)
    if (!EntryEmpty(d, i) && !DuplicatesEarlierEntry(d, i)) rows.push_back(i);
  return rows;
}

int64_t MemorySize(int type) {
  switch (type) {
    case 1: return 32768;
    case 2: return 65536;
    case 3: return 131072;
    default: return 0;
  }
}

int PageSizeFor(int type) { return type <= 1 ? 64 : 128; }

int64_t RoundToPage(int64_t n, int pageSize) {
  if (pageSize <= 0) return n;
  return (n + pageSize - 1) / pageSize * pageSize;
}

int64_t FreeSpace(const LoaderDirectory& d, int type) {
  const int64_t memory = MemorySize(type);
  if (memory == 0) return 0;
  const int page = PageSizeFor(type);
  int64_t free = memory - DataAreaStart;
  for (int i : BlockEntries(d)) free -= RoundToPage(ReadEntry(d, i).size, page);
  return std::max<int64_t>(free, 0);
}

std::vector<FreeGap> FreeGaps(const LoaderDirectory& d, int type) {
  std::vector<FreeGap> gaps;
  const int64_t memory = MemorySize(type);
  if (memory == 0) return gaps;
  const int page = PageSizeFor(type);
  std::vector<std::pair<int64_t, int64_t>> taken;
  for (int i : BlockEntries(d)) {
    const DirEntry e = ReadEntry(d, i);
    taken.emplace_back(e.start / page * page, RoundToPage(int64_t{e.start} + e.size, page));
  }
  std::sort(taken.begin(), taken.end());
  int64_t cursor = DataAreaStart;
  const auto gapTo = [&](int64_t end) {
    end = std::min(end, memory);
    if (end > cursor) gaps.push_back({static_cast<uint32_t>(cursor), static_cast<uint32_t>(end - cursor)});
  };
  for (const auto& [lo, hi] : taken) {
    gapTo(lo);
    cursor = std::max(cursor, hi);
  }
  gapTo(memory);
  return gaps;
}

int FindFreeEntry(const LoaderDirectory& d) {
  for (int i = 0; i < kLoaderEntryCount; ++i)
    if (EntryEmpty(d, i)) return i;
  return -1;
}

void SortDirectory(LoaderDirectory& d) {
  for (int i = 0; i < kLoaderEntryCount - 1; ++i) {
    for (int j = i + 1; j < kLoaderEntryCount; ++j) {
      const bool emptyI = EntryEmpty(d, i);
      const bool emptyJ = EntryEmpty(d, j);
      if (emptyI || (!emptyJ && EntryStart(d, i) >= EntryStart(d, j))) SwapEntries(d, i, j);
    }
  }
}

uint32_t AllocateBlock(const LoaderDirectory& directory, int type, size_t size) {
  const int64_t memory = MemorySize(type);
  if (memory == 0 || size == 0) return 0;
  const int page = PageSizeFor(type);
  const int64_t needed = RoundToPage(static_cast<int64_t>(size), page);
  LoaderDirectory sorted = directory;
  SortDirectory(sorted);
  int64_t cursor = DataAreaStart;
  for (int i = 0; i < kLoaderEntryCount; ++i) {
    const DirEntry e = ReadEntry(sorted, i);
    int64_t start = memory, length = 0;
    if (!e.Empty()) {
      // A start past the end of memory (a damaged entry) ends the free space
      // at the end of memory all the same.
      start = std::min(RoundToPage(e.start, page), memory);
      length = RoundToPage(e.size, page);
    }
    const int64_t gap = std::max<int64_t>(start - cursor, 0);
    if (gap >= needed) return static_cast<uint32_t>(cursor);
    // Overlapping entries never move the cursor back over a block.
    cursor = std::max(cursor, start + length);
  }
  return 0;
}

std::array<uint8_t, kPasswordAreaSize> BuildPasswordArea(const std::array<std::string, 8>& passwords) {
  std::array<uint8_t, kPasswordAreaSize> area{};
  for (size_t slot = 0; slot < passwords.size(); ++slot) {
    const std::string& p = passwords[slot];
    const size_t length = std::min(p.size(), kPasswordSlotSize - 1);
    area[slot * kPasswordSlotSize] = static_cast<uint8_t>(length);
    std::copy_n(p.begin(), length, area.begin() + static_cast<std::ptrdiff_t>(slot * kPasswordSlotSize + 1));
  }
  return area;
}

std::vector<MemoryChunk> TransferChunks(uint32_t address, size_t count, int pageSize) {
  std::vector<MemoryChunk> chunks;
  if (pageSize <= 0) return chunks;
  const size_t page = static_cast<size_t>(pageSize);
  size_t done = 0;
  while (done < count) {
    const uint64_t at = uint64_t{address} + done;
    const size_t room = page - static_cast<size_t>(at % page);
    const size_t n = std::min(room, count - done);
    chunks.push_back({static_cast<uint32_t>(at), done, n});
    done += n;
  }
  return chunks;
}

uint32_t DirectoryPageStart(int index, int pageSize) {
  const uint32_t at = static_cast<uint32_t>(index) * kLoaderEntrySize;
  const uint32_t page = static_cast<uint32_t>(pageSize);
  return at / page * page;
}

namespace {

// Builds a plan step by step over the directory as the loader will hold it
// after each step. Every block's place is its bytes rounded outwards to
// whole pages; a block is only ever written where no listed block stands at
// that moment (its own old place included), and its entry follows in the one
// request that writes its directory page.
class Planner {
 public:
  Planner(const LoaderDirectory& directory, int type)
      : original_(directory), memory_(MemorySize(type)), page_(PageSizeFor(type)) {
    plan_.result = directory;
    if (memory_ == 0) return;
    // The blocks by address; a damaged directory (blocks outside the data
    // area or over each other) is left alone.
    order_ = BlockEntries(directory);
    std::sort(order_.begin(), order_.end(), [&](int a, int b) {
      return EntryStart(directory, a) < EntryStart(directory, b);
    });
    for (size_t k = 0; k < order_.size(); ++k) {
      const DirEntry e = ReadEntry(directory, order_[k]);
      Region& r = place_[static_cast<size_t>(order_[k])];
      r.lo = e.start / page_ * page_;
      r.hi = RoundToPage(int64_t{e.start} + e.size, page_);
      if (r.lo < DataAreaStart || r.hi > memory_) return;
      if (k > 0 && r.lo < place_[static_cast<size_t>(order_[k - 1])].hi) return;
    }
    plan_.possible = true;
  }

  bool Possible() const { return plan_.possible; }
  PackPlan& Plan() { return plan_; }
  int Page() const { return page_; }
  int64_t Memory() const { return memory_; }
  // The blocks (entries of the original directory) by their original address.
  const std::vector<int>& Order() const { return order_; }
  Region& Place(int block) { return place_[static_cast<size_t>(block)]; }
  int64_t Length(int block) const { return RoundToPage(ReadEntry(original_, block).size, page_); }
  const LoaderDirectory& Original() const { return original_; }

  void CommitPage(int index, bool finishesPrevious = false) {
    PackStep step;
    step.kind = PackStep::Kind::WriteDirectoryPage;
    step.address = DirectoryPageStart(index, page_);
    step.directory = plan_.result;
    step.finishesPrevious = finishesPrevious;
    plan_.steps.push_back(step);
  }

  // The block's data at address, then its entry pointed there.
  void MoveTo(int block, int64_t address) {
    PackStep step;
    step.kind = PackStep::Kind::WriteData;
    step.block = block;
    step.address = static_cast<uint32_t>(address);
    plan_.steps.push_back(step);
    plan_.bytesMoved += Length(block);
    SetEntryStart(plan_.result, block, static_cast<uint32_t>(address));
    CommitPage(block, true);
    Place(block) = {address, address + Length(block)};
  }

  // A copy of another entry, left by a renumbering cut short, goes first:
  // the block stays listed by the entry it copies. A copy left pointing at a
  // block's old place would list whatever is written there later.
  void ClearCopies() {
    for (int i = 0; i < kLoaderEntryCount; ++i) {
      if (!DuplicatesEarlierEntry(plan_.result, i)) continue;
      ClearEntry(plan_.result, i);
      CommitPage(i);
    }
  }

  // The free places of the data area between the blocks where they stand
  // now, by address.
  std::vector<Region> FreePlaces() const {
    std::vector<Region> taken;
    for (int b : order_) taken.push_back(place_[static_cast<size_t>(b)]);
    std::sort(taken.begin(), taken.end(), [](const Region& x, const Region& y) { return x.lo < y.lo; });
    std::vector<Region> free;
    int64_t cursor = DataAreaStart;
    for (const Region& r : taken) {
      if (r.lo > cursor) free.push_back({cursor, r.lo});
      cursor = std::max(cursor, r.hi);
    }
    if (memory_ > cursor) free.push_back({cursor, memory_});
    return free;
  }

 private:
  LoaderDirectory original_;
  int64_t memory_;
  int page_;
  PackPlan plan_;
  std::vector<int> order_;
  std::array<Region, kLoaderEntryCount> place_{};
};

// Packing towards the start in address order (see the header).
PackPlan SlidePlan(const LoaderDirectory& directory, int type) {
  Planner p(directory, type);
  if (!p.Possible()) return p.Plan();
  PackPlan& plan = p.Plan();

  // A free place of length bytes that overlaps no block where it stands now
  // and not [avoidLo, avoidHi); -1 when there is none.
  const auto freePlace = [&](int64_t length, int64_t avoidLo, int64_t avoidHi) -> int64_t {
    std::vector<Region> taken = {{avoidLo, avoidHi}};
    for (int b : p.Order()) taken.push_back(p.Place(b));
    std::sort(taken.begin(), taken.end(), [](const Region& x, const Region& y) { return x.lo < y.lo; });
    int64_t cursor = DataAreaStart;
    for (const Region& r : taken) {
      if (r.lo - cursor >= length) return cursor;
      cursor = std::max(cursor, r.hi);
    }
    return p.Memory() - cursor >= length ? cursor : -1;
  };

  p.ClearCopies();

  plan.complete = true;
  int64_t cursor = DataAreaStart;
  for (int block : p.Order()) {
    const DirEntry e = ReadEntry(directory, block);
    const int64_t length = p.Length(block);
    const Region r = p.Place(block);
    if (int64_t{e.start} != cursor) {
      if (cursor + length <= r.lo) {
        p.MoveTo(block, cursor);
      } else {
        const int64_t scratch = freePlace(length, cursor, r.hi);
        if (scratch < 0) {
          plan.complete = false;
          plan.stoppedAt = block;
          break;
        }
        p.MoveTo(block, scratch);
        p.MoveTo(block, cursor);
      }
    }
    cursor += length;
  }

  // Renumber: entry i holds the i-th block by address. Each entry is written
  // at its new index before its old index is cleared; an entry that stands in
  // the way first moves to a spare entry.
  const int page = p.Page();
  std::vector<int> order = p.Order();
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return EntryStart(plan.result, a) < EntryStart(plan.result, b);
  });
  const int n = static_cast<int>(order.size());
  if (n < kLoaderEntryCount) {
    std::array<int, kLoaderEntryCount> holder{};  // block in each entry, -1 none
    holder.fill(-1);
    std::array<int, kLoaderEntryCount> at{};  // entry of each block
    for (int b : order) holder[static_cast<size_t>(b)] = b, at[static_cast<size_t>(b)] = b;
    const auto relocate = [&](int block, int to) {
      const int from = at[static_cast<size_t>(block)];
      CopyEntry(plan.result, from, to);
      holder[static_cast<size_t>(to)] = block;
      at[static_cast<size_t>(block)] = to;
      if (DirectoryPageStart(from, page) == DirectoryPageStart(to, page)) {
        ClearEntry(plan.result, from);
        p.CommitPage(to);
      } else {
        p.CommitPage(to);
        ClearEntry(plan.result, from);
        p.CommitPage(from, true);
      }
      holder[static_cast<size_t>(from)] = -1;
    };
    for (int i = 0; i < n; ++i) {
      const int block = order[static_cast<size_t>(i)];
      if (at[static_cast<size_t>(block)] == i) continue;
      if (const int other = holder[static_cast<size_t>(i)]; other >= 0) {
        int spare = kLoaderEntryCount - 1;
        while (holder[static_cast<size_t>(spare)] >= 0) --spare;
        relocate(other, spare);
      }
      relocate(block, i);
    }
  }

  // The final form: every entry written afresh (name, flag, zeros after
  // them), the empty ones all zero. Only bytes outside the blocks' fields
  // change here.
  LoaderDirectory tidy{};
  for (int i = 0; i < kLoaderEntryCount; ++i)
    if (!EntryEmpty(plan.result, i)) WriteEntry(tidy, i, ReadEntry(plan.result, i));
  for (size_t at = 0; at < kLoaderDirectorySize; at += static_cast<size_t>(page)) {
    const auto from = static_cast<std::ptrdiff_t>(at);
    const auto to = static_cast<std::ptrdiff_t>(at + static_cast<size_t>(page));
    if (std::equal(tidy.begin() + from, tidy.begin() + to, plan.result.begin() + from)) continue;
    std::copy(tidy.begin() + from, tidy.begin() + to, plan.result.begin() + from);
    p.CommitPage(static_cast<int>(at / kLoaderEntrySize));
  }
  return plan;
}

// Puts items (lengths, largest first) into bins (free lengths), each item
// whole into one bin; assignment[i] is the bin of item i. Bins of equal room
// are tried once. Gives up after a bounded search.
bool PackInto(const std::vector<int64_t>& items, std::vector<int64_t>& room, std::vector<size_t>& assignment,
              size_t next, int& budget) {
  if (next == items.size()) return true;
  if (--budget < 0) return false;
  for (size_t b = 0; b < room.size(); ++b) {
    if (room[b] < items[next]) continue;
    bool tried = false;
    for (size_t c = 0; c < b && !tried; ++c) tried = room[c] == room[b];
    if (tried) continue;
    room[b] -= items[next];
    assignment[next] = b;
    if (PackInto(items, room, assignment, next + 1, budget)) return true;
    room[b] += items[next];
  }
  return false;
}

// The cheapest way to clear a window of `needed` bytes by moving each block
// that stands in it once, whole, into a place that is free now outside the
// window: every move goes to free memory, so each one is safe by itself, and
// the blocks that stay are never touched. Empty when there is none.
struct Clearing {
  int64_t cost = -1;  // bytes written; -1: no way found
  std::vector<std::pair<int, int64_t>> moves;  // block, new address
};

Clearing ClearWindow(Planner& p, int64_t needed) {
  Clearing best;
  const int64_t memory = p.Memory();
  std::vector<int64_t> lows = {DataAreaStart};
  std::vector<int64_t> bounds = {memory};
  for (int b : p.Order()) {
    lows.push_back(p.Place(b).lo);
    lows.push_back(p.Place(b).hi);
    bounds.push_back(p.Place(b).lo);
    bounds.push_back(p.Place(b).hi);
  }
  for (int64_t bound : bounds) lows.push_back(bound - needed);
  std::sort(lows.begin(), lows.end());
  lows.erase(std::unique(lows.begin(), lows.end()), lows.end());
  const std::vector<Region> free = p.FreePlaces();

  for (int64_t lo : lows) {
    const int64_t hi = lo + needed;
    if (lo < DataAreaStart || hi > memory) continue;
    std::vector<int> standing;
    int64_t cost = 0;
    for (int b : p.Order()) {
      if (p.Place(b).lo < hi && lo < p.Place(b).hi) {
        standing.push_back(b);
        cost += p.Length(b);
      }
    }
    if (best.cost >= 0 && (cost > best.cost || (cost == best.cost && standing.size() >= best.moves.size())))
      continue;
    // The places free now, outside the window.
    std::vector<Region> bins;
    for (const Region& f : free) {
      if (f.lo < lo) bins.push_back({f.lo, std::min(f.hi, lo)});
      if (f.hi > hi) bins.push_back({std::max(f.lo, hi), f.hi});
    }
    std::sort(standing.begin(), standing.end(), [&](int a, int b) { return p.Length(a) > p.Length(b); });
    std::vector<int64_t> items, room;
    for (int b : standing) items.push_back(p.Length(b));
    for (const Region& bin : bins) room.push_back(bin.hi - bin.lo);
    // Plainly impossible: more bytes than room, or a block larger than any
    // place.
    const int64_t itemBytes = std::accumulate(items.begin(), items.end(), int64_t{0});
    const int64_t roomBytes = std::accumulate(room.begin(), room.end(), int64_t{0});
    const int64_t largestRoom = room.empty() ? 0 : *std::max_element(room.begin(), room.end());
    if (itemBytes > roomBytes || (!items.empty() && items.front() > largestRoom)) continue;
    std::vector<size_t> assignment(items.size());
    int budget = 20000;
    if (!PackInto(items, room, assignment, 0, budget)) continue;
    Clearing found;
    found.cost = cost;
    std::vector<int64_t> used(bins.size(), 0);
    for (size_t i = 0; i < standing.size(); ++i) {
      const Region& bin = bins[assignment[i]];
      found.moves.emplace_back(standing[i], bin.lo + used[assignment[i]]);
      used[assignment[i]] += items[i];
    }
    best = std::move(found);
  }
  return best;
}

// The plan of a clearing: the copies cleared, then each block moved once.
PackPlan ClearingPlan(const LoaderDirectory& directory, int type, const Clearing& clearing) {
  Planner p(directory, type);
  p.ClearCopies();
  std::vector<std::pair<int, int64_t>> moves = clearing.moves;
  std::sort(moves.begin(), moves.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& [block, address] : moves) p.MoveTo(block, address);
  p.Plan().complete = true;
  return p.Plan();
}

}  // namespace

PackPlan PlanDefragment(const LoaderDirectory& directory, int type) {
  PackPlan slide = SlidePlan(directory, type);
  if (!slide.possible || slide.complete) return slide;
  // Packing towards the start stopped at a block too large to pass over its
  // own place; the free space may still come together as one gap when the
  // blocks in its way fill the holes elsewhere exactly.
  Planner p(directory, type);
  const int64_t free = FreeSpace(directory, type);
  if (free == 0) return slide;
  const Clearing clearing = ClearWindow(p, free);
  if (clearing.cost < 0) return slide;
  return ClearingPlan(directory, type, clearing);
}

PackPlan PlanRoom(const LoaderDirectory& directory, int type, size_t size) {
  Planner p(directory, type);
  if (!p.Possible()) return p.Plan();
  PackPlan& none = p.Plan();
  if (AllocateBlock(directory, type, size) != 0) {
    none.complete = true;
    return none;
  }
  const int64_t needed = RoundToPage(static_cast<int64_t>(size), p.Page());
  if (size == 0 || needed > FreeSpace(directory, type)) return none;

  // Moving whole blocks into the holes that take them, the fewest bytes
  // first; packing towards the start (which may pass a block through a
  // scratch place) when that makes room for less, or when nothing else does.
  const Clearing clearing = ClearWindow(p, needed);
  PackPlan slide = SlidePlan(directory, type);
  const bool slideFits = AllocateBlock(slide.result, type, size) != 0;
  if (clearing.cost >= 0 && (!slideFits || clearing.cost <= slide.bytesMoved))
    return ClearingPlan(directory, type, clearing);
  if (slideFits) {
    slide.complete = true;
    slide.stoppedAt = -1;
    return slide;
  }
  // No safe way: nothing is planned; the block that packing could not pass
  // is named.
  none.stoppedAt = slide.stoppedAt;
  return none;
}

const char* const kDamagedDirectoryText =
    "Каталог загрузчика повреждён: блоки в нём перекрываются или выходят за пределы памяти, "
    "и упаковать их нельзя. Сохраните нужные блоки в файлы и сотрите все блоки "
    "(«Стереть все»).";

std::string PackingStoppedText(const std::string& blockName) {
  return "Упаковка остановлена, чтобы не повредить блок «" + Cp1251ToUtf8(blockName) +
         "»: чтобы сдвинуть его, нужен свободный промежуток не меньше самого блока. Удалите "
         "какой-либо блок или сохраните блоки в файлы и сотрите все блоки («Стереть все»).";
}

std::string NoSafeRoomText(const std::string& blockName) {
  return "Место для блока не освободить, не рискуя блоком «" + Cp1251ToUtf8(blockName) +
         "»: чтобы сдвинуть его, нужен свободный промежуток не меньше самого блока. В "
         "загрузчике ничего не изменено. Удалите какой-либо блок или сохраните блоки в файлы и "
         "сотрите все блоки («Стереть все»).";
}

std::string FreeGapsText(const std::vector<FreeGap>& gaps) {
  const auto bytes = [](long long n) {
    return std::to_string(n) + " " + RussianCountForm(n, "байт", "байта", "байт");
  };
  const long long total = std::accumulate(gaps.begin(), gaps.end(), 0LL,
                                          [](long long sum, const FreeGap& g) { return sum + g.length; });
  if (gaps.empty()) return "Свободно 0 байт";
  if (gaps.size() == 1)
    return "Свободно " + bytes(total) + " одним промежутком с адреса " + std::to_string(gaps[0].start);
  std::string text = "Свободно " + bytes(total) + " в " + std::to_string(gaps.size()) +
                     " промежутках:";
  for (size_t i = 0; i < gaps.size(); ++i)
    text += (i ? "; " : " ") + std::string("с адреса ") + std::to_string(gaps[i].start) + " — " +
            bytes(gaps[i].length);
  return text;
}

}  // namespace lentar::comm
