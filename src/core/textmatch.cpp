// Fuzzy closest-name search, used to find a remembered printer or font face
// name among the names the system offers now ("Arial Cyr" vs "Arial CYR Bold").
#include <algorithm>
#include <vector>

#include "core/textmatch.h"
#include "core/textutil.h"

namespace lentar {

namespace {

// Score of key k against window w: equal bytes count one each; a key byte may
// be skipped for free when the next key byte matches, a window byte may be
// skipped at a cost of one when it lets the key byte match, and a byte pair may
// be substituted when the following bytes agree. -1 when nothing applies.
//
// The score depends only on the two tails, so it is computed bottom-up over
// all tail pairs (O(|k|·|w|) instead of the exponential plain recursion).
int MatchScore(std::string_view k, std::string_view w) {
  const size_t K = k.size(), W = w.size();
  if (K == 0 || W == 0) return -1;
  // score[i][j]: tails k[i..], w[j..]; stored row by row, two rows kept.
  std::vector<int> next(W + 1, -1), cur(W + 1, -1);
  for (size_t ii = K; ii-- > 0;) {
    for (size_t jj = W; jj-- > 0;) {
      const bool keyMore = K - ii > 1;
      const bool winMore = W - jj > 1;
      int s;
      if (k[ii] == w[jj]) {
        s = (keyMore && winMore) ? 1 + next[jj + 1] : 1;
      } else {
        s = -1;
        if (keyMore && k[ii + 1] == w[jj]) s = std::max(s, next[jj]);
        if (winMore && k[ii] == w[jj + 1]) s = std::max(s, cur[jj + 1] - 1);
        if (keyMore && winMore && k[ii + 1] == w[jj + 1]) s = std::max(s, next[jj + 1]);
      }
      cur[jj] = s;
    }
    std::swap(cur, next);
  }
  return next[0];
}

// round(1.3 * n) with halves going to the even neighbour, in integers so that
// 6.5 really is a half.
size_t WindowLength(size_t n) {
  size_t q = 13 * n / 10, r = 13 * n % 10;
  if (r > 5 || (r == 5 && q % 2 == 1)) ++q;
  return q;
}

}  // namespace

int MatchPercent(std::string_view key, std::string_view candidate) {
  if (key.empty()) return 0;
  if (candidate.find(key) != std::string_view::npos) return 100;
  const size_t window = WindowLength(key.size());
  int best = 0;
  for (size_t i = 0; i < candidate.size(); ++i) {
    if (candidate[i] != key[0]) continue;
    best = std::max(best, MatchScore(key, candidate.substr(i, window)));
  }
  return static_cast<int>(int64_t(best) * 100 / int64_t(key.size()));
}

int BestMatchIndex(std::string_view key, const StringList& list) {
  const std::string wanted = UpperCase(TrimBlanks(key));
  if (wanted.empty()) return -1;
  int bestIndex = -1;
  int bestScore = -1;
  size_t bestLength = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string item = UpperCase(TrimBlanks(list[i]));
    if (item.empty()) continue;
    if (item == wanted) return static_cast<int>(i);
    int score = MatchPercent(wanted, item);
    if (score > bestScore || (score == bestScore && item.size() < bestLength)) {
      bestScore = score;
      bestIndex = static_cast<int>(i);
      bestLength = item.size();
    }
  }
  return bestIndex;
}

}  // namespace lentar
