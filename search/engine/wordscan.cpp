#include "search/engine/wordscan.h"

namespace kv {

#include "search/engine/wordscan_body.h"

#if defined(KV_SCAN_AVX2)
CombineWords WordCombinerAvx2(size_t streamCount);
#endif

CombineWords WordCombiner(size_t streamCount) {
#if defined(KV_SCAN_AVX2)
  if (__builtin_cpu_supports("avx2")) return WordCombinerAvx2(streamCount);
#endif
  return kCombiners[streamCount - 1];
}

}  // namespace kv
