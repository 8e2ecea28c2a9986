// The table, checkpoint and backup files: loading with the checkpoint overlay, the checks of a
// loaded table, growth of the buffer, saving and checkpointing, for both widths.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/fileutil.h"
#include "tests/memfs.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FakePlatform;
using kvtest::Files;
using kvtest::FreshTable;
using kvtest::MaskTimings;
using kvtest::Rec;
using kvtest::RunPhase;

const std::string kEndPrompt = "\r\n終了します。Press Enter Key. ";

std::string Loaded(const std::string& maximum) {
  return "# [ms] : ReadData\r\nデータを読み込みました。 データ最大値= " + maximum + "\r\n";
}

template <typename W>
class TableFiles : public ::testing::Test {
 protected:
  SearchState<W> state;
  FakePlatform fake;

  kvtest::RunResult Read(const Files& files) {
    return RunPhase<W>(
        state, [](SearchState<W>& s) { ReadData(s); }, fake, files);
  }
  std::string Record(int32_t index) {
    const auto& r = state.table.records[static_cast<size_t>(index)];
    return Rec<W>(r.value, r.lowerCursor, r.upperCursor);
  }
  std::string Used() {
    std::string all;
    for (int32_t i = 0; i < state.table.recordCount; ++i) all += Record(i);
    return all;
  }
};
TYPED_TEST_SUITE(TableFiles, kvtest::BothWidths);

TYPED_TEST(TableFiles, MissingTableStartsEmptyWithoutTimingLine) {
  int16_t loaded = -1;
  const auto run =
      RunPhase<TypeParam>(this->state, [&](SearchState<TypeParam>& s) { loaded = ReadData(s); },
                          this->fake, {{TypeParam::kHalfFile, FreshTable<TypeParam>({1, 2})}});
  EXPECT_EQ(loaded, 0);
  EXPECT_EQ(run.output, "データを取得できませんでした。新規作成します。\r\n");
  EXPECT_EQ(this->state.table.recordCount, 1);
  EXPECT_EQ(this->state.consoleRow, 1);
}

TYPED_TEST(TableFiles, LoadsWholeRecordsIgnoringPartialTail) {
  using W = TypeParam;
  const std::string table = FreshTable<W>({3, 7});
  int16_t loaded = 0;
  const auto run = RunPhase<W>(this->state, [&](SearchState<W>& s) { loaded = ReadData(s); },
                               this->fake, {{W::kTableFile, table + "\x01\x02\x03\x04\x05"}});
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(MaskTimings(run.output), Loaded("7"));
  EXPECT_EQ(this->state.table.recordCount, 3);
  EXPECT_EQ(this->Used(), table);
  // One free slot behind the records, zero-filled.
  ASSERT_EQ(this->state.table.records.size(), 4u);
  EXPECT_EQ(this->Record(3), Rec<W>(0, 0, 0));
  EXPECT_EQ(this->state.consoleRow, 2);
  EXPECT_FALSE(this->state.table.needsSave);
}

TYPED_TEST(TableFiles, CheckpointFromTheSameTableOverlaysItsPrefix) {
  using W = TypeParam;
  const std::string table = FreshTable<W>({2, 3, 5, 7});
  // The search finished line 1 and moved line 2 outward before it was interrupted.
  const std::string half =
      table.substr(0, sizeof(TableRecord<W>)) + Rec<W>(2, 0, 5) + Rec<W>(3, 0, 5);
  const auto run = this->Read({{W::kTableFile, table}, {W::kHalfFile, half}});
  EXPECT_EQ(MaskTimings(run.output), "中途データを発見したので使用します。\r\n" + Loaded("7"));
  EXPECT_EQ(this->Used(), half + table.substr(3 * sizeof(TableRecord<W>)));
  EXPECT_TRUE(this->state.table.needsSave);
  EXPECT_EQ(this->state.consoleRow, 3);
  // Loading changes no file.
  EXPECT_EQ(run.files.at(W::kTableFile), table);
  EXPECT_EQ(run.files.at(W::kHalfFile), half);
}

TYPED_TEST(TableFiles, CheckpointLongerThanTheTableGivesTheLength) {
  using W = TypeParam;
  // A table saved with its header one merge behind; the checkpoint carries all records.
  const std::string table = Rec<W>(3, 2, 0) + Rec<W>(2, 0, 2) + Rec<W>(3, 1, 3);
  const std::string half = table + Rec<W>(5, 2, 4) + Rec<W>(7, 3, 5);
  const auto run = this->Read({{W::kTableFile, table}, {W::kHalfFile, half}});
  EXPECT_EQ(MaskTimings(run.output), "中途データを発見したので使用します。\r\n" + Loaded("7"));
  EXPECT_EQ(this->state.table.recordCount, 5);
  EXPECT_EQ(this->Used(), Rec<W>(7, 4, 0) + half.substr(sizeof(TableRecord<W>)));
}

TYPED_TEST(TableFiles, CheckpointOfAnotherTableStateIsLeftUnused) {
  using W = TypeParam;
  const std::string table = FreshTable<W>({2, 3, 5, 7});
  for (const std::string& half : {FreshTable<W>({2, 3, 5}), std::string(), std::string("\x07")}) {
    this->state = SearchState<W>{};
    const auto run = this->Read({{W::kTableFile, table}, {W::kHalfFile, half}});
    EXPECT_EQ(MaskTimings(run.output),
              "中途データが現在のデータと一致しないため使用しません。\r\n" + Loaded("7"));
    EXPECT_EQ(this->Used(), table);
    EXPECT_FALSE(this->state.table.needsSave);
    EXPECT_EQ(run.files.at(W::kHalfFile), half);
  }
}

TYPED_TEST(TableFiles, AcceptsEveryTableTheProgramsWrite) {
  using W = TypeParam;
  const std::string waiting = Rec<W>(W::kLimit, 4, 0) + Rec<W>(2, 0, 2) + Rec<W>(3, 0, 5) +
                              Rec<W>(7, 2, 5) + Rec<W>(W::kLimit, 3, 5);
  const std::string headerOnly = Rec<W>(0, 0, 0);
  struct Case {
    std::string file;
    int32_t recordCount;
    std::string maximum;
  };
  for (const Case& c : {Case{waiting, 5, std::to_string(W::kLimit)}, Case{headerOnly, 1, "0"},
                        Case{"", 1, "0"}, Case{FreshTable<W>({0, 1}), 3, "1"}}) {
    this->state = SearchState<W>{};
    const auto run = this->Read({{W::kTableFile, c.file}});
    EXPECT_EQ(MaskTimings(run.output), Loaded(c.maximum));
    EXPECT_EQ(this->state.table.recordCount, c.recordCount);
    EXPECT_EQ(this->state.table.records.size(), static_cast<size_t>(c.recordCount) + 1);
  }
}

TYPED_TEST(TableFiles, HeaderLeftOneMergeBehindIsRepaired) {
  using W = TypeParam;
  const std::string records = FreshTable<W>({2, 3, 5, 7}).substr(sizeof(TableRecord<W>));
  for (const std::string& header : {Rec<W>(3, 2, 0), Rec<W>(0, 0, 0)}) {
    this->state = SearchState<W>{};
    const auto run = this->Read({{W::kTableFile, header + records}});
    EXPECT_EQ(MaskTimings(run.output), Loaded("7"));
    EXPECT_EQ(this->Used(), Rec<W>(7, 4, 0) + records);
    EXPECT_TRUE(this->state.table.needsSave);
  }
}

TYPED_TEST(TableFiles, DamagedTableIsRefusedWithoutChangingAnyFile) {
  using W = TypeParam;
  const std::string head = Rec<W>(7, 3, 0);
  const std::string r1 = Rec<W>(2, 0, 2);
  const std::string r2 = Rec<W>(3, 1, 3);
  const std::string tail = "の内容が壊れているため使用できません。\r\n";
  const std::string advice = "ファイルを確認してから再度実行して下さい。\r\n";
  const std::string header = "先頭レコードのデータ数・最大値がデータと一致しません。\r\n";
  struct Case {
    Files files;
    std::string expected;
  };
  const std::string table = W::kTableFile;
  const std::string half = W::kHalfFile;
  const Case cases[] = {
      {{{table, head + r1 + r2 + Rec<W>(3, 2, 4)}},
       table + " " + tail + "レコード番号 3 : データが昇順に並んでいません。\r\n"},
      {{{table, head + r1 + r2 + Rec<W>(7, 2, 5)}},
       table + " " + tail + "レコード番号 3 : 探索位置がデータの範囲外です。\r\n"},
      {{{table, head + r1 + Rec<W>(3, -1, 3) + Rec<W>(7, 2, 4)}},
       table + " " + tail + "レコード番号 2 : 探索位置がデータの範囲外です。\r\n"},
      {{{table, Rec<W>(uint64_t{W::kLimit} + 1, 1, 0) + Rec<W>(uint64_t{W::kLimit} + 1, 0, 2)}},
       table + " " + tail + "レコード番号 1 : データが使用可能範囲を超えています。\r\n"},
      {{{table, Rec<W>(7, 4, 0) + r1 + r2 + Rec<W>(7, 2, 4)}}, table + " " + tail + header},
      {{{table, Rec<W>(5, 3, 0) + r1 + r2 + Rec<W>(7, 2, 4)}}, table + " " + tail + header},
      {{{table, Rec<W>(3, 1, 0) + r1 + r2 + Rec<W>(7, 2, 4)}}, table + " " + tail + header},
      // Damage inside the part that the checkpoint supplies names the checkpoint.
      {{{table, head + r1 + r2 + Rec<W>(7, 2, 4)}, {half, head + Rec<W>(2, 0, 9)}},
       "中途データを発見したので使用します。\r\n" + half + " " + tail +
           "レコード番号 1 : 探索位置がデータの範囲外です。\r\n"},
  };
  for (const Case& c : cases) {
    this->state = SearchState<W>{};
    const auto run = this->Read(c.files);
    EXPECT_EQ(run.exitCode, kFailed);
    EXPECT_EQ(run.output, c.expected + advice + kEndPrompt);
    EXPECT_EQ(run.files, c.files);
  }
}

TYPED_TEST(TableFiles, AppendingGrowsTheBufferInSteps) {
  using W = TypeParam;
  RunPhase<W>(this->state,
              [](SearchState<W>& s) {
                ReadData(s);
                s.table.freeSlots = 1;  // as the run sequence sets it after loading
                AppendRecord(s, 11);
              },
              this->fake, {{W::kTableFile, FreshTable<W>({2, 3})}});
  EXPECT_EQ(this->state.table.recordCount, 4);
  EXPECT_EQ(this->state.table.freeSlots, 50000);
  EXPECT_EQ(this->state.table.records.size(), 50004u);
  EXPECT_EQ(this->Record(3), Rec<W>(11, 2, 4));
  // Records already in place survive the growth.
  EXPECT_EQ(this->Used().substr(0, 3 * sizeof(TableRecord<W>)), FreshTable<W>({2, 3}));

  // Filling every free slot grows the buffer again.
  for (typename W::Value v = 12; v < 12 + 50000; ++v) AppendRecord(this->state, v);
  EXPECT_EQ(this->state.table.recordCount, 50004);
  EXPECT_EQ(this->state.table.freeSlots, 50000);
  EXPECT_EQ(this->state.table.records.size(), 100004u);
  UpdateHeader(this->state);
  EXPECT_EQ(this->Record(0), Rec<W>(12 + 49999, 50003, 0));
}

TYPED_TEST(TableFiles, SaveKeepsThePreviousTableAsBackup) {
  using W = TypeParam;
  const std::string before = FreshTable<W>({2, 3});
  const auto run = RunPhase<W>(
      this->state,
      [](SearchState<W>& s) {
        ReadData(s);
        s.table.freeSlots = 1;
        AppendRecord(s, 5);
        UpdateHeader(s);
        SaveData(s);
      },
      this->fake, {{W::kTableFile, before}, {W::kOldTableFile, "stale"}, {W::kHalfFile, "x"}});
  EXPECT_EQ(MaskTimings(run.output), "中途データが現在のデータと一致しないため使用しません。\r\n" +
                                         Loaded("3") + "# [ms] : SaveData\r\n");
  const Files expected = {{W::kTableFile, FreshTable<W>({2, 3, 5})}, {W::kOldTableFile, before}};
  EXPECT_EQ(run.files, expected);
  EXPECT_EQ(this->state.consoleRow, 4);
}

TYPED_TEST(TableFiles, SaveWithoutEarlierTableMakesNoBackup) {
  using W = TypeParam;
  const auto run = RunPhase<W>(
      this->state,
      [](SearchState<W>& s) {
        s.table.records.assign(50000, TableRecord<W>{0, 0, 0});
        s.table.recordCount = 1;
        s.table.freeSlots = 49999;
        AppendRecord(s, 0);
        UpdateHeader(s);
        SaveData(s);
      },
      this->fake);
  EXPECT_EQ(MaskTimings(run.output), "# [ms] : SaveData\r\n");
  const Files expected = {{W::kTableFile, Rec<W>(0, 1, 0) + Rec<W>(0, 0, 2)}};
  EXPECT_EQ(run.files, expected);
}

TYPED_TEST(TableFiles, FailedSaveLeavesBothTableFilesIntact) {
  using W = TypeParam;
  const Files files = {{W::kTableFile, FreshTable<W>({2, 3})},
                       {W::kOldTableFile, FreshTable<W>({2})},
                       {W::kHalfFile, FreshTable<W>({2, 3})}};
  const auto save = [](SearchState<W>& s) {
    ReadData(s);
    s.table.freeSlots = 1;
    AppendRecord(s, 5);
    UpdateHeader(s);
    SaveData(s);
  };
  const std::string expected = "中途データを発見したので使用します。\r\n" + Loaded("3") +
                               "ファイルの書き込みに失敗しました。強制終了します。\r\n";
  // The temporary name is taken by a directory: the file cannot be created.
  auto run = RunPhase<W>(
      this->state,
      [&](SearchState<W>& s) {
        std::filesystem::create_directory(W::kTempTableFile);
        save(s);
      },
      this->fake, files);
  EXPECT_EQ(run.exitCode, kFailed);
  // Then the file's name and the system's own reason.
  EXPECT_TRUE(MaskTimings(run.output).starts_with(expected + W::kTempTableFile + " : "));
  EXPECT_EQ(run.files, files);

  // The file opens but the write is cut short: no half-written table is taken for a save.
  kvtest::FaultPlatform failing({kvtest::FullDisk(W::kTempTableFile)});
  this->state = SearchState<W>{};
  run = RunPhase<W>(this->state, save, failing, files);
  EXPECT_EQ(run.exitCode, kFailed);
  EXPECT_EQ(MaskTimings(run.output),
            expected + W::kTempTableFile + " : ディスクの空き容量が不足しています。\r\n");
  EXPECT_EQ(run.files, files);
}

TYPED_TEST(TableFiles, CheckpointStartsAnewWithTheHeaderThenGrows) {
  using W = TypeParam;
  const std::string table = FreshTable<W>({2, 3, 5});
  const auto run = RunPhase<W>(
      this->state,
      [](SearchState<W>& s) {
        ReadData(s);
        s.table.records[1].lowerCursor = 0;
        SaveHalfData(s, 0, 1);
        SaveHalfData(s, 1, 2);
      },
      this->fake, {{W::kTableFile, table}, {W::kHalfFile, "stale checkpoint of another run"}});
  EXPECT_EQ(run.files.at(W::kHalfFile),
            table.substr(0, sizeof(TableRecord<W>)) + Rec<W>(2, 0, 2) + Rec<W>(3, 1, 3));
  EXPECT_EQ(run.files.at(W::kTableFile), table);
}

TYPED_TEST(TableFiles, CheckpointWriteFailureEndsTheRunAtOnce) {
  using W = TypeParam;
  const std::string expected =
      std::string(W::kHalfFile) + " ファイルの書き込みに失敗しました。強制終了します。\r\n";
  const auto checkpoint = [](SearchState<W>& s) {
    ReadData(s);
    SaveHalfData(s, 0, 1);
    SaveHalfData(s, 1, 1);
  };
  const Files files = {{W::kTableFile, FreshTable<W>({2, 3, 5})}};
  auto run = RunPhase<W>(
      this->state,
      [&](SearchState<W>& s) {
        std::filesystem::create_directory(W::kHalfFile);
        checkpoint(s);
      },
      this->fake, files);
  EXPECT_EQ(run.exitCode, kFailed);
  EXPECT_TRUE(MaskTimings(run.output).starts_with(Loaded("5") + expected + W::kHalfFile + " : "));

  kvtest::FaultPlatform failing({kvtest::FullDisk(W::kHalfFile)});
  this->state = SearchState<W>{};
  run = RunPhase<W>(this->state, checkpoint, failing, files);
  EXPECT_EQ(run.exitCode, kFailed);
  EXPECT_EQ(MaskTimings(run.output),
            Loaded("5") + expected + W::kHalfFile + " : ディスクの空き容量が不足しています。\r\n");
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST(Checkpoint, RecordsAreNeverAppendedBehindATornCheckpoint) {
  SearchState<Width64> state;
  kvtest::FakePlatform fake;
  const auto run = kvtest::RunInProcess(
      [&state] {
        ReadData(state);
        SaveHalfData(state, 0, 1);
        // A write cut short by an earlier stop left part of a record behind the header.
        AppendToFile(Width64::kHalfFile, "torn");
        SaveHalfData(state, 1, 2);
      },
      fake, {{Width64::kTableFile, kvtest::FreshTable<Width64>({2, 3, 5})}});
  EXPECT_EQ(run.exitCode, kFailed);
  EXPECT_NE(run.output.find("_HalfData.dat ファイルの書き込みに失敗しました。強制終了します。"),
            std::string::npos);
  EXPECT_EQ(run.files.at(Width64::kHalfFile).size(), 16u + 4u);
}

}  // namespace
}  // namespace kv
