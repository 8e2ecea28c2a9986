// Work spread over the search's threads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "search/state.h"

namespace kv {

// The number of threads a search uses: the state's choice, or every hardware thread.
template <typename W>
unsigned SearchThreads(const SearchState<W>& s) {
  const unsigned threads = s.threadCount != 0 ? s.threadCount : Os().HardwareThreads();
  return std::max(1u, threads);
}

// Calls work(begin, end) on contiguous parts of [0, count), one part per thread; returns when
// all are done. The parts must not depend on each other.
template <typename Work>
void ParallelFor(int64_t count, unsigned threads, Work&& work) {
  const int64_t minPart = 1024;
  const auto parts = static_cast<int64_t>(
      std::min<int64_t>(static_cast<int64_t>(threads), (count + minPart - 1) / minPart));
  if (parts <= 1) {
    if (count > 0) work(int64_t{0}, count);
    return;
  }
  std::vector<std::thread> pool;
  for (int64_t p = 1; p < parts; ++p) {
    pool.emplace_back(
        [&work, p, parts, count] { work(count * p / parts, count * (p + 1) / parts); });
  }
  work(int64_t{0}, count / parts);
  for (auto& thread : pool) thread.join();
}

}  // namespace kv
