// The sieved list's candidates inside its range, put in order once and indexed.
#include "report/listlookup.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kv {

template <typename Value>
std::span<const Value> CandidatesInRange(std::span<const Value> entries,
                                         std::vector<Value>& sorted) {
  if (entries.size() < 2) return {};
  const Value start = entries[0];
  const Value end = entries[1];
  const std::span<const Value> all = entries.subspan(2);
  if (std::is_sorted(all.begin(), all.end())) {
    const auto first = std::lower_bound(all.begin(), all.end(), start);
    const auto last = std::upper_bound(first, all.end(), end);
    return all.subspan(static_cast<size_t>(first - all.begin()), static_cast<size_t>(last - first));
  }
  sorted.assign(all.begin(), all.end());
  std::erase_if(sorted, [start, end](Value v) { return v < start || v > end; });
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

template <typename Value>
SievedLookup<Value>::SievedLookup(std::vector<Value> entries) : entries_(std::move(entries)) {
  candidates_ = CandidatesInRange<Value>(entries_, sorted_);
  // A bitmap no larger than the list itself, else buckets.
  index_.Build(candidates_, 8 * sizeof(Value));
}

template std::span<const uint32_t> CandidatesInRange<uint32_t>(std::span<const uint32_t>,
                                                               std::vector<uint32_t>&);
template std::span<const uint64_t> CandidatesInRange<uint64_t>(std::span<const uint64_t>,
                                                               std::vector<uint64_t>&);
template class SievedLookup<uint32_t>;
template class SievedLookup<uint64_t>;

}  // namespace kv
