// The sieved list beyond the table as the engine reads it: a value judged with one bit test, and
// the odd values that the list leaves open.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "search/files/files.h"
#include "search/files/state.h"

namespace kv {

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

}  // namespace kv
