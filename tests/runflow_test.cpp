// Whole runs of the search program up to the length prompt: building a table from a file of
// numbers, growing it, keeping the backup, the checkpoint and the sieved list, and the prompt
// itself; in-process for both widths and through the real executables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/process.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FakePlatform;
using kvtest::Files;
using kvtest::FreshTable;
using kvtest::MaskTimings;
using kvtest::Names;
using kvtest::Rec;
using kvtest::SievedFile;

const std::string kAddPrompt =
    " \r\nソート済みの(追加)データが入ったファイル名を入力し(無ければそのまま) \r\n"
    "Enterを押して下さい : ";
const std::string kLengthPrompt = "発見した数列は、長さ幾らからテキスト保存しますか？(3 - 20) :";
const std::string kEndPrompt = "\r\n終了します。Press Enter Key. ";
const std::string kNoSieved = "篩い掛けデータは確認できませんでした。\r\n";
const std::string kNew = "データを取得できませんでした。新規作成します。\r\n";

std::string Loaded(const std::string& maximum) {
  return "# [ms] : ReadData\r\nデータを読み込みました。 データ最大値= " + maximum + "\r\n";
}

// The length prompt as drawn on `row`, with the cursor moves shown.
std::string LengthPrompt(int row) {
  const std::string r = std::to_string(row);
  return "<@46," + r + ">" + std::string(21, ' ') + "\r\n<@0," + r + ">" + kLengthPrompt;
}

template <typename W>
class RunFlow : public ::testing::Test {
 protected:
  using N = Names<W>;
  SearchState<W> state;
  FakePlatform fake;
  kvtest::TempDir dir;

  // One run in the test's directory, answering `input`; an input that ends at the length
  // prompt ends the run there, before any search.
  kvtest::RunResult Run(const std::vector<std::string>& input) {
    state = SearchState<W>{};
    fake.input.assign(input.begin(), input.end());
    fake.showLocate = true;
    auto run = kvtest::RunInDirectory([this] { RunSearchProgram(state); }, fake, dir.path());
    run.output = MaskTimings(run.output);
    return run;
  }
  std::string Title() { return std::string(N::kTitle) + "\r\n\r\n"; }
};
TYPED_TEST_SUITE(RunFlow, kvtest::BothWidths);

TYPED_TEST(RunFlow, FirstRunBuildsTheTableSecondRunGrowsIt) {
  using W = TypeParam;
  using N = Names<W>;
  kvtest::WriteFiles(this->dir.path(),
                     {{"first.txt", "2\r\n3\r\n5\r\n7\r\n"}, {"second.txt", "7\n11\n13\n"}});
  auto run = this->Run({"first.txt"});
  EXPECT_EQ(run.exitCode, kNoWork);  // the input ends before the length is answered
  EXPECT_EQ(run.output, this->Title() + kNew + kAddPrompt + "# [ms] : AddData\r\n" +
                            "データの追加が終了しました。\r\n" + kNoSieved +
                            "# [ms] : SaveData\r\n" + LengthPrompt(11) + kEndPrompt);
  const std::string first = FreshTable<W>({2, 3, 5, 7});
  EXPECT_EQ(run.files.at(N::kTable), first);
  EXPECT_EQ(run.files.count(N::kOld), 0u);

  run = this->Run({"second.txt"});
  EXPECT_EQ(run.output, this->Title() + Loaded("7") + kAddPrompt + "# [ms] : AddData\r\n" +
                            "スキップしたデータが有ります。 _NOTAddData.txt に出力しました。\r\n"
                            "データの追加が終了しました。\r\n" +
                            kNoSieved + "# [ms] : SaveData\r\n" + LengthPrompt(13) + kEndPrompt);
  EXPECT_EQ(run.files.at(N::kTable), FreshTable<W>({2, 3, 5, 7, 11, 13}));
  EXPECT_EQ(run.files.at(N::kOld), first);
  EXPECT_EQ(run.files.at("_NOTAddData.txt"), "7\r\n");
}

TYPED_TEST(RunFlow, RunWithoutNewNumbersCopiesTheTableToTheBackup) {
  using W = TypeParam;
  using N = Names<W>;
  const std::string table = FreshTable<W>({2, 3, 5});
  kvtest::WriteFiles(this->dir.path(), {{N::kTable, table}, {N::kOld, "older"}});
  const auto run = this->Run({""});
  EXPECT_EQ(run.output, this->Title() + Loaded("5") + kAddPrompt + "\r\n" + kNoSieved +
                            LengthPrompt(10) + kEndPrompt);
  EXPECT_EQ(run.files, (Files{{N::kTable, table}, {N::kOld, table}}));
}

TYPED_TEST(RunFlow, CheckpointProgressIsSavedBeforeTheSearchRestartsIt) {
  using W = TypeParam;
  using N = Names<W>;
  const std::string table = FreshTable<W>({2, 3, 5, 7});
  const std::string half = Rec<W>(7, 4, 0) + Rec<W>(2, 0, 2) + Rec<W>(3, 0, 5);
  kvtest::WriteFiles(this->dir.path(), {{N::kTable, table}, {N::kHalf, half}});
  const auto run = this->Run({""});
  EXPECT_EQ(run.output, this->Title() + "中途データを発見したので使用します。\r\n" + Loaded("7") +
                            kAddPrompt + "\r\n" + kNoSieved + "# [ms] : SaveData\r\n" +
                            LengthPrompt(12) + kEndPrompt);
  EXPECT_EQ(run.files, (Files{{N::kTable, half + table.substr(3 * sizeof(TableRecord<W>))},
                              {N::kOld, table}}));
}

TYPED_TEST(RunFlow, SievedListIsTrimmedOnlyOnceTheTableReachesIt) {
  using W = TypeParam;
  using N = Names<W>;
  const std::string list = SievedFile<W>({100, 200, 101, 103, 107});
  kvtest::WriteFiles(this->dir.path(),
                     {{N::kSieved, list}, {"low.txt", "2\n3\n5\n"}, {"high.txt", "103\n"}});
  auto run = this->Run({"low.txt"});
  EXPECT_NE(run.output.find("篩い掛けデータを読み込みました。 データ範囲= 100 - 200\r\n# [ms] "
                            ": SaveData\r\n"),
            std::string::npos);
  EXPECT_EQ(run.files.at(N::kSieved), list);

  run = this->Run({"high.txt"});
  EXPECT_NE(run.output.find("篩い掛けデータを読み込みました。 データ範囲= 100 - 200\r\n"
                            "# [ms] : SaveSievedData\r\n# [ms] : SaveData\r\n" +
                            LengthPrompt(13)),
            std::string::npos);
  EXPECT_EQ(run.files.at(N::kSieved), SievedFile<W>({104, 200, 107}));
}

TYPED_TEST(RunFlow, TooFewNumbersStopAfterSaving) {
  using W = TypeParam;
  using N = Names<W>;
  kvtest::WriteFiles(this->dir.path(), {{"two.txt", "2\n3\n"}});
  const auto run = this->Run({"two.txt"});
  EXPECT_EQ(run.output, this->Title() + kNew + kAddPrompt + "# [ms] : AddData\r\n" +
                            "データの追加が終了しました。\r\n" + kNoSieved +
                            "# [ms] : SaveData\r\n" +
                            "データが少なすぎます。3行以上のデータが必要です。\r\n" + kEndPrompt);
  EXPECT_EQ(run.files.at(N::kTable), FreshTable<W>({2, 3}));
}

TYPED_TEST(RunFlow, LengthPromptIsRedrawnOnItsRowUntilValid) {
  using W = TypeParam;
  using N = Names<W>;
  kvtest::WriteFiles(this->dir.path(), {{N::kTable, FreshTable<W>({2, 3, 5})}});
  const std::string before = this->Title() + Loaded("5") + kAddPrompt + "\r\n" + kNoSieved;
  for (int accepted : {3, 20}) {
    const auto run = this->Run({"", "2", "21", "abc", "-3", std::to_string(accepted)});
    EXPECT_EQ(run.output.substr(0, before.size()), before);
    std::string prompts;
    for (int i = 0; i < 5; ++i) prompts += LengthPrompt(10);
    EXPECT_EQ(run.output.substr(before.size(), prompts.size()), prompts);
    // The next prompt, if any, is not a redraw of this one.
    EXPECT_EQ(run.output.find(kLengthPrompt, before.size() + prompts.size()), std::string::npos);
    EXPECT_EQ(this->state.minSaveLength, accepted);
  }
}

TEST(RunFlowExecutable, FirstRunOfEachBuildWritesItsTable) {
  struct Build {
    const char* exe;
    const char* title;
    const char* table;
    std::string content;
  };
  const Build builds[] = {
      {KV_KOLVEX_EXE, "Kolvex ver0.22", "_APData.dat", FreshTable<Width64>({2, 3, 5, 7})},
      {KV_KOLVEX32_EXE, "Kolvex(32bit) ver0.22", "_APData32.dat",
       FreshTable<Width32>({2, 3, 5, 7})},
  };
  for (const Build& b : builds) {
    const Files files = {{"n.txt", "2\r\n3\r\n3\r\n5\r\n4\r\n7"}};
    const auto run = kvtest::RunExecutable(b.exe, "n.txt\n", files);
    EXPECT_EQ(run.exitCode, kNoWork);
    EXPECT_EQ(MaskTimings(run.output),
              std::string(b.title) + "\r\n\r\n" + kNew + kAddPrompt + "# [ms] : AddData\r\n" +
                  "スキップしたデータが有ります。 _NOTAddData.txt に出力しました。\r\n" +
                  "データの追加が終了しました。\r\n" + kNoSieved + "# [ms] : SaveData\r\n" +
                  std::string(21, ' ') + "\r\n" + kLengthPrompt + kEndPrompt);
    Files expected = files;
    expected[b.table] = b.content;
    expected["_NOTAddData.txt"] = "3\r\n4\r\n";
    EXPECT_EQ(run.files, expected);
  }
}

}  // namespace
}  // namespace kv
