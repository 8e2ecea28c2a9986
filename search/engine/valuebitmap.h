// The bitmaps of the table's values that the dense engine (densewalker.h) reads.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "search/engine/sievedbitmap.h"
#include "search/engine/wordscan.h"
#include "search/files/files.h"
#include "search/files/state.h"

namespace kv {

// A bitmap of the table's values and of their mirror image, with a rank directory, for tables
// dense enough that one bit per possible value costs little more than the table itself.
template <typename W>
class ValueBitmap {
 public:
  using Value = typename W::Value;

  // True when the table (records 1..n, ascending, header value = v(n)) suits the dense engine.
  static bool Suits(const TableRecord<W>* r, int32_t n) {
    if (n < 3 || r[0].value != r[n].value) return false;
    const uint64_t span = static_cast<uint64_t>(r[n].value) + 1;
    return span <= (uint64_t{1} << 36) && span <= 64 * (static_cast<uint64_t>(n) + 1) + 4096;
  }

  // With `list`, the fourth terms that fall above the largest value count as present unless
  // the sieved list rules them out, and RuledOut answers for the list. With `prunedTerms` (the
  // minimum length of a pruned search), the terms up to that length (the seventh at most) are
  // mapped too. The table and the list must outlive the bitmap.
  ValueBitmap(const TableRecord<W>* r, int32_t n, const SievedList<W>* list = nullptr,
              int32_t prunedTerms = 0)
      : records_(r), count_(n), list_(list), largest_(static_cast<uint64_t>(r[n].value)) {
    // A table of odd numbers (2 aside, as in the primes) pairs odd middle terms only with even
    // differences: half the bits need to be read.
    oddOnly_ = largest_ % 2 == 1;
    for (int32_t k = 1; k <= n && oddOnly_; ++k) {
      const uint64_t x = static_cast<uint64_t>(r[k].value);
      oddOnly_ = x % 2 == 1 || x == 2;
      twoPresent_ = twoPresent_ || x == 2;
    }
    // The terms that only a pruned search tests reach (prunedTerms - 1) L / 2, L the largest
    // value; they are mapped only where no term can pass the largest value of the width.
    const uint64_t prunedBits = (kMaxStride + 1) * (largest_ / 4) + 256;
    const bool fits = prunedBits <= (uint64_t{std::numeric_limits<Value>::max()} - 1) / 2;
    if (oddOnly_ && prunedTerms >= 5 && fits) {
      prunedTerms_ = std::min<int32_t>(prunedTerms, kMaxStride + 2);
      if (MapWheel()) return;
    }
    if (list != nullptr) sieved_ = std::make_unique<SievedBitmap<W>>(*list);
    const SievedBitmap<W>* beyond = sieved_.get();

    const size_t words = static_cast<size_t>(largest_ / 64) + 2;
    // The value bitmap reaches twice as far, all zero above the largest value, so that the
    // fourth terms of a line's progressions (up to twice the largest value) are read without
    // bounds tests.
    bits_.assign(2 * words + 2, 0);
    mirror_.assign(words, 0);
    for (int32_t k = 1; k <= n; ++k) {
      const uint64_t x = static_cast<uint64_t>(r[k].value);
      bits_[x >> 6] |= uint64_t{1} << (x & 63);
      const uint64_t y = largest_ - x;
      mirror_[y >> 6] |= uint64_t{1} << (y & 63);
    }
    rank_.resize(words);
    uint32_t count = 0;
    for (size_t w = 0; w < words; ++w) {
      rank_[w] = count;
      count += static_cast<uint32_t>(std::popcount(bits_[w]));
    }
    if (oddOnly_) {
      const size_t oddWords = static_cast<size_t>(largest_ / 128) + 2;
      oddBits_.assign(2 * oddWords + 2, 0);
      oddMirror_.assign(oddWords, 0);
      for (int32_t k = 1; k <= n; ++k) {
        const uint64_t x = static_cast<uint64_t>(r[k].value);
        if (x % 2 == 0) continue;
        const uint64_t at = x / 2;
        oddBits_[at >> 6] |= uint64_t{1} << (at & 63);
        const uint64_t mirrored = largest_ / 2 - at;
        oddMirror_[mirrored >> 6] |= uint64_t{1} << (mirrored & 63);
      }
      // The further terms m + 2ke of a line's progressions lie every k-th bit of the odd
      // bitmap; split by their place mod k they read 64 differences a word. Above the largest
      // value they are the values the sieved list leaves open. The fourth and fifth terms reach
      // twice the largest value; without a wheel, the terms that only a pruned search tests are
      // mapped up to 2^31 bits (a table that is not prime-like enough for the wheel).
      const uint64_t reachBits = 128 * (oddWords - 1);
      const bool further = prunedTerms_ != 0 && prunedBits <= (uint64_t{1} << 31);
      if (!further) prunedTerms_ = 0;
      const uint64_t bitsMapped = further ? std::max(reachBits, prunedBits) : reachBits;
      std::vector<uint64_t> reach(
          std::max(oddBits_.size(), static_cast<size_t>(bitsMapped / 64) + 2), 0);
      std::copy(oddBits_.begin(), oddBits_.end(), reach.begin());
      for (uint64_t at = largest_ / 2 + 1; at < bitsMapped; ++at) {
        const uint64_t x = 2 * at + 1;
        // Beyond twice the largest value only for the pruned search's further terms.
        if (beyond != nullptr && beyond->RuledOut(static_cast<Value>(x))) continue;
        reach[at >> 6] |= uint64_t{1} << (at & 63);
      }
      furthest_ = further ? kMaxStride : 3;
      for (uint64_t stride = 2; stride <= furthest_; ++stride)
        strided_[stride] = Split(reach, stride);
    } else {
      prunedTerms_ = 0;
    }
  }

  // A pruned search's progressions of odd numbers with all of their first k terms in the table
  // or open above it: the difference of each is a multiple of every odd prime p <= k, unless a
  // term is one of those values that are multiples of p (else one of p consecutive terms would
  // be one). Where such values are few (p itself, those left open below the sieved list's
  // range), p joins the wheel: the scan reads only the differences that are multiples of the
  // wheel, and tests the few that give a term one of these exceptions one by one.
  //
  // With a wheel, the bitmaps hold only what the scan reads: the terms of a middle term m prime
  // to the wheel, m + 2kd with d a multiple of the wheel, are all prime to it, so of the classes
  // of the split maps only those of values prime to the wheel are kept (48 of every 105), each
  // as far as its term reaches. Every other lookup of the table (the few lines whose middle term
  // is not prime to the wheel, the following of a progression, the index of a value) is answered
  // from map 0, the exceptions and the table. Returns false, mapping nothing, without a wheel.
  //
  // The maps also answer for the sieved list above the table (RuledOut), through the last map,
  // which reaches the end of the list's range where that is no further than a seventh term can
  // be: with a wheel no bitmap of the list is held.
  bool MapWheel() {
    // A line's progressions have their k-th term at (k - 1) L / 2 at most, L the largest value.
    const uint64_t furthestTerm = static_cast<uint64_t>(prunedTerms_ - 1) * largest_ / 2 + 2;
    constexpr size_t kMostExceptions = 64;
    constexpr uint64_t kPrimes[] = {3, 5, 7};
    std::vector<uint64_t> found[3];
    auto note = [&](uint64_t x) {
      bool open = false;
      for (size_t i = 0; i < 3; ++i) {
        if (kPrimes[i] > static_cast<uint64_t>(prunedTerms_)) break;
        if (found[i].size() > kMostExceptions) continue;
        if (x % kPrimes[i] == 0) found[i].push_back(x);
        open = open || found[i].size() <= kMostExceptions;
      }
      return open;
    };
    for (int32_t k = 1; k <= count_; ++k) {
      const uint64_t x = static_cast<uint64_t>(records_[k].value);
      if (x % 2 == 1) note(x);
    }
    ForEachOpenOdd(largest_ + 1, furthestTerm, note);
    wheel_ = 1;
    for (size_t i = 0; i < 3; ++i) {
      if (kPrimes[i] > static_cast<uint64_t>(prunedTerms_)) break;
      if (found[i].size() > kMostExceptions) continue;
      wheel_ *= kPrimes[i];
      wheelExceptions_.insert(wheelExceptions_.end(), found[i].begin(), found[i].end());
    }
    if (wheel_ == 1) {
      wheelExceptions_.clear();
      return false;
    }
    std::sort(wheelExceptions_.begin(), wheelExceptions_.end());
    wheelExceptions_.erase(std::unique(wheelExceptions_.begin(), wheelExceptions_.end()),
                           wheelExceptions_.end());

    // Map 0 holds the odd bits at + wheel j of the table, map 1 those of its mirror image, map
    // k >= 2 those of term k + 2 at + k wheel j of the table or open above it.
    const size_t maps = static_cast<size_t>(prunedTerms_ - 1);
    wheelMaps_.resize(maps);
    std::vector<uint64_t> lastBits(maps);
    for (size_t k = 0; k < maps; ++k) {
      const uint64_t stride = (k < 2 ? 1 : k) * wheel_;
      lastBits[k] = k < 2 ? largest_ / 2 : (k + 1) * largest_ / 4 + 1;
      if (k + 1 == maps && list_ != nullptr && list_->count >= 2) {
        const auto end = static_cast<uint64_t>(list_->entries[1]);
        lastBits[k] = std::max(lastBits[k], std::min(end, 3 * largest_ + 2) / 2);
      }
      wheelMaps_[k].resize(stride);
      for (uint64_t c = 0; c < stride; ++c) {
        // The value class mod the wheel of the class's bits (mirrored in map 1).
        const uint64_t residue = k == 1
                                     ? (largest_ % wheel_ + 2 * wheel_ - 2 * (c % wheel_)) % wheel_
                                     : (2 * c + 1) % wheel_;
        if (std::gcd(residue, wheel_) != 1) continue;
        wheelMaps_[k][c].assign(static_cast<size_t>(lastBits[k] / stride / 64 + 3), 0);
      }
    }
    auto set = [&](size_t k, uint64_t at) {
      if (at > lastBits[k]) return;
      const uint64_t stride = (k < 2 ? 1 : k) * wheel_;
      std::vector<uint64_t>& bits = wheelMaps_[k][at % stride];
      if (bits.empty()) return;
      const uint64_t j = at / stride;
      bits[j >> 6] |= uint64_t{1} << (j & 63);
    };
    for (int32_t r = 1; r <= count_; ++r) {
      const uint64_t x = static_cast<uint64_t>(records_[r].value);
      if (x % 2 == 0) continue;
      set(0, x / 2);
      set(1, largest_ / 2 - x / 2);
      for (size_t k = 2; k < maps; ++k) set(k, x / 2);
    }
    ForEachOpenOdd(largest_ + 1, 2 * lastBits[maps - 1] + 1, [&](uint64_t x) {
      for (size_t k = 2; k < maps; ++k) set(k, x / 2);
      return true;
    });
    wheelOnly_ = true;
    exceptionsTo_ = furthestTerm;
    openTo_ = 2 * lastBits[maps - 1] + 1;
    return true;
  }

  // Whether the sieved list given to the bitmap rules out a value above the largest one.
  bool RuledOut(Value v) const {
    if (!wheelOnly_) return sieved_ != nullptr && sieved_->RuledOut(v);
    const auto x = static_cast<uint64_t>(v);
    if (list_ == nullptr) return false;
    if (x <= largest_ || x > openTo_ || x % 2 == 0) return isRuledOut(*list_, v);
    const uint64_t at = x / 2;
    const size_t last = wheelMaps_.size() - 1;
    const std::vector<uint64_t>& bits = wheelMaps_[last][at % (last * wheel_)];
    if (bits.empty()) {
      // A multiple of a prime of the wheel: open only as one of the exceptions.
      if (x > exceptionsTo_) return isRuledOut(*list_, v);
      return !std::binary_search(wheelExceptions_.begin(), wheelExceptions_.end(), x);
    }
    const uint64_t j = at / (last * wheel_);
    return ((bits[j >> 6] >> (j & 63)) & 1) == 0;
  }

  // Calls open(x) for every odd x in [from, to] above the table that the sieved list leaves open,
  // ascending, until open returns false.
  template <typename Open>
  void ForEachOpenOdd(uint64_t from, uint64_t to, Open&& open) const {
    kv::ForEachOpenOdd<W>(list_, from, to, open);
  }

  // The bits of `bits` split by their place mod `stride`: bit at goes to bit at / stride of
  // class at % stride.
  static std::vector<std::vector<uint64_t>> Split(const std::vector<uint64_t>& bits,
                                                  uint64_t stride) {
    std::vector<std::vector<uint64_t>> classes(stride,
                                               std::vector<uint64_t>(bits.size() / stride + 3, 0));
    for (size_t w = 0; w < bits.size(); ++w) {
      for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
        const uint64_t at = 64 * w + static_cast<uint64_t>(std::countr_zero(word));
        const uint64_t j = at / stride;
        classes[at % stride][j >> 6] |= uint64_t{1} << (j & 63);
      }
    }
    return classes;
  }

  // Bits 0, 2, 4, ..., 62 of x packed into the low 32 bits.
  static uint64_t EvenBits(uint64_t x) {
    x &= 0x5555555555555555ULL;
    x = (x | (x >> 1)) & 0x3333333333333333ULL;
    x = (x | (x >> 2)) & 0x0F0F0F0F0F0F0F0FULL;
    x = (x | (x >> 4)) & 0x00FF00FF00FF00FFULL;
    x = (x | (x >> 8)) & 0x0000FFFF0000FFFFULL;
    x = (x | (x >> 16)) & 0x00000000FFFFFFFFULL;
    return x;
  }

  // The odd bits (of the mirror image) from bit `at` onward.
  WordStream OddStream(uint64_t at) const { return WordStream(oddBits_, at); }
  WordStream OddMirrorStream(uint64_t at) const { return WordStream(oddMirror_, at); }
  // The odd bits at + k j, j = 0, 1, 2, ..., of the values in the table or left open above it:
  // 64 of them per word, for 2 <= k <= FurthestStride().
  WordStream OddStridedStream(uint64_t stride, uint64_t at) const {
    return WordStream(strided_[stride][at % stride], at / stride);
  }
  // The largest stride mapped: 3, or kMaxStride where the further terms fit the width.
  uint64_t FurthestStride() const { return furthest_; }
  static constexpr uint64_t kMaxStride = 5;
  // The number of terms that a pruned search tests in the scan (5 to kMaxStride + 2), or 0.
  int32_t PrunedTerms() const { return prunedTerms_; }
  // The wheel of MapWheel (1 when there is none), and its streams: map 0 holds the odd bits at
  // + wheel j, map 1 those of the mirror image, map k >= 2 those of term k + 2 at + k wheel j.
  uint64_t Wheel() const { return wheel_; }
  // The odd values in the table or open above it that are multiples of a prime of the wheel,
  // ascending.
  const std::vector<uint64_t>& WheelExceptions() const { return wheelExceptions_; }
  // Whether the odd value at bit `at` of the odd bitmap is in the table or open above it, for a
  // bitmap with a wheel.
  bool Reaches(uint64_t at) const {
    const uint64_t x = 2 * at + 1;
    if (x <= largest_) return WheelContains(at);
    return !RuledOut(static_cast<Value>(x));
  }
  // Whether the bitmap has a wheel and holds only its maps: then the whole-table bitmaps and
  // their streams are not made.
  bool WheelOnly() const { return wheelOnly_; }
  WordStream WheelStream(size_t map, uint64_t at) const {
    const uint64_t stride = (map < 2 ? 1 : map) * wheel_;
    return WordStream(wheelMaps_[map][at % stride], at / stride);
  }

  // Whether every value is odd but for a 2; the odd bitmaps hold odd value x at bit x / 2.
  bool OddOnly() const { return oddOnly_; }
  uint64_t OddBits(uint64_t at) const { return Extract(oddBits_, at); }
  uint64_t OddMirrorBits(uint64_t at) const { return Extract(oddMirror_, at); }

  bool Contains(uint64_t x) const {
    if (wheelOnly_) return x % 2 == 1 ? ContainsOdd(x) : x == 2 && twoPresent_;
    return x <= largest_ && ((bits_[x >> 6] >> (x & 63)) & 1) != 0;
  }
  // The same for an odd x in a table of odd numbers, read from the smaller odd bitmap.
  bool ContainsOdd(uint64_t x) const {
    const uint64_t at = x >> 1;
    if (wheelOnly_) return x <= largest_ && WheelContains(at);
    return x <= largest_ && ((oddBits_[at >> 6] >> (at & 63)) & 1) != 0;
  }
  // Table index of a value that is in the table.
  int32_t IndexOf(uint64_t x) const {
    if (wheelOnly_) {
      const TableRecord<W>* at =
          std::lower_bound(records_ + 1, records_ + count_ + 1, x,
                           [](const TableRecord<W>& e, uint64_t v) { return e.value < v; });
      return static_cast<int32_t>(at - records_);
    }
    const uint64_t below = bits_[x >> 6] & ((uint64_t{2} << (x & 63)) - 1);
    return static_cast<int32_t>(rank_[x >> 6] + PopCount(below));
  }
  // 64 bits of the value bitmap (or of its mirror) starting at bit `at`.
  uint64_t Bits(uint64_t at) const { return Extract(bits_, at); }
  uint64_t MirrorBits(uint64_t at) const { return Extract(mirror_, at); }
  uint64_t Largest() const { return largest_; }

 private:
  static uint64_t Extract(const std::vector<uint64_t>& words, uint64_t at) {
    const size_t w = static_cast<size_t>(at >> 6);
    const unsigned s = static_cast<unsigned>(at & 63);
    const uint64_t low = words[w] >> s;
    return s == 0 ? low : low | (words[w + 1] << (64 - s));
  }

  // Whether the odd value 2 at + 1, at most the largest value, is in the table: from map 0 when
  // it is prime to the wheel, else among the exceptions.
  bool WheelContains(uint64_t at) const {
    const std::vector<uint64_t>& bits = wheelMaps_[0][at % wheel_];
    if (bits.empty()) {
      return std::binary_search(wheelExceptions_.begin(), wheelExceptions_.end(), 2 * at + 1);
    }
    const uint64_t j = at / wheel_;
    return ((bits[j >> 6] >> (j & 63)) & 1) != 0;
  }

  // Without a population-count instruction in the target, std::popcount is a library call.
  static uint32_t PopCount(uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ULL);
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<uint32_t>((x * 0x0101010101010101ULL) >> 56);
  }

  const TableRecord<W>* records_;
  int32_t count_;
  const SievedList<W>* list_;
  // The list's bitmap, without a wheel.
  std::unique_ptr<SievedBitmap<W>> sieved_;
  uint64_t largest_;
  std::vector<uint64_t> bits_;
  std::vector<uint64_t> mirror_;
  std::vector<uint32_t> rank_;
  bool oddOnly_ = false;
  bool twoPresent_ = false;
  bool wheelOnly_ = false;
  std::vector<uint64_t> oddBits_;
  std::vector<uint64_t> oddMirror_;
  uint64_t furthest_ = 0;
  std::vector<std::vector<uint64_t>> strided_[kMaxStride + 1];
  int32_t prunedTerms_ = 0;
  uint64_t wheel_ = 1;
  std::vector<std::vector<std::vector<uint64_t>>> wheelMaps_;
  std::vector<uint64_t> wheelExceptions_;
  // The exceptions are all those up to exceptionsTo_; the last map reaches openTo_.
  uint64_t exceptionsTo_ = 0;
  uint64_t openTo_ = 0;
};

}  // namespace kv
