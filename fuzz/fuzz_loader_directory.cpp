// The loader's directory as a loader may hand it over (any 1024 bytes) with
// any memory type: the functions never read outside it, first fit stays in
// the data area on a page boundary, the sort keeps every entry, and a
// reorganisation plan, carried out step by step on a model of the loader's
// memory, keeps every block listed with its bytes after every step.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comm/loaderdirectory.h"
#include "fuzz_check.h"

namespace {

using namespace lentar::comm;

uint8_t Fill(int entry, size_t i) { return static_cast<uint8_t>(entry * 37 + i * 11 + (i >> 8)); }

// Every block of the original directory is listed in the memory's directory
// with its name, size and bytes.
bool HoldsEveryBlock(const std::vector<uint8_t>& memory, const LoaderDirectory& original) {
  LoaderDirectory now;
  std::copy_n(memory.begin(), now.size(), now.begin());
  for (int block : BlockEntries(original)) {
    const DirEntry b = ReadEntry(original, block);
    bool found = false;
    for (int entry : BlockEntries(now)) {
      const DirEntry e = ReadEntry(now, entry);
      if (e.name != b.name || e.size != b.size || e.flag != b.flag) continue;
      if (uint64_t{e.start} + e.size > memory.size()) continue;
      bool same = true;
      for (size_t i = 0; i < e.size && same; ++i) same = memory[e.start + i] == Fill(block, i);
      if (same) found = true;
    }
    if (!found) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int type = data[0] % 5;  // 4: a type the loader does not know
  const size_t wanted = data[1] | size_t{data[2]} << 8;
  LoaderDirectory d{};
  std::copy_n(data + 3, std::min(size - 3, d.size()), d.begin());

  const int64_t memory = MemorySize(type);
  const int page = PageSizeFor(type);
  const int64_t free = FreeSpace(d, type);
  CHECK(free >= 0 && free <= std::max<int64_t>(memory - DataAreaStart, 0));
  const int slot = FindFreeEntry(d);
  CHECK(slot >= -1 && slot < kLoaderEntryCount);
  const uint32_t at = AllocateBlock(d, type, wanted);
  if (at != 0) {
    CHECK(at >= DataAreaStart && at % static_cast<uint32_t>(page) == 0);
    CHECK(int64_t{at} + RoundToPage(static_cast<int64_t>(wanted), page) <= memory);
  }

  LoaderDirectory sorted = d;
  SortDirectory(sorted);
  const std::vector<int> blocks = BlockEntries(d);
  CHECK(BlockEntries(sorted).size() == blocks.size());
  for (size_t i = 1; i < blocks.size(); ++i)
    CHECK(ReadEntry(sorted, static_cast<int>(i - 1)).start <= ReadEntry(sorted, static_cast<int>(i)).start);

  // The plan, carried out on a model of the memory.
  const PackPlan plan = PlanDefragment(d, type);
  if (!plan.possible) return 0;
  std::vector<uint8_t> model(static_cast<size_t>(memory), 0xFF);
  std::copy(d.begin(), d.end(), model.begin());
  for (int block : blocks) {
    const DirEntry e = ReadEntry(d, block);
    for (size_t i = 0; i < e.size; ++i) model[e.start + i] = Fill(block, i);
  }
  CHECK(HoldsEveryBlock(model, d));
  for (const PackStep& step : plan.steps) {
    if (step.kind == PackStep::Kind::WriteData) {
      const DirEntry e = ReadEntry(d, step.block);
      const int64_t length = RoundToPage(e.size, page);
      CHECK(step.address >= DataAreaStart && int64_t{step.address} + length <= memory);
      for (int64_t i = 0; i < length; ++i)
        model[step.address + static_cast<size_t>(i)] =
            i < e.size ? Fill(step.block, static_cast<size_t>(i)) : 0;
    } else {
      CHECK(step.address % static_cast<uint32_t>(page) == 0 && step.address < kLoaderDirectorySize);
      std::copy_n(step.directory.begin() + step.address, page, model.begin() + step.address);
    }
    CHECK(HoldsEveryBlock(model, d));
  }
  CHECK(std::equal(plan.result.begin(), plan.result.end(), model.begin()));
  if (plan.complete) CHECK(FreeSpace(plan.result, type) == FreeSpace(d, type));
  return 0;
}
