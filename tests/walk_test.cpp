// The dense engine of a line's walk against the plain walk: the same progressions in the same
// order and the same cursors, from every valid cursor state, on random and structured tables.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "search/engine/densewalker.h"
#include "search/engine/referencewalk.h"
#include "search/engine/valuebitmap.h"

namespace kv {
namespace {

template <typename W>
std::vector<TableRecord<W>> MakeTable(const std::vector<uint64_t>& values) {
  std::vector<TableRecord<W>> r(values.size() + 1);
  r[0] = {static_cast<typename W::Value>(values.back()), static_cast<int32_t>(values.size()), 0};
  for (size_t k = 0; k < values.size(); ++k) {
    r[k + 1] = {static_cast<typename W::Value>(values[k]), 0, 0};
  }
  return r;
}

using Found = std::vector<std::tuple<int32_t, int32_t, uint64_t>>;

// Compares both engines on every line from every cursor state (or a sample of them).
template <typename W>
void CompareEngines(const std::vector<uint64_t>& values, std::mt19937_64& rng, int samples) {
  const auto r = MakeTable<W>(values);
  const auto n = static_cast<int32_t>(values.size());
  ASSERT_TRUE(ValueBitmap<W>::Suits(r.data(), n));
  const ValueBitmap<W> bitmap(r.data(), n);
  const DenseWalker<W> dense(r.data(), n, bitmap);
  const uint64_t midpoint = (values.front() + values.back()) >> 1;
  for (int32_t i = 2; i <= n - 1; ++i) {
    const uint64_t m = values[static_cast<size_t>(i - 1)];
    for (int sample = 0; sample < samples; ++sample) {
      int32_t lo = i - 1;
      int32_t hi = i + 1;
      if (sample > 0) {
        lo = static_cast<int32_t>(rng() % static_cast<uint64_t>(i - 1)) + 1;
        hi = i + 1 + static_cast<int32_t>(rng() % static_cast<uint64_t>(n - i + 1));
      }
      int32_t refLo = lo, refHi = hi, fastLo = lo, fastHi = hi;
      Found ref, fast;
      auto refSink = [&](int32_t a, int32_t b, typename W::Value d) {
        ref.emplace_back(a, b, static_cast<uint64_t>(d));
      };
      auto fastSink = [&](typename W::Value d) {
        const uint64_t dd = static_cast<uint64_t>(d);
        fast.emplace_back(bitmap.IndexOf(m - dd), bitmap.IndexOf(m + dd), dd);
      };
      if (m <= midpoint) {
        const bool refCheck = ReferenceLowerLine<W>(r.data(), n, i, refLo, refHi, refSink);
        const bool fastCheck = dense.LowerLine(i, fastLo, fastHi, fastSink);
        ASSERT_EQ(refCheck, fastCheck) << "line " << i;
      } else {
        ReferenceUpperLine<W>(r.data(), n, i, refLo, refHi, refSink);
        dense.UpperLine(i, fastLo, fastHi, fastSink);
      }
      ASSERT_EQ(ref, fast) << "line " << i << " from " << lo << "," << hi;
      // Handing off only the progressions with a fourth term (or one beyond the table).
      Found longer;
      for (const auto& found : ref) {
        const uint64_t fourth = m + 2 * std::get<2>(found);
        if (fourth > values.back() || bitmap.Contains(fourth)) longer.push_back(found);
      }
      DenseWalker<W> filtering(r.data(), n, bitmap);
      filtering.HandOffOnlyLonger(true);
      fast.clear();
      int32_t filteredLo = lo, filteredHi = hi;
      if (m <= midpoint) {
        filtering.LowerLine(i, filteredLo, filteredHi, fastSink);
      } else {
        filtering.UpperLine(i, filteredLo, filteredHi, fastSink);
      }
      ASSERT_EQ(longer, fast) << "line " << i << " from " << lo << "," << hi;
      ASSERT_EQ(filteredLo, refLo);
      ASSERT_EQ(filteredHi, refHi);
      ASSERT_EQ(refLo, fastLo) << "line " << i << " from " << lo << "," << hi;
      ASSERT_EQ(refHi, fastHi) << "line " << i << " from " << lo << "," << hi;
    }
  }
}

std::vector<uint64_t> Primes(uint64_t below) {
  std::vector<bool> composite(below, false);
  std::vector<uint64_t> p;
  for (uint64_t k = 2; k < below; ++k) {
    if (composite[k]) continue;
    p.push_back(k);
    for (uint64_t j = k * k; j < below; j += k) composite[j] = true;
  }
  return p;
}

TEST(DenseWalk, MatchesThePlainWalkOnPrimes) {
  std::mt19937_64 rng(7);
  CompareEngines<Width64>(Primes(3000), rng, 4);
  CompareEngines<Width32>(Primes(1000), rng, 4);
}

TEST(DenseWalk, MatchesThePlainWalkOnRandomDenseTables) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 300; ++round) {
    const uint64_t span = 8 + rng() % 300;
    const uint64_t start = rng() % 3 == 0 ? 0 : rng() % 50;
    std::set<uint64_t> chosen;
    const uint64_t density = 1 + rng() % 4;
    for (uint64_t x = start; x < start + span; ++x) {
      if (rng() % (density + 1) == 0) chosen.insert(x);
    }
    if (chosen.size() < 3) continue;
    const std::vector<uint64_t> values(chosen.begin(), chosen.end());
    CompareEngines<Width64>(values, rng, 8);
  }
}

TEST(DenseWalk, MatchesThePlainWalkOnOddTables) {
  // Odd numbers (with or without a 2, with or without a 1) take the even-difference bitmaps.
  std::mt19937_64 rng(13);
  for (int round = 0; round < 200; ++round) {
    std::set<uint64_t> chosen;
    if (round % 2 == 0) chosen.insert(2);
    if (round % 3 == 0) chosen.insert(1);
    const uint64_t span = 20 + rng() % 400;
    for (uint64_t x = 3; x < span; x += 2) {
      if (rng() % 3 != 0) chosen.insert(x);
    }
    if (*chosen.rbegin() % 2 == 0) continue;
    const std::vector<uint64_t> values(chosen.begin(), chosen.end());
    if (values.size() < 3) continue;
    const auto r = MakeTable<Width64>(values);
    ASSERT_TRUE(ValueBitmap<Width64>(r.data(), static_cast<int32_t>(values.size())).OddOnly());
    CompareEngines<Width64>(values, rng, 6);
    CompareEngines<Width32>(values, rng, 2);
  }
}

TEST(DenseWalk, MatchesThePlainWalkOnSymmetricRuns) {
  // Runs of equally spaced values make long chains of common differences.
  std::mt19937_64 rng(3);
  for (uint64_t count = 3; count < 40; ++count) {
    std::vector<uint64_t> run;
    for (uint64_t k = 0; k < count; ++k) run.push_back(5 + 2 * k);
    CompareEngines<Width64>(run, rng, 6);
    std::vector<uint64_t> mixed = run;
    mixed.push_back(run.back() + 1);
    mixed.push_back(run.back() + 5);
    CompareEngines<Width32>(mixed, rng, 6);
    std::vector<uint64_t> fromZero;
    for (uint64_t k = 0; k < count; ++k) fromZero.push_back(k * 3);
    CompareEngines<Width64>(fromZero, rng, 6);
  }
}

}  // namespace
}  // namespace kv
