// Membership in a run of ascending values kept elsewhere: a bitmap of their span when they lie
// close together, else buckets of equal value spans, about two values each, so that a value is
// looked for among the few of its bucket.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace kv {

template <typename V>
class ValueIndex {
 public:
  // `values` ascending; the same values are passed to Contains. The bitmap is made when it takes
  // at most `bitsPerValue` bits per value; when every value has the parity of the first (the odd
  // candidates of a sieved list) it maps every second value only.
  void Build(std::span<const V> values, uint64_t bitsPerValue) {
    bits_.clear();
    begins_.clear();
    shift_ = 0;
    if (values.empty()) return;
    const uint64_t front = values.front();
    const uint64_t span = static_cast<uint64_t>(values.back()) - front;
    const bool oneParity =
        std::all_of(values.begin(), values.end(), [front](V v) { return (v - front) % 2 == 0; });
    shift_ = oneParity ? 1 : 0;
    if ((span >> shift_) / bitsPerValue <= values.size()) {
      bits_.assign(static_cast<size_t>((span >> shift_) / 64) + 1, 0);
      for (const V v : values) {
        const uint64_t x = (static_cast<uint64_t>(v) - front) >> shift_;
        bits_[static_cast<size_t>(x >> 6)] |= uint64_t{1} << (x & 63);
      }
      return;
    }
    shift_ = 0;
    while ((span >> shift_) > values.size() / 2 + 1) ++shift_;
    const size_t buckets = static_cast<size_t>(span >> shift_) + 2;
    begins_.assign(buckets + 1, 0);
    size_t i = 0;
    for (size_t b = 0; b <= buckets; ++b) {
      while (i < values.size() && Bucket(values, values[i]) < b) ++i;
      begins_[b] = static_cast<uint32_t>(i);
    }
  }

  bool Contains(std::span<const V> values, uint64_t v) const {
    if (values.empty() || v < values.front() || v > values.back()) return false;
    if (!bits_.empty()) {
      const uint64_t x = v - values.front();
      if ((x & ((uint64_t{1} << shift_) - 1)) != 0) return false;
      const uint64_t at = x >> shift_;
      return ((bits_[static_cast<size_t>(at >> 6)] >> (at & 63)) & 1) != 0;
    }
    const size_t b = Bucket(values, v);
    const auto begin = values.begin() + begins_[b];
    const auto end = values.begin() + begins_[b + 1];
    const auto at = std::lower_bound(begin, end, v,
                                     [](V x, uint64_t y) { return static_cast<uint64_t>(x) < y; });
    return at != end && *at == v;
  }

 private:
  size_t Bucket(std::span<const V> values, uint64_t v) const {
    return static_cast<size_t>((v - values.front()) >> shift_);
  }

  // One bit per 2^shift_ values from the first.
  std::vector<uint64_t> bits_;
  // begins_[b]: the index of the first value in bucket b or above.
  std::vector<uint32_t> begins_;
  // The bitmap's step, or the buckets' span: 2^shift_ values.
  int shift_ = 0;
};

}  // namespace kv
