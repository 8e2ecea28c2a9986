// The continuation search on its own: the file steps, both store forms, blocks and progress,
// leftovers of interrupted runs and damaged stores.
#include <gtest/gtest.h>

#include <string>

#include "search/phases.h"
#include "tests/cont_fixture.h"
#include "tests/harness.h"
#include "tests/memfs.h"

namespace kv {
namespace {

using kvtest::FakePlatform;
using kvtest::FaultOp;
using kvtest::Files;
using kvtest::GroupedStore;
using kvtest::Lines;
using kvtest::StateWithTable;
using kvtest::UngroupedStore;
using Items = std::vector<std::pair<int32_t, int32_t>>;

const char* const kInspHeader =
    "等差数列がデータの範囲外まで続く可能性があります。閲覧専用の為、改変、削除は次回の探索に影響"
    "しません。";
const std::string kTimingLine = "# [ms] : ContSearch" + std::string(35, ' ') + "\r\n";

// 5 11 17 23 29 ends before 35; 7 19 31 43 runs past the largest value.
const std::vector<uint64_t> kTable = {5, 7, 11, 17, 19, 23, 29, 31, 37, 43};

template <typename W>
kvtest::RunResult RunContSearch(SearchState<W>& s, const Files& files) {
  return kvtest::RunInProcess([&] { ContSearch(s); }, {}, files);
}

template <typename W>
kvtest::RunResult RunContSearchIn(SearchState<W>& s, const std::filesystem::path& dir,
                                  FakePlatform* platform = nullptr) {
  FakePlatform plain;
  return kvtest::RunInDirectory([&] { ContSearch(s); }, platform ? *platform : plain, dir);
}

TEST(ContSearch, WithoutStoreOnlySaysSkip) {
  SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
  s.consoleRow = 4;
  const auto run = RunContSearch(s, {{"_ContData_insp.txt", "kept"}});
  EXPECT_EQ(run.output, "Skip : ContSearch\r\n");
  EXPECT_EQ(s.consoleRow, 5);
  EXPECT_EQ(run.files, (Files{{"_ContData_insp.txt", "kept"}}));
}

TEST(ContSearch, StoreWithoutEntriesIsDeleted) {
  // A header alone, a store cut short inside its header, and an empty file.
  for (const std::string& store :
       {GroupedStore(5, {}), GroupedStore(5, {}).substr(0, 7), std::string()}) {
    SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
    const auto run = RunContSearch(s, {{"_ContData.dat", store}, {"_ContData_insp.txt", "old"}});
    EXPECT_EQ(kvtest::MaskTimings(run.output), kTimingLine);
    EXPECT_TRUE(run.files.empty());
    EXPECT_EQ(s.consoleRow, 1);
  }
}

template <typename W>
void DecidesOrStoresAgain(const std::string& store) {
  SearchState<W> s = StateWithTable<W>(kTable, 3);
  const auto run = RunContSearch(s, {{"_ContData.dat", store}});
  EXPECT_EQ(kvtest::MaskTimings(run.output), kTimingLine);
  EXPECT_EQ(run.files,
            (Files{{"_L5_ResultData.txt", Lines({"n=0,1, ... ,Len-1", "Len 5, 5 + 6 *n"})},
                   {"_ContData.dat", GroupedStore(11, {-5, 2})},
                   {"_ContData_insp.txt", Lines({kInspHeader, "", "Len 4, 7 + 12 *n"})}}));
}

TEST(ContSearch, GroupedStoreIsDecidedOrStoredAgain) {
  DecidesOrStoresAgain<Width64>(GroupedStore(9, {-3, 1, -5, 2}));
  DecidesOrStoresAgain<Width32>(GroupedStore(9, {-3, 1, -5, 2}));
}

TEST(ContSearch, UngroupedStoreContinuesFromItsRecordsAndBecomesGrouped) {
  const std::string store = UngroupedStore({{3, 1, 3, 5}, {3, 2, 5, 9}});
  DecidesOrStoresAgain<Width64>(store);
  DecidesOrStoresAgain<Width32>(store);
}

// Three blocks of 100000 entries, each ending with a group marker that belongs to the next.
TEST(ContSearch, MarkersCarryAcrossBlocksAndProgressIsShownBetweenThem) {
  SearchState<Width64> s = StateWithTable<Width64>(kvtest::Range(1, 300010), 20);
  s.consoleRow = 7;
  std::vector<int32_t> body;
  Items expected;
  const int32_t seconds[3] = {299000, 299500, 300000};
  body.push_back(-seconds[0]);
  for (size_t block = 0; block < 3; ++block) {
    // The items of a block are those of the marker that ended the block before.
    const size_t end = (block + 1) * 100000 - (block < 2 ? 1 : 0);
    for (int32_t first = 1; body.size() < end; ++first) {
      body.push_back(first);
      expected.emplace_back(first, seconds[block]);
    }
    if (block < 2) body.push_back(-seconds[block + 1]);
  }
  ASSERT_EQ(body.size(), 300000u);
  FakePlatform fake;
  fake.tickStep = 3000;
  const auto run = kvtest::RunInProcess([&] { ContSearch(s); }, fake,
                                        {{"_ContData.dat", GroupedStore(300011, body)}});
  EXPECT_EQ(kvtest::MaskTimings(run.output),
            Lines({"Continuance Data  99998  : finished. ( 33.3 %)    ",
                   "Continuance Data  199997  : finished. ( 66.6 %)    ",
                   "Continuance Data  299997  : finished. ( 100 %)    "}) +
                kTimingLine);
  EXPECT_EQ(fake.locates, (std::vector<std::pair<int, int>>(4, {0, 7})));
  EXPECT_EQ(s.consoleRow, 8);
  const auto view = kvtest::ReadStore(run.files.at("_ContData.dat"));
  EXPECT_EQ(view.items, expected);
  EXPECT_EQ(view.markers, 3);
  EXPECT_EQ(run.files.at("_ContData_insp.txt"), Lines({kInspHeader, ""}));
}

TEST(ContSearch, LeftoverTemporaryStoreIsExaminedAgainAndItsPartialRewriteDropped) {
  SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
  const auto run = RunContSearch(s, {{"__TEMP___ContData_txt.dat", GroupedStore(9, {-3, 1, -5, 2})},
                                     {"_ContData.dat", GroupedStore(11, {-5, 2})},
                                     {"_ContData_insp.txt", "old"}});
  EXPECT_EQ(run.files.count("__TEMP___ContData_txt.dat"), 0u);
  EXPECT_EQ(run.files.at("_ContData.dat"), GroupedStore(11, {-5, 2}));
  EXPECT_EQ(run.files.at("_ContData_insp.txt"), Lines({kInspHeader, "", "Len 4, 7 + 12 *n"}));
}

TEST(ContSearch, SavedTextFormIsRestoredAndConverted) {
  SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
  const auto run = RunContSearch(s, {{"__OLD___ContData_txt.dat", "3,7,12,0\r\n"}});
  EXPECT_EQ(run.files,
            (Files{{"_ContData.dat", GroupedStore(11, {-5, 2})},
                   {"_ContData_insp.txt", Lines({kInspHeader, "", "Len 4, 7 + 12 *n"})}}));
}

// The text form given beside an interrupted run's temporary store is kept until that store has
// been worked through, also when that work is stopped once more.
TEST(ContSearch, TextFormBesideTemporaryStoreIsKept) {
  kvtest::TempDir dir;
  kvtest::WriteFiles(dir.path(), {{"__TEMP___ContData_txt.dat", GroupedStore(9, {-3, 1})},
                                  {"_ContData.dat", GroupedStore(11, {-9, 8})},
                                  {"_ContData.txt", "3,7,12,0\r\n"}});
  kvtest::FaultPlatform stuck(
      {{FaultOp::kRemove, "__TEMP___ContData_txt.dat", FileErrorKind::kNoAccess}});
  SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
  const auto stopped = RunContSearchIn(s, dir.path(), &stuck);
  EXPECT_EQ(stopped.exitCode, kFailed);
  EXPECT_EQ(kvtest::MaskTimings(stopped.output),
            Lines({"__TEMP___ContData_txt.dat : ファイル削除に失敗しました。", "緊急停止します。",
                   "__TEMP___ContData_txt.dat : アクセス権がありません。", ""}) +
                "終了します。Press Enter Key. ");
  EXPECT_EQ(stopped.files.at("_ContData.txt"), "3,7,12,0\r\n");

  s = StateWithTable<Width64>(kTable, 3);
  const auto resumed = RunContSearchIn(s, dir.path());
  EXPECT_EQ(kvtest::MaskTimings(resumed.output), kTimingLine);
  // The result of the temporary store came twice, the converted record is stored once.
  EXPECT_EQ(resumed.files,
            (Files{{"_L5_ResultData.txt",
                    Lines({"n=0,1, ... ,Len-1", "Len 5, 5 + 6 *n", "Len 5, 5 + 6 *n"})},
                   {"_ContData.dat", GroupedStore(11, {-5, 2})},
                   {"_ContData_insp.txt", Lines({kInspHeader, "", "Len 3, 7 + 12 *n"})}}));

  // The next run examines the converted record.
  s = StateWithTable<Width64>(kTable, 3);
  const auto next = RunContSearchIn(s, dir.path());
  EXPECT_EQ(next.files.at("_ContData.dat"), GroupedStore(11, {-5, 2}));
  EXPECT_EQ(next.files.at("_ContData_insp.txt"), Lines({kInspHeader, "", "Len 4, 7 + 12 *n"}));
}

TEST(ContSearch, TextFormWaitsWhileStoreIsUngrouped) {
  kvtest::TempDir dir;
  kvtest::WriteFiles(dir.path(), {{"_ContData.dat", UngroupedStore({{3, 1, 3, 5}})},
                                  {"_ContData.txt", "3,7,12,0\r\n"}});
  SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
  const auto first = RunContSearchIn(s, dir.path());
  EXPECT_EQ(kvtest::MaskTimings(first.output),
            Lines({"_ContData.dat が旧形式の為、_ContData.txt は次回の探索で変換します。"}) +
                kTimingLine);
  EXPECT_EQ(first.files.count("_ContData.dat"), 0u);
  EXPECT_EQ(first.files.at("_ContData.txt"), "3,7,12,0\r\n");

  s = StateWithTable<Width64>(kTable, 3);
  const auto second = RunContSearchIn(s, dir.path());
  EXPECT_EQ(kvtest::MaskTimings(second.output), kTimingLine);
  EXPECT_EQ(second.files.count("_ContData.txt"), 0u);
  EXPECT_EQ(second.files.at("_ContData.dat"), GroupedStore(11, {-5, 2}));
}

template <typename W>
void CarriesWhatItCannotExamine() {
  const uint64_t top = W::kLimit;
  // 1 3 5 ends before 7; the entry before any marker and the marker -2^31 name no second term.
  const std::vector<uint64_t> table = {1, 3, 5, top - 10, top};
  SearchState<W> s = StateWithTable<W>(table, 3);
  const auto grouped = RunContSearch(
      s, {{"_ContData.dat", GroupedStore(6, {7, -2, 1, -9, 1, -3, 6, -2, 3, -4, 1, -3, 2,
                                             std::numeric_limits<int32_t>::min(), 1})}});
  const std::string report =
      Lines({"現在のデータで調べられない数列 4 件は、そのまま保存しました。",
             "__TEMP___ContData_txt.dat の読み取れない項目 2 件は、破棄しました。"});
  EXPECT_EQ(kvtest::MaskTimings(grouped.output), kTimingLine + report);
  EXPECT_EQ(s.consoleRow, 3);
  EXPECT_EQ(grouped.files.at("_ContData.dat"), GroupedStore(6, {-9, 1, -3, 6, -2, 3, -4, 1}));
  EXPECT_EQ(grouped.files.at("_L3_ResultData.txt"),
            Lines({"n=0,1, ... ,Len-1", "Len 3, 1 + 2 *n", "Len 3, 3 + 2 *n"}));
  EXPECT_EQ(grouped.files.at("_ContData_insp.txt"), Lines({kInspHeader, ""}));

  s = StateWithTable<W>(table, 3);
  const auto ungrouped = RunContSearch(s, {{"_ContData.dat", UngroupedStore({{3, 1, 2, 4},
                                                                             {2, 1, 2, 3},
                                                                             {3, 1, 2, 3},
                                                                             {3, 1, 2, 7},
                                                                             {3, 1, 9, 4},
                                                                             {3, 0, 2, 4},
                                                                             {3, 1, 0x80000000u, 4},
                                                                             {3, 1, 4, 6}})}});
  EXPECT_EQ(
      kvtest::MaskTimings(ungrouped.output),
      kTimingLine + Lines({"現在のデータで調べられない数列 5 件は、そのまま保存しました。",
                           "__TEMP___ContData_txt.dat の読み取れない項目 2 件は、破棄しました。"}));
  EXPECT_EQ(ungrouped.files.at("_ContData.dat"), GroupedStore(6, {-2, 1, 1, 1, -9, 1, -4, 1}));
  EXPECT_EQ(ungrouped.files.at("_L3_ResultData.txt"),
            Lines({"n=0,1, ... ,Len-1", "Len 3, 1 + 2 *n"}));
}

TEST(ContSearch, CarriesWhatItCannotExamine64) { CarriesWhatItCannotExamine<Width64>(); }
TEST(ContSearch, CarriesWhatItCannotExamine32) { CarriesWhatItCannotExamine<Width32>(); }

TEST(ContSearch, UnreadableTemporaryStoreEndsTheRunAndStays) {
  kvtest::FaultPlatform fake(
      {{FaultOp::kOpen, "__TEMP___ContData_txt.dat", FileErrorKind::kNoAccess}});
  SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
  const std::string store = GroupedStore(9, {-3, 1, -5, 2});
  const auto run = kvtest::RunInProcess([&] { ContSearch(s); }, fake, {{"_ContData.dat", store}});
  EXPECT_EQ(run.exitCode, kFailed);
  EXPECT_EQ(run.output, Lines({"__TEMP___ContData_txt.dat : ファイル読み込みに失敗しました。",
                               "緊急停止します。",
                               "__TEMP___ContData_txt.dat : アクセス権がありません。", ""}) +
                            "終了します。Press Enter Key. ");
  EXPECT_EQ(run.files, (Files{{"__TEMP___ContData_txt.dat", store}}));
}

}  // namespace
}  // namespace kv
