// The same loop compiled for AVX2 (only where the build enables it for this file).
#include "search/engine/wordscan.h"

#if defined(KV_SCAN_AVX2)

namespace kv {

#include "search/engine/wordscan_body.h"

CombineWords WordCombinerAvx2(size_t streamCount) { return kCombiners[streamCount - 1]; }

}  // namespace kv

#endif
