// The run sequence of the search program: one pass of fixed phases per run.
#include <string>

#include "console/console.h"
#include "console/numtext.h"
#include "console/worklock.h"
#include "platform/platform.h"
#include "search/filenames.h"
#include "search/journal.h"
#include "search/phases.h"

namespace kv {
namespace {

template <typename W>
void CreateEmptyTable(SearchState<W>& s) {
  // Room for 50000 records; the header alone is in use.
  s.table.records.assign(50000, TableRecord<W>{0, 0, 0});
  s.table.recordCount = 1;
  s.table.freeSlots = 49999;
}

// Asks for the shortest progression written to the result files, redrawing the prompt on
// the same row until the answer lies in 3 to 20.
template <typename W>
void AskMinSaveLength(SearchState<W>& s) {
  for (;;) {
    Locate(46, s.consoleRow);
    PrintLine(std::string(21, ' '));
    Locate(0, s.consoleRow);
    const bool answered = InputItems(kMinLengthPrompt, {&s.minSaveLength});
    if (s.minSaveLength >= 3 && s.minSaveLength <= 20) return;
    if (!answered) {  // the input has ended: no valid answer can come
      CloseJournal();
      EndRun(kNoWork);
    }
  }
}

void PrintClosingBlock() {
  PrintLine("");
  PrintLine("完了しました。発見した数列は以下のファイルに保存されました。");
  PrintLine(std::string(kResultFilePrefix) + " (長さ) " + kResultFileSuffix + " , " + kStoreFile);
  PrintLine("前者はこれ以上続かない数列、後者はデータ外に続く可能性があります。");
  PrintLine("なお、 " + std::string(kStoreFile) + " の内容は " + kInspectionFile +
            " にて確認できます。");
}

// However the run ends, the journal records nothing more after it.
struct JournalScope {
  JournalScope() = default;
  JournalScope(const JournalScope&) = delete;
  JournalScope& operator=(const JournalScope&) = delete;
  ~JournalScope() { LeaveJournal(); }
};

}  // namespace

template <typename W>
void RunSearchProgram(SearchState<W>& s) {
  const JournalScope scope;
  SetFailureNote("");
  Os().SetIdlePriority();
  PrintLine(W::kTitle);
  PrintLine("");
  s.consoleRow += 2;

  // One program at a time in the working directory, for the whole run (console/worklock.h).
  const auto hold = HoldWorkingDirectory(W::kBits == 64 ? "Kolvex" : "Kolvex32");
  // Before anything is read or asked: the files of a stopped run are mended, and a directory that
  // cannot be written is reported.
  OpenJournal(W::kTableFile, W::kHalfFile, static_cast<int64_t>(sizeof(TableRecord<W>)));
  s.dataLoaded = ReadData(s);
  if (s.dataLoaded == 0) {
    CreateEmptyTable(s);
  } else {
    s.table.freeSlots = 1;
  }

  s.dataAdded = AddData(s);
  if (s.dataLoaded + s.dataAdded == 0) {
    PrintLine("データが有りません。");
    CloseJournal();
    EndRun(kNoWork);
  }

  s.sieved.entries.assign(1000 / sizeof(typename W::Value), 0);
  s.sieved.count = 0;
  ReadSievedData(s);
  if (s.sieved.count > 0 && s.sieved.entries[0] <= s.table.Largest()) SaveSievedData(s);
  if (s.dataAdded == 0 && !s.table.needsSave) {
    SaveBackup(s);
  } else {
    SaveData(s);
  }

  if (s.table.DataCount() < 3) {
    PrintLine("データが少なすぎます。3行以上のデータが必要です。");
    CloseJournal();
    EndRun(kNoWork);
  }

  AskMinSaveLength(s);
  s.consoleRow += 1;
  if (s.prune) {
    PrintLine("継続データには、長さ " + IntegerToText(static_cast<uint64_t>(s.minSaveLength)) +
              " 以上になり得る数列のみ保存します。");
    s.consoleRow += 1;
  }

  ContSearch(s);
  Len3Search(s);

  // The finished checkpoint holds the whole updated table. It replaces the table file in one
  // rename; if that fails it stays where it is and the next run lays it over the table. What the
  // run appended is on disk first: after the rename the journal no longer matches the files.
  JournalSync();
  Os().Rename(W::kHalfFile, W::kTableFile);
  CloseJournal();

  s.sieved = SievedList<W>{};
  s.table = NumberTable<W>{};
  PrintClosingBlock();
  EndRun(kDone);
}

template void RunSearchProgram<Width64>(SearchState<Width64>&);
template void RunSearchProgram<Width32>(SearchState<Width32>&);

}  // namespace kv
