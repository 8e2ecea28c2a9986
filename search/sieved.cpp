// The sieved list: loading, trimming and the query that rules out values beyond the table.
// (Filled in with the number table; for now there is no list.)
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {

template <typename W>
void ReadSievedData(SearchState<W>&) {}
template <typename W>
void SaveSievedData(SearchState<W>&) {}
template <typename W>
bool isRuledOut(const SievedList<W>&, typename W::Value) {
  return false;
}

#define KV_INSTANTIATE(W)                                   \
  template void ReadSievedData<W>(SearchState<W>&);         \
  template void SaveSievedData<W>(SearchState<W>&);         \
  template bool isRuledOut<W>(const SievedList<W>&, typename W::Value);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
