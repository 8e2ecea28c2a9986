// Merging a user's file of numbers: the scan of its bytes, what is appended and what is listed
// as skipped, and the stops when a number or the table exceeds its limit, for both widths.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FakePlatform;
using kvtest::Files;
using kvtest::FreshTable;
using kvtest::MaskTimings;
using kvtest::Names;
using kvtest::Rec;
using kvtest::RunPhase;

const std::string kPrompt =
    " \r\nソート済みの(追加)データが入ったファイル名を入力し(無ければそのまま) \r\n"
    "Enterを押して下さい : ";
const std::string kEndPrompt = "\r\n終了します。Press Enter Key. ";
const std::string kSkipped = "スキップしたデータが有ります。 _NOTAddData.txt に出力しました。\r\n";
const std::string kAdded = "データの追加が終了しました。\r\n";
const std::string kNotAdded = "データは追加されませんでした。\r\n";

template <typename W>
class Adding : public ::testing::Test {
 protected:
  SearchState<W> state;
  FakePlatform fake;
  int16_t result = -1;

  // Runs AddData on the table of `files` (or on a new empty table when there is none), as the
  // run sequence sets it up; the loading lines are not part of the returned output.
  kvtest::RunResult Add(const Files& files, const std::vector<std::string>& answers) {
    fake.input.assign(answers.begin(), answers.end());
    auto run = RunPhase<W>(
        state,
        [&](SearchState<W>& s) {
          if (ReadData(s) == 0) {
            s.table.records.assign(50000, TableRecord<W>{0, 0, 0});
            s.table.freeSlots = 49999;
          } else {
            s.table.freeSlots = 1;
          }
          s.consoleRow = 0;
          Os().WriteOut("|");
          result = AddData(s);
        },
        fake, files);
    run.output = MaskTimings(run.output.substr(run.output.find('|') + 1));
    return run;
  }
  std::string Table() {
    std::string all;
    for (int32_t i = 0; i < state.table.recordCount; ++i) {
      const auto& r = state.table.records[static_cast<size_t>(i)];
      all += Rec<W>(r.value, r.lowerCursor, r.upperCursor);
    }
    return all;
  }
};
TYPED_TEST_SUITE(Adding, kvtest::BothWidths);

TYPED_TEST(Adding, NoFileAddsNothing) {
  using W = TypeParam;
  // An answer with a comma is asked again; an empty answer means no file.
  auto run = this->Add({}, {"a,b", ""});
  EXPECT_EQ(run.output, kPrompt + "入力データの個数が多すぎます\nEnterを押して下さい : \r\n");
  EXPECT_EQ(this->result, 0);
  EXPECT_EQ(this->state.consoleRow, 5);

  this->state = SearchState<W>{};
  run = this->Add({{W::kTableFile, FreshTable<W>({2})}}, {"missing.txt"});
  EXPECT_EQ(run.output, kPrompt + "ファイルが見つかりませんでした。\r\n");
  EXPECT_EQ(this->result, 0);
  EXPECT_EQ(this->state.consoleRow, 5);
  EXPECT_EQ(this->Table(), FreshTable<W>({2}));
}

TYPED_TEST(Adding, RisingNumbersAppendOthersAreListed) {
  using W = TypeParam;
  const auto run = this->Add({{"n.txt", "2\r\n3\r\n3\r\n5\r\n4\r\n7"}}, {"n.txt"});
  EXPECT_EQ(run.output, kPrompt + "# [ms] : AddData\r\n" + kSkipped + kAdded);
  EXPECT_EQ(this->result, 1);
  EXPECT_EQ(this->Table(), FreshTable<W>({2, 3, 5, 7}));
  EXPECT_EQ(run.files.at("_NOTAddData.txt"), "3\r\n4\r\n");
  EXPECT_EQ(this->state.consoleRow, 7);
}

TYPED_TEST(Adding, EachLineGivesItsFirstNumberOnly) {
  using W = TypeParam;
  const std::string input =
      "  0007 x\n"    // leading blanks and zeros
      "-11\n"         // a minus sign is a separator
      "12 34\n"       // the rest of the line is ignored
      "13,234\n"      //
      "abc\n\n"       // lines without digits
      "0011\n"        // not above 13: listed as it stood
      "20\r21\r22\n"  // CR does not end a line
      "x-30y40\n"     //
      "\x82\xa0"
      "31\n"  // bytes of a double-byte character are separators too
      "35";   // no final line end
  const auto run = this->Add({{"n.txt", input}, {"_NOTAddData.txt", "1\r\n"}}, {"n.txt"});
  EXPECT_EQ(run.output, kPrompt + "# [ms] : AddData\r\n" + kSkipped + kAdded);
  EXPECT_EQ(this->Table(), FreshTable<W>({7, 11, 12, 13, 20, 30, 31, 35}));
  // Skipped numbers of earlier runs stay in the list.
  EXPECT_EQ(run.files.at("_NOTAddData.txt"), "1\r\n0011\r\n");
}

TYPED_TEST(Adding, NothingAboveTheTableAddsNothing) {
  using W = TypeParam;
  const std::string table = FreshTable<W>({2, 3, 5});
  const auto run = this->Add({{W::kTableFile, table}, {"n.txt", "1\n5\n"}}, {"n.txt"});
  EXPECT_EQ(run.output, kPrompt + "# [ms] : AddData\r\n" + kSkipped + kNotAdded);
  EXPECT_EQ(this->result, 0);
  EXPECT_EQ(this->Table(), table);
  EXPECT_EQ(run.files.at("_NOTAddData.txt"), "1\r\n5\r\n");
  EXPECT_EQ(run.files.at(W::kTableFile), table);

  // A file without numbers prints neither the skip line nor anything added.
  this->state = SearchState<W>{};
  const auto empty = this->Add({{W::kTableFile, table}, {"n.txt", ""}}, {"n.txt"});
  EXPECT_EQ(empty.output, kPrompt + "# [ms] : AddData\r\n" + kNotAdded);
}

TYPED_TEST(Adding, FirstNumberIntoAnEmptyTableMayBeZero) {
  using W = TypeParam;
  this->Add({{"n.txt", "0\n0\n1\n"}}, {"n.txt"});
  EXPECT_EQ(this->result, 1);
  EXPECT_EQ(this->Table(), FreshTable<W>({0, 1}));
}

TYPED_TEST(Adding, LimitIsJudgedByExactValue) {
  using W = TypeParam;
  // Far longer than any fixed digit buffer, yet only 5.
  const std::string longFive = std::string(60, '0') + "5";
  const auto run = this->Add(
      {{"n.txt", "3\n" + longFive + "\n" + std::string(Names<W>::kLimitText) + "\n"}}, {"n.txt"});
  EXPECT_EQ(run.output, kPrompt + "# [ms] : AddData\r\n" + kAdded);
  EXPECT_EQ(this->Table(), FreshTable<W>({3, 5, W::kLimit}));
}

TYPED_TEST(Adding, NumberAboveTheLimitStopsTheRun) {
  using W = TypeParam;
  using N = Names<W>;
  const std::string stop =
      std::string(N::kOutOfRange) + "\r\n->  %\r\n" + std::string(N::kAdvice) + "\r\n";
  const auto stopFor = [&](const std::string& digits) {
    std::string s = stop;
    s.replace(s.find('%'), 1, digits);
    return s;
  };
  // As the very first number: nothing to keep, no file written.
  for (const std::string& big : {std::string(N::kAboveLimit), "000" + std::string(N::kAboveLimit),
                                 std::string("18446744073709551617"), "1" + std::string(40, '0')}) {
    this->state = SearchState<W>{};
    const auto run = this->Add({{"n.txt", big + "\n1\n"}}, {"n.txt"});
    EXPECT_EQ(run.exitCode, kFailed);
    EXPECT_EQ(run.output, kPrompt + stopFor(big) + kEndPrompt);
    EXPECT_EQ(run.files, (Files{{"n.txt", big + "\n1\n"}}));
  }

  // After numbers were merged: they are saved with an up-to-date header.
  this->state = SearchState<W>{};
  const std::string table = FreshTable<W>({2});
  const auto run = this->Add(
      {{W::kTableFile, table}, {"n.txt", "1\n3\n5\n" + std::string(N::kAboveLimit) + "\n7\n"}},
      {"n.txt"});
  EXPECT_EQ(run.output, kPrompt + stopFor(N::kAboveLimit) +
                            "ここまでに登録したものは保存されます。\r\n# [ms] : SaveData\r\n" +
                            kEndPrompt);
  EXPECT_EQ(run.files.at(W::kTableFile), FreshTable<W>({2, 3, 5}));
  EXPECT_EQ(run.files.at(W::kOldTableFile), table);
  EXPECT_EQ(run.files.at("_NOTAddData.txt"), "1\r\n");
}

TYPED_TEST(Adding, FullTableStopsAfterSaving) {
  using W = TypeParam;
  this->state.testing.maxRecordCount = 4;
  const auto run = this->Add({{"n.txt", "1\n2\n3\n4\n5\n"}}, {"n.txt"});
  EXPECT_EQ(run.output, kPrompt +
                            "データ数が上限(3個)に達したため、これ以上登録できません。\r\n"
                            "->  4\r\n"
                            "ここまでに登録したものは保存されます。\r\n# [ms] : SaveData\r\n" +
                            kEndPrompt);
  EXPECT_EQ(run.files.at(W::kTableFile), FreshTable<W>({1, 2, 3}));
}

TYPED_TEST(Adding, LargeFileIsReadWholeAcrossBlocks) {
  using W = TypeParam;
  // About 1.3 MB: numbers straddle the read blocks and the table grows several times.
  std::string input;
  std::vector<uint64_t> values;
  for (uint64_t v = 1000001; v <= 1200000; ++v) {
    input += std::to_string(v) + "\r\n";
    values.push_back(v);
  }
  const auto run = this->Add({{"n.txt", input}}, {"n.txt"});
  EXPECT_EQ(run.output, kPrompt + "# [ms] : AddData\r\n" + kAdded);
  EXPECT_EQ(this->Table(), FreshTable<W>(values));
  EXPECT_EQ(this->state.table.records.size(),
            static_cast<size_t>(this->state.table.recordCount + this->state.table.freeSlots));
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Serves the first `limit` bytes of a file, then fails the read.
class BrokenReadPlatform : public kvtest::FakePlatform {
 public:
  explicit BrokenReadPlatform(int64_t limit) : limit_(limit) {}
  std::unique_ptr<FileHandle> OpenUserFile(const std::string& name) override {
    auto inner = native().OpenUserFile(name);
    if (!inner || name != "in.txt") return inner;
    return std::make_unique<Broken>(std::move(inner), limit_);
  }

 private:
  class Broken : public FileHandle {
   public:
    Broken(std::unique_ptr<FileHandle> inner, int64_t limit)
        : inner_(std::move(inner)), left_(limit) {}
    int64_t Size() override { return inner_->Size(); }
    bool SeekEnd() override { return inner_->SeekEnd(); }
    bool SeekTo(int64_t offset) override { return inner_->SeekTo(offset); }
    int64_t Read(void* buffer, int64_t count) override {
      if (left_ <= 0) return -1;
      const int64_t got = inner_->Read(buffer, std::min(count, left_));
      left_ -= got;
      return got;
    }
    bool Write(const void*, int64_t) override { return false; }
    bool Sync() override { return false; }
    bool Close() override { return inner_->Close(); }

   private:
    std::unique_ptr<FileHandle> inner_;
    int64_t left_;
  };
  int64_t limit_;
};

TEST(AddingBrokenRead, ANumberCutByAFailedReadIsNotMerged) {
  // "99\r\n1000\r\n" cut after "99\r\n100": 100 was never in the file.
  BrokenReadPlatform fake(7);
  fake.input = {"in.txt"};
  SearchState<Width64> state;
  const auto run = kvtest::RunInProcess(
      [&state] {
        state.table.records.assign(50000, TableRecord<Width64>{0, 0, 0});
        state.table.recordCount = 1;
        state.table.freeSlots = 49999;
        AddData(state);
      },
      fake, {{"in.txt", "99\r\n1000\r\n"}});
  EXPECT_NE(run.output.find("ファイルを最後まで読み込めませんでした。"), std::string::npos);
  ASSERT_EQ(state.table.recordCount, 2);
  EXPECT_EQ(state.table.records[1].value, 99u);
}

}  // namespace
}  // namespace kv
