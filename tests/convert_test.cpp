// kvconvert: transcripts and converted bytes of whole runs in-process, writes in pieces, fault
// paths through a failing platform, and runs of the real executable with piped input.
#include "convert/convert.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fileutil.h"
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
    Lines({"Kolvex ver 0.13～20用 データ変換プログラム", "",
           "Kolvex 通常版と32bit版のデータを入れ替えます。",
           "変換先のファイルが既に存在している場合、上書きされます。ご注意ください。", "",
           "希望の処理を以下から選んで番号(1,2)を入力し、Enterを押して下さい。", "",
           "1   32bit版(ファイル名末尾に32) から 通常版へ"}) +
    "2   通常版 から 32bit版(ファイル名末尾に32)へ :";
const std::string kClosing =
    "\r\n元のファイルは手動にて削除願います。\r\n\r\n終了します。Press Enter Key. ";
const std::string kEnd = "\r\n終了します。Press Enter Key. ";
const std::string kTooLarge = "データが大きすぎます。32bit版への以降は出来ませんでした。\r\n";
const std::string kWriteError = "書き込みエラー発生。やり直してください。\r\n";

std::string Skip(const std::string& name) {
  return name + " は見付かりませんでした。スキップします。\r\n";
}

struct Record {
  uint64_t value;
  int32_t lower;
  int32_t upper;
};

std::string Table64(const std::vector<Record>& records) {
  std::string s;
  for (const Record& r : records)
    s += LE<uint64_t>(r.value) + LE<int32_t>(r.lower) + LE<int32_t>(r.upper);
  return s;
}
std::string Table32(const std::vector<Record>& records) {
  std::string s;
  for (const Record& r : records) {
    s += LE<uint32_t>(static_cast<uint32_t>(r.value)) + LE<int32_t>(r.lower) + LE<int32_t>(r.upper);
  }
  return s;
}

// A table of `n` data records with cursors that differ from record to record.
std::vector<Record> SampleTable(int n, uint64_t largest) {
  std::vector<Record> records{{largest, n, 0}};
  for (int i = 1; i <= n; ++i) {
    records.push_back({largest - static_cast<uint64_t>(n - i), i % 7 == 0 ? 0 : i - 1, -i});
  }
  return records;
}

RunResult Convert(kvtest::FakePlatform& fake, const std::string& answer, const Files& files) {
  fake.input = {answer};
  return kvtest::RunInProcess(RunConvertProgram, fake, files);
}
RunResult Convert(const std::string& answer, const Files& files) {
  kvtest::FakePlatform fake;
  return Convert(fake, answer, files);
}

TEST(Convert, OtherAnswersEndAtOnce) {
  const Files files = {{"_APData.dat", Table64(SampleTable(3, 10))}};
  for (const char* answer : {"3", "", " 1", "1.0", "２"}) {
    const auto run = Convert(answer, files);
    EXPECT_EQ(run.exitCode, kNoWork);
    EXPECT_EQ(run.output, kHead + kEnd) << answer;
    EXPECT_EQ(run.files, files);
  }
}

TEST(Convert, ToNarrowWritesWhatExistsAndSkipsTheRestInOrder) {
  const auto table = SampleTable(5, 2147483647);
  const Files files = {{"_APData.dat", Table64(table) + "abc"}};
  // A work file left by an interrupted conversion must not end up in front of the new records.
  Files withStale = files;
  withStale["__TEMP___APData32.dat"] = "stale";
  const auto run = Convert("2", withStale);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, kHead + Skip("__OLD___APData.dat") + Skip("_HalfData.dat") + kClosing);
  EXPECT_EQ(run.files.size(), 2u);
  EXPECT_EQ(run.files.at("_APData.dat"), files.at("_APData.dat"));
  EXPECT_EQ(run.files.at("_APData32.dat"), Table32(table));
}

TEST(Convert, ToWideConvertsAllThreeAndTreatsEmptySourcesAsMissing) {
  const auto table = SampleTable(4, 4000000000U);  // the 32-bit form holds values up to 2^32 - 1
  const auto half = SampleTable(2, 4000000000U);
  const Files files = {{"_APData32.dat", ""},
                       {"_APData.dat", "keep me"},
                       {"__OLD___APData32.dat", Table32(table)},
                       {"_HalfData32.dat", Table32(half) + "12345678901"},
                       {"__OLD___APData.dat", "overwritten"}};
  const auto run = Convert("1", files);
  EXPECT_EQ(run.output, kHead + Skip("_APData32.dat") + kClosing);
  EXPECT_EQ(run.files.at("_APData.dat"), "keep me");
  EXPECT_EQ(run.files.at("__OLD___APData.dat"), Table64(table));
  EXPECT_EQ(run.files.at("_HalfData.dat"), Table64(half));
  EXPECT_EQ(run.files.size(), 6u);  // no work file is left
  for (const char* source : {"_APData32.dat", "__OLD___APData32.dat", "_HalfData32.dat"}) {
    EXPECT_EQ(run.files.at(source), files.at(source));
  }

  // A source shorter than one record is skipped as well.
  const auto shortRun = Convert("1", {{"_APData32.dat", "12345678901"}});
  EXPECT_EQ(shortRun.output, kHead + Skip("_APData32.dat") + Skip("__OLD___APData32.dat") +
                                 Skip("_HalfData32.dat") + kClosing);
}

TEST(Convert, ValuesAboveThe32BitLimitStopWithoutTouchingTheDestination) {
  const Files later = {{"_HalfData.dat", Table64(SampleTable(2, 10))},
                       {"_HalfData32.dat", "old half"},
                       {"_APData32.dat", "old table"}};
  // The header's value, and (a header lagging behind its records) any other value.
  auto lagging = SampleTable(3, 2147483648ULL);
  lagging[0].value = 100;
  for (const std::string& table : {Table64(SampleTable(3, 2147483648ULL)), Table64(lagging)}) {
    Files files = later;
    files["_APData.dat"] = table;
    const auto run = Convert("2", files);
    EXPECT_EQ(run.exitCode, kFailed);
    EXPECT_EQ(run.output, kHead + kTooLarge + kEnd);
    EXPECT_EQ(run.files, files);
  }
}

// Records the size of every write to a created file.
class WriteRecorder : public kvtest::FakePlatform {
 public:
  std::vector<int64_t> writes;
  std::unique_ptr<FileHandle> Create(const std::string& name) override;
};

class RecordingHandle : public FileHandle {
 public:
  RecordingHandle(std::unique_ptr<FileHandle> inner, WriteRecorder& owner)
      : inner_(std::move(inner)), owner_(owner) {}
  int64_t Size() override { return inner_->Size(); }
  bool SeekEnd() override { return inner_->SeekEnd(); }
  bool SeekTo(int64_t offset) override { return inner_->SeekTo(offset); }
  int64_t Read(void* buffer, int64_t count) override { return inner_->Read(buffer, count); }
  bool Write(const void* buffer, int64_t count) override {
    owner_.writes.push_back(count);
    return inner_->Write(buffer, count);
  }
  bool Sync() override { return inner_->Sync(); }
  bool Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<FileHandle> inner_;
  WriteRecorder& owner_;
};

std::unique_ptr<FileHandle> WriteRecorder::Create(const std::string& name) {
  auto inner = native().Create(name);
  if (!inner) return nullptr;
  return std::make_unique<RecordingHandle>(std::move(inner), *this);
}

// The output goes out in pieces of a bounded size, whatever the size of the table.
void ExpectPieces(const std::vector<int64_t>& writes, size_t total) {
  EXPECT_GT(writes.size(), 1u);
  int64_t sum = 0;
  for (const int64_t w : writes) {
    EXPECT_LE(w, kItemPieceBytes);
    sum += w;
  }
  EXPECT_EQ(sum, static_cast<int64_t>(total));
}

TEST(Convert, LargeTablesGoInPiecesAndRoundTripByteForByte) {
  const auto table = SampleTable(200004, 2147483647);  // 200005 records with the header
  const std::string wide = Table64(table);
  WriteRecorder toNarrow;
  const auto run = Convert(toNarrow, "2", {{"_APData.dat", wide}});
  const std::string narrow = run.files.at("_APData32.dat");
  EXPECT_EQ(narrow, Table32(table));
  ExpectPieces(toNarrow.writes, narrow.size());

  WriteRecorder toWide;
  const auto back = Convert(toWide, "1", {{"_APData32.dat", narrow}});
  EXPECT_EQ(back.files.at("_APData.dat"), wide);
  ExpectPieces(toWide.writes, wide.size());
}

TEST(Convert, FailedWriteIsReportedAndKeepsTheOldDestination) {
  const Files files = {{"_APData.dat", Table64(SampleTable(3, 10))}, {"_APData32.dat", "old"}};
  // The work file cannot be written for a full disk, or not renamed for a file in use.
  const kvtest::FileFault write = {FaultOp::kWrite, "__TEMP___APData32.dat",
                                   FileErrorKind::kDiskFull};
  const kvtest::FileFault rename = {FaultOp::kRename, "", FileErrorKind::kInUse};
  for (bool failRename : {false, true}) {
    kvtest::FaultPlatform fake({failRename ? rename : write});
    const auto run = Convert(fake, "2", files);
    EXPECT_EQ(run.exitCode, kFailed);
    EXPECT_EQ(run.output,
              kHead + kWriteError +
                  (failRename ? "_APData32.dat : 他のプログラムが使用中です。\r\n"
                              : "_APData32.dat : ディスクの空き容量が不足しています。\r\n") +
                  kEnd);
    EXPECT_EQ(run.files, files);
  }
}

TEST(Convert, RealExecutableWithPipedInput) {
  const auto table = SampleTable(3, 1000);
  const auto run =
      kvtest::RunExecutable(KV_CONVERT_EXE, "2\n\n", {{"_HalfData.dat", Table64(table)}});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, kHead + Skip("_APData.dat") + Skip("__OLD___APData.dat") + kClosing);
  EXPECT_EQ(run.files.at("_HalfData32.dat"), Table32(table));
}

}  // namespace
}  // namespace kv
