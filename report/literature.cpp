// The published values are carried as a small table of facts: the numbers of progressions of 3 to
// 8 primes below 10^n (OEIS A115608 to A115613), the least last term of a progression of k primes
// (OEIS A005115) and the number of primes below 10^n, which tells whether the table holds them
// all.
#include "report/literature.h"

#include <algorithm>

#include "console/numtext.h"

namespace kv {
namespace {

constexpr int64_t kFirstCounted = 3;
constexpr int64_t kLastCounted = 8;
constexpr uint64_t kPublishedCounts[kLastCounted - kFirstCounted + 1][kLiteratureDecades] = {
    {1, 46, 1500, 59504, 2856331, 157300309, 9565120490},
    {0, 11, 318, 10257, 389606, 17636879, 909031090},
    {0, 2, 58, 1283, 39866, 1495343, 65348949},
    {0, 0, 14, 263, 7304, 227456, 8433923},
    {0, 0, 1, 32, 959, 25018, 793022},
    {0, 0, 0, 8, 243, 5222, 140667},
};

constexpr int64_t kLastLeast = 21;
constexpr uint64_t kPublishedLeast[kLastLeast - kFirstCounted + 1] = {
    7,          23,          29,          157,          907,          1669,      1879,
    2089,       249037,      262897,      725663,       36850999,     173471351, 198793279,
    4827507229, 17010526363, 83547839407, 572945039351, 6269243827111};

// The number of primes below 10^n, n = 1 to 10.
constexpr int kPrimeCountDecades = 10;
constexpr int64_t kPrimesBelow[kPrimeCountDecades] = {4,     25,     168,     1229,     9592,
                                                      78498, 664579, 5761455, 50847534, 455052511};

constexpr uint64_t kNone = ~uint64_t{0};

uint64_t Decade(int n) {
  uint64_t b = 1;
  for (int k = 0; k < n; ++k) b *= 10;
  return b;
}

// The largest n up to 10 for which the table holds every prime below 10^n, 0 when none: a table
// of primes with as many values below 10^n as there are primes there. Lines of the length-3
// search not yet searched to the table's end leave it incomplete.
int CompleteDecades(const TableView& table) {
  if (!table.AllPrime() || table.values.empty() || table.values.front() != 2 ||
      table.linesOpen != 0) {
    return 0;
  }
  int complete = 0;
  for (int n = 1; n <= kPrimeCountDecades; ++n) {
    const auto below = std::lower_bound(table.values.begin(), table.values.end(), Decade(n)) -
                       table.values.begin();
    if (below != kPrimesBelow[n - 1]) break;
    complete = n;
  }
  return complete;
}

void Judge(LiteratureRow& row, bool complete, int64_t& compared) {
  if (!row.hasPublished) return;
  if (row.hasFound && row.found == row.published) {
    row.verdict = LiteratureRow::Verdict::kMatch;
  } else {
    row.verdict = complete ? LiteratureRow::Verdict::kMismatch : LiteratureRow::Verdict::kUnknown;
  }
  if (complete) ++compared;
}

}  // namespace

void LiteratureTally::Add(uint64_t first, uint64_t difference, int64_t length) {
  if (length < kFirstCounted || difference == 0) return;
  ++lengths_[0][length];
  for (int n = 1; n <= kLiteratureDecades; ++n) {
    const uint64_t bound = Decade(n);
    if (first >= bound) continue;
    const uint64_t below = (bound - 1 - first) / difference + 1;
    const int64_t terms =
        below < static_cast<uint64_t>(length) ? static_cast<int64_t>(below) : length;
    if (terms >= kFirstCounted) ++lengths_[static_cast<size_t>(n)][terms];
  }
  if (least_.empty()) least_.assign(kLeastKept + 1, kNone);
  for (int64_t k = kFirstCounted; k <= length && k <= kLeastKept; ++k) {
    uint64_t& least = least_[static_cast<size_t>(k)];
    least = std::min(least, first + static_cast<uint64_t>(k - 1) * difference);
  }
}

void LiteratureTally::Merge(const LiteratureTally& other) {
  for (size_t b = 0; b < lengths_.size(); ++b) {
    for (const auto& [length, n] : other.lengths_[b]) lengths_[b][length] += n;
  }
  if (other.least_.empty()) return;
  if (least_.empty()) least_.assign(kLeastKept + 1, kNone);
  for (size_t k = 0; k < least_.size(); ++k) least_[k] = std::min(least_[k], other.least_[k]);
}

int64_t LiteratureTally::Count(int bound, int64_t k) const {
  int64_t total = 0;
  const auto& lengths = lengths_[static_cast<size_t>(bound)];
  for (auto it = lengths.lower_bound(k); it != lengths.end(); ++it) {
    total += (it->first - k + 1) * it->second;
  }
  return total;
}

bool LiteratureTally::LeastLast(int64_t k, uint64_t& last) const {
  if (k < 0 || k >= static_cast<int64_t>(least_.size()) ||
      least_[static_cast<size_t>(k)] == kNone) {
    return false;
  }
  last = least_[static_cast<size_t>(k)];
  return true;
}

LiteratureView CompareWithLiterature(const LiteratureTally& tally, const TableView& table,
                                     int64_t minLength, bool complete) {
  LiteratureView view;
  if (minLength < kFirstCounted) return view;
  view.minLength = minLength;
  const int decades = complete ? CompleteDecades(table) : 0;
  const int64_t longest = tally.Longest();
  for (int64_t k = minLength; k <= longest; ++k) {
    LiteratureRow row;
    row.length = k;
    row.hasFound = true;
    row.found = static_cast<uint64_t>(tally.Count(0, k));
    view.counts.push_back(row);
  }
  for (int n = 1; n <= std::min(decades, kLiteratureDecades); ++n) {
    for (int64_t k = minLength; k <= kLastCounted; ++k) {
      LiteratureRow row;
      row.bound = n;
      row.length = k;
      row.hasFound = true;
      row.found = static_cast<uint64_t>(tally.Count(n, k));
      row.hasPublished = true;
      row.published =
          kPublishedCounts[static_cast<size_t>(k - kFirstCounted)][static_cast<size_t>(n - 1)];
      if (row.found == 0 && row.published == 0) continue;
      Judge(row, true, view.compared);
      view.counts.push_back(row);
    }
  }
  // The least last terms: every length with a progression, and every length whose published
  // value lies where the table is complete (a missing one is then a mismatch).
  const uint64_t completeBelow = decades > 0 ? Decade(decades) : 0;
  int64_t lastRow = longest;
  for (int64_t k = minLength; k <= kLastLeast; ++k) {
    if (kPublishedLeast[k - kFirstCounted] < completeBelow) lastRow = std::max(lastRow, k);
  }
  for (int64_t k = minLength; k <= lastRow && k <= kLeastKept; ++k) {
    LiteratureRow row;
    row.length = k;
    row.hasFound = tally.LeastLast(k, row.found);
    row.hasPublished = k <= kLastLeast && table.AllPrime();
    if (row.hasPublished) row.published = kPublishedLeast[k - kFirstCounted];
    Judge(row, row.hasPublished && row.published < completeBelow, view.compared);
    view.least.push_back(row);
  }
  return view;
}

std::string BoundText(int bound) {
  return bound == 0 ? std::string("データ全体")
                    : "10^" + IntegerToText(static_cast<uint64_t>(bound)) + " 未満";
}

const char* VerdictText(LiteratureRow::Verdict verdict) {
  switch (verdict) {
    case LiteratureRow::Verdict::kMatch:
      return "一致";
    case LiteratureRow::Verdict::kMismatch:
      return "不一致";
    case LiteratureRow::Verdict::kUnknown:
      return "未確認";
    case LiteratureRow::Verdict::kNone:
      break;
  }
  return "";
}

}  // namespace kv
