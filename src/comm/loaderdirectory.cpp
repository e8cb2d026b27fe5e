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

PackPlan PlanDefragment(const LoaderDirectory& directory, int type) {
  PackPlan plan;
  plan.result = directory;
  const int64_t memory = MemorySize(type);
  if (memory == 0) return plan;
  const int page = PageSizeFor(type);

  // The blocks by address, each with its place; a damaged directory (blocks
  // outside the data area or over each other) is left alone.
  std::vector<int> order = BlockEntries(directory);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return EntryStart(directory, a) < EntryStart(directory, b);
  });
  std::array<Region, kLoaderEntryCount> place{};
  for (size_t k = 0; k < order.size(); ++k) {
    const DirEntry e = ReadEntry(directory, order[k]);
    Region& r = place[static_cast<size_t>(order[k])];
    r.lo = e.start / page * page;
    r.hi = RoundToPage(int64_t{e.start} + e.size, page);
    if (r.lo < DataAreaStart || r.hi > memory) return plan;
    if (k > 0 && r.lo < place[static_cast<size_t>(order[k - 1])].hi) return plan;
  }
  plan.possible = true;

  const auto commitPage = [&](int index, bool finishesPrevious = false) {
    PackStep step;
    step.kind = PackStep::Kind::WriteDirectoryPage;
    step.address = DirectoryPageStart(index, page);
    step.directory = plan.result;
    step.finishesPrevious = finishesPrevious;
    plan.steps.push_back(step);
  };
  const auto writeData = [&](int block, int64_t address) {
    PackStep step;
    step.kind = PackStep::Kind::WriteData;
    step.block = block;
    step.address = static_cast<uint32_t>(address);
    plan.steps.push_back(step);
  };
  const auto moveTo = [&](int block, int64_t address) {
    writeData(block, address);
    SetEntryStart(plan.result, block, static_cast<uint32_t>(address));
    commitPage(block, true);
  };
  // A free place of length bytes that overlaps no block where it stands now
  // and not [avoidLo, avoidHi); -1 when there is none.
  const auto freePlace = [&](int64_t length, int64_t avoidLo, int64_t avoidHi) -> int64_t {
    std::vector<Region> taken = {{avoidLo, avoidHi}};
    for (int b : order) taken.push_back(place[static_cast<size_t>(b)]);
    std::sort(taken.begin(), taken.end(), [](const Region& x, const Region& y) { return x.lo < y.lo; });
    int64_t cursor = DataAreaStart;
    for (const Region& r : taken) {
      if (r.lo - cursor >= length) return cursor;
      cursor = std::max(cursor, r.hi);
    }
    return memory - cursor >= length ? cursor : -1;
  };

  // A copy of another entry, left by a renumbering cut short, goes first: the
  // block stays listed by the entry it copies.
  for (int i = 0; i < kLoaderEntryCount; ++i) {
    if (!DuplicatesEarlierEntry(plan.result, i)) continue;
    ClearEntry(plan.result, i);
    commitPage(i);
  }

  plan.complete = true;
  int64_t cursor = DataAreaStart;
  for (int block : order) {
    const DirEntry e = ReadEntry(directory, block);
    const int64_t length = RoundToPage(e.size, page);
    Region& r = place[static_cast<size_t>(block)];
    if (int64_t{e.start} != cursor) {
      if (cursor + length <= r.lo) {
        moveTo(block, cursor);
      } else {
        const int64_t scratch = freePlace(length, cursor, r.hi);
        if (scratch < 0) {
          plan.complete = false;
          plan.stoppedAt = block;
          break;
        }
        moveTo(block, scratch);
        r = {scratch, scratch + length};
        moveTo(block, cursor);
      }
      r = {cursor, cursor + length};
    }
    cursor += length;
  }

  // Renumber: entry i holds the i-th block by address. Each entry is written
  // at its new index before its old index is cleared; an entry that stands in
  // the way first moves to a spare entry.
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
        commitPage(to);
      } else {
        commitPage(to);
        ClearEntry(plan.result, from);
        commitPage(from, true);
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
  for (size_t p = 0; p < kLoaderDirectorySize; p += static_cast<size_t>(page)) {
    const auto from = static_cast<std::ptrdiff_t>(p);
    const auto to = static_cast<std::ptrdiff_t>(p + static_cast<size_t>(page));
    if (std::equal(tidy.begin() + from, tidy.begin() + to, plan.result.begin() + from)) continue;
    std::copy(tidy.begin() + from, tidy.begin() + to, plan.result.begin() + from);
    commitPage(static_cast<int>(p / kLoaderEntrySize));
  }
  return plan;
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
