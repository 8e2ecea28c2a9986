// The continuation store and its inspection text: layout, batches, the text view, torn files and
// write failures.
#include <gtest/gtest.h>

#include "tests/memfs.h"
#include "tests/search_testing.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FakePlatform;
using kvtest::FaultOp;
using kvtest::Files;
using kvtest::LE;

const std::string kInspHeader =
    "等差数列がデータの範囲外まで続く可能性があります。閲覧専用の為、改変、削除は次回の探索に影響し"
    "ません。\r\n\r\n";

std::string Words(std::initializer_list<int32_t> words) {
  std::string bytes;
  for (const int32_t w : words) bytes += LE<int32_t>(w);
  return bytes;
}

template <typename W>
class ContStore : public ::testing::Test {
 protected:
  ContStore() {
    std::vector<typename W::Value> values;
    for (uint64_t v = 1; v <= 100; ++v) values.push_back(static_cast<typename W::Value>(v * v));
    state = kvtest::MakeState<W>(values, 3);
  }
  // Flushes the items (first, second, length) in a directory holding `files` (or the files left
  // by the previous flush).
  kvtest::RunResult Flush(std::initializer_list<PendingEntry> items, const Files& files = {}) {
    state.pending.entries.assign(items);
    state.pending.pendingCount = static_cast<int32_t>(items.size());
    state.pending.pendingCapacity = state.pending.pendingCount;
    kvtest::WriteFiles(dir.path(), files);
    return kvtest::RunInDirectory([this] { SaveContData(state); }, fake, dir.path());
  }
  SearchState<W> state;
  FakePlatform fake;
  kvtest::TempDir dir;
};
TYPED_TEST_SUITE(ContStore, kvtest::BothWidths);

TYPED_TEST(ContStore, FirstFlushWritesHeaderAndGroupedBatch) {
  const auto run = this->Flush({{1, 2, 3}, {3, 5, 3}, {4, 5, 3}});
  const std::string expected = {'\xEC', '\xFF', '\xFF', '\xFF', '\x65', 0,      0,      0,
                                0,      0,      0,      0,      '\xFE', '\xFF', '\xFF', '\xFF',
                                '\x01', 0,      0,      0,      '\xFB', '\xFF', '\xFF', '\xFF',
                                '\x03', 0,      0,      0,      '\x04', 0,      0,      0};
  EXPECT_EQ(run.files.at("_ContData.dat"), expected);
  EXPECT_EQ(run.files.at("_ContData_insp.txt"),
            kInspHeader + "Len 3, 1 + 3 *n\r\nLen 3, 9 + 16 *n\r\nLen 3, 16 + 9 *n\r\n");
  EXPECT_EQ(this->state.pending.pendingCount, 0);
  EXPECT_EQ(run.output, "");
}

TYPED_TEST(ContStore, LaterBatchesAppendWithTheirOwnMarker) {
  this->state.minSaveLength = 5;
  this->Flush({{1, 2, 3}, {3, 5, 7}});
  const auto run = this->Flush({{4, 5, 5}, {6, 5, 4}, {7, 8, 9}});
  EXPECT_EQ(run.files.at("_ContData.dat"), Words({-20, 101, 0, -2, 1, -5, 3, -5, 4, 6, -8, 7}));
  // Short items are stored but not listed.
  EXPECT_EQ(run.files.at("_ContData_insp.txt"),
            kInspHeader + "Len 7, 9 + 16 *n\r\nLen 5, 16 + 9 *n\r\nLen 9, 49 + 15 *n\r\n");
}

TYPED_TEST(ContStore, InspectionTextStartsWithItsHeaderEvenWhenNothingQualifies) {
  this->state.minSaveLength = 10;
  auto run = this->Flush({{1, 2, 3}});
  EXPECT_EQ(run.files.at("_ContData_insp.txt"), kInspHeader);
  // An existing text view is only appended to.
  run = this->Flush({{1, 2, 3}}, {{"_ContData_insp.txt", "kept"}});
  EXPECT_EQ(run.files.at("_ContData_insp.txt"), "kept");
}

TYPED_TEST(ContStore, LargeFlushListsEveryQualifyingItemInOrder) {
  std::vector<PendingEntry> items;
  std::string expected = kInspHeader;
  for (int32_t k = 0; k < 12000; ++k) {
    const int32_t first = 1 + k % 90;
    const int32_t second = first + 1 + k % 7;
    items.push_back({first, second, 3 + k % 15});
    const uint64_t a = static_cast<uint64_t>(first) * static_cast<uint64_t>(first);
    const uint64_t b = static_cast<uint64_t>(second) * static_cast<uint64_t>(second);
    expected += "Len " + std::to_string(3 + k % 15) + ", " + std::to_string(a) + " + " +
                std::to_string(b - a) + " *n\r\n";
  }
  this->state.pending.entries = items;
  this->state.pending.pendingCount = static_cast<int32_t>(items.size());
  const auto run =
      kvtest::RunInDirectory([this] { SaveContData(this->state); }, this->fake, this->dir.path());
  EXPECT_GT(expected.size(), 200000u);
  EXPECT_EQ(run.files.at("_ContData_insp.txt"), expected);
  const auto stored = kvtest::DecodeStore(run.files.at("_ContData.dat"));
  ASSERT_EQ(stored.size(), items.size());
  for (size_t k = 0; k < items.size(); ++k) {
    EXPECT_EQ(stored[k], (kvtest::StoredItem{items[k].firstIndex, items[k].secondIndex}));
  }
}

// A store whose last write was cut short: the next batch goes after the last whole entry, so
// that no later entry is read shifted; a header cut short is written again.
TYPED_TEST(ContStore, TornStoreIsContinuedAfterItsLastWholeEntry) {
  auto run = this->Flush(
      {{3, 5, 3}}, {{"_ContData.dat", Words({-20, 101, 0, -2, 1}) + std::string("\xFD\xFF", 2)}});
  EXPECT_EQ(run.files.at("_ContData.dat"), Words({-20, 101, 0, -2, 1, -5, 3}));
  kvtest::TempDir other;
  kvtest::WriteFiles(other.path(), {{"_ContData.dat", std::string("\xEC\xFF\xFF", 3)}});
  this->state.pending.entries = {{3, 5, 3}};
  this->state.pending.pendingCount = 1;
  run = kvtest::RunInDirectory([this] { SaveContData(this->state); }, this->fake, other.path());
  EXPECT_EQ(run.files.at("_ContData.dat"), Words({-20, 101, 0, -5, 3}));
}

TYPED_TEST(ContStore, StoreThatCannotBeWrittenEndsTheRun) {
  const std::string message =
      "ContData.txt の変換中にファイル書き込みに失敗しました。\r\n緊急停止します。\r\n";
  const std::string end = "\r\n終了します。Press Enter Key. ";
  kvtest::FaultPlatform closed({{FaultOp::kOpen, "_ContData.dat", FileErrorKind::kReadOnly}});
  auto run = kvtest::RunInProcess([this] { SaveContData(this->state); }, closed);
  EXPECT_EQ(run.exitCode, kFailed);
  EXPECT_EQ(run.output,
            message + "_ContData.dat : 書き込み禁止(読み取り専用)になっています。\r\n" + end);
  EXPECT_TRUE(run.files.empty());

  kvtest::FaultPlatform full({kvtest::FullDisk("_ContData.dat")});
  this->state.pending.entries = {{1, 2, 3}};
  this->state.pending.pendingCount = 1;
  run = kvtest::RunInProcess([this] { SaveContData(this->state); }, full);
  EXPECT_EQ(run.exitCode, kFailed);
  EXPECT_EQ(run.output, message + "_ContData.dat : ディスクの空き容量が不足しています。\r\n" + end);
  EXPECT_EQ(this->state.pending.pendingCount, 1);
}

// Result lines collected before a flush reach their files before the store does.
class OpenLog : public FakePlatform {
 public:
  std::vector<std::string> opened;
  std::unique_ptr<FileHandle> OpenAppend(const std::string& name) override {
    opened.push_back(name);
    return FakePlatform::OpenAppend(name);
  }
};

TYPED_TEST(ContStore, CollectedResultLinesGoOutBeforeTheStore) {
  OpenLog log;
  this->state.pending.entries = {{1, 2, 3}};
  this->state.pending.pendingCount = 1;
  const auto run = kvtest::RunInProcess(
      [this] {
        WriteResultLine(this->state, 4, 2, typename TypeParam::Value{5});
        WriteResultLine(this->state, 3, 3, typename TypeParam::Value{7});
        WriteResultLine(this->state, 4, 1, typename TypeParam::Value{3});
        SaveContData(this->state);
      },
      log);
  EXPECT_EQ(log.opened,
            (std::vector<std::string>{"_L3_ResultData.txt", "_L4_ResultData.txt", "_ContData.dat",
                                      "_ContData_insp.txt", "_ContData_insp.txt"}));
  EXPECT_EQ(run.files.at("_L4_ResultData.txt"),
            "n=0,1, ... ,Len-1\r\nLen 4, 4 + 5 *n\r\nLen 4, 1 + 3 *n\r\n");
  EXPECT_EQ(run.files.at("_L3_ResultData.txt"), "n=0,1, ... ,Len-1\r\nLen 3, 9 + 7 *n\r\n");
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST(ContStoreLarge, BatchLargerThanOneWritePieceKeepsEveryEntryInOrder) {
  // 600000 items make a batch of several megabytes, written in pieces.
  std::vector<Width64::Value> values;
  for (uint64_t v = 1; v <= 2000; ++v) values.push_back(v);
  auto state = kvtest::MakeState<Width64>(values, 20);
  state.pending.entries.clear();
  std::string expected = LE<int32_t>(-20) + LE<int32_t>(2001) + LE<int32_t>(0);
  int32_t previous = 0;
  for (int32_t k = 0; k < 600000; ++k) {
    const int32_t second = 2 + k / 7 % 1900;
    const int32_t first = 1 + k % (second - 1);
    state.pending.entries.push_back({first, second, 3});
    if (second != previous) expected += LE<int32_t>(-second);
    previous = second;
    expected += LE<int32_t>(first);
  }
  state.pending.pendingCount = 600000;
  state.pending.pendingCapacity = 600000;
  FakePlatform fake;
  const auto run = kvtest::RunInProcess([&state] { SaveContData(state); }, fake);
  EXPECT_EQ(run.files.at("_ContData.dat"), expected);
}

}  // namespace
}  // namespace kv
