// A search spread over the processes of an MPI job (mpi/job.h). Rank 0 runs the program; it
// sends the others what a search reads, then hands them pieces of the search and commits their
// answers in order as it commits its own threads' work. The other ranks keep nothing between
// searches and never touch the working directory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

#include "format/width.h"
#include "search/files/state.h"

namespace kv {

// The first byte of each order from rank 0.
enum class Order : unsigned char {
  kQuit = 1,       // leave the job
  kLen3Begin = 2,  // a length-3 search: its data follows
  kWork = 3,       // search pieces of the current search
  kEnd = 4,        // the current search is over
  kContBegin = 5,  // a continuation search: its data follows
};

// The number of other ranks in this process's job (0 without one).
int JobHelpers();
// Rank 0 at the end of its program: the other ranks quit, and this one leaves the job.
void EndHelpers();

class Unpacker;
// A helper rank's loop over the orders of one search after the order that began it: each order of
// work goes to `work`, with the order's fields after its kind, and the answer that `work` leaves
// in `answer` goes back to rank 0. Returns at the search's end; a quit leaves the job and ends the
// process.
void ServeOrders(std::vector<unsigned char>& answer, const std::function<void(Unpacker&)>& work);

// Plain values and arrays of them, as raw bytes between processes of one build.
class Packer {
 public:
  explicit Packer(std::vector<unsigned char>& out) : out_(out) {}
  template <typename T>
  void Put(const T& value) {
    Append(&value, sizeof(T));
  }
  template <typename T>
  void PutArray(const T* values, size_t count) {
    Put(static_cast<uint64_t>(count));
    Append(values, count * sizeof(T));
  }

 private:
  void Append(const void* bytes, size_t count) {
    if (count == 0) return;
    const size_t at = out_.size();
    out_.resize(at + count);
    std::memcpy(out_.data() + at, bytes, count);
  }

  std::vector<unsigned char>& out_;
};

class Unpacker {
 public:
  explicit Unpacker(const std::vector<unsigned char>& in, size_t at = 0) : in_(in), at_(at) {}
  template <typename T>
  T Get() {
    T value;
    Take(&value, sizeof(T));
    return value;
  }
  template <typename C>
  void GetArray(C& values) {
    const auto count = Get<uint64_t>();
    if (count > (in_.size() - at_) / sizeof(typename C::value_type)) Short();
    values.resize(static_cast<size_t>(count));
    Take(values.data(), values.size() * sizeof(typename C::value_type));
  }

 private:
  void Take(void* to, size_t bytes) {
    if (bytes > in_.size() - at_) Short();
    if (bytes > 0) std::memcpy(to, in_.data() + at_, bytes);
    at_ += bytes;
  }
  [[noreturn]] static void Short() {
    throw std::runtime_error("a message between the ranks is short");
  }

  const std::vector<unsigned char>& in_;
  size_t at_;
};

// What a search reads, as the begin orders carry it after their kind and width: the settings, the
// table (with the record after its last one, which the walks may look at) and the sieved list.
template <typename W>
void PackSearchData(const SearchState<W>& s, Packer& p) {
  p.Put(s.minSaveLength);
  p.Put(s.prune);
  p.Put(s.threadCount);
  p.Put(s.table.recordCount);
  p.PutArray(s.table.records.data(),
             std::min(s.table.records.size(), static_cast<size_t>(s.table.recordCount) + 1));
  p.Put(s.sieved.count);
  p.PutArray(s.sieved.entries.data(), s.sieved.entries.size());
}

template <typename W>
void UnpackSearchData(Unpacker& u, SearchState<W>& s) {
  s.minSaveLength = u.Get<int32_t>();
  s.prune = u.Get<bool>();
  s.threadCount = u.Get<unsigned>();
  s.table.recordCount = u.Get<int32_t>();
  u.GetArray(s.table.records);
  s.sieved.count = u.Get<uint32_t>();
  u.GetArray(s.sieved.entries);
  if (s.table.records.size() < 2 || s.table.recordCount < 1 ||
      static_cast<size_t>(s.table.recordCount) > s.table.records.size()) {
    throw std::runtime_error("the table sent for a search is short");
  }
}

// Rank 0 at the start of a search of `kind` (kLen3Begin or kContBegin): sends each other rank of
// the job what the search reads and returns the number of threads each searches with (none
// without a job).
std::vector<uint32_t> SendSearchBegin(const std::vector<unsigned char>& order);
template <typename W>
std::vector<uint32_t> BeginSearchOnHelpers(Order kind, const SearchState<W>& s) {
  if (JobHelpers() == 0) return {};
  std::vector<unsigned char> order;
  Packer p(order);
  p.Put(kind);
  p.Put(static_cast<unsigned char>(W::kBits));
  PackSearchData(s, p);
  return SendSearchBegin(order);
}

}  // namespace kv
