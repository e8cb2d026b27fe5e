// Fuzzy closest-name search: finds a remembered printer or font face name
// among the names the system offers now ("Arial Cyr" vs "Arial CYR Bold").
#pragma once

#include <string_view>

#include "core/textutil.h"

namespace lentar {

// 100 when key occurs in candidate, otherwise the best fuzzy score of key
// against windows of candidate, in percent of key's length; 0 for an empty key.
// Bytes are compared as they are (callers upper-case first).
int MatchPercent(std::string_view key, std::string_view candidate);
// Index of the closest name in list, or -1 when the key or every item is empty.
// Compares trimmed, upper-cased texts; an exact match wins at once, ties go to
// the shorter item.
int BestMatchIndex(std::string_view key, const StringList& list);

}  // namespace lentar
