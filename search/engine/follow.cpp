// Following a progression through the table to its end: the end of a progression (finished, or
// pending beyond the largest number), and where that end goes.
#include "search/engine/follow.h"

#include <algorithm>

#include "format/instantiate.h"
#include "search/files/files.h"

namespace kv {

template <typename W>
ProgressionEnd FollowProgression(const SearchState<W>& s, typename W::Value next,
                                 typename W::Value difference, int32_t searchFrom,
                                 int32_t termCount) {
  const NumberTable<W>& table = s.table;
  const auto largest = table.Largest();
  // A header that claims more records than are loaded must not lead the search off the table.
  const int32_t last = std::min(table.DataCount(), table.recordCount - 1);
  while (next <= largest) {
    const int32_t k = FindEntry(table, next, searchFrom, last);
    if (k == 0) return {false, termCount};
    ++termCount;
    searchFrom = k + 1;
    next += difference;
  }
  if (isRuledOut(s.sieved, next)) return {false, termCount};
  // A pruned search ends here what can never reach the shortest saved length.
  if (s.prune && !MayReachLength<W>(next, difference, termCount, s.minSaveLength,
                                    [&s](auto x) { return isRuledOut(s.sieved, x); })) {
    return {false, termCount};
  }
  return {true, termCount};
}

template <typename W>
void ApplyProgressionEnd(SearchState<W>& s, ProgressionEnd end, int32_t firstIndex,
                         int32_t secondIndex, typename W::Value difference) {
  if (end.pending) {
    AddPendingEntry(s.pending, {firstIndex, secondIndex, end.termCount});
  } else if (end.termCount >= s.minSaveLength) {
    WriteResultLine(s, end.termCount, firstIndex, difference);
  }
}

template <typename W>
void ExtendProgression(SearchState<W>& s, typename W::Value next, int32_t firstIndex,
                       int32_t secondIndex, typename W::Value difference, int32_t searchFrom,
                       int32_t termCount) {
  ApplyProgressionEnd(s, FollowProgression(s, next, difference, searchFrom, termCount), firstIndex,
                      secondIndex, difference);
}

#define KV_INSTANTIATE(W)                                                                  \
  template void ExtendProgression<W>(SearchState<W>&, typename W::Value, int32_t, int32_t, \
                                     typename W::Value, int32_t, int32_t);                 \
  template ProgressionEnd FollowProgression<W>(const SearchState<W>&, typename W::Value,   \
                                               typename W::Value, int32_t, int32_t);       \
  template void ApplyProgressionEnd<W>(SearchState<W>&, ProgressionEnd, int32_t, int32_t,  \
                                       typename W::Value);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
