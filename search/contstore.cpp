// The continuation store: writing pending progressions and their inspection text.
// (Filled in with the search.)
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {

template <typename W>
void SaveContData(SearchState<W>&) {}

#define KV_INSTANTIATE(W) template void SaveContData<W>(SearchState<W>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
