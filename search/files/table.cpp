// Number table files: loading with the checkpoint overlay, appending, saving, checkpoints, and the
// binary search of the table.
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/numtext.h"
#include "format/instantiate.h"
#include "format/records.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "search/files/files.h"
#include "search/files/journal.h"

namespace kv {
namespace {

constexpr int32_t kGrowthStep = 50000;

// What the search relies on, checked once after loading so that no later index can leave the
// table. A header that still describes a shorter prefix of the records (left by an older run
// stopped while adding data) is brought up to date.
template <typename W>
TableFault CheckTable(NumberTable<W>& t, int32_t& badIndex) {
  const int32_t n = t.recordCount - 1;
  for (int32_t i = 1; i <= n; ++i) {
    const TableRecord<W>* previous = i > 1 ? &t.records[static_cast<size_t>(i) - 1] : nullptr;
    badIndex = i;
    const TableFault fault = CheckTableRecord(t.records[static_cast<size_t>(i)], previous, n);
    if (fault != TableFault::kNone) return fault;
  }
  badIndex = 0;
  const int32_t count = t.DataCount();
  const typename W::Value atCount = count >= 1 && count <= n ? t.ValueAt(count) : 0;
  if (CheckTableHeader(t.records[0], n, atCount) != TableFault::kNone) return TableFault::kHeader;
  if (count < n) {
    t.records[0].value = t.ValueAt(n);
    t.records[0].lowerCursor = n;
    t.needsSave = true;
  }
  return TableFault::kNone;
}

[[noreturn]] void RefuseTable(const std::string& file, TableFault fault, int32_t index) {
  for (const std::string& line : TableFaultLines(file, fault, index)) PrintLine(line);
  EndRun(kFailed);
}

[[noreturn]] void ReadFailed(const std::string& file) {
  PrintLine(file + " の読み込みに失敗しました。");
  PrintFileError(file);
  EndRun(kFailed);
}

// The work file of the new table has been removed by then.
[[noreturn]] void SaveFailed(const char* file) {
  PrintLine("ファイルの書き込みに失敗しました。強制終了します。");
  PrintFileError(file);
  ExitNow(kFailed);
}

[[noreturn]] void TooLarge(const std::string& file) {
  PrintLine(file + " はデータ数が上限を超えているため使用できません。");
  EndRun(kFailed);
}

}  // namespace

template <typename W>
int16_t ReadData(SearchState<W>& s) {
  constexpr int64_t R = kRecordBytes<W>;
  NumberTable<W>& t = s.table;
  const uint32_t start = Os().TickCount();

  auto table = Os().OpenRead(W::kTableFile);
  // A table that exists but cannot be opened (held by another program, no permission) must not
  // be taken for a missing one: the run would start a new table and save it over the old.
  if (!table && Os().Exists(W::kTableFile)) ReadFailed(W::kTableFile);
  if (!table) {
    PrintLine("データを取得できませんでした。新規作成します。");
    s.consoleRow += 1;
    t.recordCount = 1;
    return 0;
  }
  const int64_t tableSize = table->Size();
  if (tableSize < 0) ReadFailed(W::kTableFile);
  const int64_t tableBytes = tableSize / R * R;
  // The records hold cursors up to N + 1, so the table can never reach 2^31 records.
  if (tableBytes / R > s.testing.maxRecordCount) TooLarge(W::kTableFile);

  TableRecord<W> tableHeader{0, 0, 0};
  if (tableBytes >= R && !ReadRecordsAt(*table, 0, 1, &tableHeader)) ReadFailed(W::kTableFile);

  // The checkpoint is the updated prefix of the table it was started from; one that began from
  // another table state would put stale records in place of good ones.
  int64_t halfBytes = 0;
  std::unique_ptr<FileHandle> half = Os().OpenRead(W::kHalfFile);
  if (half) {
    const int64_t halfSize = half->Size();
    halfBytes = halfSize < 0 ? 0 : halfSize / R * R;
    TableRecord<W> halfHeader{0, 0, 0};
    const bool matches =
        halfBytes >= R && tableBytes >= R && halfBytes / R <= s.testing.maxRecordCount &&
        ReadRecordsAt(*half, 0, 1, &halfHeader) && SameRecord(halfHeader, tableHeader);
    if (matches) {
      PrintLine("中途データを発見したので使用します。");
    } else {
      PrintLine("中途データが現在のデータと一致しないため使用しません。");
      half->Close();
      half.reset();
      halfBytes = 0;
    }
    s.consoleRow += 1;
  }
  const int64_t fullBytes = halfBytes > tableBytes ? halfBytes : tableBytes;

  // Room for every record loaded plus one free slot; a file too short to hold even the header
  // is taken as an empty table.
  const int64_t loaded = fullBytes / R;
  t.recordCount = loaded > 0 ? static_cast<int32_t>(loaded) : 1;
  t.records.clear();
  if (!ResizeFromFile(t.records, int64_t{t.recordCount} + 1, TableRecord<W>{0, 0, 0})) {
    ReadFailed(halfBytes > tableBytes ? W::kHalfFile : W::kTableFile);
  }
  const int64_t halfRecords = halfBytes / R;
  if (half) {
    if (!ReadRecordsAt(*half, 0, halfRecords, t.records.data())) ReadFailed(W::kHalfFile);
    half->Close();
    t.needsSave = true;
  }
  if (tableBytes > halfBytes && !ReadRecordsAt(*table, halfRecords, tableBytes / R - halfRecords,
                                               t.records.data() + halfRecords)) {
    ReadFailed(W::kTableFile);
  }
  table->Close();

  int32_t badIndex = 0;
  const TableFault fault = CheckTable(t, badIndex);
  if (fault != TableFault::kNone) {
    const bool fromHalf = badIndex > 0 && static_cast<int64_t>(badIndex) < halfBytes / R;
    RefuseTable(fromHalf ? W::kHalfFile : W::kTableFile, fault, badIndex);
  }

  PrintLine(RealToText(static_cast<double>(Os().TickCount() - start)) + " [ms] : ReadData");
  s.consoleRow += 1;
  PrintLine("データを読み込みました。 データ最大値= " + IntegerToText(t.Largest()));
  s.consoleRow += 1;
  return 1;
}

template <typename W>
void AppendRecord(SearchState<W>& s, typename W::Value value) {
  NumberTable<W>& t = s.table;
  const int32_t i = t.recordCount;
  t.records[static_cast<size_t>(i)] = TableRecord<W>{value, i - 1, i + 1};
  t.recordCount = i + 1;
  t.freeSlots -= 1;
  if (t.freeSlots < 1) {
    t.records.resize(static_cast<size_t>(t.recordCount) + kGrowthStep);
    t.freeSlots = kGrowthStep;
  }
}

template <typename W>
void UpdateHeader(SearchState<W>& s) {
  NumberTable<W>& t = s.table;
  t.records[0].value = t.ValueAt(t.recordCount - 1);
  t.records[0].lowerCursor = t.recordCount - 1;
}

template <typename W>
void SaveBackup(SearchState<W>& s) {
  // A first run has no table to keep.
  if (!Os().Exists(W::kTableFile)) return;
  if (CopyFileSafely(W::kTableFile, W::kOldTableFile, W::kTempOldTableFile)) return;
  PrintLine(std::string(W::kOldTableFile) +
            " : バックアップを更新できませんでした。前回のものを残します。(" + FileErrorText() +
            ")");
  s.consoleRow += 1;
}

template <typename W>
void SaveData(SearchState<W>& s) {
  const NumberTable<W>& t = s.table;
  const uint32_t start = Os().TickCount();
  const int64_t bytes = static_cast<int64_t>(t.recordCount) * kRecordBytes<W>;

  // The new table is complete on disk before the old one is replaced, so a failure leaves the
  // user's files as they were.
  ReplacementFile file(W::kTableFile, W::kTempTableFile);
  if (!WriteRecords(file, t.records.data(), t.recordCount) || !file.Finish()) {
    SaveFailed(W::kTempTableFile);
  }
  SaveBackup(s);
  // The new table replaces the old one in a single rename: moving the table aside first would
  // leave a moment without any table file, and a run stopped in it would start the next one from
  // an empty table. The rename moves the run to a new resume point.
  RunPoint next = JournalPoint();
  next.tableHead.assign(static_cast<size_t>(kRecordBytes<W>), '\0');
  EncodeRecord(reinterpret_cast<unsigned char*>(next.tableHead.data()), t.records[0]);
  next.tableSize = bytes;
  next.halfSize = -1;
  if (!JournalAdvance(next, {}, [&file] { return file.Commit(); })) SaveFailed(W::kTableFile);
  Os().Remove(W::kHalfFile);
  // From here on the numbers of the user's file are in the table.
  if (s.dataAdded != 0) {
    SetFailureNote("追加したデータは保存済みです。同じファイルを再度指定する必要はありません。");
  }

  PrintLine(RealToText(static_cast<double>(Os().TickCount() - start)) + " [ms] : SaveData");
  s.consoleRow += 1;
}

template <typename W>
void SaveHalfData(SearchState<W>& s, int32_t first, int32_t count) {
  // Every checkpoint moves the run to a new resume point: the journal records the files that
  // belong to it before the records are written.
  RunPoint next = JournalPoint();
  next.halfSize = static_cast<int64_t>(first + count) * kRecordBytes<W>;
  const bool ok = JournalAdvance(next, {}, [&] {
    // The header call begins a new checkpoint; any earlier one has been merged by ReadData.
    std::unique_ptr<FileHandle> file =
        first == 0 ? Os().Create(W::kHalfFile) : Os().OpenAppend(W::kHalfFile);
    bool written = file != nullptr;
    // Records are added only behind exactly the records before them: behind a torn earlier
    // write they would lie one part of a record off, and the next run would read them shifted.
    if (written && first != 0) {
      written = file->Size() == first * kRecordBytes<W> && file->SeekEnd();
    }
    written = written && WriteRecords(*file, s.table.records.data() + first, count);
    written = written && file->Sync();
    if (file) written = file->Close() && written;
    return written;
  });
  // A checkpoint that silently lost records would be laid over the table by the next run.
  if (!ok) {
    PrintLine(std::string(W::kHalfFile) + " ファイルの書き込みに失敗しました。強制終了します。");
    PrintFileError(W::kHalfFile);
    ExitNow(kFailed);
  }
}

template <typename W>
int32_t FindEntry(const NumberTable<W>& table, typename W::Value value, int32_t from, int32_t to) {
  while (from <= to) {
    const int32_t mid = from + (to - from) / 2;
    const auto v = table.ValueAt(mid);
    if (v == value) return mid;
    if (v < value) {
      from = mid + 1;
    } else {
      to = mid - 1;
    }
  }
  return 0;
}

#define KV_INSTANTIATE(W)                                            \
  template int16_t ReadData<W>(SearchState<W>&);                     \
  template void AppendRecord<W>(SearchState<W>&, typename W::Value); \
  template void UpdateHeader<W>(SearchState<W>&);                    \
  template void SaveData<W>(SearchState<W>&);                        \
  template void SaveBackup<W>(SearchState<W>&);                      \
  template void SaveHalfData<W>(SearchState<W>&, int32_t, int32_t);  \
  template int32_t FindEntry<W>(const NumberTable<W>&, typename W::Value, int32_t, int32_t);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
