// The length-3 search and the extension of progressions checked against a brute-force
// enumeration: dense tables of primes, sparse tables near the value limit, both widths, with and
// without progress displays, and tables that grow over several runs.
#include <gtest/gtest.h>

#include "tests/search_testing.h"

namespace kv {
namespace {

using kvtest::DecodeStore;
using kvtest::Enumerate;
using kvtest::FakePlatform;
using kvtest::StoredItem;
using kvtest::TempDir;

template <typename W>
std::vector<typename W::Value> Narrow(const std::vector<uint64_t>& values) {
  std::vector<typename W::Value> out;
  for (const auto v : values) out.push_back(static_cast<typename W::Value>(v));
  return out;
}

// Runs one first search over `values` and compares every file it writes with the enumeration.
// `sieved` is a sieved list (range start, range end, candidates) or empty.
template <typename W>
void ExpectFirstRunMatches(const std::vector<uint64_t>& values, int32_t minSave, uint32_t tickStep,
                           const std::string& label, const std::vector<uint64_t>& sieved = {},
                           bool prune = false) {
  SCOPED_TRACE(label + " minSave=" + std::to_string(minSave) +
               " N=" + std::to_string(values.size()) + " bits=" + std::to_string(W::kBits) +
               (prune ? " pruned" : ""));
  auto s = kvtest::MakeState<W>(Narrow<W>(values), minSave);
  s.prune = prune;
  s.sieved.entries = Narrow<W>(sieved);
  s.sieved.count = static_cast<uint32_t>(sieved.size());
  FakePlatform fake;
  fake.tickStep = tickStep;
  TempDir dir;
  const auto run = kvtest::RunLen3In(s, fake, dir.path());
  EXPECT_EQ(run.exitCode, -1) << run.output;
  const std::set<uint64_t> candidates(sieved.size() > 2 ? sieved.begin() + 2 : sieved.end(),
                                      sieved.end());
  const auto expected = Enumerate(
      values, minSave,
      [&](uint64_t next) {
        return sieved.size() >= 2 && next >= sieved[0] && next <= sieved[1] &&
               candidates.count(next) == 0;
      },
      SIZE_MAX, prune);

  EXPECT_EQ(kvtest::ResultFiles(run.files), expected.resultFiles);
  const auto store = run.files.find("_ContData.dat");
  const auto insp = run.files.find("_ContData_insp.txt");
  if (expected.stored.empty()) {
    EXPECT_EQ(store, run.files.end());
    EXPECT_EQ(insp, run.files.end());
  } else {
    ASSERT_NE(store, run.files.end());
    int32_t header[3] = {};
    EXPECT_EQ(DecodeStore(store->second, header), expected.stored);
    EXPECT_EQ(header[0], -20);
    EXPECT_EQ(header[1], static_cast<int32_t>(values.size()) + 1);
    EXPECT_EQ(header[2], 0);
    ASSERT_NE(insp, run.files.end());
    EXPECT_EQ(insp->second, expected.inspection);
  }
  // Every line at or below the midpoint is finished for good.
  const auto mid = (values.front() + values.back()) / 2;
  for (size_t i = 2; i < values.size(); ++i) {
    if (values[i - 1] <= mid) {
      EXPECT_EQ(s.table.records[i].lowerCursor, 0) << "line " << i;
    }
  }
}

std::vector<uint64_t> RandomSubset(const std::vector<uint64_t>& from, double keep,
                                   std::mt19937_64& rng) {
  std::bernoulli_distribution pick(keep);
  std::vector<uint64_t> out;
  for (const auto v : from) {
    if (pick(rng)) out.push_back(v);
  }
  return out;
}

// Values limit - k * step for a random set of k: progressions abound and every sum of two values
// comes close to the top of the width.
std::vector<uint64_t> NearLimit(uint64_t limit, uint64_t step, int count, double keep,
                                std::mt19937_64& rng) {
  std::bernoulli_distribution pick(keep);
  std::vector<uint64_t> out;
  for (int k = count; k >= 0; --k) {
    if (pick(rng)) out.push_back(limit - static_cast<uint64_t>(k) * step);
  }
  return out;
}

template <typename W>
void FirstRunsMatchEnumeration(uint32_t tickStep) {
  std::mt19937_64 rng(12345 + W::kBits + tickStep);
  const auto primes = kvtest::PrimesBelow(3000);
  ExpectFirstRunMatches<W>(primes, 3, tickStep, "primes");
  ExpectFirstRunMatches<W>(primes, 5, tickStep, "primes");
  ExpectFirstRunMatches<W>({3, 5, 7}, 3, tickStep, "three");
  for (int round = 0; round < 6; ++round) {
    const auto subset = RandomSubset(primes, 0.3 + 0.1 * round, rng);
    if (subset.size() < 3) continue;
    ExpectFirstRunMatches<W>(subset, 3 + round % 3, tickStep, "prime subset");
    const auto sparse =
        NearLimit(W::kLimit, W::kLimit / 300 - static_cast<unsigned>(round), 299, 0.5, rng);
    ExpectFirstRunMatches<W>(sparse, 3 + round % 2, tickStep, "near limit");
    const auto dense =
        RandomSubset(std::vector<uint64_t>(primes.begin(), primes.begin() + 60), 0.8, rng);
    ExpectFirstRunMatches<W>(dense, 3, tickStep, "small dense");
  }
}

// A sieved list over a range above the table finishes the progressions whose next term it
// rules out.
template <typename W>
void SievedListsMatchEnumeration() {
  std::mt19937_64 rng(777 + W::kBits);
  const auto primes = kvtest::PrimesBelow(6000);
  for (const size_t split : {400u, 600u, 700u}) {
    const std::vector<uint64_t> table(primes.begin(), primes.begin() + static_cast<long>(split));
    std::vector<uint64_t> sieved = {table.back() + 1, table.back() + 1500};
    for (size_t k = split; k < primes.size() && primes[k] <= sieved[1]; ++k) {
      sieved.push_back(primes[k]);
    }
    ExpectFirstRunMatches<W>(table, 3, 0, "sieved primes", sieved);
    ExpectFirstRunMatches<W>(table, 5, 0, "sieved primes", sieved, true);
    // Candidates that are not all primes, and a range that begins well above the table.
    std::vector<uint64_t> loose = {table.back() + 200, table.back() + 3000};
    for (uint64_t v = loose[0]; v <= loose[1]; v += 2) {
      if (rng() % 3 == 0) loose.push_back(v);
    }
    ExpectFirstRunMatches<W>(table, 4, 0, "loose sieved list", loose);
    ExpectFirstRunMatches<W>(table, 4 + static_cast<int32_t>(split % 3), 0, "loose sieved list",
                             loose, true);
  }
}

TEST(SearchOracle, SievedListFinishesTheProgressionsItRulesOut) {
  SievedListsMatchEnumeration<Width64>();
  SievedListsMatchEnumeration<Width32>();
}

TEST(SearchOracle, FirstRunWritesExactlyTheEnumeratedFiles64) {
  FirstRunsMatchEnumeration<Width64>(0);
}
TEST(SearchOracle, FirstRunWritesExactlyTheEnumeratedFiles32) {
  FirstRunsMatchEnumeration<Width32>(0);
}

// Displays every few lines split the store into many batches and the result lines into many
// appends; the files must not change.
TEST(SearchOracle, ProgressDisplaysDoNotChangeTheFiles) {
  FirstRunsMatchEnumeration<Width64>(1000);
  FirstRunsMatchEnumeration<Width32>(700);
}

// Grows a table over several runs (numbers appended above the largest, cursors carried in the
// table) and checks that each three-term progression of the final table is handed off exactly
// once over all runs, and that the cursors end where one search of the final table leaves them.
template <typename W>
void GrowingTableHandsOffEachProgressionOnce(const std::vector<uint64_t>& values,
                                             const std::vector<size_t>& cuts, uint32_t tickStep) {
  SCOPED_TRACE("N=" + std::to_string(values.size()) + " bits=" + std::to_string(W::kBits));
  kv::SearchState<W> grown;
  grown.minSaveLength = 3;
  TempDir dir;
  FakePlatform fake;
  fake.tickStep = tickStep;
  size_t done = 0;
  std::multiset<StoredItem> handedOff;
  for (size_t cut : cuts) {
    cut = std::min(cut, values.size());
    if (cut <= done) continue;
    std::vector<uint64_t> chunk(values.begin() + static_cast<long>(done),
                                values.begin() + static_cast<long>(cut));
    done = cut;
    kvtest::AppendValues(grown, Narrow<W>(chunk));
    if (grown.table.DataCount() < 3) continue;
    const auto run = kvtest::RunLen3In(grown, fake, dir.path());
    ASSERT_EQ(run.exitCode, -1) << run.output;
  }
  // Each finished progression is a result line (minimum length 3); each open one is stored.
  std::map<uint64_t, int32_t> index;
  for (size_t k = 0; k < values.size(); ++k) index[values[k]] = static_cast<int32_t>(k + 1);
  const auto files = kvtest::ReadFiles(dir.path());
  const auto expected = Enumerate(values, 3);
  std::map<StoredItem, int32_t> lengthOf;
  for (const auto& p : expected.found) lengthOf[{p.first, p.second}] = p.length;
  for (const auto& [length, content] : kvtest::ResultFiles(files)) {
    for (const auto& line : kvtest::SplitLines(content)) {
      if (line.rfind("Len ", 0) != 0) continue;
      uint64_t a = 0;
      uint64_t d = 0;
      int32_t len = 0;
      ASSERT_TRUE(kvtest::ParseResultLine(line, len, a, d)) << line;
      EXPECT_EQ(len, length);
      const StoredItem item{index.at(a), index.at(a + d)};
      handedOff.insert(item);
      // A progression that ends inside the data keeps its length however the table grows.
      EXPECT_EQ(lengthOf.at(item), len) << line;
    }
  }
  for (const auto& item :
       DecodeStore(files.count("_ContData.dat") ? files.at("_ContData.dat") : ""))
    handedOff.insert(item);
  std::multiset<StoredItem> all;
  for (const auto& p : expected.found) all.insert({p.first, p.second});
  EXPECT_EQ(handedOff, all);

  auto single = kvtest::MakeState<W>(Narrow<W>(values), 3);
  TempDir other;
  FakePlatform quiet;
  kvtest::RunLen3In(single, quiet, other.path());
  for (size_t i = 2; i < values.size(); ++i) {
    const auto& a = grown.table.records[i];
    const auto& b = single.table.records[i];
    EXPECT_EQ(a.lowerCursor, b.lowerCursor) << "line " << i;
    if (b.lowerCursor != 0) {
      EXPECT_EQ(a.upperCursor, b.upperCursor) << "line " << i;
    }
  }
}

TEST(SearchOracle, GrowingTableHandsOffEachProgressionOnce) {
  std::mt19937_64 rng(99);
  const auto primes = kvtest::PrimesBelow(4000);
  const std::vector<size_t> cuts = {5, 6, 40, 41, 200, 300, primes.size()};
  GrowingTableHandsOffEachProgressionOnce<Width64>(primes, cuts, 0);
  GrowingTableHandsOffEachProgressionOnce<Width32>(primes, cuts, 1000);
  for (int round = 0; round < 4; ++round) {
    const auto subset = RandomSubset(primes, 0.5, rng);
    std::vector<size_t> randomCuts;
    std::uniform_int_distribution<size_t> at(1, subset.size());
    for (int k = 0; k < 5; ++k) randomCuts.push_back(at(rng));
    std::sort(randomCuts.begin(), randomCuts.end());
    randomCuts.push_back(subset.size());
    GrowingTableHandsOffEachProgressionOnce<Width64>(subset, randomCuts, round % 2 ? 1000 : 0);
    const auto sparse = NearLimit(Width32::kLimit, 7000001, 300, 0.6, rng);
    GrowingTableHandsOffEachProgressionOnce<Width32>(sparse, {50, 51, 150, sparse.size()}, 0);
  }
}

}  // namespace
}  // namespace kv
