// A deterministic primality test for every 64-bit number. The report checks the search's result
// files with it, so it shares no code with the search.
#pragma once

#include <cstdint>

namespace kv {

bool IsPrime(uint64_t n);

}  // namespace kv
