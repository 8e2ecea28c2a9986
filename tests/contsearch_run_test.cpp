// Whole runs of the search program over a table that grows from run to run: the progressions
// that one run stores are decided by a later one, and the files at the end must be those of a
// single run over the final table, checked against a brute-force enumeration.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "tests/search_testing.h"

namespace kv {
namespace {

using kvtest::Files;
using kvtest::SplitLines;
using kvtest::StoredItem;

struct SieveRange {
  uint64_t start = 0;
  uint64_t end = 0;  // 0: no sieved list
};

template <typename W>
std::string SievedFile(const SieveRange& range, const std::set<uint64_t>& primes) {
  std::string bytes = kvtest::LE<typename W::Value>(static_cast<typename W::Value>(range.start)) +
                      kvtest::LE<typename W::Value>(static_cast<typename W::Value>(range.end));
  for (auto it = primes.lower_bound(range.start); it != primes.end() && *it <= range.end; ++it) {
    bytes += kvtest::LE<typename W::Value>(static_cast<typename W::Value>(*it));
  }
  return bytes;
}

std::string NumberFile(const std::vector<uint64_t>& values) {
  std::string text;
  for (const auto v : values) text += std::to_string(v) + "\r\n";
  return text;
}

// Runs the program once per chunk, each run adding its chunk, in one directory.
template <typename W>
Files RunGrowing(const std::vector<std::vector<uint64_t>>& chunks, int32_t minSave,
                 const Files& start, uint32_t tickStep) {
  kvtest::TempDir dir;
  kvtest::WriteFiles(dir.path(), start);
  for (const auto& chunk : chunks) {
    kvtest::WriteFiles(dir.path(), {{"add.txt", NumberFile(chunk)}});
    kvtest::FakePlatform fake;
    fake.tickStep = tickStep;
    fake.input = {"add.txt", std::to_string(minSave), ""};
    SearchState<W> s;
    const auto run = kvtest::RunInDirectory([&] { RunSearchProgram(s); }, fake, dir.path());
    // A first chunk of fewer than three numbers ends its run without a search.
    EXPECT_LE(run.exitCode, kNoWork);
  }
  return kvtest::ReadFiles(dir.path());
}

std::vector<std::string> SortedLines(const std::string& content) {
  auto lines = SplitLines(content);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Result lines as a multiset per length, stored progressions as a set held once each, and the
// inspection text as its lines.
void ExpectFilesOfEnumeration(const Files& files, const kvtest::Enumeration& expected) {
  const auto results = kvtest::ResultFiles(files);
  std::set<int32_t> lengths;
  for (const auto& [length, content] : results) lengths.insert(length);
  for (const auto& [length, content] : expected.resultFiles) lengths.insert(length);
  for (const int32_t length : lengths) {
    const auto got = results.find(length);
    const auto want = expected.resultFiles.find(length);
    ASSERT_TRUE(got != results.end() && want != expected.resultFiles.end()) << "length " << length;
    EXPECT_EQ(SortedLines(got->second), SortedLines(want->second)) << "length " << length;
    EXPECT_EQ(got->second.rfind("n=0,1, ... ,Len-1\r\n", 0), 0u);
  }
  const auto store = files.find("_ContData.dat");
  auto stored = kvtest::DecodeStore(store == files.end() ? "" : store->second);
  std::sort(stored.begin(), stored.end());
  auto wanted = expected.stored;
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(stored, wanted);
  const auto insp = files.find("_ContData_insp.txt");
  if (wanted.empty()) return;
  ASSERT_NE(insp, files.end());
  EXPECT_EQ(SortedLines(insp->second), SortedLines(expected.inspection));
  EXPECT_EQ(files.count("__TEMP___ContData_txt.dat"), 0u);
}

template <typename W>
void GrowingRunsMatchOneRun(const std::vector<uint64_t>& values, const std::vector<size_t>& cuts,
                            int32_t minSave, const SieveRange& range, uint32_t tickStep) {
  SCOPED_TRACE("N=" + std::to_string(values.size()) + " bits=" + std::to_string(W::kBits) +
               " sieve=" + std::to_string(range.end) + " minSave=" + std::to_string(minSave));
  const auto allPrimes = kvtest::PrimesBelow(range.end + 1);
  const std::set<uint64_t> primes(allPrimes.begin(), allPrimes.end());
  Files start;
  std::function<bool(uint64_t)> ruledOut;
  if (range.end != 0) {
    start[W::kSievedFile] = SievedFile<W>(range, primes);
    ruledOut = [&](uint64_t v) { return v >= range.start && v <= range.end && !primes.count(v); };
  }
  const auto expected = kvtest::Enumerate(values, minSave, ruledOut);

  std::vector<std::vector<uint64_t>> chunks;
  size_t done = 0;
  for (const size_t cut : cuts) {
    chunks.emplace_back(values.begin() + static_cast<long>(done),
                        values.begin() + static_cast<long>(cut));
    done = cut;
  }
  {
    SCOPED_TRACE("growing");
    ExpectFilesOfEnumeration(RunGrowing<W>(chunks, minSave, start, tickStep), expected);
  }
  {
    SCOPED_TRACE("single");
    ExpectFilesOfEnumeration(RunGrowing<W>({values}, minSave, start, tickStep), expected);
  }
}

TEST(GrowingSearch, ManyRunsEndLikeOneRunOverTheFinalTable) {
  const auto primes = kvtest::PrimesBelow(2500);
  const std::vector<size_t> cuts = {2, 4, 30, 31, 120, 250, primes.size()};
  GrowingRunsMatchOneRun<Width64>(primes, cuts, 3, {}, 0);
  GrowingRunsMatchOneRun<Width32>(primes, cuts, 4, {}, 700);
  // The sieved list reaches past the final table, so it rules out values in every run.
  GrowingRunsMatchOneRun<Width64>(primes, cuts, 3, {1000, 4000}, 700);
  GrowingRunsMatchOneRun<Width32>(primes, cuts, 3, {1000, 4000}, 0);

  std::mt19937_64 rng(7);
  for (int round = 0; round < 3; ++round) {
    std::vector<uint64_t> subset;
    std::bernoulli_distribution keep(0.6);
    for (const auto p : primes) {
      if (keep(rng)) subset.push_back(p);
    }
    std::uniform_int_distribution<size_t> at(1, subset.size() - 1);
    std::vector<size_t> randomCuts = {at(rng), at(rng), at(rng)};
    std::sort(randomCuts.begin(), randomCuts.end());
    randomCuts.push_back(subset.size());
    GrowingRunsMatchOneRun<Width64>(subset, randomCuts, 3 + round, {500, 3000}, 900);
  }
}

}  // namespace
}  // namespace kv
