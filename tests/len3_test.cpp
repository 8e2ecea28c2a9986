// The length-3 search: worked tables, the progress line, the order of the writes at each
// checkpoint, interruption and resumption, and whole runs.
#include <gtest/gtest.h>

#include "platform/fileutil.h"
#include "tests/memfs.h"
#include "tests/search_testing.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::DecodeStore;
using kvtest::FakePlatform;
using kvtest::FaultOp;
using kvtest::Files;
using kvtest::LE;
using kvtest::Lines;
using kvtest::MaskTimings;
using kvtest::StoredItem;
using kvtest::TempDir;

const std::string kInspHeader =
    "等差数列がデータの範囲外まで続く可能性があります。閲覧専用の為、改変、削除は次回の探索に影響し"
    "ません。\r\n\r\n";
const std::string kResultHeader = "n=0,1, ... ,Len-1\r\n";

std::string StoreBytes(int32_t dataCountPlusOne, std::initializer_list<int32_t> body) {
  std::string bytes = LE<int32_t>(-20) + LE<int32_t>(dataCountPlusOne) + LE<int32_t>(0);
  for (const int32_t e : body) bytes += LE<int32_t>(e);
  return bytes;
}

template <typename W>
class Len3 : public ::testing::Test {
 protected:
  // Searches a fresh table of `values` once; the state stays readable.
  kvtest::RunResult Search(const std::vector<uint64_t>& values, int32_t minSave) {
    std::vector<typename W::Value> narrow(values.begin(), values.end());
    state = kvtest::MakeState<W>(narrow, minSave);
    return kvtest::RunLen3In(state, fake, dir.path());
  }
  SearchState<W> state;
  FakePlatform fake;
  TempDir dir;
};
TYPED_TEST_SUITE(Len3, kvtest::BothWidths);

TYPED_TEST(Len3, ThreeFiveSevenGoesToTheStoreAndFinishesItsLine) {
  using W = TypeParam;
  const auto run = this->Search({3, 5, 7}, 3);
  EXPECT_EQ(MaskTimings(run.output),
            Lines({"Finished. (Total  3  lines.)  ", "# [ms] : Len3Search"}));
  EXPECT_EQ(run.files.at("_ContData.dat"), StoreBytes(4, {-2, 1}));
  EXPECT_EQ(run.files.at("_ContData_insp.txt"), kInspHeader + "Len 3, 3 + 2 *n\r\n");
  EXPECT_EQ(run.files.at(W::kHalfFile), kvtest::Rec<W>(7, 3, 0) + kvtest::Rec<W>(3, 0, 2) +
                                            kvtest::Rec<W>(5, 0, 3) + kvtest::Rec<W>(7, 2, 4));
  EXPECT_EQ(run.files.size(), 3u);
  EXPECT_EQ(this->state.consoleRow, 0);
}

TYPED_TEST(Len3, UpperPassLineWaitsAtTheTopOfTheData) {
  const auto run = this->Search({2, 3, 5, 7}, 3);
  const auto& r = this->state.table.records;
  EXPECT_EQ(r[2].lowerCursor, 0);  // 3: no first term below 3 - 2
  EXPECT_EQ(r[3].lowerCursor, 2);
  EXPECT_EQ(r[3].upperCursor, 5);
  EXPECT_EQ(run.files.at("_ContData.dat"), StoreBytes(5, {-3, 2}));
  EXPECT_EQ(kvtest::ResultFiles(run.files).size(), 0u);
}

TYPED_TEST(Len3, FinishedProgressionsGoToTheFileOfTheirLength) {
  auto run = this->Search({3, 5, 7, 11}, 3);
  EXPECT_EQ(run.files.at("_L3_ResultData.txt"), kResultHeader + "Len 3, 3 + 2 *n\r\n");
  EXPECT_EQ(run.files.at("_ContData.dat"), StoreBytes(5, {-3, 1}));  // 3, 7, 11

  TempDir other;
  auto s = kvtest::MakeState<TypeParam>({3, 5, 7, 11}, 4);
  run = kvtest::RunLen3In(s, this->fake, other.path());
  EXPECT_EQ(kvtest::ResultFiles(run.files).size(), 0u);  // 3, 5, 7 is too short
  EXPECT_EQ(run.files.at("_ContData.dat"), StoreBytes(5, {-3, 1}));
  EXPECT_EQ(run.files.at("_ContData_insp.txt"), kInspHeader);

  TempDir third;
  s = kvtest::MakeState<TypeParam>({5, 11, 17, 23, 29, 37}, 3);
  run = kvtest::RunLen3In(s, this->fake, third.path());
  EXPECT_EQ(run.files.at("_L5_ResultData.txt"), kResultHeader + "Len 5, 5 + 6 *n\r\n");
  EXPECT_EQ(run.files.at("_L4_ResultData.txt"), kResultHeader + "Len 4, 11 + 6 *n\r\n");
  EXPECT_EQ(run.files.at("_L3_ResultData.txt"), kResultHeader + "Len 3, 17 + 6 *n\r\n");
  EXPECT_EQ(run.files.at("_ContData.dat"), StoreBytes(7, {-3, 1}));  // 5, 17, 29
}

TYPED_TEST(Len3, SecondSearchOfTheSameTableFindsNothing) {
  const auto primes = kvtest::PrimesBelow(500);
  const auto first = this->Search(primes, 3);
  const auto records = this->state.table.records;
  const auto second = kvtest::RunLen3In(this->state, this->fake, this->dir.path());
  for (const auto& [name, content] : first.files) {
    if (name != TypeParam::kHalfFile) {
      EXPECT_EQ(second.files.at(name), content) << name;
    }
  }
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(this->state.table.records[i].lowerCursor, records[i].lowerCursor);
    EXPECT_EQ(this->state.table.records[i].upperCursor, records[i].upperCursor);
  }
}

// Cursors that no search leaves (a table damaged in memory or on disk) never lead the walks off
// the table: such a line is searched from its start.
TYPED_TEST(Len3, ImpossibleCursorsRestartTheLine) {
  const std::vector<uint64_t> values = {3, 5, 7, 11, 13, 17, 19, 23};
  const auto fresh = this->Search(values, 3);
  std::vector<typename TypeParam::Value> narrow(values.begin(), values.end());
  auto s = kvtest::MakeState<TypeParam>(narrow, 3);
  s.table.records[3] = {7, 50, -4};
  s.table.records[6] = {17, -1, 6};
  s.table.records[7] = {19, 2, 10};
  TempDir other;
  const auto run = kvtest::RunLen3In(s, this->fake, other.path());
  EXPECT_EQ(kvtest::ResultFiles(run.files), kvtest::ResultFiles(fresh.files));
  EXPECT_EQ(run.files.at("_ContData.dat"), fresh.files.at("_ContData.dat"));
}

// With a display at every line, the progress line of each line shows the share of the work
// done, computed here in exact integers.
TYPED_TEST(Len3, ProgressLineAtEveryLineShowsItsShare) {
  std::vector<uint64_t> values;
  for (uint64_t v = 1; v <= 1000; ++v) values.push_back(v);
  this->fake.tickStep = 2001;
  this->fake.showLocate = true;
  std::vector<typename TypeParam::Value> narrow(values.begin(), values.end());
  auto s = kvtest::MakeState<TypeParam>(narrow, 20);
  s.consoleRow = 7;
  const auto run = kvtest::RunLen3In(s, this->fake, this->dir.path());
  std::string expected;
  for (int64_t i = 2; i <= 999; ++i) {
    const bool lower = i <= 500;
    const int64_t q =
        lower ? i * i * 2000 / 1000000 : 1000 - ((1000 - i) * (1000 - i) * 2000 + 999999) / 1000000;
    const std::string percent =
        std::to_string(q / 10) + (q % 10 == 0 ? "" : "." + std::to_string(q % 10));
    expected += "<@0,7>Line  " + std::to_string(i) + "  : finished. ( " + percent +
                (lower ? " %)" : " %)    ") + "\r\n";
  }
  expected += "<@0,7>Finished. (Total  1000  lines.)  \r\n# [ms] : Len3Search\r\n";
  EXPECT_EQ(MaskTimings(run.output), expected);
  EXPECT_NE(run.output.find("Line  333  : finished. ( 22.1 %)\r\n"), std::string::npos);
  EXPECT_NE(run.output.find("Line  500  : finished. ( 50 %)\r\n"), std::string::npos);
  EXPECT_NE(run.output.find("Line  900  : finished. ( 98 %)    \r\n"), std::string::npos);
  EXPECT_EQ(s.consoleRow, 7);
}

// A platform that, at every tick reading (the moments between lines), takes a picture of the
// working directory.
class Photographer : public FakePlatform {
 public:
  std::vector<Files> pictures;
  uint32_t TickCount() override {
    pictures.push_back(kvtest::ReadFiles(std::filesystem::current_path()));
    return FakePlatform::TickCount();
  }
};

// Whatever moment the program stops at, the files on disk hold the results and continuations of
// exactly the lines that the checkpoint records as done: none lost, none to be written twice.
TYPED_TEST(Len3, FilesMatchTheCheckpointAtEveryMoment) {
  using W = TypeParam;
  const auto primes = kvtest::PrimesBelow(3000);
  Photographer camera;
  camera.tickStep = 1000;
  std::vector<typename W::Value> narrow(primes.begin(), primes.end());
  auto s = kvtest::MakeState<W>(narrow, 3);
  const auto run = kvtest::RunLen3In(s, camera, this->dir.path());
  const std::string table = run.files.at(W::kHalfFile);
  ASSERT_EQ(table.size(), (primes.size() + 1) * sizeof(TableRecord<W>));
  size_t previous = 0;
  size_t displays = 0;
  for (const Files& picture : camera.pictures) {
    const auto half = picture.find(W::kHalfFile);
    const size_t bytes = half == picture.end() ? 0 : half->second.size();
    ASSERT_EQ(bytes % sizeof(TableRecord<W>), 0u);
    ASSERT_GE(bytes, previous);
    if (bytes > previous && previous > 0) ++displays;
    previous = bytes;
    ASSERT_EQ(table.substr(0, bytes), bytes == 0 ? "" : half->second);
    const size_t done = bytes == 0 ? 0 : bytes / sizeof(TableRecord<W>) - 1;
    const auto expected = kvtest::Enumerate(primes, 3, nullptr, done);
    ASSERT_EQ(kvtest::ResultFiles(picture), expected.resultFiles) << "through line " << done;
    const auto store = picture.find("_ContData.dat");
    ASSERT_EQ(store == picture.end() ? std::vector<StoredItem>{} : DecodeStore(store->second),
              expected.stored);
    const auto insp = picture.find("_ContData_insp.txt");
    ASSERT_EQ(insp == picture.end() ? "" : insp->second, expected.inspection);
  }
  EXPECT_GT(displays, 10u);
}

// Stops the program at the `stopAt`-th tick reading after the search has begun its checkpoint,
// as when the machine goes down.
// With `atOpen`, it stops instead at the `stopAt`-th file opened for writing.
class Interrupting : public FakePlatform {
 public:
  Interrupting(std::string half, int stopAt, bool atOpen = false)
      : half_(std::move(half)), stopAt_(stopAt), atOpen_(atOpen) {}
  uint32_t TickCount() override {
    if (!atOpen_) Count();
    return FakePlatform::TickCount();
  }
  std::unique_ptr<FileHandle> Create(const std::string& name) override {
    if (atOpen_) Count();
    return FakePlatform::Create(name);
  }
  std::unique_ptr<FileHandle> OpenAppend(const std::string& name) override {
    if (atOpen_) Count();
    return FakePlatform::OpenAppend(name);
  }

 private:
  void Count() {
    if (Exists(half_) && ++events_ == stopAt_) throw kvtest::ExitRequest{99};
  }
  std::string half_;
  int stopAt_;
  bool atOpen_;
  int events_ = 0;
};

std::multiset<std::string> AllResultLines(const Files& files) {
  std::multiset<std::string> lines;
  for (const auto& [length, content] : kvtest::ResultFiles(files)) {
    for (const auto& line : kvtest::SplitLines(content)) lines.insert(line);
  }
  return lines;
}

bool Includes(const std::multiset<std::string>& big, const std::multiset<std::string>& small) {
  return std::includes(big.begin(), big.end(), small.begin(), small.end());
}

template <typename W>
void RunWholeProgram() {
  SearchState<W> s;
  RunSearchProgram(s);
}

std::multiset<std::string> InspectionLines(const Files& files) {
  const auto lines = kvtest::SplitLines(files.at("_ContData_insp.txt"));
  return {lines.begin() + 2, lines.end()};
}

TYPED_TEST(Len3, InterruptedSearchResumesToTheSameFiles) {
  using W = TypeParam;
  const auto primes = kvtest::PrimesBelow(2500);
  const Files start = {{W::kTableFile, kvtest::FreshTable<W>(primes)}};

  FakePlatform plain;
  plain.input = {"", "3"};
  const auto whole = kvtest::RunInProcess(RunWholeProgram<W>, plain, start);
  ASSERT_EQ(whole.exitCode, 0) << whole.output;
  EXPECT_EQ(whole.files.count(W::kHalfFile), 0u);
  const auto expected = kvtest::Enumerate(primes, 3);
  EXPECT_EQ(kvtest::ResultFiles(whole.files), expected.resultFiles);

  for (const int stopAt : {1, 2, 40, 41, 42, 150, 300}) {
    SCOPED_TRACE("stopped at reading " + std::to_string(stopAt));
    TempDir dir;
    kvtest::WriteFiles(dir.path(), start);
    Interrupting stopping(W::kHalfFile, stopAt);
    stopping.tickStep = 1000;
    stopping.input = {"", "3"};
    const auto stopped = kvtest::RunInDirectory(RunWholeProgram<W>, stopping, dir.path());
    ASSERT_EQ(stopped.exitCode, 99);
    FakePlatform again;
    again.input = {"", "3"};
    const auto resumed = kvtest::RunInDirectory(RunWholeProgram<W>, again, dir.path());
    ASSERT_EQ(resumed.exitCode, 0) << resumed.output;
    EXPECT_EQ(resumed.files.at(W::kTableFile), whole.files.at(W::kTableFile));
    EXPECT_EQ(resumed.files.count(W::kHalfFile), 0u);
    EXPECT_EQ(kvtest::ResultFiles(resumed.files), kvtest::ResultFiles(whole.files));
    auto storedNow = DecodeStore(resumed.files.at("_ContData.dat"));
    auto storedWhole = DecodeStore(whole.files.at("_ContData.dat"));
    std::sort(storedNow.begin(), storedNow.end());
    std::sort(storedWhole.begin(), storedWhole.end());
    EXPECT_EQ(storedNow, storedWhole);
    EXPECT_EQ(InspectionLines(resumed.files), InspectionLines(whole.files));
  }

  // Stopped in the middle of the writes of a checkpoint, a run may write some lines twice but
  // never loses one: nothing is recorded as done before its results are on disk.
  for (int stopAt = 1; stopAt <= 12; ++stopAt) {
    SCOPED_TRACE("stopped at write " + std::to_string(stopAt));
    TempDir dir;
    kvtest::WriteFiles(dir.path(), start);
    Interrupting stopping(W::kHalfFile, stopAt, true);
    stopping.tickStep = 1000;
    stopping.input = {"", "3"};
    const auto stopped = kvtest::RunInDirectory(RunWholeProgram<W>, stopping, dir.path());
    ASSERT_EQ(stopped.exitCode, 99);
    FakePlatform again;
    again.input = {"", "3"};
    const auto resumed = kvtest::RunInDirectory(RunWholeProgram<W>, again, dir.path());
    ASSERT_EQ(resumed.exitCode, 0) << resumed.output;
    EXPECT_EQ(resumed.files.at(W::kTableFile), whole.files.at(W::kTableFile));
    EXPECT_TRUE(Includes(AllResultLines(resumed.files), AllResultLines(whole.files)));
    const auto storedNow = DecodeStore(resumed.files.at("_ContData.dat"));
    const std::set<StoredItem> now(storedNow.begin(), storedNow.end());
    for (const auto& item : DecodeStore(whole.files.at("_ContData.dat"))) {
      EXPECT_EQ(now.count(item), 1u) << item.first << "," << item.second;
    }
  }
}

// When the finished checkpoint cannot replace the table file, it stays; the next run lays it
// over the table and loses nothing.
TYPED_TEST(Len3, CheckpointThatCannotReplaceTheTableIsKept) {
  using W = TypeParam;
  const auto primes = kvtest::PrimesBelow(300);
  const Files start = {{W::kTableFile, kvtest::FreshTable<W>(primes)}};
  FakePlatform plain;
  plain.input = {"", "3"};
  const auto whole = kvtest::RunInProcess(RunWholeProgram<W>, plain, start);

  kvtest::FaultPlatform failing({{FaultOp::kRename, W::kHalfFile, FileErrorKind::kInUse}});
  failing.input = {"", "3"};
  kvtest::WriteFiles(this->dir.path(), start);
  const auto first = kvtest::RunInDirectory(RunWholeProgram<W>, failing, this->dir.path());
  EXPECT_EQ(first.exitCode, 0);
  EXPECT_EQ(first.files.at(W::kTableFile), start.at(W::kTableFile));
  EXPECT_EQ(first.files.at(W::kHalfFile), whole.files.at(W::kTableFile));

  FakePlatform next;
  next.input = {"", "3"};
  const auto second = kvtest::RunInDirectory(RunWholeProgram<W>, next, this->dir.path());
  EXPECT_EQ(second.files.at(W::kTableFile), whole.files.at(W::kTableFile));
  EXPECT_EQ(second.files.count(W::kHalfFile), 0u);
  EXPECT_EQ(kvtest::ResultFiles(second.files), kvtest::ResultFiles(whole.files));
}

// A result file or store that cannot be written ends the run before the checkpoint that would
// claim its lines as done.
TYPED_TEST(Len3, FailedResultOrStoreWriteEndsTheRunBeforeTheCheckpoint) {
  using W = TypeParam;
  const std::string endPrompt = "\r\n終了します。Press Enter Key. ";
  struct Case {
    std::string file;
    std::string message;
  };
  const Case cases[] = {
      {"_L3_ResultData.txt",
       "_L3_ResultData.txt : ファイル書き込みに失敗しました。\r\n"
       "緊急停止します。\r\n_L3_ResultData.txt : ディスクの空き容量が不足しています。\r\n"},
      {"_ContData.dat",
       "ContData.txt の変換中にファイル書き込みに失敗しました。\r\n緊急停止します。\r\n"
       "_ContData.dat : ディスクの空き容量が不足しています。\r\n"},
      {"_ContData_insp.txt",
       "_ContData_insp.txt : ファイル書き込みに失敗しました。\r\n"
       "緊急停止します。\r\n_ContData_insp.txt : ディスクの空き容量が不足しています。\r\n"},
  };
  for (const Case& c : cases) {
    kvtest::FaultPlatform failing({kvtest::FullDisk(c.file)});
    std::vector<typename W::Value> values = {3, 5, 7, 11};
    auto s = kvtest::MakeState<W>(values, 3);
    TempDir dir;
    const auto run = kvtest::RunLen3In(s, failing, dir.path());
    EXPECT_EQ(run.exitCode, kFailed);
    EXPECT_EQ(run.output, c.message + endPrompt);
    // The checkpoint still holds the header alone: the next run searches every line again.
    EXPECT_EQ(run.files.at(W::kHalfFile), kvtest::Rec<W>(11, 4, 0));
  }
}

}  // namespace
}  // namespace kv
