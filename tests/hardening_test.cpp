// Faults that the fault sweep and the fuzz targets found, each pinned down on its own.
#include <gtest/gtest.h>

#include <string>

#include "import/import.h"
#include "tests/memfs.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FaultKind;
using kvtest::FaultOp;
using kvtest::FaultPlatform;
using kvtest::FreshTable;
using kvtest::Names;

// Runs `program` on `p`; true when it was stopped by a planned stop.
template <typename F>
bool RunOn(FaultPlatform& p, F program) {
  p.output.clear();
  Platform* previous = SetPlatform(&p);
  bool killed = false;
  try {
    program();
  } catch (const kvtest::ExitRequest&) {
  } catch (const kvtest::Killed&) {
    killed = true;
  }
  SetPlatform(previous);
  return killed;
}

template <typename W>
class TableHardening : public ::testing::Test {};
TYPED_TEST_SUITE(TableHardening, kvtest::BothWidths);

// A table held open by another program looked missing: the run started a new table from the
// added numbers and saved it over the old one.
TYPED_TEST(TableHardening, TableThatCannotBeOpenedStopsTheRunAndStaysAsItWas) {
  using W = TypeParam;
  using N = Names<W>;
  FaultPlatform p;
  const std::string table = FreshTable<W>({2, 3, 5, 7});
  p.SetFiles({{N::kTable, table}, {"a.txt", "11\n13\n"}});
  p.input = {"a.txt", "3"};
  p.Arm(FaultOp::kOpen, FaultKind::kFail, 1);
  RunOn(p, [] {
    SearchState<W> s;
    RunSearchProgram(s);
  });
  EXPECT_EQ(p.output, std::string(N::kTitle) + "\r\n\r\n" + N::kTable +
                          " の読み込みに失敗しました。\r\n\r\n終了します。Press Enter Key. ");
  EXPECT_EQ(p.Snapshot(), (kvtest::Files{{N::kTable, table}, {"a.txt", "11\n13\n"}}));
}

// SaveData moved the table aside before renaming the new one into place; a run stopped between
// the two left no table file, and the next run started from nothing.
TYPED_TEST(TableHardening, RunStoppedWhileSavingLeavesATableForTheNextRun) {
  using W = TypeParam;
  using N = Names<W>;
  const std::string before = FreshTable<W>({2, 3, 5, 7});
  const std::string after = FreshTable<W>({2, 3, 5, 7, 11, 13});
  for (int64_t k = 1; k <= 3; ++k) {
    FaultPlatform p;
    p.SetFiles({{N::kTable, before}, {"a.txt", "11\n13\n"}});
    p.input = {"a.txt", "3"};
    p.Arm(FaultOp::kRename, FaultKind::kStop, k);
    const bool killed = RunOn(p, [] {
      SearchState<W> s;
      RunSearchProgram(s);
    });
    ASSERT_TRUE(p.files.count(N::kTable)) << "stop before rename or copy " << k;
    const std::string& kept = *p.files[N::kTable];
    EXPECT_TRUE(kept == before || kept == after) << k;
    if (!killed) continue;
    p.Arm(FaultOp::kOpen, FaultKind::kFail, 0);
    p.input = {"a.txt", "3"};
    RunOn(p, [] {
      SearchState<W> s;
      RunSearchProgram(s);
    });
    EXPECT_EQ(*p.files[N::kTable], after) << k;
  }
}

// kvimport took a list it could not open for a missing one and saved a new list over it.
TEST(ImportHardening, ListThatCannotBeOpenedIsKept) {
  FaultPlatform p;
  const std::string list = kvtest::SievedFile<Width64>({5, 11, 5, 7, 11});
  p.SetFiles({{"_SievedListData.dat", list}, {"in.txt", "h\n13\n"}});
  p.input = {"1", "in.txt", ""};
  p.Arm(FaultOp::kOpen, FaultKind::kFail, 1);
  RunOn(p, [] { RunImportProgram(); });
  EXPECT_NE(p.output.find("既存データの読み込みに失敗しました。保存せず終了します。\r\n"),
            std::string::npos);
  EXPECT_EQ(*p.files["_SievedListData.dat"], list);
  EXPECT_EQ(p.files.size(), 2u);
}

}  // namespace
}  // namespace kv
