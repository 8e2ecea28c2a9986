// Converting the text form of the continuation store into the store.
// (Filled in with the continuation search.)
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {

template <typename W>
void ReadContText(SearchState<W>&) {}

#define KV_INSTANTIATE(W) template void ReadContText<W>(SearchState<W>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
