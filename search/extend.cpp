// Following progressions to their end, the result files and text appends.
// (Filled in with the search.)
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {

template <typename W>
int32_t FindEntry(const NumberTable<W>& table, typename W::Value value, int32_t from, int32_t to) {
  while (from <= to) {
    const int32_t mid = from + (to - from) / 2;
    const auto v = table.ValueAt(mid);
    if (v == value) return mid;
    if (v < value) {
      from = mid + 1;
    } else {
      to = mid - 1;
    }
  }
  return 0;
}
template <typename W>
void ExtendProgression(SearchState<W>&, typename W::Value, int32_t, int32_t, typename W::Value,
                       int32_t, int32_t) {}
void GrowPendingList(PendingList& list) {
  if (list.pendingCount >= list.pendingCapacity) {
    list.pendingCapacity += 200000;
    list.entries.resize(static_cast<size_t>(list.pendingCapacity));
  }
}
template <typename W>
void WriteResultLine(SearchState<W>&, int32_t, int32_t, typename W::Value) {}

#define KV_INSTANTIATE(W)                                                                    \
  template int32_t FindEntry<W>(const NumberTable<W>&, typename W::Value, int32_t, int32_t); \
  template void ExtendProgression<W>(SearchState<W>&, typename W::Value, int32_t, int32_t,   \
                                     typename W::Value, int32_t, int32_t);                   \
  template void WriteResultLine<W>(SearchState<W>&, int32_t, int32_t, typename W::Value);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
