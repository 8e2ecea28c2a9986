// Work spread over the search's threads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
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

// Worker threads that are always joined before the code that started them is left: when it is
// left by an exception (the end of a run included), `stop` tells the workers to finish and they
// are joined first. A worker's own exception is carried to the starting thread and thrown there
// by Join, so that a run never ends from inside a worker.
class WorkerGroup {
 public:
  explicit WorkerGroup(std::function<void()> stop = [] {}) : stop_(std::move(stop)) {}
  ~WorkerGroup() {
    if (threads_.empty()) return;
    stop_();
    JoinAll();
  }
  WorkerGroup(const WorkerGroup&) = delete;
  WorkerGroup& operator=(const WorkerGroup&) = delete;

  template <typename Work>
  void Start(Work work) {
    threads_.emplace_back([this, work]() mutable {
      try {
        work();
      } catch (...) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (!error_) error_ = std::current_exception();
        }
        stop_();
      }
    });
  }

  // Waits for every worker; throws the first exception that one of them left.
  void Join() {
    JoinAll();
    if (error_) std::rethrow_exception(error_);
  }

 private:
  void JoinAll() {
    for (auto& thread : threads_) thread.join();
    threads_.clear();
  }

  std::function<void()> stop_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::exception_ptr error_;
};

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
  WorkerGroup pool;
  for (int64_t p = 1; p < parts; ++p) {
    pool.Start([&work, p, parts, count] { work(count * p / parts, count * (p + 1) / parts); });
  }
  work(int64_t{0}, count / parts);
  pool.Join();
}

}  // namespace kv
