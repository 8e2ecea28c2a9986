// The walks of one line (middle term) of the length-3 search, in two engines.
//
// The reference engine is the plain two-cursor walk: the lower cursor moves down and the upper
// cursor moves up, alternately, so that the line's differences are tried in increasing order.
// It is the judge of what the search writes.
//
// The dense engine gets the same answers faster on tables whose values lie close together (such
// as primes): the differences found are those d for which both m - d and m + d are in the table,
// which a bitmap of the values tests 64 differences at a time; and the cursors the walk would
// leave are derived from where it would stop. The walk visits, alternately, the next value above
// the last one on the other side; it stops in the lower pass once the lower side is used up and
// in the upper pass once the upper side is, and which cursor moved last at a common difference
// depends only on the nearest smaller values of the two sides (a run of common differences
// alternates). DenseWalker reproduces exactly that.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "search/engine/wordscan.h"
#include "search/files/files.h"
#include "search/files/state.h"

namespace kv {

// The plain walk of a line at or below the midpoint. `handOff(lo, hi, d)` receives every
// progression v(lo), m, v(hi) in order. Returns false when the line ended before any walk (no
// progress check follows). The cursors are updated in place; the line ends finished (lo = 0).
template <typename W, typename HandOff>
bool ReferenceLowerLine(const TableRecord<W>* r, int32_t n, int32_t i, int32_t& lo, int32_t& hi,
                        HandOff&& handOff) {
  using Value = typename W::Value;
  auto v = [r](int32_t k) { return r[k].value; };
  const Value m = v(i);
  if (hi > n || v(hi) - m > m) {
    lo = 0;
    return false;
  }
  Value t = static_cast<Value>(m - (v(hi) - m));
  for (;;) {
    while (lo >= 1 && v(lo) > t) --lo;
    if (lo < 1) break;
    if (v(lo) == t) {
      handOff(lo, hi, static_cast<Value>(v(hi) - m));
      --lo;
      if (lo < 1) break;
    }
    t = static_cast<Value>(m + (m - v(lo)));
    // Below the midpoint t never passes the largest value; the bound only guards a table whose
    // header does not match its last record.
    while (hi <= n && v(hi) < t) ++hi;
    if (hi > n) break;
    if (v(hi) == t) {
      handOff(lo, hi, static_cast<Value>(m - v(lo)));
      ++hi;
      if (hi > n) break;
    }
    const Value d = static_cast<Value>(v(hi) - m);
    if (d > m) break;
    t = static_cast<Value>(m - d);
  }
  lo = 0;
  return true;
}

// The plain walk of a line above the midpoint; the cursors stay where the walk leaves them.
template <typename W, typename HandOff>
void ReferenceUpperLine(const TableRecord<W>* r, int32_t n, int32_t i, int32_t& lo, int32_t& hi,
                        HandOff&& handOff) {
  using Value = typename W::Value;
  auto v = [r](int32_t k) { return r[k].value; };
  const Value m = v(i);
  for (;;) {
    Value t = static_cast<Value>(m + (m - v(lo)));
    while (hi <= n && v(hi) < t) ++hi;
    if (hi > n) break;
    if (v(hi) == t) {
      handOff(lo, hi, static_cast<Value>(m - v(lo)));
      ++hi;
      if (hi > n) break;
    }
    const Value d = static_cast<Value>(v(hi) - m);
    t = static_cast<Value>(m - d);
    // Above the midpoint t stays above the smallest value; the bound only guards a damaged
    // table.
    while (lo >= 1 && v(lo) > t) --lo;
    if (lo < 1) break;
    if (v(lo) == t) {
      handOff(lo, hi, d);
      --lo;
      if (lo < 1) break;
    }
  }
  if (lo < 1) lo = 0;
}

// The sieved list as a bitmap over its range, so that a value beyond the table is judged with
// one bit test instead of a bisection. A list whose candidates are all odd is mapped over the odd
// values only (one bit per two values); bit indices are 64-bit, so that any range the width
// allows is mapped. A range far wider than its candidates (a damaged list), or one whose bitmap
// cannot be allocated, keeps the bisection.
template <typename W>
class SievedBitmap {
 public:
  using Value = typename W::Value;

  explicit SievedBitmap(const SievedList<W>& list) : list_(list) {
    if (list.count < 2 || list.entries.size() < list.count) return;
    const auto start = static_cast<uint64_t>(list.entries[0]);
    const auto end = static_cast<uint64_t>(list.entries[1]);
    if (end < start || (end - start) / 1024 > static_cast<uint64_t>(list.count) + 1024) return;
    bool odd = true;
    for (uint32_t k = 2; k < list.count && odd; ++k) {
      const auto x = static_cast<uint64_t>(list.entries[k]);
      odd = x < start || x > end || x % 2 == 1;
    }
    shift_ = odd ? 1 : 0;
    base_ = odd ? start & ~uint64_t{1} : start;
    try {
      candidates_.assign(static_cast<size_t>(((end - base_) >> shift_) / 64 + 1), 0);
    } catch (const std::bad_alloc&) {
      return;
    }
    for (uint32_t k = 2; k < list.count; ++k) {
      const auto x = static_cast<uint64_t>(list.entries[k]);
      if (x < start || x > end) continue;
      const uint64_t at = (x - base_) >> shift_;
      candidates_[at >> 6] |= uint64_t{1} << (at & 63);
    }
    start_ = start;
    end_ = end;
    mapped_ = true;
  }

  bool RuledOut(Value v) const {
    if (!mapped_) return isRuledOut(list_, v);
    const auto x = static_cast<uint64_t>(v);
    if (x < start_ || x > end_) return false;
    if (shift_ == 1 && x % 2 == 0) return true;
    const uint64_t at = (x - base_) >> shift_;
    return ((candidates_[at >> 6] >> (at & 63)) & 1) == 0;
  }

 private:
  const SievedList<W>& list_;
  bool mapped_ = false;
  uint64_t start_ = 0;
  uint64_t end_ = 0;
  uint64_t base_ = 0;
  unsigned shift_ = 0;
  std::vector<uint64_t> candidates_;
};

// Calls open(x) for every odd x in [from, to] that `list` leaves open (outside its range, or one
// of its candidates), until open returns false: those below the range, the candidates in the
// list's order, then those above the range.
template <typename W, typename Open>
void ForEachOpenOdd(const SievedList<W>* list, uint64_t from, uint64_t to, Open&& open) {
  to = std::min<uint64_t>(to, std::numeric_limits<typename W::Value>::max());
  from |= 1;
  const uint32_t count = list == nullptr ? 0 : list->count;
  if (count < 2 || list->entries.size() < count || list->entries[1] < list->entries[0]) {
    for (uint64_t x = from; x <= to; x += 2) {
      if (!open(x) || to - x < 2) return;
    }
    return;
  }
  const auto start = static_cast<uint64_t>(list->entries[0]);
  const auto end = static_cast<uint64_t>(list->entries[1]);
  for (uint64_t x = from; x <= to && x < start; x += 2) {
    if (!open(x)) return;
  }
  for (uint32_t k = 2; k < count; ++k) {
    const auto x = static_cast<uint64_t>(list->entries[k]);
    if (x % 2 == 1 && x >= from && x <= to && x >= start && x <= end && !open(x)) return;
  }
  for (uint64_t x = std::max(from, end + 1) | 1; x <= to && x > end; x += 2) {
    if (!open(x) || to - x < 2) return;
  }
}

// Whether a progression of `termCount` terms whose next term beyond the table is `next` can
// still reach `minLength` terms: every further term up to that length must be one that
// `ruledOut` (the sieved list) leaves open. Values beyond the list's range are left open.
template <typename W, typename RuledOut>
bool MayReachLength(typename W::Value next, typename W::Value step, int32_t termCount,
                    int32_t minLength, RuledOut&& ruledOut) {
  using Value = typename W::Value;
  uint64_t x = static_cast<uint64_t>(next);
  for (int32_t count = termCount; count < minLength; ++count) {
    if (x > std::numeric_limits<Value>::max()) return true;
    if (ruledOut(static_cast<Value>(x))) return false;
    x += static_cast<uint64_t>(step);
  }
  return true;
}

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

// The dense engine for one line. `handOff(d)` receives the differences in increasing order;
// the first term m - d and the third term m + d are both in the table.
template <typename W>
class DenseWalker {
 public:
  using Value = typename W::Value;

  DenseWalker(const TableRecord<W>* r, int32_t n, const ValueBitmap<W>& bitmap)
      : r_(r), n_(n), bitmap_(bitmap) {}

  // When `onlyLonger` is set, the progressions whose fourth term is missing inside the table
  // (or, over a table of odd numbers, ruled out above it by the sieved list given to the
  // bitmap) are not handed off (they are finished with three terms and leave no trace when fewer
  // than `minSaveLength` terms are saved).
  void HandOffOnlyLonger(bool onlyLonger) { onlyLonger_ = onlyLonger; }
  // Over a table of odd numbers, with `onlyLonger` set: the progressions of four terms in the
  // table whose fifth term is missing in it or ruled out above it are not handed off either.
  void HandOffOnlyLongerThanFour(bool onlyLonger) { onlyLongerThanFour_ = onlyLonger; }

  // Same contract as ReferenceLowerLine.
  template <typename HandOff>
  bool LowerLine(int32_t i, int32_t& lo, int32_t& hi, HandOff&& handOff) const {
    const Value m = v(i);
    if (hi > n_ || v(hi) - m > m) {
      lo = 0;
      return false;
    }
    const Value lowerMax = m - v(1);
    Enumerate(m, Max(m - v(lo), v(hi) - m), Min(lowerMax, v(n_) - m), handOff);
    // The walk stops at the first upper value that reaches the largest lower difference; if
    // that value is the largest lower difference itself and the upper cursor found it, the
    // cursor has moved past it.
    int32_t h = FirstAtLeast(hi, static_cast<Value>(m + lowerMax));
    if (h <= n_ && v(h) - m == lowerMax && !FoundByLowerCursor(m, 1, h, lo, hi, true)) ++h;
    lo = 0;
    hi = h;
    return true;
  }

  // Same contract as ReferenceUpperLine.
  template <typename HandOff>
  void UpperLine(int32_t i, int32_t& lo, int32_t& hi, HandOff&& handOff) const {
    if (hi > n_ || lo < 1) return;
    const Value m = v(i);
    const Value upperMax = v(n_) - m;
    Enumerate(m, Max(m - v(lo), v(hi) - m), Min(m - v(1), upperMax), handOff);
    // The walk stops once the upper side is used up; the lower cursor then rests on the first
    // lower value beyond the largest upper difference, or on that difference itself when the
    // upper cursor found it.
    const Value bound = static_cast<Value>(m - upperMax);
    int32_t k = LastAtMost(lo, bound);
    if (v(k) == bound && FoundByLowerCursor(m, k, n_, lo, hi, false)) --k;
    lo = k;
    hi = n_ + 1;
  }

 private:
  Value v(int32_t k) const { return r_[k].value; }
  static Value Max(Value a, Value b) { return a > b ? a : b; }
  static Value Min(Value a, Value b) { return a < b ? a : b; }

  template <typename HandOff>
  void Enumerate(Value m, Value from, Value to, HandOff& handOff) const {
    if (from > to) return;
    if (bitmap_.OddOnly() && m % 2 == 1) {
      EnumerateEven(m, from, to, handOff);
      return;
    }
    if (bitmap_.WheelOnly()) {
      // The even middle term of a table of odd numbers, 2: a difference or two, one at a time.
      const uint64_t mid = static_cast<uint64_t>(m);
      for (uint64_t d = static_cast<uint64_t>(from);; ++d) {
        const bool found =
            bitmap_.Contains(mid - d) && bitmap_.Contains(mid + d) &&
            (!onlyLonger_ || mid + 2 * d > bitmap_.Largest() || bitmap_.Contains(mid + 2 * d));
        if (found) handOff(static_cast<Value>(d));
        if (d == static_cast<uint64_t>(to)) break;
      }
      return;
    }
    const uint64_t up = static_cast<uint64_t>(m);
    const uint64_t down = bitmap_.Largest() - up;
    const uint64_t last = static_cast<uint64_t>(to);
    // Differences above this one have their fourth term beyond the largest value.
    const uint64_t insideLimit = (bitmap_.Largest() - up) / 2;
    for (uint64_t base = static_cast<uint64_t>(from); base <= last; base += 64) {
      uint64_t hits = bitmap_.Bits(up + base) & bitmap_.MirrorBits(down + base);
      if (last - base < 63) hits &= (uint64_t{2} << (last - base)) - 1;
      if (onlyLonger_ && hits != 0) {
        // The fourth terms m + 2d of the 64 differences are every second bit from m + 2 base.
        const uint64_t at = up + 2 * base;
        using Map = ValueBitmap<W>;
        uint64_t keep =
            Map::EvenBits(bitmap_.Bits(at)) | (Map::EvenBits(bitmap_.Bits(at + 64)) << 32);
        if (insideLimit < base) {
          keep = ~uint64_t{0};
        } else if (insideLimit - base < 63) {
          keep |= ~((uint64_t{2} << (insideLimit - base)) - 1);
        }
        hits &= keep;
      }
      while (hits != 0) {
        handOff(static_cast<Value>(base + static_cast<uint64_t>(std::countr_zero(hits))));
        hits &= hits - 1;
      }
      if (last - base < 64) break;
    }
  }

  // The same over a table of odd numbers, for an odd middle term: only even differences d = 2e
  // can join two odd values, and m + 2e, m - 2e and the fourth term m + 4e sit at bits
  // m / 2 + e, mirrored m / 2 - e and m / 2 + 2e of the odd bitmaps.
  template <typename HandOff>
  void EnumerateEven(Value m, Value from, Value to, HandOff& handOff) const {
    const uint64_t first = (static_cast<uint64_t>(from) + 1) / 2;
    const uint64_t last = static_cast<uint64_t>(to) / 2;
    if (first > last) return;
    const uint64_t up = static_cast<uint64_t>(m) / 2;
    const uint64_t down = bitmap_.Largest() / 2 - up;
    if (!onlyLonger_) {
      if (bitmap_.WheelOnly()) return ScanByTests<3>(m, first, last, handOff);
      ScanEven<3>(up, down, first, last, handOff);
      return;
    }
    // A bitmap made for a pruned search (over a table of odd numbers, with `onlyLonger` set)
    // keeps only the progressions whose terms up to the minimum length (the seventh at most)
    // lie in the table or are left open above it by the sieved list.
    static_assert(ValueBitmap<W>::kMaxStride == 5);
    switch (bitmap_.PrunedTerms()) {
      case 5:
        return ScanPruned<5>(m, first, last, handOff);
      case 6:
        return ScanPruned<6>(m, first, last, handOff);
      case 7:
        return ScanPruned<7>(m, first, last, handOff);
      default:
        break;
    }
    // Up to this difference the fourth term lies in the table.
    const uint64_t insideLimit = (bitmap_.Largest() - static_cast<uint64_t>(m)) / 4;
    if (onlyLongerThanFour_ && first <= insideLimit) {
      const uint64_t end = std::min(last, insideLimit);
      ScanEven<5>(up, down, first, end, handOff);
      if (end < last) ScanEven<4>(up, down, end + 1, last, handOff);
      return;
    }
    ScanEven<4>(up, down, first, last, handOff);
  }

  // The pruned scan of the differences 2e, e in [first, last]: with a wheel, the multiples of
  // the wheel from its maps, in order with the few other e that give a term one of the wheel's
  // exceptions.
  template <int kTerms, typename HandOff>
  void ScanPruned(Value m, uint64_t first, uint64_t last, HandOff& handOff) const {
    const uint64_t up = static_cast<uint64_t>(m) / 2;
    const uint64_t down = bitmap_.Largest() / 2 - up;
    const uint64_t wheel = bitmap_.Wheel();
    const auto mid = static_cast<uint64_t>(m);
    if (wheel == 1) return ScanEven<kTerms>(up, down, first, last, handOff);
    // A middle term that is a multiple of a prime of the wheel may be an exception itself; such
    // lines are few (m itself is one of the exceptions) and are tested one difference at a time.
    if (std::gcd(mid, wheel) != 1) return ScanByTests<kTerms>(m, first, last, handOff);

    // Term k of the progression, k = 1 or 3 .. kTerms, is b for e = (m - b) / 2 or
    // e = (b - m) / (2 (k - 2)).
    // Most candidates fail the first test, so they are tested before they are kept and sorted;
    // the buffer serves every line of the thread.
    auto keeps = [&](uint64_t e) {
      if (e < first || e > last || e % wheel == 0 || !bitmap_.Reaches(up - e)) return false;
      for (uint64_t k = 1; k <= static_cast<uint64_t>(kTerms) - 2; ++k) {
        if (!bitmap_.Reaches(up + k * e)) return false;
      }
      return true;
    };
    thread_local std::vector<uint64_t> others;
    others.clear();
    for (const uint64_t b : bitmap_.WheelExceptions()) {
      if (b < mid) {
        if (keeps((mid - b) / 2)) others.push_back((mid - b) / 2);
        continue;
      }
      for (uint64_t k = 1; k <= static_cast<uint64_t>(kTerms) - 2; ++k) {
        if ((b - mid) % (2 * k) == 0 && keeps((b - mid) / (2 * k))) {
          others.push_back((b - mid) / (2 * k));
        }
      }
    }
    std::sort(others.begin(), others.end());
    others.erase(std::unique(others.begin(), others.end()), others.end());
    size_t next = 0;
    auto handOffUpTo = [&](uint64_t e) {
      for (; next < others.size() && others[next] < e; ++next) {
        handOff(static_cast<Value>(2 * others[next]));
      }
    };
    const uint64_t from = (first + wheel - 1) / wheel;
    const uint64_t to = last / wheel;
    if (from <= to) {
      constexpr size_t kStreams = kTerms - 1;  // terms 1 and 3 .. kTerms
      WordStream streams[kStreams];
      streams[0] = bitmap_.WheelStream(0, up + wheel * from);
      streams[1] = bitmap_.WheelStream(1, down + wheel * from);
      for (size_t k = 2; k < kStreams; ++k) {
        streams[k] = bitmap_.WheelStream(k, up + k * wheel * from);
      }
      ScanStreams<kStreams>(streams, to - from, [&](uint64_t j) {
        const uint64_t e = wheel * (from + j);
        handOffUpTo(e);
        handOff(static_cast<Value>(2 * e));
      });
    }
    handOffUpTo(~uint64_t{0});
  }

  // ScanEven for a bitmap with a wheel, one difference at a time.
  template <int kTerms, typename HandOff>
  void ScanByTests(Value m, uint64_t first, uint64_t last, HandOff& handOff) const {
    const uint64_t up = static_cast<uint64_t>(m) / 2;
    for (uint64_t e = first; e <= last; ++e) {
      bool found = bitmap_.Reaches(up - e);
      for (uint64_t k = 1; k <= static_cast<uint64_t>(kTerms) - 2 && found; ++k) {
        found = bitmap_.Reaches(up + k * e);
      }
      if (found) handOff(static_cast<Value>(2 * e));
    }
  }

  // Hands off 2e for every e in [first, last] with m + 2e and m - 2e in the table and, up to the
  // k-th of kTerms terms, m + 2(k - 2)e in the table or, above it, not ruled out by the sieved
  // list.
  template <int kTerms, typename HandOff>
  void ScanEven(uint64_t up, uint64_t down, uint64_t first, uint64_t last, HandOff& handOff) const {
    constexpr size_t kStrides = kTerms > 3 ? kTerms - 3 : 0;  // terms 4 .. kTerms
    WordStream streams[2 + kStrides];
    streams[0] = bitmap_.OddStream(up + first);
    streams[1] = bitmap_.OddMirrorStream(down + first);
    for (size_t k = 0; k < kStrides; ++k) {
      const uint64_t stride = k + 2;
      streams[2 + k] = bitmap_.OddStridedStream(stride, up + stride * first);
    }
    ScanStreams<2 + kStrides>(streams, last - first,
                              [&](uint64_t j) { handOff(static_cast<Value>(2 * (first + j))); });
  }

  // Calls found(j) for every j in [0, span], in order, whose bit is set in all the streams. The
  // words of a block are combined by the vector loop, then the bits of the few words that hold
  // any are taken in order.
  template <size_t kStreams, typename Found>
  static void ScanStreams(const WordStream* streams, uint64_t span, Found&& found) {
    static_assert(kStreams <= kMaxCombinedStreams);
    const CombineWords combine = WordCombiner(kStreams);
    constexpr uint64_t kBlock = 64;
    uint64_t hits[kBlock];
    const uint64_t words = span / 64 + 1;
    for (uint64_t block = 0; block < words; block += kBlock) {
      const uint64_t count = std::min(kBlock, words - block);
      if (combine(streams, block, count, hits) == 0) continue;
      if (block + count == words) hits[count - 1] &= (uint64_t{2} << (span & 63)) - 1;
      for (uint64_t j = 0; j < count; ++j) {
        for (uint64_t h = hits[j]; h != 0; h &= h - 1) {
          found(64 * (block + j) + static_cast<uint64_t>(std::countr_zero(h)));
        }
      }
    }
  }

  // First index in [from, n] whose value is at least x, or n + 1.
  int32_t FirstAtLeast(int32_t from, Value x) const {
    int32_t a = from;
    int32_t b = n_ + 1;
    while (a < b) {
      const int32_t mid = a + (b - a) / 2;
      if (v(mid) < x) {
        a = mid + 1;
      } else {
        b = mid;
      }
    }
    return a;
  }
  // Last index in [1, to] whose value is at most x (x is at least v(1)).
  int32_t LastAtMost(int32_t to, Value x) const {
    int32_t a = 1;
    int32_t b = to;
    while (a < b) {
      const int32_t mid = a + (b - a + 1) / 2;
      if (v(mid) <= x) {
        a = mid;
      } else {
        b = mid - 1;
      }
    }
    return a;
  }

  // For a difference common to both sides, m - v(k) = v(h) - m: whether the walk that started
  // at the cursors (lo0, hi0) finds it with the lower cursor (else with the upper one). The
  // nearest smaller difference of either side decides; a run of common differences alternates.
  bool FoundByLowerCursor(Value m, int32_t k, int32_t h, int32_t lo0, int32_t hi0,
                          bool lowerPass) const {
    bool flip = false;
    for (;;) {
      const bool hasLower = k + 1 <= lo0;
      const bool hasUpper = h - 1 >= hi0;
      bool lowerDecides;
      if (hasLower && hasUpper) {
        const Value below = m - v(k + 1);
        const Value above = v(h - 1) - m;
        if (below == above) {
          flip = !flip;
          ++k;
          --h;
          continue;
        }
        lowerDecides = below > above;
      } else if (hasLower || hasUpper) {
        lowerDecides = hasLower;
      } else {
        // At the line's start the lower pass holds an upper value and walks the lower cursor
        // towards it; the upper pass does the opposite.
        lowerDecides = lowerPass;
      }
      return lowerDecides != flip;
    }
  }

  const TableRecord<W>* r_;
  int32_t n_;
  const ValueBitmap<W>& bitmap_;
  bool onlyLonger_ = false;
  bool onlyLongerThanFour_ = false;
};

}  // namespace kv
