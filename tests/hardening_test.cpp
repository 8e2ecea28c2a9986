// Faults that the fault sweep and the fuzz targets found, each pinned down on its own.
#include <gtest/gtest.h>

#include <string>

#include "convert/convert.h"
#include "format/filenames.h"
#include "import/import.h"
#include "tests/memfs.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FaultKind;
using kvtest::FaultOp;
using kvtest::FreshTable;
using kvtest::MemoryPlatform;
using kvtest::Names;

// Runs `program` on `p`; true when it was stopped by a planned stop.
template <typename F>
bool RunOn(MemoryPlatform& p, F program) {
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
  MemoryPlatform p;
  const std::string table = FreshTable<W>({2, 3, 5, 7});
  p.SetFiles({{N::kTable, table}, {"a.txt", "11\n13\n"}});
  p.input = {"a.txt", "3"};
  p.spared = {kJournalFile};
  p.Arm(FaultOp::kOpen, FaultKind::kFail, 1);
  p.error = FileErrorKind::kInUse;
  RunOn(p, [] {
    SearchState<W> s;
    RunSearchProgram(s);
  });
  EXPECT_EQ(p.output, std::string(N::kTitle) + "\r\n\r\n" + N::kTable +
                          " の読み込みに失敗しました。\r\n" + N::kTable +
                          " : 他のプログラムが使用中です。\r\n\r\n終了します。Press Enter Key. ");
  EXPECT_EQ(p.Snapshot(), (kvtest::Files{{N::kTable, table}, {"a.txt", "11\n13\n"}}));
}

// SaveData moved the table aside before renaming the new one into place; a run stopped between
// the two left no table file, and the next run started from nothing.
TYPED_TEST(TableHardening, RunStoppedWhileSavingLeavesATableForTheNextRun) {
  using W = TypeParam;
  using N = Names<W>;
  const std::string before = FreshTable<W>({2, 3, 5, 7});
  // The table as an undisturbed run leaves it.
  MemoryPlatform clean;
  clean.SetFiles({{N::kTable, before}, {"a.txt", "11\n13\n"}});
  clean.input = {"a.txt", "3"};
  RunOn(clean, [] {
    SearchState<W> s;
    RunSearchProgram(s);
  });
  const std::string after = *clean.files[N::kTable];
  for (int64_t k = 1; k <= 3; ++k) {
    MemoryPlatform p;
    p.SetFiles({{N::kTable, before}, {"a.txt", "11\n13\n"}});
    p.input = {"a.txt", "3"};
    p.Arm(FaultOp::kRename, FaultKind::kStop, k);
    const bool killed = RunOn(p, [] {
      SearchState<W> s;
      RunSearchProgram(s);
    });
    ASSERT_TRUE(p.files.count(N::kTable)) << "stop before rename or copy " << k;
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

// Fails every write to one file, and every rename of it.
void FailWritesAndRenames(MemoryPlatform& p, const std::string& name) {
  p.always = {{FaultOp::kWrite, name, FileErrorKind::kDiskFull},
              {FaultOp::kRename, name, FileErrorKind::kDiskFull}};
}

// A first append to a result file that failed left the file empty; the run that found the
// progression again saw the file and wrote its lines without the header line.
TYPED_TEST(TableHardening, ResultFileKeepsItsHeaderAfterAFailedFirstAppend) {
  using W = TypeParam;
  using N = Names<W>;
  MemoryPlatform p;
  FailWritesAndRenames(p, "_L3_ResultData.txt");
  p.SetFiles({{N::kTable, FreshTable<W>({3, 5, 7, 11})}});
  const auto run = [&p] {
    p.input = {"", "3"};
    RunOn(p, [] {
      SearchState<W> s;
      RunSearchProgram(s);
    });
  };
  run();
  EXPECT_NE(
      p.output.find("_L3_ResultData.txt : ファイル書き込みに失敗しました。\r\n緊急停止します。"),
      std::string::npos);
  p.always.clear();
  run();
  EXPECT_EQ(*p.files["_L3_ResultData.txt"], "n=0,1, ... ,Len-1\r\nLen 3, 3 + 2 *n\r\n");
}

// A store that could not be moved to its work name was skipped without a word, and its
// progressions were decided in a later run under that run's shortest length.
TYPED_TEST(TableHardening, StoreThatCannotBeMovedStopsTheRun) {
  using W = TypeParam;
  using N = Names<W>;
  MemoryPlatform p;
  FailWritesAndRenames(p, "_ContData.dat");
  // The progression 3, 5, 7 (indices 1, 2) as a store written when 7 was the largest value.
  const std::string store = kvtest::LE<int32_t>(-20) + kvtest::LE<uint32_t>(4) +
                            kvtest::LE<uint32_t>(0) + kvtest::LE<int32_t>(-2) +
                            kvtest::LE<int32_t>(1);
  p.SetFiles({{N::kTable, FreshTable<W>({3, 5, 7, 11})}, {"_ContData.dat", store}});
  p.input = {"", "3"};
  RunOn(p, [] {
    SearchState<W> s;
    RunSearchProgram(s);
  });
  EXPECT_NE(p.output.find("_ContData.dat : ファイル名の変更に失敗しました。\r\n緊急停止します。"),
            std::string::npos);
  EXPECT_EQ(*p.files["_ContData.dat"], store);
  EXPECT_EQ(p.files.count("_L3_ResultData.txt"), 0u);
}

// kvimport took a list it could not open for a missing one and saved a new list over it.
TEST(ImportHardening, ListThatCannotBeOpenedIsKept) {
  MemoryPlatform p;
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

namespace kv {
namespace {

// Kolvex32 stopped at each write, its table converted by kvconvert, and Kolvex run with the same
// answers: the 64-bit build follows the 32-bit build's journal and writes every result once.
// Unconverted, the same journal stops Kolvex (the hostile-directory test).
TEST(JournalHardening, OtherBuildsJournalIsFollowedOnTheConvertedTable) {
  using N32 = Names<Width32>;
  std::string numbers;
  for (uint64_t v = 101; v < 1500; v += 2) {
    bool prime = true;
    for (uint64_t d = 3; d * d <= v && prime; d += 2) prime = v % d != 0;
    if (prime) numbers += std::to_string(v) + "\n";
  }
  const kvtest::Files start = {{N32::kTable, FreshTable<Width32>({2, 3, 5, 7, 11, 13, 17, 19, 23})},
                               {"a.txt", numbers}};
  const auto results = [](const MemoryPlatform& p) {
    kvtest::Files kept;
    for (const auto& [name, content] : p.Snapshot()) {
      if (name.rfind("_L", 0) == 0 || name.rfind("_ContData", 0) == 0) kept[name] = content;
    }
    return kept;
  };
  MemoryPlatform clean;
  clean.SetFiles(start);
  clean.input = {"a.txt", "3"};
  RunOn(clean, [] {
    SearchState<Width32> s;
    RunSearchProgram(s);
  });
  int stops = 0;
  for (int64_t k = 1;; ++k) {
    MemoryPlatform p;
    p.SetFiles(start);
    p.input = {"a.txt", "3"};
    p.spared = {"a.txt"};
    p.Arm(FaultOp::kWrite, FaultKind::kStop, k);
    if (!RunOn(p, [] {
          SearchState<Width32> s;
          RunSearchProgram(s);
        })) {
      break;
    }
    ++stops;
    p.Arm(FaultOp::kWrite, FaultKind::kStop, 0);
    p.input = {"1", ""};
    RunOn(p, [] { RunConvertProgram(); });
    p.input = {"a.txt", "3"};
    RunOn(p, [] {
      SearchState<Width64> s;
      RunSearchProgram(s);
    });
    ASSERT_EQ(results(p), results(clean)) << "stopped at write " << k << "\n" << p.output;
  }
  EXPECT_GT(stops, 20);
}

}  // namespace
}  // namespace kv
