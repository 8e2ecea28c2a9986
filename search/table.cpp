// Number table files: loading with the checkpoint overlay, appending, saving, checkpoints.
// (Filled in with the number table; for now nothing is loaded or saved.)
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {

template <typename W>
int16_t ReadData(SearchState<W>&) {
  return 0;
}
template <typename W>
void AppendRecord(SearchState<W>&, typename W::Value) {}
template <typename W>
void UpdateHeader(SearchState<W>&) {}
template <typename W>
void SaveData(SearchState<W>&) {}
template <typename W>
void SaveHalfData(SearchState<W>&, int32_t, int32_t) {}

#define KV_INSTANTIATE(W)                                                    \
  template int16_t ReadData<W>(SearchState<W>&);                             \
  template void AppendRecord<W>(SearchState<W>&, typename W::Value);         \
  template void UpdateHeader<W>(SearchState<W>&);                            \
  template void SaveData<W>(SearchState<W>&);                                \
  template void SaveHalfData<W>(SearchState<W>&, int32_t, int32_t);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
