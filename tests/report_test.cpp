// kvreport against the brute-force enumeration on tables grown over several runs, and on damaged
// and hand-edited files: each problem in its class, with the right exit status.
#include "report/report.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "platform/fileutil.h"
#include "report/listlookup.h"
#include "report/primality.h"
#include "report/sievecheck.h"
#include "tests/process.h"
#include "tests/search_testing.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FakePlatform;
using kvtest::Files;
using kvtest::TempDir;
using Row = std::array<uint64_t, 4>;  // length, first term, difference, last term

struct ReportRun {
  int status = -1;
  std::string output;
  std::vector<std::string> csv;  // rows without the header
  Files files;
};

ReportRun RunReport(const std::filesystem::path& dir, std::vector<std::string> args = {}) {
  args.insert(args.begin(), {"--csv", "report.csv"});
  FakePlatform fake;
  ReportRun r;
  auto run = kvtest::RunInDirectory([&] { r.status = RunReportProgram(args); }, fake, dir);
  r.output = run.output;
  auto csv = run.files.find("report.csv");
  if (csv != run.files.end()) {
    r.csv = kvtest::SplitLines(csv->second);
    if (!r.csv.empty()) r.csv.erase(r.csv.begin());
    run.files.erase(csv);
  }
  r.files = run.files;
  return r;
}

// The rows of numbers below a section's heading line, up to the next empty line; rows that do not
// begin with a number (the headings, the total) are skipped.
std::vector<std::vector<uint64_t>> Section(const std::string& output, const std::string& heading) {
  std::vector<std::vector<uint64_t>> rows;
  const auto lines = kvtest::SplitLines(output);
  auto at = std::find_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(heading, 0) == 0; });
  for (++at; at < lines.end() && !at->empty(); ++at) {
    std::istringstream in(*at);
    std::vector<uint64_t> row;
    for (uint64_t v; in >> v;) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

// The count shown beside a problem class; -1 when the class was not checked.
int64_t ProblemCount(const std::string& output, const std::string& label) {
  const size_t at = output.find("  " + label + " ");
  if (at == std::string::npos) return -2;
  std::istringstream in(output.substr(at + label.size() + 2));
  std::string count;
  in >> count;
  return count == "-" ? -1 : std::stoll(count);
}

const std::vector<std::string> kClasses = {"素数でない項を含む数列",
                                           "データに無い項を含む数列",
                                           "次の項がデータに有る数列",
                                           "終了を確認できない数列",
                                           "前の項からの長い数列が無い数列",
                                           "重複した行",
                                           "長さの違うファイルに有る行",
                                           "読み取れない行",
                                           "データと一致しない継続データの項目",
                                           "篩い掛けデータの昇順でない候補",
                                           "篩い掛けデータの範囲外の候補",
                                           "篩い掛けデータに無い範囲内の素数"};

std::string CsvRow(uint64_t length, uint64_t a, uint64_t d, const char* state) {
  return std::to_string(length) + "," + std::to_string(a) + "," + std::to_string(d) + "," +
         std::to_string(a + (length - 1) * d) + "," + state;
}

// Whole runs of the search program in `dir`, one per batch of new numbers.
template <typename W>
void SearchRuns(const std::filesystem::path& dir, const std::vector<std::vector<uint64_t>>& batches,
                int32_t minSave) {
  for (const auto& batch : batches) {
    std::string numbers;
    for (uint64_t x : batch) numbers += std::to_string(x) + "\r\n";
    kvtest::WriteFiles(dir, {{"new.txt", numbers}});
    FakePlatform fake;
    fake.input = {"new.txt", std::to_string(minSave), ""};
    SearchState<W> state;
    const auto run = kvtest::RunInDirectory([&] { RunSearchProgram(state); }, fake, dir);
    ASSERT_EQ(run.exitCode, 0) << run.output;
  }
}

TEST(Report, PrimalityTestAgreesWithASieveAndKnownNumbers) {
  const auto primes = kvtest::PrimesBelow(300000);
  std::vector<bool> prime(300000, false);
  for (uint64_t p : primes) prime[p] = true;
  for (uint64_t n = 0; n < prime.size(); ++n) ASSERT_EQ(IsPrime(n), prime[n]) << n;
  // Strong pseudoprimes to the smaller base sets, Carmichael numbers, squares of primes and the
  // largest primes below 2^32, 2^63 and 2^64.
  for (uint64_t n : {3215031751ULL, 2152302898747ULL, 3474749660383ULL, 341550071728321ULL,
                     3825123056546413051ULL, 4294967297ULL, 18446744073709551615ULL,
                     4294967291ULL * 4294967291ULL, 1000000007ULL * 998244353ULL, 561ULL,
                     3778118040573702001ULL}) {
    EXPECT_FALSE(IsPrime(n)) << n;
  }
  for (uint64_t n : {4294967291ULL, 9223372036854775783ULL, 18446744073709551557ULL, 1000000007ULL,
                     2305843009213693951ULL}) {
    EXPECT_TRUE(IsPrime(n)) << n;
  }
}

// The summary of tables grown over several runs equals the enumeration of the final table: the
// maximal progressions, finished and open, their counts per length, the longest and the smallest
// last terms; and every check passes.
template <typename W>
void ExpectSummaryMatches(const std::vector<uint64_t>& values, size_t runs, int32_t minSave,
                          std::mt19937_64& rng) {
  SCOPED_TRACE("N=" + std::to_string(values.size()) + " bits=" + std::to_string(W::kBits));
  std::vector<std::vector<uint64_t>> batches(1);
  for (uint64_t v : values) {
    if (batches.size() < runs && batches.back().size() > 3 && rng() % 40 == 0)
      batches.emplace_back();
    batches.back().push_back(v);
  }
  TempDir dir;
  SearchRuns<W>(dir.path(), batches, minSave);
  std::filesystem::remove(dir.path() / "new.txt");
  const auto report = RunReport(dir.path());
  EXPECT_EQ(report.status, 0) << report.output;

  const auto e = kvtest::Enumerate(values, minSave);
  const std::set<uint64_t> table(values.begin(), values.end());
  std::vector<std::string> finished;
  std::multiset<std::string> open;
  std::map<uint64_t, uint64_t> progressionsByLength;
  std::vector<Row> sound;
  for (const auto& p : e.found) {
    const uint64_t a = values[static_cast<size_t>(p.first - 1)];
    const uint64_t d = values[static_cast<size_t>(p.second - 1)] - a;
    const auto length = static_cast<uint64_t>(p.length);
    if (a >= d && table.count(a - d) != 0) continue;  // a tail
    if (p.open) {
      open.insert(CsvRow(length, a, d, "open"));
    } else if (p.length >= minSave) {
      finished.push_back(CsvRow(length, a, d, "finished"));
      ++progressionsByLength[length];
      sound.push_back({length, a, d, a + (length - 1) * d});
    }
  }
  std::sort(sound.begin(), sound.end(), [](const Row& x, const Row& y) {
    return std::make_tuple(x[0], x[1], x[2]) < std::make_tuple(y[0], y[1], y[2]);
  });
  std::vector<std::string> sortedFinished;
  for (const Row& r : sound) sortedFinished.push_back(CsvRow(r[0], r[1], r[2], "finished"));
  ASSERT_GE(report.csv.size(), finished.size());
  const std::vector<std::string> csvFinished(
      report.csv.begin(), report.csv.begin() + static_cast<long>(finished.size()));
  EXPECT_EQ(csvFinished, sortedFinished);
  EXPECT_EQ(std::multiset<std::string>(report.csv.begin() + static_cast<long>(finished.size()),
                                       report.csv.end()),
            open);

  std::vector<std::vector<uint64_t>> counts;
  for (const auto& [length, content] : kvtest::ResultFiles(report.files)) {
    const auto lines = static_cast<uint64_t>(kvtest::SplitLines(content).size() - 1);
    counts.push_back({static_cast<uint64_t>(length), lines,
                      progressionsByLength[static_cast<uint64_t>(length)]});
  }
  EXPECT_EQ(Section(report.output, "【発見した数列】"), counts);

  std::vector<std::vector<uint64_t>> longest;
  auto byLength = sound;
  std::sort(byLength.begin(), byLength.end(), [](const Row& x, const Row& y) {
    return std::make_tuple(~x[0], x[3], x[1]) < std::make_tuple(~y[0], y[3], y[1]);
  });
  for (size_t k = 0; k < byLength.size() && k < 10; ++k) {
    longest.emplace_back(byLength[k].begin(), byLength[k].end());
  }
  EXPECT_EQ(Section(report.output, "【最長の数列】"), longest);

  std::map<uint64_t, Row> smallest;
  for (const Row& r : sound) {
    for (uint64_t k = static_cast<uint64_t>(minSave); k <= r[0]; ++k) {
      const Row prefix{k, r[1], r[2], r[1] + (k - 1) * r[2]};
      auto it = smallest.find(k);
      if (it == smallest.end() ||
          std::make_pair(prefix[3], prefix[1]) < std::make_pair(it->second[3], it->second[1])) {
        smallest[k] = prefix;
      }
    }
  }
  std::vector<std::vector<uint64_t>> records;
  for (const auto& [k, r] : smallest) records.emplace_back(r.begin(), r.end());
  EXPECT_EQ(Section(report.output, "【長さ毎の最小の最終項】"), records);
}

TEST(Report, ListCheckSieveFindsEveryMissingPrime) {
  // Ranges across segment and word bounds, from 2 and from the primes that strike whole words,
  // on one thread and several; every fifth prime left out of the candidates, and composites in.
  const auto primes = kvtest::PrimesBelow(3000000);
  std::mt19937_64 rng(7);
  const uint64_t starts[] = {0, 2, 3, 61};
  for (unsigned round = 0; round < 40; ++round) {
    const uint64_t lo = round < 4 ? starts[round] : rng() % 2900000;
    const uint64_t hi = std::min<uint64_t>(round % 3 == 0 ? lo + rng() % 200 : lo + rng() % 2000000,
                                           primes.back() + 1);
    std::vector<uint32_t> candidates;
    int64_t missing = 0;
    uint64_t firstMissing = 0;
    for (const uint64_t p : primes) {
      if (p < lo || p > hi) continue;
      if (rng() % 5 == 0) {
        if (missing++ == 0) firstMissing = p;
        continue;
      }
      candidates.push_back(static_cast<uint32_t>(p));
      if (p > 2 && rng() % 3 == 0) candidates.push_back(static_cast<uint32_t>(p + 1));
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    const auto found = FindMissingPrimes<uint32_t>(lo, hi, candidates, 3, 1 + round % 3);
    EXPECT_EQ(found.count, missing) << lo << " - " << hi;
    if (missing > 0) {
      EXPECT_EQ(found.first.at(0), firstMissing) << lo << " - " << hi;
    }
  }
  // A list that claims a wide range without its primes is searched only so far, and says so.
  const std::vector<uint64_t> rangeOnly = {3001, 3001 + (uint64_t{1} << 30)};
  Problems problems;
  std::vector<std::string> lines;
  CheckSievedEntries<uint64_t>("_SievedListData.dat", rangeOnly, 2999, true, 2, problems, lines);
  const uint64_t searched = 3000 + kSmallestSievedSpan;
  EXPECT_EQ(problems.count[static_cast<size_t>(Problem::kSievedMissing)],
            FindMissingPrimes<uint64_t>(3001, searched, {}, 0, 2).count);
  EXPECT_EQ(lines, std::vector<std::string>{"_SievedListData.dat : 候補に無い素数は 3001 から " +
                                            std::to_string(searched) + " までを調べました。"});
  // Beyond 2^50 the numbers that the sieve leaves go through the primality test.
  const uint64_t high = (uint64_t{1} << 52) + 1000;
  const auto beyond = FindMissingPrimes<uint64_t>(high, high + 3000, {}, 3, 2);
  int64_t expected = 0;
  for (uint64_t v = high; v <= high + 3000; ++v) expected += IsPrime(v) ? 1 : 0;
  EXPECT_EQ(beyond.count, expected);
}

// kvreport's own lookup in the sieved list against a plain reading of the list: a value is ruled
// out when it lies in the range and is no candidate; at the range's ends and the width's end, in
// the bitmaps (of every value or of the odd ones) and in the buckets, with candidates below the
// range's start, out of order or repeated, and never by fewer than two entries.
template <typename Value>
void ExpectListLookupAgreesWithTheEntries() {
  const uint64_t top = std::numeric_limits<Value>::max();
  const uint64_t wide = 1000 + (uint64_t{1} << 30);
  const std::vector<std::vector<uint64_t>> lists = {
      {},
      {1000},
      {1000, 1300},
      {1300, 1000, 1001},
      {1000, 1300, 1000, 1002, 1003, 1129, 1299, 1300},
      {1010, 1300, 1001, 1003, 1011, 1013},
      {1000, 1300, 1129, 1003, 1001, 1129, 1400},
      {top - 300, top, top - 298, top - 12, top - 2, top},
      {top - 300, top, top - 299, top - 1},
      {1000, wide, 1001, 1003, wide - 1},
  };
  for (const auto& entries : lists) {
    const SievedLookup<Value> lookup(std::vector<Value>(entries.begin(), entries.end()));
    for (const uint64_t at : {uint64_t{1000}, uint64_t{1300}, top - 300, top}) {
      // Past the width's end only for 32-bit values.
      const uint64_t last = at + 20 < at ? top : at + 20;
      for (uint64_t v = at - 20; v <= last && v >= at - 20; ++v) {
        const bool expected = entries.size() >= 2 && v >= entries[0] && v <= entries[1] &&
                              std::find(entries.begin() + 2, entries.end(), v) == entries.end();
        ASSERT_EQ(lookup.RuledOut(v), expected) << entries.size() << " entries, " << v;
      }
    }
  }
}

TEST(Report, ListLookupAgreesWithTheEntries) {
  ExpectListLookupAgreesWithTheEntries<uint32_t>();
  ExpectListLookupAgreesWithTheEntries<uint64_t>();
}

TEST(Report, SummaryOfGrownTablesMatchesTheEnumeration) {
  std::mt19937_64 rng(13);
  const auto primes = kvtest::PrimesBelow(6000);
  std::vector<uint64_t> subset;
  for (uint64_t p : primes) {
    if (rng() % 3 != 0) subset.push_back(p);
  }
  ExpectSummaryMatches<Width64>(subset, 4, 5, rng);
  ExpectSummaryMatches<Width32>(primes, 3, 6, rng);
  // Numbers that are not primes (only their membership is checked), dense and sparse.
  std::vector<uint64_t> dense;
  for (uint64_t v = 1000000000; dense.size() < 700; v += 1 + rng() % 3) dense.push_back(v);
  ExpectSummaryMatches<Width32>(dense, 4, 5, rng);
  std::vector<uint64_t> sparse;
  for (uint64_t v = 1ULL << 40; sparse.size() < 700; v += 1 + rng() % 160) sparse.push_back(v);
  ExpectSummaryMatches<Width64>(sparse, 4, 4, rng);
}

// A directory holding the files of two runs over the primes below 3000 (minimum length 5).
Files BaseFiles() {
  TempDir dir;
  const auto primes = kvtest::PrimesBelow(3000);
  SearchRuns<Width64>(dir.path(),
                      {std::vector<uint64_t>(primes.begin(), primes.begin() + 200),
                       std::vector<uint64_t>(primes.begin() + 200, primes.end())},
                      5);
  std::filesystem::remove(dir.path() / "new.txt");
  return kvtest::ReadFiles(dir.path());
}

TEST(Report, EachDamageIsReportedInItsClass) {
  const Files base = BaseFiles();
  const std::string l5 = base.at("_L5_ResultData.txt");
  const std::string l6 = base.at("_L6_ResultData.txt");
  // The first line of _L6 that is not the tail of a line of _L7, and its first term and step.
  const std::string line6 = kvtest::SplitLines(l6)[1];
  int32_t len = 0;
  uint64_t a = 0;
  uint64_t d = 0;
  ASSERT_TRUE(kvtest::ParseResultLine(line6, len, a, d));
  auto without = [](std::string content, const std::string& line) {
    return content.erase(content.find(line + "\r\n"), line.size() + 2);
  };
  const std::string tail6 = "Len 5, " + std::to_string(a + d) + " + " + std::to_string(d) + " *n";
  ASSERT_NE(l5.find(tail6 + "\r\n"), std::string::npos);
  // A sieved list of the range above the table (primes below 3000): every prime of 3001 to 6000
  // and a composite, which does no harm.
  std::vector<uint64_t> list = {3001, 6000};
  for (const uint64_t p : kvtest::PrimesBelow(6000)) {
    if (p > 3000) list.push_back(p);
  }
  list.insert(list.begin() + 3, 3003);  // 3 · 7 · 11 · 13
  ASSERT_EQ(list[2], 3001u);
  const auto listFile = [](const std::vector<uint64_t>& entries) {
    return kvtest::SievedFile<Width64>(entries);
  };
  std::vector<uint64_t> damaged = list;
  std::swap(damaged[10], damaged[11]);   // out of order
  const uint64_t dropped = damaged[20];  // a prime missing
  damaged.erase(damaged.begin() + 20);
  damaged.push_back(9999);  // beyond the range end

  struct Case {
    const char* name;
    std::function<void(Files&)> edit;
    std::map<std::string, int64_t> problems;  // by class; every other class 0
    int status;
    std::string lines = "";  // shown as they stand
  };
  const std::vector<Case> cases = {
      {"untouched", [](Files&) {}, {}, 0, "全ての検査に合格しました。\r\n"},
      // 7, 9, 11, 13, 15 between 5 and 17 of the table.
      {"composite term",
       [](Files& f) { f["_L5_ResultData.txt"] += "Len 5, 7 + 2 *n\r\n"; },
       {{kClasses[0], 1}, {kClasses[1], 1}, {kClasses[2], 1}, {kClasses[4], 1}},
       1},
      {"repeated line",
       [&](Files& f) { f["_L6_ResultData.txt"] += line6 + "\r\n"; },
       {{kClasses[5], 1}},
       1},
      {"line in the wrong file",
       [&](Files& f) {
         f["_L6_ResultData.txt"] = without(l6, line6);
         f["_L5_ResultData.txt"] += line6 + "\r\n";
       },
       {{kClasses[6], 1}},
       1},
      {"longer line missing",
       [&](Files& f) { f["_L6_ResultData.txt"] = without(l6, line6); },
       {{kClasses[4], 1}},
       1},
      {"line cut short",
       [&](Files& f) {
         f["_L5_ResultData.txt"] = without(l5, tail6) + "Len 6, " + std::to_string(a);
       },
       {{kClasses[7], 1}, {kClasses[4], 0}},
       1},
      {"shortened line",
       [&](Files& f) {
         f["_L6_ResultData.txt"] = without(l6, line6);
         f["_L5_ResultData.txt"] = without(l5, tail6) + "Len 5, " + std::to_string(a) + " + " +
                                   std::to_string(d) + " *n\r\n";
       },
       {{kClasses[2], 1}, {kClasses[6], 0}},
       1},
      {"unreadable lines",
       [](Files& f) {
         f["_L5_ResultData.txt"] += "Len 5, 7 + x *n\r\n\r\nLen 2, 3 + 2 *n\r\nLen *n\r\n";
       },
       {{kClasses[7], 4}},
       1},
      // Checked in a few terms, not a hundred million.
      {"line of a hundred million terms",
       [](Files& f) { f["_L100000000_ResultData.txt"] = "Len 100000000, 3 + 2 *n\r\n"; },
       {{kClasses[0], 1}, {kClasses[1], 1}},
       1},
      {"store entry beyond the table",
       [](Files& f) {
         f["_ContData.dat"] += kvtest::LE<int32_t>(-100000) + kvtest::LE<int32_t>(3);
       },
       {{kClasses[8], 1}},
       1},
      {"sieved list of candidates",
       [&](Files& f) { f["_SievedListData.dat"] = listFile(list); },
       {},
       0},
      {"damaged sieved list",
       [&](Files& f) { f["_SievedListData.dat"] = listFile(damaged); },
       {{kClasses[9], 1}, {kClasses[10], 1}, {kClasses[11], 1}},
       1,
       kvtest::Lines({"  " + kClasses[9] + "               1",
                      "    _SievedListData.dat 項目 11 : " + std::to_string(damaged[11]) +
                          " (前の項目 " + std::to_string(damaged[10]) + ")",
                      "  " + kClasses[10] + "                 1",
                      "    _SievedListData.dat 項目 " + std::to_string(damaged.size() - 1) +
                          " : 9999 (範囲 3001 - 6000)",
                      "  " + kClasses[11] + "             1",
                      "    _SievedListData.dat : 範囲 3001 - 6000 の素数 " +
                          std::to_string(dropped) + " が候補に有りません。"})},
      {"missing table",
       [](Files& f) {
         f.erase("_APData.dat");
         f["_L5_ResultData.txt"] += "Len 5, 7 + 2 *n\r\n";
       },
       {{kClasses[0], 1},
        {kClasses[1], -1},
        {kClasses[2], -1},
        {kClasses[3], -1},
        {kClasses[4], -1},
        {kClasses[8], -1},
        {kClasses[9], -1},
        {kClasses[10], -1},
        {kClasses[11], -1}},
       2,
       kvtest::Lines(
           {"_APData.dat も _APData32.dat も見つかりません。データとの照合は行いません。"})},
      {"table out of order",
       [](Files& f) { f["_APData.dat"].replace(32, 8, kvtest::LE<uint64_t>(1)); },
       {{kClasses[1], -1},
        {kClasses[2], -1},
        {kClasses[3], -1},
        {kClasses[4], -1},
        {kClasses[8], -1},
        {kClasses[9], -1},
        {kClasses[10], -1},
        {kClasses[11], -1}},
       2,
       kvtest::Lines({"_APData.dat の内容が壊れているため使用できません。",
                      "レコード番号 2 : データが昇順に並んでいません。"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Files files = base;
    c.edit(files);
    TempDir dir;
    kvtest::WriteFiles(dir.path(), files);
    const auto report = RunReport(dir.path());
    EXPECT_EQ(report.status, c.status) << report.output;
    for (const std::string& label : kClasses) {
      const auto expected = c.problems.count(label) != 0 ? c.problems.at(label) : 0;
      EXPECT_EQ(ProblemCount(report.output, label), expected) << label;
    }
    EXPECT_NE(report.output.find(c.lines), std::string::npos) << report.output;
    EXPECT_EQ(report.files, files);  // nothing touched
  }
}

TEST(Report, TableOfTheBuildWrittenLastWithItsCheckpoint) {
  Files files = BaseFiles();
  files["_APData32.dat"] = kvtest::FreshTable<Width32>({2, 3, 5, 7, 11});
  // A checkpoint of the 64-bit table in which every line is finished.
  std::string half = files.at("_APData.dat").substr(0, 16 * 101);
  for (size_t at = 16 + 8; at < half.size(); at += 16) half.replace(at, 4, kvtest::LE<int32_t>(0));
  files["_HalfData.dat"] = half;
  TempDir dir;
  kvtest::WriteFiles(dir.path(), files);
  const auto later =
      std::filesystem::last_write_time(dir.path() / "_APData.dat") + std::chrono::hours(1);
  std::filesystem::last_write_time(dir.path() / "_APData32.dat", later);
  const auto with32 = RunReport(dir.path());
  EXPECT_NE(
      with32.output.find(kvtest::Lines(
          {"【データ】 _APData32.dat (32bit版)",
           "_APData.dat と _APData32.dat の内、最後に書き込まれた _APData32.dat を使用します。"})),
      std::string::npos)
      << with32.output;
  EXPECT_EQ(with32.status, 1);
  std::filesystem::last_write_time(dir.path() / "_APData.dat", later + std::chrono::hours(1));
  const auto with64 = RunReport(dir.path());
  EXPECT_EQ(with64.status, 0) << with64.output;
  EXPECT_NE(with64.output.find(kvtest::Lines({"中途データを反映しました。"})), std::string::npos);
  const std::string lines = with64.output.substr(with64.output.find("長さ3の探索: 完了 "));
  std::istringstream in(lines.substr(std::string("長さ3の探索: 完了 ").size()));
  int64_t finished = 0;
  in >> finished;
  EXPECT_GE(finished, 99);
}

TEST(Report, SievedListConfirmsTheEndsBeyondTheTable) {
  // A table that is not made of primes, with a sieved list that rules out everything above it.
  std::vector<uint64_t> values;
  for (uint64_t v = 1; values.size() < 400; v += 1 + (v * 7919) % 3) values.push_back(v);
  TempDir dir;
  kvtest::WriteFiles(dir.path(), {{"_SievedListData.dat", kvtest::LE<uint64_t>(values.back() + 1) +
                                                              kvtest::LE<uint64_t>(1 << 20)}});
  SearchRuns<Width64>(dir.path(), {values}, 4);
  const auto report = RunReport(dir.path());
  EXPECT_EQ(report.status, 0) << report.output;
  EXPECT_EQ(ProblemCount(report.output, kClasses[0]), -1);
  // A table of other numbers than primes: the list may leave out any prime.
  EXPECT_EQ(ProblemCount(report.output, kClasses[11]), -1);
  EXPECT_EQ(ProblemCount(report.output, kClasses[9]), 0);
  std::filesystem::remove(dir.path() / "_SievedListData.dat");
  const auto without = RunReport(dir.path());
  EXPECT_EQ(without.status, 1);
  EXPECT_GT(ProblemCount(without.output, kClasses[3]), 0);
}

// The rows of the two literature sections: by bound (0 the whole table, n below 10^n) and length,
// the count, the published value and the verdict; by length, the least last term ("-": none),
// the published value and the verdict.
struct LiteratureRows {
  std::map<std::pair<int, uint64_t>, std::vector<std::string>> counts;
  std::map<uint64_t, std::vector<std::string>> least;
};

LiteratureRows ReadLiterature(const std::string& output) {
  LiteratureRows rows;
  const auto lines = kvtest::SplitLines(output);
  auto at = std::find(lines.begin(), lines.end(),
                      "【長さ毎の全ての数列】 (長い数列の中の数列も数えます。完了した数列と"
                      "継続中の数列)");
  for (at += at == lines.end() ? 0 : 2; at < lines.end() && at->rfind("  ", 0) == 0; ++at) {
    std::istringstream in(*at);
    std::string bound;
    std::string unit;
    uint64_t k = 0;
    in >> bound;
    if (bound.rfind("10^", 0) == 0) in >> unit;
    in >> k;
    std::vector<std::string> rest;
    for (std::string word; in >> word;) rest.push_back(word);
    rows.counts[{bound.rfind("10^", 0) == 0 ? std::stoi(bound.substr(3)) : 0, k}] = rest;
  }
  at = std::find(lines.begin(), lines.end(),
                 "【長さ毎の最小の最終項と文献の値】 (長い数列の先頭部分を含みます)");
  for (at += at == lines.end() ? 0 : 2; at < lines.end() && at->rfind("  ", 0) == 0; ++at) {
    std::istringstream in(*at);
    uint64_t k = 0;
    in >> k;
    std::vector<std::string> rest;
    for (std::string word; in >> word;) rest.push_back(word);
    rows.least[k] = rest;
  }
  return rows;
}

// Every run of k terms in arithmetic progression in the table, found from every pair of first two
// terms; and the least last term per k.
void BruteForceRuns(const std::vector<uint64_t>& values, std::map<uint64_t, uint64_t>& counts,
                    std::map<uint64_t, uint64_t>& least) {
  const std::set<uint64_t> table(values.begin(), values.end());
  for (size_t i = 0; i < values.size(); ++i) {
    for (size_t j = i + 1; j < values.size(); ++j) {
      const uint64_t d = values[j] - values[i];
      uint64_t k = 2;
      for (uint64_t next = values[j] + d; table.count(next) != 0; next += d) {
        ++k;
        ++counts[k];
        const uint64_t last = values[i] + (k - 1) * d;
        least[k] = least.count(k) != 0 ? std::min(least[k], last) : last;
      }
    }
  }
}

// The counts as the published tables count them, against brute force on small tables and against
// the published values where the table holds every prime below 10^n; a mismatch there is a
// problem, elsewhere it is only unconfirmed.
TEST(Report, CountsEveryRunAsThePublishedTablesDo) {
  std::mt19937_64 rng(23);
  const auto primes = kvtest::PrimesBelow(100000);
  const std::vector<uint64_t> below4(primes.begin(), primes.begin() + 1229);
  std::vector<uint64_t> subset;
  for (uint64_t p : below4) {
    if (rng() % 3 != 0) subset.push_back(p);
  }
  std::vector<uint64_t> withoutOne = below4;
  withoutOne.erase(std::find(withoutOne.begin(), withoutOne.end(), 5003));
  std::vector<uint64_t> dense;
  for (uint64_t v = 1000; dense.size() < 300; v += 1 + rng() % 3) dense.push_back(v);
  struct Case {
    const char* name;
    std::vector<uint64_t> values;
    int32_t minSave;
    bool bruteForce;
    // Bound, length, count: the published values expected beside a match.
    std::vector<std::array<uint64_t, 3>> published;
    int complete;  // the largest n for which the table holds every prime below 10^n
    std::function<void(Files&)> edit = nullptr;
    int status = 0;
  };
  const std::vector<Case> cases = {
      {"prime subset", subset, 4, true, {}, 0},
      {"numbers that are not primes", dense, 5, true, {}, 0},
      {"primes below 10^4",
       below4,
       3,
       true,
       {{1, 3, 1},
        {2, 3, 46},
        {2, 4, 11},
        {3, 3, 1500},
        {3, 7, 1},
        {4, 3, 59504},
        {4, 4, 10257},
        {4, 5, 1283},
        {4, 6, 263},
        {4, 7, 32},
        {4, 8, 8}},
       4},
      {"one prime below 10^4 missing", withoutOne, 3, true, {{3, 3, 1500}, {3, 6, 14}}, 3},
      {"primes below 10^5",
       primes,
       6,
       false,
       {{3, 6, 14}, {4, 8, 8}, {5, 6, 7304}, {5, 7, 959}, {5, 8, 243}},
       5},
      {"primes below 10^4, the 8-term lines lost",
       below4,
       6,
       false,
       {{3, 6, 14}},
       4,
       [](Files& f) { f.erase("_L8_ResultData.txt"); },
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto cut = c.values.begin() + static_cast<long>(c.values.size() / 3);
    SearchRuns<Width64>(
        dir.path(),
        {std::vector<uint64_t>(c.values.begin(), cut), std::vector<uint64_t>(cut, c.values.end())},
        c.minSave);
    std::filesystem::remove(dir.path() / "new.txt");
    if (c.edit) {
      Files files = kvtest::ReadFiles(dir.path());
      c.edit(files);
      std::filesystem::remove_all(dir.path());
      std::filesystem::create_directory(dir.path());
      kvtest::WriteFiles(dir.path(), files);
    }
    const auto report = RunReport(dir.path());
    EXPECT_EQ(report.status, c.status) << report.output;
    const LiteratureRows rows = ReadLiterature(report.output);
    if (c.bruteForce) {
      std::map<uint64_t, uint64_t> counts;
      std::map<uint64_t, uint64_t> least;
      BruteForceRuns(c.values, counts, least);
      std::map<uint64_t, uint64_t> shownCounts;
      std::map<uint64_t, uint64_t> shownLeast;
      for (const auto& [key, row] : rows.counts) {
        if (key.first == 0) shownCounts[key.second] = std::stoull(row.at(0));
      }
      for (const auto& [k, row] : rows.least) shownLeast[k] = std::stoull(row.at(0));
      std::erase_if(counts, [&](const auto& e) { return e.first < uint64_t(c.minSave); });
      std::erase_if(least, [&](const auto& e) { return e.first < uint64_t(c.minSave); });
      EXPECT_EQ(shownCounts, counts);
      EXPECT_EQ(shownLeast, least);
    }
    int highest = 0;
    int64_t mismatches = 0;
    for (const auto& [key, row] : rows.counts) {
      highest = std::max(highest, key.first);
      EXPECT_EQ(row.size(), key.first > 0 ? 3u : 1u);
      mismatches += !row.empty() && row.back() == "不一致";
    }
    for (const auto& [k, row] : rows.least) mismatches += !row.empty() && row.back() == "不一致";
    EXPECT_EQ(highest, c.complete);
    for (const auto& [bound, k, count] : c.published) {
      const auto row = rows.counts.find({static_cast<int>(bound), k});
      ASSERT_NE(row, rows.counts.end()) << bound << " " << k;
      EXPECT_EQ(row->second,
                (std::vector<std::string>{std::to_string(count), std::to_string(count), "一致"}));
    }
    EXPECT_EQ(ProblemCount(report.output, "文献の値と一致しない数"),
              c.complete > 0 ? mismatches : -1);
    EXPECT_EQ(mismatches > 0, c.status == 1);
  }
}

#ifndef _WIN32
// The text between `<svg id="ID"` and its end, "" when the chart is not there.
std::string Chart(const std::string& dom, const std::string& id) {
  const size_t at = dom.find("<svg id=\"" + id + "\"");
  if (at == std::string::npos) return "";
  return dom.substr(at, dom.find("</svg>", at) - at);
}

size_t Marks(const std::string& chart, const std::string& x, const std::string& y) {
  const std::string mark = "data-x=\"" + x + "\" data-y=\"" + y + "\"";
  size_t n = 0;
  for (size_t at = chart.find(mark); at != std::string::npos; at = chart.find(mark, at + 1)) ++n;
  return n;
}

// The page as a person sees it: headless Chromium draws every chart with its data (read back from
// the page it dumps) and takes a screenshot that is not blank. A campaign log made by hand in the
// campaign's format, with a step whose times are not known and two lines that do not read.
TEST(Report, PageShowsEachChartInABrowser) {
  TempDir dir;
  const auto primes = kvtest::PrimesBelow(10000);
  SearchRuns<Width64>(dir.path(),
                      {std::vector<uint64_t>(primes.begin(), primes.begin() + 669),
                       std::vector<uint64_t>(primes.begin() + 669, primes.end())},
                      6);
  std::filesystem::remove(dir.path() / "new.txt");
  kvtest::WriteFiles(dir.path(),
                     {{"_CampaignLog.csv", kvtest::Lines({
                                               "ステップ,範囲開始,範囲終了,所要秒,CPU秒,発見,最長",
                                               "1,1,5000,1.5,2.9,L6:120 L7:19 L8:4,9",
                                               "2,5001,10000,,,L6:80 L7:5,9",
                                               "3,10001,15000,16.2,31.7,L6:3206 L7:572,10",
                                               // Lines that do not read.
                                               "4,15001,1000,1.0,1.0,,10",
                                               "5,15001,20000,2.0,2.0,L6:1 L6:2,10",
                                               "5,15001,20000,,2.0,,10",
                                               "5,15001,99999999999999999999,1.0,1.0,,10",
                                               "5,15001,20000,1.0,1.0,,10,0",
                                           }) + "6,20001,25000,2.5"}});
  const auto report =
      kvtest::RunExecutableIn(KV_REPORT_EXE, "", dir.path(), {"--html", "page.html"});
  EXPECT_EQ(report.exitCode, 0) << report.output;
  EXPECT_NE(
      report.output.find("_CampaignLog.csv の読み取れない行 6 行を飛ばしました (5, 6, 7, …行目)。"),
      std::string::npos)
      << report.output;
  const std::string chromium = "/usr/bin/chromium";
  if (!std::filesystem::exists(chromium)) {
    GTEST_SKIP() << "chromium is not installed (Debian package chromium): the page is not drawn";
  }

  TempDir browser;
  const std::string page = "file://" + (dir.path() / "page.html").string();
  auto run = [&](const std::vector<std::string>& what, const std::string& output) {
    std::vector<std::string> args = {
        "--headless",
        "--no-sandbox",
        "--disable-gpu",
        "--disable-quic",
        "--no-first-run",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        "--user-data-dir=" + (browser.path() / output).string() + ".profile"};
    args.insert(args.end(), what.begin(), what.end());
    args.push_back(page);
    return kvtest::RunProgramWithin(chromium, args, browser.path().string(),
                                    (browser.path() / output).string(),
                                    (browser.path() / "chromium.log").string(), 180);
  };
  ASSERT_EQ(run({"--dump-dom"}, "dom.html"), 0);
  std::string dom;
  ASSERT_TRUE(kv::ReadWholeFile((browser.path() / "dom.html").string(), dom));
  // The browser gives the page back in UTF-8: the labels were read as the page declares them.
  EXPECT_NE(dom.find(reinterpret_cast<const char*>(u8"<h2>長さ毎の数列数</h2>")),
            std::string::npos);
  const std::string lengths = Chart(dom, "chart-lengths");
  const std::string least = Chart(dom, "chart-least");
  const std::string counts = Chart(dom, "chart-counts");
  const std::string time = Chart(dom, "chart-time");
  const std::string finds = Chart(dom, "chart-finds");
  EXPECT_EQ(Marks(lengths, "8", "8"), 1u);  // every 8-term run below 10^4
  EXPECT_EQ(Marks(lengths, "6", "263"), 1u);
  EXPECT_EQ(Marks(least, "8", "1669"), 2u);  // found and published
  EXPECT_EQ(Marks(least, "6", "157"), 2u);
  EXPECT_EQ(Marks(counts, "10^4:7", "32"), 2u);
  EXPECT_EQ(Marks(counts, "10^3:6", "14"), 2u);
  EXPECT_EQ(Marks(time, "5000", "1.5"), 1u);
  EXPECT_EQ(Marks(time, "15000", "31.7"), 1u);
  EXPECT_EQ(time.find("data-x=\"10000\""), std::string::npos);  // times not known
  EXPECT_EQ(Marks(finds, "10000", "85"), 1u);
  EXPECT_EQ(Marks(finds, "15000", "3778"), 1u);

  ASSERT_EQ(
      run({"--screenshot=" + (browser.path() / "page.png").string(), "--window-size=900,2600"},
          "screenshot.txt"),
      0);
  std::string png;
  ASSERT_TRUE(kv::ReadWholeFile((browser.path() / "page.png").string(), png));
  // A blank page compresses to a few kilobytes of a few byte values.
  EXPECT_EQ(png.substr(1, 3), "PNG");
  EXPECT_GT(png.size(), 30000u);
  EXPECT_GT(std::set<char>(png.begin(), png.end()).size(), 200u);
}
#endif

TEST(Report, CommandLine) {
  TempDir dir;
  FakePlatform fake;
  int status = -1;
  auto run = [&](std::vector<std::string> args) {
    return kvtest::RunInDirectory([&] { status = RunReportProgram(args); }, fake, dir.path());
  };
  EXPECT_EQ(run({"--version"}).output, std::string("kvreport ") + KV_SUITE_VERSION + "\r\n");
  EXPECT_EQ(status, 0);
  const std::string help = run({"--help"}).output;
  EXPECT_EQ(status, 0);
  EXPECT_EQ(help.rfind("使い方: kvreport", 0), 0u);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--csv"}, {"a", "b"}, {"--csv", "x.csv", "--csv", "y.csv"}}) {
    const auto bad = run(args);
    EXPECT_EQ(status, 2);
    EXPECT_NE(bad.output.find(help), std::string::npos);
    EXPECT_TRUE(bad.files.empty());
  }
  // A directory that does not exist cannot be read.
  EXPECT_EQ(run({"missing-directory"}).exitCode, -1);
  EXPECT_EQ(status, 2);
}

TEST(Report, ExecutableReportsOnADirectoryGivenAsArgumentOrCurrent) {
  const Files base = BaseFiles();
  const auto real = kvtest::RunExecutable(KV_REPORT_EXE, "", base);
  EXPECT_EQ(real.exitCode, 0);
  TempDir parent;
  std::filesystem::create_directory(parent.path() / "data");
  kvtest::WriteFiles(parent.path() / "data", base);
  FakePlatform fake;
  int status = -1;
  const auto inProcess =
      kvtest::RunInDirectory([&] { status = RunReportProgram({"data"}); }, fake, parent.path());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(inProcess.output, real.output);
}

}  // namespace
}  // namespace kv
