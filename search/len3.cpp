// The length-3 search over every unfinished middle term.
// (Filled in with the search.)
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {

template <typename W>
void Len3Search(SearchState<W>&) {}

#define KV_INSTANTIATE(W) template void Len3Search<W>(SearchState<W>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
