// Following a progression through the table to its end (follow.cpp), for the searches and for
// the ranks that help them.
#pragma once

#include <cstdint>
#include <limits>

#include "search/files/state.h"

namespace kv {

// Where a progression ends: finished (inside the table, or ruled out just beyond it) or
// pending (it may continue beyond the largest number), with the number of its terms.
struct ProgressionEnd {
  bool pending;
  int32_t termCount;
};
// Follows a progression through the table without changing anything (safe from any thread).
template <typename W>
ProgressionEnd FollowProgression(const SearchState<W>& s, typename W::Value next,
                                 typename W::Value difference, int32_t searchFrom,
                                 int32_t termCount);
// Writes a finished progression's result line (when long enough) or appends it to the pending
// list.
template <typename W>
void ApplyProgressionEnd(SearchState<W>& s, ProgressionEnd end, int32_t firstIndex,
                         int32_t secondIndex, typename W::Value difference);
template <typename W>
void ExtendProgression(SearchState<W>& s, typename W::Value next, int32_t firstIndex,
                       int32_t secondIndex, typename W::Value difference, int32_t searchFrom,
                       int32_t termCount);

// Whether a progression of `termCount` terms whose next term beyond the table is `next` can
// still reach `minLength` terms: every further term up to that length must be one that
// `ruledOut` (the sieved list) leaves open. Values beyond the list's range are left open.
template <typename W, typename RuledOut>
bool MayReachLength(typename W::Value next, typename W::Value step, int32_t termCount,
                    int32_t minLength, RuledOut&& ruledOut) {
  using Value = typename W::Value;
  uint64_t x = static_cast<uint64_t>(next);
  for (int32_t count = termCount; count < minLength; ++count) {
    if (x > std::numeric_limits<Value>::max()) return true;
    if (ruledOut(static_cast<Value>(x))) return false;
    x += static_cast<uint64_t>(step);
  }
  return true;
}

}  // namespace kv
