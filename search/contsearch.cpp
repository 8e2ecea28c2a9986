// Re-examining the stored progressions against the grown table.
// (Filled in with the continuation search.)
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {

template <typename W>
void ContSearch(SearchState<W>&) {}

#define KV_INSTANTIATE(W) template void ContSearch<W>(SearchState<W>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
