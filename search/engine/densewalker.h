// The dense engine's walk of one line (middle term) of the length-3 search. It gets the same
// answers as the reference engine (referencewalk.h) faster on tables whose values lie close
// together (such as primes): the differences found are those d for which both m - d and m + d are
// in the table, which a bitmap of the values tests 64 differences at a time; and the cursors the
// walk would leave are derived from where it would stop. The walk visits, alternately, the next
// value above the last one on the other side; it stops in the lower pass once the lower side is
// used up and in the upper pass once the upper side is, and which cursor moved last at a common
// difference depends only on the nearest smaller values of the two sides (a run of common
// differences alternates). DenseWalker reproduces exactly that.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <numeric>
#include <vector>

#include "format/records.h"
#include "search/engine/valuebitmap.h"
#include "search/engine/wordscan.h"

namespace kv {

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
