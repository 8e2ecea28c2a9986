// kvimport: builds and extends the sieved list files from an ascending list of numbers.
#pragma once

#include <cstdint>

namespace kv {

// The most entries (range entries included) a sieved list may hold: the count is a signed 32-bit
// number in the search program.
inline constexpr int64_t kSievedEntryLimit = 2147483647;

// One whole run of kvimport; ends the process.
[[noreturn]] void RunImportProgram();

// The same run with another entry limit, so that the limit can be reached without billions of
// numbers.
[[noreturn]] void RunImportProgram(int64_t entryLimit);

}  // namespace kv
