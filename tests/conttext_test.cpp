// Converting the text form of the continuation store: the field scanner, the checks of each
// record against the table, and the batches it appends to the store.
#include <gtest/gtest.h>

#include <string>

#include "search/phases.h"
#include "tests/cont_fixture.h"
#include "tests/harness.h"
#include "tests/memfs.h"

namespace kv {
namespace {

using kvtest::Lines;
using kvtest::StateWithTable;

const std::vector<uint64_t> kTable = {5, 7, 11, 17, 19, 23, 29, 31, 37};
const char* const kInspHeader =
    "等差数列がデータの範囲外まで続く可能性があります。閲覧専用の為、改変、削除は次回の探索に影響"
    "しません。";

template <typename W>
void ConvertsFieldsAndChecksRecords() {
  SearchState<W> s = StateWithTable<W>(kTable, 3);
  const std::string longField = std::string(200, '0') + "11";
  const std::string text =
      "5,5,6,0\r\n"                     // 5 11 17 ...
      "3,7,,12,,0\r\n"                  // empty fields do not count
      "4,7,12,9\n"                      // LF line end
      "3,5,0,0\r\n"                     // no step
      "3,5,2,0\r\n"                     // 9 is not an entry
      "3,6,5,0\r\n"                     // 6 is not an entry
      "3,19,18,0\r\n"                   // 55 is beyond the table
      "3,18446744073709551621,6,0\r\n"  // would wrap to 5
      "3,4294967301,6,0\r\n"            // would wrap to 5 in 32 bits
      "3,5,18446744073709551622,0\r\n"  // step would wrap to 6
      "3,5,6x,0\r\n"                    // not a number
      "3," +
      longField + "," + std::string(150, '0') +
      "6,0\r\n"    // long fields read whole
      "3,17,6,5";  // the last line has no line end
  bool converted = false;
  const auto run =
      kvtest::RunInProcess([&] { converted = ReadContText(s); }, {}, {{"_ContData.txt", text}});
  EXPECT_TRUE(converted);
  EXPECT_EQ(
      run.output,
      Lines({"_ContData.txt の内 8 件は、データに無い数列か不正な値の為、読み飛ばしました。"}));
  EXPECT_EQ(s.consoleRow, 1);
  EXPECT_EQ(run.files.at("_ContData.dat"),
            kvtest::GroupedStore(10, {-3, 1, -5, 2, 2, -4, 3, -6, 4}));
  EXPECT_EQ(run.files.at("_ContData_insp.txt"),
            Lines({kInspHeader, "", "Len 5, 5 + 6 *n", "Len 3, 7 + 12 *n", "Len 4, 7 + 12 *n",
                   "Len 3, 11 + 6 *n", "Len 3, 17 + 6 *n"}));
  // The text form itself is the caller's to delete.
  EXPECT_EQ(run.files.at("_ContData.txt"), text);
  EXPECT_EQ(s.pending.pendingCount, 0);
}

TEST(ReadContText, ConvertsFieldsAndChecksRecords64) { ConvertsFieldsAndChecksRecords<Width64>(); }
TEST(ReadContText, ConvertsFieldsAndChecksRecords32) { ConvertsFieldsAndChecksRecords<Width32>(); }

TEST(ReadContText, IncompleteLastRecordIsCountedAndNothingIsStored) {
  SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
  const auto run =
      kvtest::RunInProcess([&] { ReadContText(s); }, {}, {{"_ContData.txt", "5,5,6,0\r\n3,5,6"}});
  EXPECT_EQ(
      run.output,
      Lines({"_ContData.txt の内 1 件は、データに無い数列か不正な値の為、読み飛ばしました。"}));
  EXPECT_EQ(kvtest::ReadStore(run.files.at("_ContData.dat")).items,
            (std::vector<std::pair<int32_t, int32_t>>{{1, 3}}));

  SearchState<Width64> t = StateWithTable<Width64>(kTable, 3);
  const auto empty =
      kvtest::RunInProcess([&] { ReadContText(t); }, {}, {{"_ContData.txt", ",,\r\n\r\n"}});
  EXPECT_EQ(empty.output, "");
  EXPECT_EQ(empty.files.count("_ContData.dat"), 0u);
}

// A full list goes to the store as a batch of its own, which begins with its own group marker
// although the previous batch ended with the same second index.
TEST(ReadContText, FullListIsStoredInBatches) {
  SearchState<Width64> s = StateWithTable<Width64>(kvtest::Range(1, 300000), 4);
  std::string text;
  for (int d = 1; d <= 100001; ++d) {
    text += "3," + std::to_string(150000 - d) + "," + std::to_string(d) + ",0\r\n";
  }
  const auto run = kvtest::RunInProcess([&] { ReadContText(s); }, {}, {{"_ContData.txt", text}});
  const std::string& store = run.files.at("_ContData.dat");
  ASSERT_EQ(store.size(), 12 + 4 * (100001 + 2));
  const auto view = kvtest::ReadStore(store);
  EXPECT_EQ(view.nextIndex, 300001u);
  EXPECT_EQ(view.markers, 2);
  ASSERT_EQ(view.items.size(), 100001u);
  EXPECT_EQ(view.items.front(), std::make_pair(149999, 150000));
  EXPECT_EQ(view.items.back(), std::make_pair(49999, 150000));
  EXPECT_EQ(store.substr(12 + 4 * 100001, 4), kvtest::LE<int32_t>(-150000));
  // Length 3 is below the shortest saved length: the view lists nothing.
  EXPECT_EQ(run.files.at("_ContData_insp.txt"), Lines({kInspHeader, ""}));
}

TEST(ReadContText, TextFormIsLeftWhenItCannotBeConverted) {
  // Grouped batches appended to the older layout could not be read back.
  const std::string ungrouped = kvtest::UngroupedStore({{3, 1, 3, 5}});
  SearchState<Width64> s = StateWithTable<Width64>(kTable, 3);
  bool converted = true;
  const auto run =
      kvtest::RunInProcess([&] { converted = ReadContText(s); }, {},
                           {{"_ContData.txt", "5,5,6,0\r\n"}, {"_ContData.dat", ungrouped}});
  EXPECT_FALSE(converted);
  EXPECT_EQ(run.output,
            Lines({"_ContData.dat が旧形式の為、_ContData.txt は次回の探索で変換します。"}));
  EXPECT_EQ(run.files.at("_ContData.dat"), ungrouped);
  EXPECT_EQ(run.files.count("_ContData_insp.txt"), 0u);

  kvtest::FaultPlatform fake({{kvtest::FaultOp::kOpen, "_ContData.txt", FileErrorKind::kNoAccess}});
  SearchState<Width64> t = StateWithTable<Width64>(kTable, 3);
  converted = true;
  const auto unreadable = kvtest::RunInProcess([&] { converted = ReadContText(t); }, fake,
                                               {{"_ContData.txt", "5,5,6,0\r\n"}});
  EXPECT_FALSE(converted);
  EXPECT_EQ(unreadable.output,
            Lines({"_ContData.txt を読み込めませんでした。変換せずに残します。"}));
  EXPECT_EQ(unreadable.files.count("_ContData.dat"), 0u);
}

}  // namespace
}  // namespace kv
