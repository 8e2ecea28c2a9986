// kvreport's own check of the sieved list, sharing no code with the search or kvimport: the
// candidates strictly ascending and inside the range of the list's own header and, beside a table
// of primes, every prime of the range above the table among them (a missing prime would end a
// progression that goes on). The primes come from a segmented sieve of Eratosthenes over the odd
// numbers, on every core.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "report/model.h"

namespace kv {

// Reads the list file `name` (entries of the width of Value); false when it cannot be opened or
// read. `entries` then holds every whole entry.
template <typename Value>
bool ReadSievedFile(const std::string& name, std::vector<Value>& entries);

// Checks the list (`entries`, file `file`) beside a table whose largest value is `largest`; the
// search for missing primes only when `primes` (the table holds primes only). Each finding goes
// to `problems`; `lines` receives what is to be shown beside the list.
template <typename Value>
void CheckSievedEntries(const std::string& file, std::span<const Value> entries, uint64_t largest,
                        bool primes, unsigned threads, Problems& problems,
                        std::vector<std::string>& lines);

// The primes of [lo, hi] that `candidates` (ascending) lacks: how many, and the first `examples`.
struct MissingPrimes {
  int64_t count = 0;
  std::vector<uint64_t> first;
};
template <typename Value>
MissingPrimes FindMissingPrimes(uint64_t lo, uint64_t hi, std::span<const Value> candidates,
                                size_t examples, unsigned threads);

// The widest range searched for missing primes: 64 numbers per candidate (a list of every prime of
// a 64-bit range has one in 44 at least), at least 2^26 and at most 2^36. A wider range, whose
// list lacks primes anyway, is searched from its start this far.
inline constexpr uint64_t kSievedSpanPerCandidate = 64;
inline constexpr uint64_t kSmallestSievedSpan = uint64_t{1} << 26;
inline constexpr uint64_t kLargestSievedSpan = uint64_t{1} << 36;

}  // namespace kv
