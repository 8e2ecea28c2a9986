// The innermost loop of the dense search: the words of several bitmaps, each read from its own
// bit onward, combined with AND, 64 differences at a time. Where the processor has wider vector
// instructions than the build assumes, a second copy of the loop compiled for them is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv {

// Reads 64 bits at a time from bit `at` of a bitmap onward.
struct WordStream {
  const uint64_t* words = nullptr;
  unsigned shift = 0;

  WordStream() = default;
  WordStream(const std::vector<uint64_t>& bitmap, uint64_t at)
      : words(bitmap.data() + (at >> 6)), shift(static_cast<unsigned>(at & 63)) {}
  // Bits at + 64 k to at + 64 k + 63.
  uint64_t At(size_t k) const {
    // Shifting the upper word in two steps keeps a shift of 0 defined.
    return (words[k] >> shift) | ((words[k + 1] << 1) << (63 - shift));
  }
};

// hits[j] = the AND of words from + j of the streams, j < count; returns the OR of the hits.
using CombineWords = uint64_t (*)(const WordStream* streams, uint64_t from, uint64_t count,
                                  uint64_t* hits);

constexpr size_t kMaxCombinedStreams = 7;

// The loop for 1 to kMaxCombinedStreams streams, for the processor that runs the program.
CombineWords WordCombiner(size_t streamCount);

}  // namespace kv
