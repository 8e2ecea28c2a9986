// The fast engines of the length-3 search against the reference engine: over tables grown in
// several runs, dense and sparse, with and without a sieved list, on one and several threads,
// every file, every console byte and every cursor must come out the same.
#include <gtest/gtest.h>

#include <random>

#include "tests/search_testing.h"

namespace kv {
namespace {

using kvtest::AppendValues;
using kvtest::FakePlatform;
using kvtest::TempDir;

struct Engine {
  bool reference;
  unsigned threads;
};

template <typename W>
struct EngineRun {
  SearchState<W> state;
  TempDir dir;
  FakePlatform fake;
};

template <typename W>
void ExpectSameAsReference(const std::vector<std::vector<uint64_t>>& batches, int32_t minSave,
                           const std::vector<uint64_t>& sieved, uint32_t tickStep,
                           bool prune = false) {
  const Engine engines[] = {{true, 1}, {false, 1}, {false, 3}};
  std::vector<std::unique_ptr<EngineRun<W>>> runs;
  for (const Engine& e : engines) {
    auto run = std::make_unique<EngineRun<W>>();
    run->state.testing.referenceEngine = e.reference;
    run->state.threadCount = e.threads;
    run->state.minSaveLength = minSave;
    run->state.prune = prune;
    // Small limits make the fast engines flush between displays.
    run->state.testing.heldPendingLimit = 7;
    run->state.testing.heldResultBytesLimit = 300;
    // Ticks from the test's own clock: progress lines and checkpoints fall on the same lines in
    // every engine however long a run takes (1 ms a reading shows none in short runs).
    run->fake.tickStep = tickStep == 0 ? 1 : tickStep;
    runs.push_back(std::move(run));
  }
  for (size_t b = 0; b < batches.size(); ++b) {
    std::vector<kvtest::RunResult> results;
    for (auto& run : runs) {
      std::vector<typename W::Value> values;
      for (uint64_t x : batches[b]) values.push_back(static_cast<typename W::Value>(x));
      AppendValues(run->state, values);
      run->state.sieved.entries.clear();
      for (uint64_t x : sieved)
        run->state.sieved.entries.push_back(static_cast<typename W::Value>(x));
      run->state.sieved.count = static_cast<uint32_t>(sieved.size());
      results.push_back(kvtest::RunLen3In(run->state, run->fake, run->dir.path()));
    }
    for (size_t k = 1; k < runs.size(); ++k) {
      SCOPED_TRACE("engine " + std::to_string(k) + ", run " + std::to_string(b));
      EXPECT_EQ(results[k].output, results[0].output);
      EXPECT_EQ(results[k].files, results[0].files);
      const auto& want = runs[0]->state.table.records;
      const auto& got = runs[k]->state.table.records;
      ASSERT_EQ(got.size(), want.size());
      for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(got[i].lowerCursor, want[i].lowerCursor) << "record " << i;
        ASSERT_EQ(got[i].upperCursor, want[i].upperCursor) << "record " << i;
      }
    }
  }
}

// Splits ascending values into batches, each a run's new numbers.
std::vector<std::vector<uint64_t>> Batches(const std::vector<uint64_t>& values, size_t count,
                                           std::mt19937_64& rng) {
  std::vector<size_t> cuts;
  for (size_t k = 1; k < count; ++k) cuts.push_back(rng() % values.size());
  std::sort(cuts.begin(), cuts.end());
  cuts.push_back(values.size());
  std::vector<std::vector<uint64_t>> batches;
  size_t from = 0;
  for (size_t cut : cuts) {
    if (cut <= from) continue;
    batches.emplace_back(values.begin() + static_cast<std::ptrdiff_t>(from),
                         values.begin() + static_cast<std::ptrdiff_t>(cut));
    from = cut;
  }
  // The first run needs three numbers.
  while (batches.size() > 1 && batches[0].size() < 3) {
    batches[1].insert(batches[1].begin(), batches[0].begin(), batches[0].end());
    batches.erase(batches.begin());
  }
  return batches;
}

// The sieved list of a range above the table: the listed candidates are the values in it
// that `keep` accepts.
std::vector<uint64_t> SievedAbove(uint64_t from, uint64_t to, const std::vector<uint64_t>& keep) {
  std::vector<uint64_t> list{from, to};
  for (uint64_t x : keep) {
    if (x >= from && x <= to) list.push_back(x);
  }
  return list;
}

TEST(Engines, DensePrimesGrownOverRuns) {
  std::mt19937_64 rng(1);
  const auto primes = kvtest::PrimesBelow(30000);
  std::vector<uint64_t> table(primes.begin(), primes.begin() + 2500);
  for (int round = 0; round < 3; ++round) {
    const auto batches = Batches(table, 1 + static_cast<size_t>(round) * 2, rng);
    const auto sieved =
        round == 1 ? SievedAbove(table.back() + 1, 30000, primes) : std::vector<uint64_t>{};
    ExpectSameAsReference<Width64>(batches, 4 + round, sieved, 400);
    ExpectSameAsReference<Width32>(batches, 3, sieved, 0);
    if (round == 1) {
      ExpectSameAsReference<Width32>(batches, 6, sieved, 0, true);
      ExpectSameAsReference<Width64>(batches, 9, sieved, 0, true);
      // A list of primes far enough above the whole table that no term of the first seven of a
      // progression is left open for want of it.
      const auto wide = SievedAbove(table.back() + 1, 4 * table.back(),
                                    kvtest::PrimesBelow(4 * table.back() + 1));
      for (int32_t minSave : {5, 7, 11}) {
        ExpectSameAsReference<Width64>(batches, minSave, wide, 0, true);
      }
      ExpectSameAsReference<Width32>(batches, 6, wide, 0, true);
      // A few odd multiples of 3, 5 and 7 in the table, as middle terms too.
      std::vector<uint64_t> mixed = table;
      mixed.insert(mixed.end(), {9, 15, 21, 25, 27, 35, 45, 49, 63});
      std::sort(mixed.begin(), mixed.end());
      ExpectSameAsReference<Width64>(Batches(mixed, 3, rng), 7, wide, 0, true);
    }
  }
}

TEST(Engines, RandomDenseAndSparseTables) {
  std::mt19937_64 rng(2);
  for (int round = 0; round < 12; ++round) {
    const bool sparse = round % 3 == 2;
    const uint64_t limit = sparse ? (round % 2 == 0 ? Width64::kLimit : Width32::kLimit) : 4000;
    std::set<uint64_t> chosen;
    const size_t want = 200 + rng() % 600;
    while (chosen.size() < want) {
      if (sparse && chosen.size() > 10 && rng() % 3 == 0) {
        // Equally spaced runs make long progressions in a sparse table too.
        const uint64_t a = rng() % (limit / 4);
        const uint64_t d = 1 + rng() % (limit / 64);
        for (uint64_t k = 0; k < 12; ++k) chosen.insert(a + k * d);
      } else {
        chosen.insert(rng() % limit);
      }
    }
    const std::vector<uint64_t> values(chosen.begin(), chosen.end());
    const auto batches = Batches(values, 1 + rng() % 4, rng);
    std::vector<uint64_t> sieved;
    if (round % 2 == 1 && !sparse) {
      std::vector<uint64_t> keep;
      for (uint64_t x = values.back() + 1; x < values.back() + 3000; ++x) {
        if (rng() % 3 == 0) keep.push_back(x);
      }
      sieved = SievedAbove(values.back() - 100, values.back() + 3000, keep);
    }
    const int32_t minSave = 3 + static_cast<int32_t>(rng() % 3);
    if (limit > Width32::kLimit) {
      ExpectSameAsReference<Width64>(batches, minSave, sieved, 700);
    } else {
      ExpectSameAsReference<Width32>(batches, minSave, sieved, 700);
      ExpectSameAsReference<Width64>(batches, minSave, sieved, 0);
    }
  }
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Whole runs of the program over a table grown run by run, so that each run's continuation
// search re-examines what the earlier ones stored: every engine and thread count leaves the
// same console bytes and the same files.
template <typename W>
void ExpectSameWholeRuns(const std::vector<std::vector<uint64_t>>& batches, int32_t minSave,
                         const std::string& sieved) {
  const Engine engines[] = {{true, 1}, {false, 1}, {false, 4}};
  std::vector<std::unique_ptr<TempDir>> dirs;
  for (size_t k = 0; k < std::size(engines); ++k) dirs.push_back(std::make_unique<TempDir>());
  for (size_t b = 0; b < batches.size(); ++b) {
    std::string numbers;
    for (uint64_t x : batches[b]) numbers += std::to_string(x) + "\r\n";
    std::vector<kvtest::RunResult> results;
    for (size_t k = 0; k < std::size(engines); ++k) {
      kvtest::Files files{{"new.txt", numbers}};
      if (b == 0 && !sieved.empty()) files[W::kSievedFile] = sieved;
      kvtest::WriteFiles(dirs[k]->path(), files);
      FakePlatform fake;
      fake.tickStep = 300;
      fake.input = {"new.txt", std::to_string(minSave), ""};
      SearchState<W> state;
      state.testing.referenceEngine = engines[k].reference;
      state.threadCount = engines[k].threads;
      state.testing.heldPendingLimit = 5 + static_cast<int32_t>(b);
      results.push_back(
          kvtest::RunInDirectory([&state] { RunSearchProgram(state); }, fake, dirs[k]->path()));
    }
    for (size_t k = 1; k < results.size(); ++k) {
      SCOPED_TRACE("engine " + std::to_string(k) + ", run " + std::to_string(b));
      EXPECT_EQ(results[k].exitCode, 0);
      EXPECT_EQ(results[k].output, results[0].output);
      EXPECT_EQ(results[k].files, results[0].files);
    }
  }
}

TEST(Engines, WholeRunsWithContinuationSearches) {
  std::mt19937_64 rng(5);
  const auto primes = kvtest::PrimesBelow(20000);
  for (int round = 0; round < 3; ++round) {
    const auto batches = Batches(primes, 3 + static_cast<size_t>(round), rng);
    std::string sieved;
    if (round == 1) {
      sieved = kvtest::LE<uint64_t>(5000) + kvtest::LE<uint64_t>(30000);
      for (uint64_t p : kvtest::PrimesBelow(30001)) {
        if (p >= 5000 && rng() % 2 == 0) sieved += kvtest::LE<uint64_t>(p);
      }
    }
    ExpectSameWholeRuns<Width64>(batches, 3 + round, sieved);
  }
  std::vector<uint64_t> sparse;
  for (uint64_t k = 0; k < 600; ++k) sparse.push_back(k * 3571 + (k % 7) * 11 + 1);
  ExpectSameWholeRuns<Width32>(Batches(sparse, 4, rng), 3, "");
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Pruned and unpruned whole runs over a table grown run by run, each run given the sieved list of
// the numbers that the later runs add (as a sound sieve would give it): the result files are the
// same byte for byte, the pruned store holds a subsequence of the unpruned store's items, and
// the result lines are those of the brute-force enumeration of the final table.
template <typename W>
void ExpectPruningKeepsTheResults(const std::vector<std::vector<uint64_t>>& batches,
                                  int32_t minSave, const Engine& engine) {
  TempDir dirs[2];
  std::vector<uint64_t> all;
  for (size_t b = 0; b < batches.size(); ++b) {
    all.insert(all.end(), batches[b].begin(), batches[b].end());
    std::string numbers;
    for (uint64_t x : batches[b]) numbers += std::to_string(x) + "\r\n";
    std::string list;
    if (b + 1 < batches.size()) {
      list = kvtest::LE<typename W::Value>(static_cast<typename W::Value>(all.back() + 1)) +
             kvtest::LE<typename W::Value>(static_cast<typename W::Value>(batches.back().back()));
      for (size_t later = b + 1; later < batches.size(); ++later) {
        for (uint64_t x : batches[later]) list += kvtest::LE(static_cast<typename W::Value>(x));
      }
    }
    kvtest::Files files[2];
    for (int pruned = 0; pruned < 2; ++pruned) {
      kvtest::WriteFiles(dirs[pruned].path(), {{"new.txt", numbers}, {W::kSievedFile, list}});
      FakePlatform fake;
      fake.tickStep = 300;
      fake.input = {"new.txt", std::to_string(minSave), ""};
      SearchState<W> state;
      state.testing.referenceEngine = engine.reference;
      state.threadCount = engine.threads;
      state.testing.heldPendingLimit = 5 + static_cast<int32_t>(b);
      state.prune = pruned == 1;
      const auto run =
          kvtest::RunInDirectory([&state] { RunSearchProgram(state); }, fake, dirs[pruned].path());
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_EQ(run.output.find("以上になり得る数列のみ保存します。") != std::string::npos,
                pruned == 1);
      files[pruned] = run.files;
    }
    SCOPED_TRACE("run " + std::to_string(b));
    const auto results = kvtest::ResultFiles(files[0]);
    EXPECT_EQ(kvtest::ResultFiles(files[1]), results);
    const auto plain = kvtest::DecodeStore(files[0]["_ContData.dat"]);
    const auto kept = kvtest::DecodeStore(files[1]["_ContData.dat"]);
    size_t at = 0;
    for (const auto& item : kept) {
      while (at < plain.size() && !(plain[at] == item)) ++at;
      ASSERT_LT(at++, plain.size()) << "stored item not in the unpruned store";
    }
    if (b + 1 < batches.size()) {
      EXPECT_LT(kept.size(), plain.size());
      continue;
    }
    std::multiset<std::string> lines;
    std::multiset<std::string> expected;
    for (const auto& [length, content] : results) {
      for (const auto& line : kvtest::SplitLines(content)) lines.insert(line);
    }
    for (const auto& [length, content] : kvtest::Enumerate(all, minSave).resultFiles) {
      for (const auto& line : kvtest::SplitLines(content)) expected.insert(line);
    }
    EXPECT_EQ(lines, expected);
  }
}

TEST(Engines, PrunedStoreKeepsEveryResult) {
  std::mt19937_64 rng(8);
  const auto primes = kvtest::PrimesBelow(20000);
  const Engine engines[] = {{true, 1}, {false, 1}, {false, 3}};
  for (int round = 0; round < 3; ++round) {
    const auto batches = Batches(primes, 3 + static_cast<size_t>(round), rng);
    ExpectPruningKeepsTheResults<Width64>(batches, 5 + round, engines[round]);
    ExpectPruningKeepsTheResults<Width32>(batches, 6, engines[2 - round]);
  }
}

}  // namespace
}  // namespace kv
