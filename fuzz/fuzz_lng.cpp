// Fuzzes the layout correction file reader on arbitrary bytes.
//
// Invariants checked (any violation aborts):
// - reading never fails or reads outside the input, whatever KeyCount says;
// - a file without a usable LangID gives no rules; a read one has a LangID
//   and no rule whose key and byte are both 0;
// - a read layout written out and read again holds the same language and
//   rules and writes out to the same bytes;
// - recoding text through the rules gives at most one byte per UTF-16 unit,
//   and key look-ups answer a byte that one of the rules holds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/keycorr.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameRules(const lentar::TReplaceCharList& a, const lentar::TReplaceCharList& b) {
  if (a.LangID != b.LangID || a.Count() != b.Count()) return false;
  for (int i = 0; i < a.Count(); ++i) {
    if (!(*a.ItemAt(i) == *b.ItemAt(i))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lentar::TReplaceDefines defines;
  lentar::TReplaceCharList* list = defines.AddList();
  const bool ok = list->LoadFromText(bytes);
  if (!ok) {
    Check(list->Empty());
    return 0;
  }
  Check(list->LangID != 0);
  for (const auto& rule : *list) Check(rule->KeyCode != 0 || rule->CharCode != 0);

  const std::string image = list->ToText();
  lentar::TReplaceCharList again;
  Check(again.LoadFromText(image));
  Check(SameRules(*list, again));
  Check(again.ToText() == image);

  // The input's bytes as UTF-16 units, two by two.
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  Check(defines.RecodeText(static_cast<uint16_t>(list->LangID), text).size() <= text.size());
  for (const auto& rule : *list) {
    const int found = defines.FindChar(static_cast<uint16_t>(list->LangID), rule->KeyCode,
                                       rule->ShiftState == 1 ? 1 : 0);
    bool held = found == 0;
    for (const auto& other : *list) held = held || other->CharCode == found;
    Check(held);
  }
  return 0;
}
