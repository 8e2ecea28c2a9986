// kvimport: whole runs in-process (transcripts with cursor moves, saved list bytes), fault paths
// through a failing platform, and runs of the real executable with piped input.
#include "import/import.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "search/phases.h"
#include "tests/harness.h"
#include "tests/memfs.h"
#include "tests/process.h"

namespace kv {
namespace {

using kvtest::FaultOp;
using kvtest::Files;
using kvtest::LE;
using kvtest::Lines;
using kvtest::RunResult;

const std::string kHead =
    Lines({"Kolvex ver 0.22～用 NewPGen生成データ追加プログラム", "",
           "希望の処理を以下から選んで番号(1,2)を入力し、Enterを押して下さい。", "",
           "1   通常用"}) +
    "2   32bit用(ファイル名末尾に32) :";
const std::string kNewList = "データを取得できませんでした。新規作成します。\r\n";
const std::string kAskFile =
    "\r\nソート済みの(追加)データが入ったファイル名を入力し(無ければそのまま) \r\n"
    "Enterを押して下さい : ";
const std::string kAskStart = "篩い掛けの最小値(空白:データ最小値) :";
const std::string kAskEnd = "篩い掛けの最大値(空白:データ最大値) :";
const std::string kSkipped = "<@0,14>スキップしたデータが有ります。\r\n";
const std::string kDone = "データの追加が終了しました。\r\n";
const std::string kNoneAdded = "データは追加されませんでした。\r\n";
const std::string kAskRangeOnly =
    "データが1件も有りませんでした。範囲のみのファイルを作成しますか？(Y/N)";
const std::string kNotSaved = "保存せず終了します。\r\n";
const std::string kSaved = "保存完了しました。\r\n";
const std::string kEnd = "\r\n終了します。Press Enter Key. ";

std::string CountLine(const std::string& count) { return "<@0,15>" + count + "  個登録済み\r\n"; }
std::string Loaded(const std::string& from, const std::string& to) {
  return "既存データを読み込みました。 データ範囲= " + from + " - " + to + "\r\n";
}

std::string List64(std::initializer_list<uint64_t> entries) {
  std::string s;
  for (uint64_t e : entries) s += LE<uint64_t>(e);
  return s;
}
std::string List32(std::initializer_list<uint32_t> entries) {
  std::string s;
  for (uint32_t e : entries) s += LE<uint32_t>(e);
  return s;
}

RunResult Import(kvtest::FakePlatform& fake, const std::vector<std::string>& input,
                 const Files& files, int64_t limit = kSievedEntryLimit) {
  fake.showLocate = true;
  fake.input.assign(input.begin(), input.end());
  return kvtest::RunInProcess([limit] { RunImportProgram({.entryLimit = limit}); }, fake, files);
}
RunResult Import(const std::vector<std::string>& input, const Files& files = {}) {
  kvtest::FakePlatform fake;
  return Import(fake, input, files);
}

TEST(Import, MenuAnswersOtherThanOneOrTwoEndWithoutTouchingFiles) {
  const Files files = {{"_SievedListData.dat", List64({1, 2})}, {"in.txt", "h\n5\n"}};
  for (const char* answer : {"3", "", "0", "x", "1,2"}) {
    const auto run = Import({answer, "in.txt"}, files);
    EXPECT_EQ(run.exitCode, kNoWork);
    EXPECT_EQ(run.files, files) << answer;
    if (std::string(answer) != "1,2") {
      EXPECT_EQ(run.output, kHead + kEnd) << answer;
    }
  }
}

TEST(Import, NewListSkipsNumbersThatDoNotRise) {
  const auto run = Import({"1", "in.txt", "", ""}, {{"in.txt", "header line\n5\n3\n7\n"}});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, kHead + kNewList + kAskFile + kAskStart + kAskEnd + kSkipped +
                            CountLine("2") + kDone + kSaved + kEnd);
  EXPECT_EQ(run.files.size(), 2u);  // no work file left behind
  EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({5, 7, 5, 7}));
}

TEST(Import, RangeAnswersWidenButNeverNarrowTheCandidates) {
  struct Case {
    const char* start;
    const char* end;
    uint32_t rangeStart;
    uint32_t rangeEnd;
  };
  for (const Case& c : {Case{"1", "100", 1, 100}, Case{"6", "", 5, 7}, Case{"", "6", 5, 7},
                        Case{"5", "7", 5, 7}, Case{"&H3", "1e9", 3, 7}}) {
    const Files in = {{"in.txt", "h\n5\n3\n7"}};
    const auto run64 = Import({"1", "in.txt", c.start, c.end}, in);
    EXPECT_EQ(run64.files.at("_SievedListData.dat"), List64({c.rangeStart, c.rangeEnd, 5, 7}))
        << c.start << " " << c.end;
    const auto run32 = Import({"2", "in.txt", c.start, c.end}, in);
    EXPECT_EQ(run32.files.at("_SievedListData32.dat"), List32({c.rangeStart, c.rangeEnd, 5, 7}))
        << c.start << " " << c.end;
    EXPECT_EQ(run32.files.count("_SievedListData.dat"), 0u);
  }
}

TEST(Import, RangeAnswersAreExactAndNeverNegative) {
  // Above 2^53 a double would round the answer; the stored end must be the typed one.
  auto run = Import({"1", "in.txt", "-5", "9", " +9007199254740993"}, {{"in.txt", "h\n10\n"}});
  EXPECT_EQ(run.output, kHead + kNewList + kAskFile + kAskStart + "負の値は指定できません。\r\n" +
                            kAskStart + kAskEnd + CountLine("1") + kDone + kSaved + kEnd);
  EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({9, 9007199254740993ULL, 10}));

  run = Import({"1", "in.txt", "", "99999999999999999999999"}, {{"in.txt", "h\n10\n"}});
  EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({10, 18446744073709551615ULL, 10}));

  // The 32-bit list takes an answer beyond 32 bits as the largest 32-bit value, not its low bits.
  run = Import({"2", "in.txt", "", "4294967301"}, {{"in.txt", "h\n10\n"}});
  EXPECT_EQ(run.files.at("_SievedListData32.dat"), List32({10, 4294967295U, 10}));
}

TEST(Import, ScanTakesTheDigitsAtTheStartOfEachLineAfterTheHeader) {
  const std::string text = "12 header\n 11\n-5\n\r\nx9\n12 34\n0013x\r\n\n20";
  const auto run = Import({"1", "in.txt", "", ""}, {{"in.txt", text}});
  // The last line counts once although it has no LF, and nothing is skipped.
  EXPECT_EQ(run.output, kHead + kNewList + kAskFile + kAskStart + kAskEnd + CountLine("3") + kDone +
                            kSaved + kEnd);
  EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({12, 20, 12, 13, 20}));

  // Without any LF the whole file is the header.
  const auto none = Import({"1", "in.txt", "", "", "n"}, {{"in.txt", "5"}});
  EXPECT_EQ(none.output, kHead + kNewList + kAskFile + kAskStart + kAskEnd + kNoneAdded +
                             kAskRangeOnly + kNotSaved + kEnd);
  EXPECT_EQ(none.files.size(), 1u);
}

TEST(Import, RangeOnlyDialogueAsksUntilTheRangeIsComplete) {
  const auto run =
      Import({"1", "in.txt", "", "", "y", "", "1000", "500", "2000"}, {{"in.txt", "header\n"}});
  EXPECT_EQ(run.output, kHead + kNewList + kAskFile + kAskStart + kAskEnd + kNoneAdded +
                            kAskRangeOnly + kAskStart + kAskStart + kAskEnd +
                            "篩い掛けの最小値: 1000\r\n" + kAskEnd + kSaved + kEnd);
  EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({1000, 2000}));

  // Answers already given while reading the file are kept when they fit.
  const auto kept = Import({"2", "in.txt", "300", "400", "Y"}, {{"in.txt", "header\n"}});
  EXPECT_EQ(kept.files.at("_SievedListData32.dat"), List32({300, 400}));

  // Without a file name the bounds are asked only here.
  const auto direct = Import({"1", "", "y", "7", "7"});
  EXPECT_EQ(direct.output, kHead + kNewList + kAskFile + "\r\n" + kAskRangeOnly + kAskStart +
                               kAskEnd + kSaved + kEnd);
  EXPECT_EQ(direct.files.at("_SievedListData.dat"), List64({7, 7}));
}

TEST(Import, RangeOnlyDialogueRefusedOrCutShortSavesNothing) {
  for (const char* answer : {"N", "yes", " y", ""}) {
    const auto run = Import({"1", "", answer});
    EXPECT_EQ(run.output, kHead + kNewList + kAskFile + "\r\n" + kAskRangeOnly + kNotSaved + kEnd)
        << answer;
    EXPECT_TRUE(run.files.empty());
  }
  // The input ends while a bound is still missing: the questions must not repeat forever.
  auto run = Import({"1", "", "y"});
  EXPECT_EQ(run.output,
            kHead + kNewList + kAskFile + "\r\n" + kAskRangeOnly + kAskStart + kNotSaved + kEnd);
  EXPECT_TRUE(run.files.empty());
  run = Import({"2", "", "y", "1000"});
  EXPECT_EQ(run.output, kHead + kNewList + kAskFile + "\r\n" + kAskRangeOnly + kAskStart + kAskEnd +
                            kNotSaved + kEnd);
  EXPECT_TRUE(run.files.empty());
}

TEST(Import, MissingInputFileKeepsAnExistingList) {
  const std::string list = List64({100, 200, 150});
  const auto run = Import({"1", "nothere.txt"}, {{"_SievedListData.dat", list}});
  EXPECT_EQ(run.output, kHead + Loaded("100", "200") + kAskFile +
                            "ファイルが見つかりませんでした。\r\n" + kSaved + kEnd);
  EXPECT_EQ(run.files.at("_SievedListData.dat"), list);

  // With no list either, the range-only question follows.
  const auto none = Import({"1", "nothere.txt", "n"});
  EXPECT_EQ(none.output, kHead + kNewList + kAskFile + "ファイルが見つかりませんでした。\r\n" +
                             kAskRangeOnly + kNotSaved + kEnd);
}

TEST(Import, ExistingRangeOnlyListTakesOnlyNumbersAboveItsRange) {
  const Files files = {{"_SievedListData32.dat", List32({1000, 2000})},
                       {"in.txt", "h\n1500\n2500\n"}};
  auto run = Import({"2", "in.txt", ""}, files);
  EXPECT_EQ(run.output, kHead + Loaded("1000", "2000") + kAskFile + kAskEnd + kSkipped +
                            CountLine("1") + kDone + kSaved + kEnd);
  EXPECT_EQ(run.files.at("_SievedListData32.dat"), List32({2500, 2500, 2500}));
  run = Import({"2", "in.txt", "3000"}, files);
  EXPECT_EQ(run.files.at("_SievedListData32.dat"), List32({2500, 3000, 2500}));
}

TEST(Import, ListsShorterThanTheRangeAreNewLists) {
  // An empty file and a file of one entry (plus a partial one) both start a new list.
  for (const std::string& old : {std::string(), List64({77}), List64({77}) + "xyz"}) {
    const auto run =
        Import({"1", "in.txt", "", ""}, {{"_SievedListData.dat", old}, {"in.txt", "h\n5\n"}});
    EXPECT_EQ(run.output, kHead + Loaded("0", "0") + kAskFile + kAskStart + kAskEnd +
                              CountLine("1") + kDone + kSaved + kEnd);
    EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({5, 5, 5}));
  }
  // Without an input file such a list is saved as it was.
  const auto run = Import({"1", ""}, {{"_SievedListData.dat", List64({77})}});
  EXPECT_EQ(run.output, kHead + Loaded("0", "0") + kAskFile + "\r\n" + kSaved + kEnd);
  EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({77}));
}

TEST(Import, SaveKeepsATrailingPartialEntryBehindTheNewEntries) {
  // Every number is skipped: the range is nevertheless reset to the candidates.
  const std::string old = List64({5, 50, 10, 20}) + "abc";
  auto run = Import({"1", "in.txt", ""}, {{"_SievedListData.dat", old}, {"in.txt", "h\n15\n"}});
  EXPECT_EQ(run.output, kHead + Loaded("5", "50") + kAskFile + kAskEnd + kSkipped + CountLine("2") +
                            kDone + kSaved + kEnd);
  EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({10, 20, 10, 20}) + "abc");

  // A longer list covers the old partial entry.
  run = Import({"2", "in.txt", "40"},
               {{"_SievedListData32.dat", List32({5, 50, 10, 20}) + "ab"}, {"in.txt", "h\n30\n"}});
  EXPECT_EQ(run.files.at("_SievedListData32.dat"), List32({10, 40, 10, 20, 30}));
}

TEST(Import, NumbersAboveTheLimitStopTheRunWithoutSaving) {
  struct Case {
    const char* menu;
    const char* number;
    const char* file;
  };
  const std::string stop64 =
      "64bit版の使用可能範囲(9223372036854775807以下)を超えるデータが見つかりました。\r\n";
  const std::string advice64 = "この行を消去したファイルにて再度登録して下さい。\r\n";
  const std::string stop32 =
      "32bit版の使用可能範囲(2147483647以下)を超えるデータが見つかりました。\r\n";
  const std::string advice32 =
      "この行を消去したファイルにて再度登録するか、通常(64bit)版をご指定下さい。\r\n";
  for (const Case& c : {Case{"1", "9223372036854775808", "_SievedListData.dat"},
                        Case{"1", "000009223372036854775808", "_SievedListData.dat"},
                        Case{"1", "123456789012345678901", "_SievedListData.dat"},
                        Case{"2", "2147483648", "_SievedListData32.dat"},
                        Case{"2", "04294967297", "_SievedListData32.dat"}}) {
    const std::string list = c.menu[0] == '1' ? List64({1, 2, 2}) : List32({1, 2, 2});
    const auto run =
        Import({c.menu, "in.txt", ""},
               {{c.file, list}, {"in.txt", "h\n3\n" + std::string(c.number) + " x\n4\n"}});
    const bool wide = c.menu[0] == '1';
    EXPECT_EQ(run.output, kHead + Loaded("1", "2") + kAskFile + kAskEnd + (wide ? stop64 : stop32) +
                              "->  " + c.number + "\r\n" + (wide ? advice64 : advice32) + kEnd)
        << c.number;
    EXPECT_EQ(run.files.at(c.file), list);
  }
  // The limits themselves are taken.
  auto run = Import({"1", "in.txt", "", ""}, {{"in.txt", "h\n9223372036854775807\n"}});
  EXPECT_EQ(run.files.at("_SievedListData.dat"),
            List64({9223372036854775807ULL, 9223372036854775807ULL, 9223372036854775807ULL}));
  run = Import({"2", "in.txt", "", ""}, {{"in.txt", "h\n2147483647\n"}});
  EXPECT_EQ(run.files.at("_SievedListData32.dat"), List32({2147483647U, 2147483647U, 2147483647U}));
}

std::string Numbers(uint64_t first, int count) {
  std::string text = "header\r\n";
  for (int i = 0; i < count; ++i)
    text += std::to_string(first + 2 * static_cast<uint64_t>(i)) + "\r\n";
  return text;
}

TEST(Import, CountLineEveryTenThousandNumbersOnItsRow) {
  // An existing list has room for 10000 more entries; a new one for 9998 candidates.
  auto run = Import({"1", "in.txt", ""},
                    {{"_SievedListData.dat", List64({1, 3, 3})}, {"in.txt", Numbers(5, 10000)}});
  EXPECT_EQ(run.output, kHead + Loaded("1", "3") + kAskFile + kAskEnd + CountLine("10001") +
                            CountLine("10001") + kDone + kSaved + kEnd);
  EXPECT_EQ(run.files.at("_SievedListData.dat").size(), 10003u * 8);

  run = Import({"2", "in.txt", "", ""}, {{"in.txt", Numbers(1, 20000)}});
  EXPECT_EQ(run.output, kHead + kNewList + kAskFile + kAskStart + kAskEnd + CountLine("9998") +
                            CountLine("19998") + CountLine("20000") + kDone + kSaved + kEnd);
  const std::string& list = run.files.at("_SievedListData32.dat");
  ASSERT_EQ(list.size(), 20002u * 4);
  EXPECT_EQ(list.substr(0, 16), List32({1, 39999, 1, 3}));
  EXPECT_EQ(list.substr(list.size() - 4), LE<uint32_t>(39999));
}

TEST(Import, EntryLimitEndsTheRunWithoutSaving) {
  const std::string limit = "データの個数限界(2147483647個)です。終了します。\r\n";
  for (const char* menu : {"1", "2"}) {
    kvtest::FakePlatform fake;
    const auto run = Import(fake, {menu, "in.txt", "", ""}, {{"in.txt", Numbers(1, 12)}}, 10);
    EXPECT_EQ(run.output, kHead + kNewList + kAskFile + kAskStart + kAskEnd + limit + kEnd);
    EXPECT_EQ(run.files.size(), 1u);
  }
}

TEST(Import, FailedSaveIsReportedAndKeepsTheOldList) {
  const std::string old = List64({1, 2, 2});
  // The list cannot be written: no rename is allowed, and the work file may not even be created.
  for (bool failCreate : {false, true}) {
    kvtest::FaultPlatform fake({{FaultOp::kRename, "", FileErrorKind::kNoAccess}});
    if (failCreate) {
      fake.always.push_back({FaultOp::kOpen, Width64::kTempSievedFile, FileErrorKind::kReadOnly});
    }
    const auto run =
        Import(fake, {"1", "in.txt", ""}, {{"_SievedListData.dat", old}, {"in.txt", "h\n9\n"}});
    EXPECT_EQ(run.exitCode, kFailed);
    EXPECT_EQ(
        run.output,
        kHead + Loaded("1", "2") + kAskFile + kAskEnd + CountLine("2") + kDone +
            "ファイルの書き込みに失敗しました。強制終了します。\r\n" +
            (failCreate ? "_SievedListData.dat : 書き込み禁止(読み取り専用)になっています。\r\n"
                        : "_SievedListData.dat : アクセス権がありません。\r\n") +
            kEnd);
    EXPECT_EQ(run.files.size(), 2u);  // the work file is gone
    EXPECT_EQ(run.files.at("_SievedListData.dat"), old);
  }
}

TEST(Import, RealExecutableWithPipedInput) {
  const auto run =
      kvtest::RunExecutable(KV_IMPORT_EXE, "1\nin.txt\n\n\n\n", {{"in.txt", "h\n5\n3\n7\n"}});
  EXPECT_EQ(run.exitCode, 0);
  // Outside a console the cursor moves leave no bytes.
  EXPECT_EQ(run.output, kHead + kNewList + kAskFile + kAskStart + kAskEnd +
                            "スキップしたデータが有ります。\r\n2  個登録済み\r\n" + kDone + kSaved +
                            kEnd);
  EXPECT_EQ(run.files.at("_SievedListData.dat"), List64({5, 7, 5, 7}));

  // The input ends inside the range-only dialogue.
  const auto cut = kvtest::RunExecutable(KV_IMPORT_EXE, "2\n\ny\n");
  EXPECT_EQ(cut.exitCode, kNoWork);
  EXPECT_TRUE(cut.files.empty());
}

template <typename W>
void ExpectSearchReadsImportedList(const char* menu) {
  const auto run = Import({menu, "in.txt", "100", "200"}, {{"in.txt", "h\n101\n103\n107\n"}});
  kvtest::TempDir dir;
  kvtest::WriteFiles(dir.path(), run.files);
  SearchState<W> state;
  state.sieved.entries.assign(1000, 0);
  kvtest::FakePlatform fake;
  kvtest::RunInDirectory([&state] { ReadSievedData(state); }, fake, dir.path());
  if (state.sieved.count == 0) GTEST_SKIP() << "the search program does not load the list yet";
  EXPECT_EQ(state.sieved.count, 5u);
  for (typename W::Value v : {100u, 102u, 105u, 200u}) {
    EXPECT_TRUE(isRuledOut(state.sieved, v)) << v;
  }
  for (typename W::Value v : {99u, 101u, 103u, 107u, 201u}) {
    EXPECT_FALSE(isRuledOut(state.sieved, v)) << v;
  }
}

TEST(Import, SearchProgramRulesOutWhatTheImportedListExcludes) {
  ExpectSearchReadsImportedList<Width64>("1");
  ExpectSearchReadsImportedList<Width32>("2");
}

}  // namespace
}  // namespace kv
