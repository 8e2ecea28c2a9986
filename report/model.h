// What kvreport reads and finds, shared by its parts: the table as values with a fast lookup, the
// result lines, the problems found and the output of the --csv option.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "report/valueindex.h"

namespace kv {

// The name of a file in the report's directory.
std::string PathIn(const std::string& directory, const std::string& name);

struct Problems;

// The table's values (records 1 to N) in memory, 8 bytes each, with a bitmap of the values for a
// dense table (such as primes) or an index of value buckets for a sparse one.
struct TableView {
  bool present = false;
  int bits = 64;
  std::string tableFile;
  std::string sievedFile;
  std::vector<uint64_t> values;
  bool usedCheckpoint = false;
  // Lines (middle terms 2 to N - 1) of the length-3 search: finished for good, waiting for larger
  // numbers, and not yet searched to the end of the table.
  int64_t linesFinished = 0;
  int64_t linesWaiting = 0;
  int64_t linesOpen = 0;
  int64_t compositeCount = 0;  // table values that are not prime
  uint64_t firstComposite = 0;
  bool sievedPresent = false;
  uint64_t sievedStart = 0;
  uint64_t sievedEnd = 0;
  int64_t sievedCandidates = 0;
  // True when the sieved list excludes the value (beyond the table).
  std::function<bool(uint64_t)> ruledOut;
  // The list's own check (report/sievecheck.h), missing primes only when `primes`; the lines to
  // show go to `lines`.
  std::function<void(bool primes, Problems& problems, std::vector<std::string>& lines)> checkSieved;

  uint64_t Largest() const { return values.empty() ? 0 : values.back(); }
  int64_t Count() const { return static_cast<int64_t>(values.size()); }
  bool AllPrime() const { return present && compositeCount == 0; }
  bool Contains(uint64_t v) const { return index_.Contains(values, v); }
  void BuildIndex();

 private:
  ValueIndex<uint64_t> index_;
};

// The kinds of problem the check reports, each counted with its first few examples. Each is a
// row of kChecks below, in this order.
enum class Problem {
  kComposite,       // a term of a listed progression is not prime
  kNotInTable,      // a term within the table's range is not in the table
  kContinues,       // the term after the last is in the table
  kEndUnconfirmed,  // the term after the last lies beyond the table and nothing rules it out
  kLongerMissing,   // the term before the first is in the table, the longer line is not listed
  kRepeated,        // a line listed more than once
  kWrongFile,       // a line in the file of another length
  kUnreadable,      // a line that is not a result line
  kStoreMismatch,   // a continuation store item that does not fit the table
  kLiterature,      // a count or least last term unlike the published one, the table complete
  kSievedOrder,     // a candidate of the sieved list not above the one before it
  kSievedRange,     // a candidate outside the range in the list's header
  kSievedMissing,   // a prime of the list's range above the table that is no candidate
  kCount
};

// What a check needs to be made at all; without it the check is shown as not made ("-").
enum Needs : unsigned {
  kNeedsNothing = 0,
  kNeedsTable = 1,       // the table (the sieved list is read with the table of its build)
  kNeedsPrimes = 2,      // a table of primes only, or none
  kNeedsComparison = 4,  // at least one count compared with a published value
};

// One check: the kind of problem it finds, its label in the report, and what it needs.
struct CheckRow {
  Problem kind;
  const char* label;
  unsigned needs;
};

// Every check, in the order of the report's list and of the Problem kinds. A new check is a row
// here (and a kind above) plus the code that finds its problems.
inline constexpr CheckRow kChecks[] = {
    {Problem::kComposite, "素数でない項を含む数列", kNeedsPrimes},
    {Problem::kNotInTable, "データに無い項を含む数列", kNeedsTable},
    {Problem::kContinues, "次の項がデータに有る数列", kNeedsTable},
    {Problem::kEndUnconfirmed, "終了を確認できない数列", kNeedsTable},
    {Problem::kLongerMissing, "前の項からの長い数列が無い数列", kNeedsTable},
    {Problem::kRepeated, "重複した行", kNeedsNothing},
    {Problem::kWrongFile, "長さの違うファイルに有る行", kNeedsNothing},
    {Problem::kUnreadable, "読み取れない行", kNeedsNothing},
    {Problem::kStoreMismatch, "データと一致しない継続データの項目", kNeedsTable},
    {Problem::kLiterature, "文献の値と一致しない数", kNeedsComparison},
    {Problem::kSievedOrder, "篩い掛けデータの昇順でない候補", kNeedsTable},
    {Problem::kSievedRange, "篩い掛けデータの範囲外の候補", kNeedsTable},
    {Problem::kSievedMissing, "篩い掛けデータに無い範囲内の素数", kNeedsTable | kNeedsPrimes},
};

constexpr bool ChecksInKindOrder() {
  size_t k = 0;
  for (const CheckRow& c : kChecks) {
    if (static_cast<size_t>(c.kind) != k++) return false;
  }
  return k == static_cast<size_t>(Problem::kCount);
}
static_assert(ChecksInKindOrder(), "kChecks holds one row per Problem, in its order");

struct Problems {
  static constexpr size_t kExamples = 3;
  int64_t count[static_cast<size_t>(Problem::kCount)] = {};
  std::vector<std::string> examples[static_cast<size_t>(Problem::kCount)];
  void Add(Problem p, const std::string& example);
  int64_t Total() const;
};

// Rows of the --csv output, written as they come; does nothing without a file.
class CsvWriter {
 public:
  bool Open(const std::string& name);
  bool active() const { return file_ != nullptr; }
  void Row(int64_t length, uint64_t first, uint64_t difference, const char* state);
  void Append(const std::string& rows);
  // Writes what is held and closes the file; false when any write failed.
  bool Close();
  static std::string RowText(int64_t length, uint64_t first, uint64_t difference,
                             const char* state);

 private:
  void Flush();
  std::unique_ptr<FileHandle> file_;
  std::string held_;
  bool ok_ = true;
};

}  // namespace kv
