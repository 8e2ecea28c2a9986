// The primes of a range as the text file a user would make with the primesieve program
// ("primesieve FROM TO -p": one prime per line, LF), made while it is read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kv {

// A read-only file of the primes from `from` to `to` (both included), after `header` (which
// holds its own line end, or is empty).
std::unique_ptr<FileHandle> OpenPrimesFile(uint64_t from, uint64_t to, std::string header);

// The primes from `from` to `to`, both included, in ascending order.
std::vector<uint64_t> PrimesBetween(uint64_t from, uint64_t to);

// The smallest prime above `n`.
uint64_t PrimeAbove(uint64_t n);

}  // namespace kv
