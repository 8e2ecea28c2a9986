// Work spread over threads: a group of workers that is always joined, a loop over a range in
// parallel, and a crew that takes a job in pieces.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kv {

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

// Threads that stay for a job of many rounds, so that a round does not pay for starting and
// ending threads. A round calls work(begin, end) on pieces of [0, count), which the threads take
// in turn until none is left; Start hands a round to them and returns at once, Wait returns when
// it is done (and throws the first exception that a piece left).
class PieceCrew {
 public:
  using Work = std::function<void(int64_t, int64_t)>;

  explicit PieceCrew(unsigned threads) {
    for (unsigned t = 0; t < std::max(1u, threads); ++t) threads_.emplace_back([this] { Serve(); });
  }
  // A round still under way is finished first.
  ~PieceCrew() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    roundBegun_.notify_all();
    for (auto& thread : threads_) thread.join();
  }
  PieceCrew(const PieceCrew&) = delete;
  PieceCrew& operator=(const PieceCrew&) = delete;

  unsigned Size() const { return static_cast<unsigned>(threads_.size()); }

  // The previous round must have been waited for.
  void Start(int64_t count, int64_t piece, Work work) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      count_ = count;
      piece_ = std::max<int64_t>(1, piece);
      next_ = 0;
      work_ = std::move(work);
      busy_ = threads_.size();
      ++round_;
    }
    roundBegun_.notify_all();
  }

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    roundEnded_.wait(lock, [this] { return busy_ == 0; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  void Serve() {
    uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        roundBegun_.wait(lock, [&] { return stop_ || round_ != seen; });
        if (round_ == seen) return;  // stopped, with no round left to finish
        seen = round_;
      }
      try {
        for (int64_t begin = next_.fetch_add(piece_); begin < count_;
             begin = next_.fetch_add(piece_)) {
          work_(begin, std::min(count_, begin + piece_));
        }
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) error_ = std::current_exception();
        next_ = count_;  // the other threads take no more pieces
      }
      std::lock_guard<std::mutex> lock(mutex_);
      if (--busy_ == 0) roundEnded_.notify_all();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable roundBegun_;
  std::condition_variable roundEnded_;
  bool stop_ = false;
  uint64_t round_ = 0;
  size_t busy_ = 0;
  int64_t count_ = 0;
  int64_t piece_ = 1;
  std::atomic<int64_t> next_{0};
  Work work_;
  std::exception_ptr error_;
};

}  // namespace kv
