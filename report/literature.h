// Progressions counted as the published tables count them: every run of k terms in arithmetic
// progression whose terms all lie in the table, those inside longer runs too; and the least last
// term per length. Both are set beside the published values for the primes, where the table is
// known to hold every prime below the bound.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "report/model.h"

namespace kv {

// The bounds 10^1 .. 10^kLiteratureDecades below which counts are kept; index 0 is the whole
// table.
inline constexpr int kLiteratureDecades = 7;

// The least last terms are kept for the lengths up to this; longer runs occur only in tables that
// are not of primes.
inline constexpr int64_t kLeastKept = 64;

// Sums over maximal progressions, mergeable, so that every core keeps its own.
class LiteratureTally {
 public:
  // A maximal progression of the table (no term before the first or after the last in it).
  void Add(uint64_t first, uint64_t difference, int64_t length);
  void Merge(const LiteratureTally& other);

  // The number of progressions of `k` terms below the bound (0: the whole table, n: 10^n).
  int64_t Count(int bound, int64_t k) const;
  // The least last term of a progression of `k` terms (a prefix of a longer one counts); false
  // when there is none.
  bool LeastLast(int64_t k, uint64_t& last) const;
  int64_t Longest() const { return lengths_[0].empty() ? 0 : lengths_[0].rbegin()->first; }

 private:
  // By bound, how many maximal progressions have that many terms below it.
  std::array<std::map<int64_t, int64_t>, kLiteratureDecades + 1> lengths_;
  // By length up to kLeastKept, the least last term; the largest number where there is none.
  std::vector<uint64_t> least_;
};

// One line of the comparison with the published values.
struct LiteratureRow {
  enum class Verdict { kNone, kMatch, kMismatch, kUnknown };
  int bound = 0;  // 0: the whole table, n: below 10^n
  int64_t length = 0;
  bool hasFound = false;
  uint64_t found = 0;  // a count, or a least last term
  bool hasPublished = false;
  uint64_t published = 0;
  // kMismatch only where the table holds every prime the published value depends on; a
  // difference elsewhere is kUnknown.
  Verdict verdict = Verdict::kNone;
};

struct LiteratureView {
  int64_t minLength = 0;  // 0: no result line, nothing to count from
  std::vector<LiteratureRow> counts;
  std::vector<LiteratureRow> least;
  int64_t compared = 0;  // rows compared where the table is complete for them
};

// The rows for lengths from `minLength` up: counts in the whole table, counts below each 10^n
// (n up to 7) that the table holds every prime below, and the least last terms beside A005115.
// `complete` is false when a file could not be read whole: then nothing is known complete.
LiteratureView CompareWithLiterature(const LiteratureTally& tally, const TableView& table,
                                     int64_t minLength, bool complete);

// "10^6 未満" or "データ全体"; "一致", "不一致", "未確認" or "".
std::string BoundText(int bound);
const char* VerdictText(LiteratureRow::Verdict verdict);

}  // namespace kv
