// Whole runs of the search program that end before any data exists, in-process and as real
// child processes.
#include <gtest/gtest.h>

#include "search/phases.h"
#include "tests/harness.h"
#include "tests/process.h"

namespace kv {
namespace {

using kvtest::Lines;
using kvtest::MaskTimings;

template <typename W>
void RunFresh() {
  SearchState<W> state;
  RunSearchProgram(state);
}

TEST(RunSequence, NoDataEndsAtOncePipedAtEndOfInput) {
  struct Build {
    const char* exe;
    const char* title;
  };
  for (const Build& b :
       {Build{KV_KOLVEX_EXE, "Kolvex ver0.22"}, Build{KV_KOLVEX32_EXE, "Kolvex(32bit) ver0.22"}}) {
    const auto run = kvtest::RunExecutable(b.exe, "");
    EXPECT_EQ(run.exitCode, kNoWork);
    EXPECT_TRUE(run.files.empty());
    const std::string expected =
        Lines({b.title, ""}) +
        "データを取得できませんでした。新規作成します。\r\n \r\n"
        "ソート済みの(追加)データが入ったファイル名を入力し(無ければそのまま) \r\n"
        "Enterを押して下さい : \r\n" +
        Lines({"データが有りません。", ""}) + "終了します。Press Enter Key. ";
    const std::string minimal =
        Lines({b.title, "", "データが有りません。", ""}) + "終了します。Press Enter Key. ";
    // The table and merge phases add their lines between the title and the stop.
    EXPECT_TRUE(MaskTimings(run.output) == expected || run.output == minimal) << run.output;
  }
}

TEST(RunSequence, InProcessRunRequestsIdlePriorityAndEndsWithoutWork) {
  kvtest::FakePlatform fake;
  const auto run = kvtest::RunInProcess(RunFresh<Width64>, fake);
  EXPECT_EQ(run.exitCode, kNoWork);
  EXPECT_TRUE(fake.idleRequested);
  EXPECT_TRUE(run.files.empty());
  EXPECT_EQ(run.output.substr(0, 18), "Kolvex ver0.22\r\n\r\n");
  const std::string tail = "データが有りません。\r\n\r\n終了します。Press Enter Key. ";
  EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
}

}  // namespace
}  // namespace kv
