// Integer lists, rectangles and numbers from settings values: reading never
// writes outside the caller's array and never crashes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/textmatch.h"
#include "core/textutil.h"

using namespace lentar;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr int32_t kCanary = 0x5A5A1251;
constexpr int kGuard = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // First byte: the array's high index, -2..29.
  const int highIndex = int(data[0] % 32) - 2;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  // The array sits between canaries; slots start as canaries too so that
  // untouched slots can be told apart.
  const int slots = highIndex + 1 > 0 ? highIndex + 1 : 0;
  std::vector<int32_t> guarded(size_t(slots + 2 * kGuard), kCanary);
  int32_t* values = guarded.data() + kGuard;
  const int count = TextToIntArray(text, values, highIndex);
  Check(count >= 0 && count <= slots);
  for (int i = 0; i < kGuard; ++i) {
    Check(guarded[size_t(i)] == kCanary);
    Check(guarded[size_t(kGuard + slots + i)] == kCanary);
  }
  for (int i = count; i < slots; ++i) Check(values[i] == kCanary);

  // What was read writes back and reads again to the same values.
  if (count > 0) {
    const std::string written = IntArrayToText(values, count - 1);
    std::vector<int32_t> again(size_t(count), 0);
    Check(TextToIntArray(written, again.data(), count - 1) == count);
    for (int i = 0; i < count; ++i) Check(again[size_t(i)] == values[i]);
  }

  const IntRect r = TextToRect(text);
  Check(TextToRect(RectToText(r)) == r);

  int32_t strict = 0;
  if (StrictTextToInt(text, strict)) Check(TextToInt(text) == strict);
  (void)TextToFloat(text);
  (void)FloatToText(data[0] % 12, TextToFloat(text));
  (void)ParseInBase(text, data[0] % 40);

  // Splitting keeps every item trimmed.
  for (const std::string& item : SplitTopLevel(text, ','))
    Check(item == TrimBlanks(item));
  for (const std::string& item : SplitByText(text, ";;")) Check(item == TrimBlanks(item));

  // Fuzzy matching on name-sized texts: a percentage, and a valid index.
  if (text.size() <= 128) {
    const size_t half = text.size() / 2;
    const int p = MatchPercent(text.substr(0, half), text.substr(half));
    Check(p >= 0 && p <= 100);
    const StringList names = SplitByText(text, "|");
    const int best = BestMatchIndex(names.empty() ? text : names.front(), names);
    Check(best >= -1 && best < int(names.size()));
  }
  return 0;
}
