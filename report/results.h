// The result files: reading every line, folding the tails into maximal progressions, and the
// check of each progression against the table and the primality test.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "report/model.h"

namespace kv {

// A maximal progression of the result files.
struct Progression {
  uint64_t first;
  uint64_t difference;
  int64_t length;
  bool sound;  // every term prime (where tested) and in the table (when there is one)
  uint64_t Last() const { return first + static_cast<uint64_t>(length - 1) * difference; }
};

struct ResultSummary {
  std::vector<std::string> files;                   // the result files read, by length
  std::map<int64_t, int64_t> linesByLength;         // lines of each file, by the file's length
  std::map<int64_t, int64_t> progressionsByLength;  // distinct maximal progressions
  std::vector<Progression> progressions;            // by length, first term, difference
  int64_t termsTested = 0;                          // terms that went through the primality test
  std::set<int64_t> lineLengths;                    // the lengths of the lines read
};

// Reads every result file of the directory; false when one of them could not be read (its
// name is added to `unreadable`).
bool ReadResultFiles(const std::string& directory, const std::vector<FileEntry>& files,
                     const TableView& table, ResultSummary& summary, Problems& problems,
                     std::vector<std::string>& unreadable);

// The progressions with the most terms (the smaller last term first), at most `count`.
std::vector<Progression> Longest(const ResultSummary& summary, size_t count);

// For each length of a line read, the sound progression of that many terms with the smallest
// last term: a longer progression's first terms count too.
std::map<int64_t, Progression> SmallestLastTerms(const ResultSummary& summary);

}  // namespace kv
