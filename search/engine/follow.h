// Following a progression through the table to its end (follow.cpp), for the searches and for
// the ranks that help them.
#pragma once

#include <cstdint>

#include "search/files/state.h"

namespace kv {

// Where a progression ends: finished (inside the table, or ruled out just beyond it) or
// pending (it may continue beyond the largest number), with the number of its terms.
struct ProgressionEnd {
  bool pending;
  int32_t termCount;
};
// Follows a progression through the table without changing anything (safe from any thread).
template <typename W>
ProgressionEnd FollowProgression(const SearchState<W>& s, typename W::Value next,
                                 typename W::Value difference, int32_t searchFrom,
                                 int32_t termCount);
// Writes a finished progression's result line (when long enough) or appends it to the pending
// list.
template <typename W>
void ApplyProgressionEnd(SearchState<W>& s, ProgressionEnd end, int32_t firstIndex,
                         int32_t secondIndex, typename W::Value difference);
template <typename W>
void ExtendProgression(SearchState<W>& s, typename W::Value next, int32_t firstIndex,
                       int32_t secondIndex, typename W::Value difference, int32_t searchFrom,
                       int32_t termCount);

}  // namespace kv
