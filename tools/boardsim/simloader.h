// The simulated loader's memory and clock, and its answers to the loader
// protocol, apart from the line: one request payload in, at most one reply
// payload out.
//
// The memory is 32, 64 or 128 KiB for memory types 1, 2 and 3. A loader of
// any other type has no data memory: it keeps 1152 bytes (what a memory file
// holds) but refuses every memory read and write, the directory's and the
// passwords' addresses too. Memory reads 0xFF where nothing was written, as
// erased memory does. Writes go a page at a time, as the loader's memory takes them: a
// write that crosses a page boundary, runs past the memory or is longer than
// a page is refused and changes nothing.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

#include "simdevice.h"

namespace lentar::boardsim {

class SimLoader {
 public:
  // memoryType 0..3 (the byte the loader reports); image: initial memory
  // contents, cut to the memory's size, the rest erased.
  explicit SimLoader(int memoryType, const std::vector<uint8_t>& image = {});

  // The reply to one request (nullopt: the loader stays silent, as it does
  // for a request that is not addressed to a loader or that it does not
  // know). newRateIndex is set when the reply must go out before the line
  // switches to that speed.
  Reply Handle(const std::vector<uint8_t>& request, int& newRateIndex);

  const std::vector<uint8_t>& Memory() const { return memory_; }
  int MemoryType() const { return type_; }
  int PageSize() const { return type_ <= 1 ? 64 : 128; }
  bool HasDataMemory() const { return type_ >= 1 && type_ <= 3; }
  // A read-only loader refuses every memory write, as a worn-out or
  // write-protected memory does.
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  // The computer's clock the loader's clock runs from (tests).
  void SetTimeSource(std::function<std::time_t()> now) { clock_.SetTimeSource(std::move(now)); }

 private:
  // The commands the loader answers, one handler each.
  Reply Connect(Request&);
  Reply ReadClock(Request&);
  Reply SetClock(Request&);
  Reply ReadInformation(Request&);
  Reply SwitchRate(Request&);
  Reply WriteMemory(Request&);
  Reply ReadMemory(Request&);
  static const std::array<Command<SimLoader>, 7> kCommands;

  bool Write(uint32_t address, const uint8_t* data, size_t length);

  int type_;
  std::vector<uint8_t> memory_;
  bool readOnly_ = false;
  SimClock clock_;
};

// Memory size in bytes of a memory type: 32768, 65536, 131072 or 1152.
size_t SimMemorySize(int memoryType);

}  // namespace lentar::boardsim
