#include "simloader.h"

#include <algorithm>
#include <cstring>

namespace lentar::boardsim {

namespace {

constexpr uint8_t kLoaderAddress = 0x06;

uint32_t Address(const uint8_t* arg) {
  return static_cast<uint32_t>(arg[0]) | static_cast<uint32_t>(arg[1]) << 8 |
         static_cast<uint32_t>(arg[2]) << 16;
}

}  // namespace

size_t SimMemorySize(int memoryType) {
  switch (memoryType) {
    case 1: return 32768;
    case 2: return 65536;
    case 3: return 131072;
    // No data memory: only the directory and the passwords.
    default: return 1152;
  }
}

SimLoader::SimLoader(int memoryType, const std::vector<uint8_t>& image)
    : type_(memoryType), memory_(SimMemorySize(memoryType), 0xFF) {
  std::copy_n(image.begin(), std::min(image.size(), memory_.size()), memory_.begin());
}

bool SimLoader::Write(uint32_t address, const uint8_t* data, size_t length) {
  const size_t page = static_cast<size_t>(PageSize());
  if (readOnly_ || length == 0 || length > page) return false;
  if (size_t{address} + length > memory_.size()) return false;
  if (address / page != (address + length - 1) / page) return false;
  std::copy_n(data, length, memory_.begin() + address);
  return true;
}

const std::array<Command<SimLoader>, 7> SimLoader::kCommands = {{
    {0x01, &SimLoader::Connect},
    {0x08, &SimLoader::ReadClock},
    {0x09, &SimLoader::SetClock},
    {0x0D, &SimLoader::ReadInformation},
    {0x14, &SimLoader::SwitchRate},
    {0x15, &SimLoader::WriteMemory},
    {0x16, &SimLoader::ReadMemory},
}};

Reply SimLoader::Handle(const std::vector<uint8_t>& request, int& newRateIndex) {
  newRateIndex = -1;
  if (request.size() < 3 || request[0] != 0x01 || request[1] != kLoaderAddress) return std::nullopt;
  Request r{std::span<const uint8_t>(request).subspan(3)};
  Reply reply = Answer(*this, kCommands, request[2], r);
  newRateIndex = r.newRateIndex;
  return reply;
}

Reply SimLoader::Connect(Request&) { return TextReply("CONOK"); }

Reply SimLoader::ReadClock(Request&) { return DataReply(clock_.Read()); }

Reply SimLoader::SetClock(Request& r) {
  return AckIf(r.arg.size() == 7 && clock_.Set(r.arg.first<7>()));
}

// The loader's identification; the memory type stands at byte 32.
Reply SimLoader::ReadInformation(Request&) {
  uint8_t info[36] = {};
  std::memcpy(info, "LENTAR-SIM LOADER", 17);
  info[32] = static_cast<uint8_t>(type_);
  return DataReply(info);
}

// The acknowledgement goes out at the old speed; the line switches after it.
Reply SimLoader::SwitchRate(Request& r) {
  if (r.arg.size() != 1 || r.arg[0] > 8) return Refuse();
  r.newRateIndex = r.arg[0];
  return Ack();
}

// Address (3 bytes), then the data. A loader without data memory refuses
// every memory command, the directory's addresses too.
Reply SimLoader::WriteMemory(Request& r) {
  if (r.arg.size() < 4 || !HasDataMemory()) return Refuse();
  return AckIf(Write(Address(r.arg.data()), r.arg.data() + 3, r.arg.size() - 3));
}

// Address (3 bytes), then the count.
Reply SimLoader::ReadMemory(Request& r) {
  if (r.arg.size() != 4 || r.arg[3] == 0 || !HasDataMemory()) return Refuse();
  const uint32_t address = Address(r.arg.data());
  const size_t count = r.arg[3];
  if (size_t{address} + count > memory_.size()) return Refuse();
  return DataReply(std::span<const uint8_t>(memory_).subspan(address, count));
}

}  // namespace lentar::boardsim
