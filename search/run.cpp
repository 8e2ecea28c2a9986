// The run sequence of the search program: one pass of fixed phases per run.
#include <string>
#include <vector>

#include "console/console.h"
#include "console/numtext.h"
#include "console/worklock.h"
#include "format/filenames.h"
#include "platform/platform.h"
#include "search/files/journal.h"
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

// The files that the run reads, writes or replaces, and their work files: each must be a regular
// file (or none). A longer progression's result file is checked when it is first appended to.
template <typename W>
std::vector<std::string> OwnFiles() {
  std::vector<std::string> names = {W::kTableFile,        W::kOldTableFile,   W::kTempTableFile,
                                    W::kTempOldTableFile, W::kHalfFile,       W::kSievedFile,
                                    W::kTempSievedFile,   kJournalFile,       kTempJournalFile,
                                    kStoreFile,           kInspectionFile,    kStoreTextFile,
                                    kSavedStoreTextFile,  kExaminedStoreFile, kNotAddedFile};
  for (uint64_t length = 3; length <= 40; ++length) {
    names.push_back(ResultFileName(length));
    names.push_back(TempFileName(ResultFileName(length)));
  }
  return names;
}

// However the run ends, the journal records nothing more after it.
struct JournalScope {
  JournalScope() = default;
  JournalScope(const JournalScope&) = delete;
  JournalScope& operator=(const JournalScope&) = delete;
  ~JournalScope() { LeaveJournal(); }
};

template <typename W>
[[noreturn]] void SearchRun(SearchState<W>& s, bool& completed) {
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
  RefuseSpecialFiles(OwnFiles<W>());
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
  completed = true;
  EndRun(kDone);
}

}  // namespace

template <typename W>
void RunSearchProgram(SearchState<W>& s) {
  bool completed = false;
  ObservedRun(s.observer, completed, [&s, &completed] { SearchRun(s, completed); });
}

template void RunSearchProgram<Width64>(SearchState<Width64>&);
template void RunSearchProgram<Width32>(SearchState<Width32>&);

}  // namespace kv
