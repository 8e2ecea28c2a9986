// Following progressions to their end, the result files and text appends.
// (Filled in with the search.)
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {

template <typename W>
int32_t FindEntry(const NumberTable<W>&, typename W::Value, int32_t, int32_t) {
  return 0;
}
template <typename W>
void ExtendProgression(SearchState<W>&, typename W::Value, int32_t, int32_t, typename W::Value,
                       int32_t, int32_t) {}
void GrowPendingList(PendingList&) {}
template <typename W>
void WriteResultLine(SearchState<W>&, int32_t, int32_t, typename W::Value) {}
void AppendToTextFile(const std::string&, std::string_view, bool) {}

#define KV_INSTANTIATE(W)                                                                   \
  template int32_t FindEntry<W>(const NumberTable<W>&, typename W::Value, int32_t, int32_t); \
  template void ExtendProgression<W>(SearchState<W>&, typename W::Value, int32_t, int32_t,   \
                                     typename W::Value, int32_t, int32_t);                   \
  template void WriteResultLine<W>(SearchState<W>&, int32_t, int32_t, typename W::Value);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
