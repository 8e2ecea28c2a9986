// kvreport's own lookup in the sieved list: which values beyond the table the list rules out,
// sharing no code with the search's but the list's file form. The candidates inside the range,
// ascending, are looked up in a bitmap of their span that is no larger than the list itself, or
// where they lie too far apart for that (a damaged list), in buckets of value spans
// (report/valueindex.h).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "report/valueindex.h"

namespace kv {

// The candidates of `entries` (the range start, the range end, then the candidates) that lie
// inside the range, ascending: a part of `entries` when they are in order, else a sorted copy
// held in `sorted`. None when there are fewer than two entries.
template <typename Value>
std::span<const Value> CandidatesInRange(std::span<const Value> entries,
                                         std::vector<Value>& sorted);

template <typename Value>
class SievedLookup {
 public:
  // Takes the list's entries as read from its file.
  explicit SievedLookup(std::vector<Value> entries);
  SievedLookup(const SievedLookup&) = delete;
  SievedLookup& operator=(const SievedLookup&) = delete;

  std::span<const Value> entries() const { return entries_; }
  // True when `v` lies inside the list's range and is no candidate; a list of fewer than two
  // entries rules nothing out.
  bool RuledOut(uint64_t v) const {
    if (entries_.size() < 2 || v < entries_[0] || v > entries_[1]) return false;
    return !index_.Contains(candidates_, v);
  }

 private:
  std::vector<Value> entries_;
  std::vector<Value> sorted_;
  std::span<const Value> candidates_;
  ValueIndex<Value> index_;
};

}  // namespace kv
