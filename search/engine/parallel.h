// Work spread over the search's threads.
#pragma once

#include <algorithm>

#include "platform/platform.h"
#include "platform/workers.h"
#include "search/files/state.h"

namespace kv {

// The number of threads a search uses: the state's choice, or every hardware thread.
template <typename W>
unsigned SearchThreads(const SearchState<W>& s) {
  const unsigned threads = s.threadCount != 0 ? s.threadCount : Os().HardwareThreads();
  return std::max(1u, threads);
}

}  // namespace kv
