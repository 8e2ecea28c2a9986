// The sieved list: which values beyond the table it rules out, how it is loaded, and how it is
// trimmed and rewritten once the table has grown into its range, for both widths.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "search/engine/sievedbitmap.h"
#include "tests/memfs.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FakePlatform;
using kvtest::Files;
using kvtest::MaskTimings;
using kvtest::RunPhase;
using kvtest::SievedFile;

template <typename W>
SievedList<W> ListOf(const std::vector<uint64_t>& entries) {
  SievedList<W> list;
  for (uint64_t e : entries) list.entries.push_back(static_cast<typename W::Value>(e));
  list.count = static_cast<uint32_t>(entries.size());
  list.entries.resize(entries.size() + 2, 0);
  return list;
}

template <typename W>
class Sieved : public ::testing::Test {
 protected:
  SearchState<W> state;
  FakePlatform fake;

  // Loads the list as the run sequence does, then, when `largest` is given, saves it for a table
  // whose largest value it is.
  kvtest::RunResult LoadAndSave(const Files& files, bool save, uint64_t largest = 0) {
    return RunPhase<W>(
        state,
        [&](SearchState<W>& s) {
          s.table.records.assign(2, TableRecord<W>{0, 0, 0});
          s.table.records[0].value = static_cast<typename W::Value>(largest);
          s.table.recordCount = 1;
          s.sieved.entries.assign(1000 / sizeof(typename W::Value), 0);
          ReadSievedData(s);
          if (save) SaveSievedData(s);
        },
        fake, files);
  }
};
TYPED_TEST_SUITE(Sieved, kvtest::BothWidths);

TYPED_TEST(Sieved, RangeAndCandidatesDecideWhatIsRuledOut) {
  using W = TypeParam;
  const auto rangeOnly = ListOf<W>({100, 200});
  EXPECT_TRUE(isRuledOut(rangeOnly, 150));
  EXPECT_TRUE(isRuledOut(rangeOnly, 100));
  EXPECT_TRUE(isRuledOut(rangeOnly, 200));
  EXPECT_FALSE(isRuledOut(rangeOnly, 201));
  EXPECT_FALSE(isRuledOut(rangeOnly, 99));

  const auto three = ListOf<W>({100, 200, 101, 103, 107});
  EXPECT_FALSE(isRuledOut(three, 101));
  EXPECT_FALSE(isRuledOut(three, 103));
  EXPECT_FALSE(isRuledOut(three, 107));
  EXPECT_TRUE(isRuledOut(three, 105));
  EXPECT_TRUE(isRuledOut(three, 100));
  EXPECT_TRUE(isRuledOut(three, 108));

  // Nothing is ruled out without a list, nor by one whose range end is missing.
  EXPECT_FALSE(isRuledOut(ListOf<W>({}), 5));
  EXPECT_FALSE(isRuledOut(ListOf<W>({3}), 5));
  SievedList<W> bare;
  bare.entries = {3};
  bare.count = 1;
  EXPECT_FALSE(isRuledOut(bare, 5));
}

TYPED_TEST(Sieved, BisectionFindsEveryCandidateOfALongList) {
  using W = TypeParam;
  std::vector<uint64_t> entries = {W::kLimit - 20000, W::kLimit};
  for (uint64_t v = W::kLimit - 19999; v <= W::kLimit; v += 2) entries.push_back(v);
  const auto list = ListOf<W>(entries);
  for (uint64_t v = W::kLimit - 20000; v <= W::kLimit; ++v) {
    const bool candidate = (W::kLimit - v) % 2 == 1;
    ASSERT_EQ(isRuledOut(list, static_cast<typename W::Value>(v)), !candidate) << v;
  }
}

// The search's bitmap of the list (over the odd values when every candidate is odd, over every
// value when one is even, none for a range far wider than its candidates) rules out what the
// bisection does, and the odd values the list leaves open are visited in order, below, inside
// and above the range.
TYPED_TEST(Sieved, TheBitmapAgreesWithTheBisection) {
  using W = TypeParam;
  const uint64_t top = W::kLimit;
  const std::vector<std::vector<uint64_t>> lists = {
      {1000, 1300, 1001, 1003, 1129, 1299},
      {1001, 1299, 1001, 1063, 1297},
      {1000, 1300, 1002, 1003, 1200},
      {top - 300, top, top - 298, top - 2, top},
      {1000, 1000 + (uint64_t{1} << 30), 1001, 1003, 1000 + (uint64_t{1} << 30) - 1},
  };
  for (const auto& entries : lists) {
    const auto list = ListOf<W>(entries);
    const SievedBitmap<W> bitmap(list);
    for (const uint64_t at : {entries[0], entries[1] - 280}) {
      const uint64_t from = at - 20;
      const uint64_t to = std::min(top, at + 300);
      std::vector<uint64_t> open;
      for (uint64_t v = from; v <= to; ++v) {
        const auto value = static_cast<typename W::Value>(v);
        ASSERT_EQ(bitmap.RuledOut(value), isRuledOut(list, value)) << v;
        if (v % 2 == 1 && !isRuledOut(list, value)) open.push_back(v);
      }
      std::vector<uint64_t> visited;
      ForEachOpenOdd<W>(&list, from, to, [&](uint64_t x) {
        visited.push_back(x);
        return true;
      });
      EXPECT_EQ(visited, open) << entries[0];
    }
  }
}

TYPED_TEST(Sieved, LoadingReportsTheRange) {
  using W = TypeParam;
  struct Case {
    Files files;
    std::string expected;
    uint32_t count;
  };
  const std::string loaded = "篩い掛けデータを読み込みました。 データ範囲= ";
  const Case cases[] = {
      {{}, "篩い掛けデータは確認できませんでした。\r\n", 0},
      {{{W::kSievedFile, ""}}, loaded + "0 - 0\r\n", 0},
      {{{W::kSievedFile, SievedFile<W>({5})}}, loaded + "5 - 0\r\n", 1},
      {{{W::kSievedFile, SievedFile<W>({100, W::kLimit, 101}) + "\x01\x02\x03"}},
       loaded + "100 - " + std::to_string(W::kLimit) + "\r\n",
       3},
  };
  for (const Case& c : cases) {
    this->state = SearchState<W>{};
    const auto run = this->LoadAndSave(c.files, false);
    EXPECT_EQ(run.output, c.expected);
    EXPECT_EQ(this->state.sieved.count, c.count);
    EXPECT_EQ(this->state.consoleRow, 1);
    EXPECT_EQ(run.files, c.files);
  }
}

TYPED_TEST(Sieved, SavingMovesTheRangeAboveTheTableAndTrims) {
  using W = TypeParam;
  const std::string list = SievedFile<W>({100, 200, 101, 103, 107});
  struct Case {
    std::string before;
    uint64_t largest;
    std::string after;
  };
  const Case cases[] = {
      {list, 103, SievedFile<W>({104, 200, 107})},
      {list, 102, SievedFile<W>({103, 200, 103, 107})},  // the start itself is a candidate
      {list, 100, SievedFile<W>({101, 200, 101, 103, 107})},
      {list, 106, SievedFile<W>({107, 200, 107})},
      {list, 110, ""},  // every candidate is passed: the whole list goes
      {list, 107, ""},
      {SievedFile<W>({100, 200}), 150, SievedFile<W>({151, 200})},
      {SievedFile<W>({5}), 9, SievedFile<W>({10})},
  };
  for (const Case& c : cases) {
    this->state = SearchState<W>{};
    const auto run = this->LoadAndSave({{W::kSievedFile, c.before}}, true, c.largest);
    EXPECT_EQ(run.files, (Files{{W::kSievedFile, c.after}})) << c.largest;
    EXPECT_TRUE(MaskTimings(run.output).ends_with("\r\n# [ms] : SaveSievedData\r\n"));
    EXPECT_EQ(this->state.consoleRow, 2);
  }
}

TYPED_TEST(Sieved, FailedRewriteKeepsTheOldList) {
  using W = TypeParam;
  const Files files = {{W::kSievedFile, SievedFile<W>({100, 200, 101, 103, 107})}};
  const std::string message =
      "篩い掛けデータを読み込みました。 データ範囲= 100 - 200\r\n"
      "篩い掛けファイルの書き込みに失敗しました。強制終了します。\r\n" +
      std::string(W::kSievedFile) + " : ";
  const std::string end = "\r\n\r\n終了します。Press Enter Key. ";
  // The reason is the system's own for a directory in the way.
  const auto reported = [&](const std::string& output) {
    return output.starts_with(message) && output.ends_with(end);
  };
  const auto save = [](SearchState<W>& s) {
    s.table.records.assign(2, TableRecord<W>{103, 1, 0});
    s.table.recordCount = 1;
    s.sieved.entries.assign(250, 0);
    ReadSievedData(s);
    SaveSievedData(s);
  };
  // A directory in place of the temporary file, then a write cut short.
  auto run = RunPhase<W>(
      this->state,
      [&](SearchState<W>& s) {
        std::filesystem::create_directory(W::kTempSievedFile);
        save(s);
      },
      this->fake, files);
  EXPECT_TRUE(reported(run.output)) << run.output;
  EXPECT_EQ(run.files, files);

  kvtest::FaultPlatform failing({kvtest::FullDisk(W::kTempSievedFile)});
  this->state = SearchState<W>{};
  run = RunPhase<W>(this->state, save, failing, files);
  EXPECT_EQ(run.output, message + "ディスクの空き容量が不足しています。" + end);
  EXPECT_EQ(run.files, files);
}

}  // namespace
}  // namespace kv
