// The table is read in blocks of records, of which only the values are kept; the checkpoint of an
// interrupted run is laid over it as the search would lay it, so that the store's indices and the
// state of the length-3 search are those the next run will see.
#include "report/tableload.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "console/numtext.h"
#include "format/records.h"
#include "platform/workers.h"
#include "report/listlookup.h"
#include "report/primality.h"
#include "report/sievecheck.h"

namespace kv {
namespace {

constexpr int64_t kBlockRecords = 1 << 16;

const FileEntry* FindFile(const std::vector<FileEntry>& files, const char* name) {
  for (const FileEntry& f : files) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

template <typename W>
ReadStatus LoadTable(const std::string& directory, TableView& view,
                     std::vector<std::string>& lines) {
  constexpr int64_t R = kRecordBytes<W>;
  const std::string tableName = PathIn(directory, W::kTableFile);
  auto table = Os().OpenRead(tableName);
  const int64_t tableSize = table ? table->Size() : -1;
  if (tableSize < 0) {
    lines.push_back(std::string(W::kTableFile) + " の読み込みに失敗しました。");
    return ReadStatus::kFailed;
  }
  const int64_t tableRecords = tableSize / R;
  TableRecord<W> header{0, 0, 0};
  if (tableRecords >= 1 && !ReadRecordsAt(*table, 0, 1, &header)) {
    lines.push_back(std::string(W::kTableFile) + " の読み込みに失敗しました。");
    return ReadStatus::kFailed;
  }
  // The checkpoint counts only when it was begun from this very table.
  int64_t halfRecords = 0;
  auto half = Os().OpenRead(PathIn(directory, W::kHalfFile));
  if (half) {
    const int64_t halfSize = half->Size();
    TableRecord<W> halfHeader{0, 0, 0};
    halfRecords = halfSize < 0 ? 0 : halfSize / R;
    const bool matches = halfRecords >= 1 && tableRecords >= 1 &&
                         ReadRecordsAt(*half, 0, 1, &halfHeader) && SameRecord(halfHeader, header);
    if (!matches) {
      half.reset();
      halfRecords = 0;
    }
  }
  view.usedCheckpoint = half != nullptr;
  const int64_t records = std::max(tableRecords, halfRecords);
  if (records - 1 > std::numeric_limits<int32_t>::max() - 1) {
    lines.push_back(std::string(W::kTableFile) +
                    " はデータ数が上限を超えているため使用できません。");
    return ReadStatus::kFailed;
  }
  const auto n = static_cast<int32_t>(records > 0 ? records - 1 : 0);
  view.values.clear();
  try {
    view.values.reserve(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    lines.push_back(std::string(W::kTableFile) + " : メモリが不足しています。");
    return ReadStatus::kFailed;
  }

  std::vector<TableRecord<W>> block(static_cast<size_t>(kBlockRecords) + 1);
  TableRecord<W> previous{0, 0, 0};
  typename W::Value atCount = 0;
  for (int64_t first = 1; first <= n; first += kBlockRecords) {
    const int64_t count = std::min<int64_t>(kBlockRecords, n - first + 1);
    // The part below the checkpoint's end comes from the checkpoint, the rest from the table.
    const int64_t fromHalf = std::clamp<int64_t>(halfRecords - first, 0, count);
    const bool read =
        (fromHalf == 0 || ReadRecordsAt(*half, first, fromHalf, block.data())) &&
        ReadRecordsAt(*table, first + fromHalf, count - fromHalf, block.data() + fromHalf);
    if (!read) {
      const char* name = fromHalf > 0 ? W::kHalfFile : W::kTableFile;
      lines.push_back(std::string(name) + " の読み込みに失敗しました。");
      return ReadStatus::kFailed;
    }
    for (int64_t k = 0; k < count; ++k) {
      const TableRecord<W>& r = block[static_cast<size_t>(k)];
      const auto i = static_cast<int32_t>(first + k);
      const TableFault fault = CheckTableRecord<W>(r, i > 1 ? &previous : nullptr, n);
      if (fault != TableFault::kNone) {
        const char* name = i < halfRecords ? W::kHalfFile : W::kTableFile;
        for (const std::string& line : TableFaultLines(name, fault, i)) lines.push_back(line);
        return ReadStatus::kFailed;
      }
      if (i == header.lowerCursor) atCount = r.value;
      if (i >= 2 && i <= n - 1) {
        if (r.lowerCursor == 0) {
          ++view.linesFinished;
        } else if (r.upperCursor == n + 1) {
          ++view.linesWaiting;
        } else {
          ++view.linesOpen;
        }
      }
      view.values.push_back(static_cast<uint64_t>(r.value));
      previous = r;
    }
  }
  // A header that still describes a prefix of the records is what the search repairs itself.
  if (CheckTableHeader<W>(header, n, atCount) != TableFault::kNone) {
    for (const std::string& line : TableFaultLines(W::kTableFile, TableFault::kHeader, 0)) {
      lines.push_back(line);
    }
    return ReadStatus::kFailed;
  }

  using Value = typename W::Value;
  const std::string sievedName = PathIn(directory, W::kSievedFile);
  view.sievedFile = W::kSievedFile;
  // Read by kvreport's own code, damaged or not: its check says what is wrong with it.
  std::vector<Value> entries;
  if (!ReadSievedFile(sievedName, entries) && Os().Exists(sievedName)) {
    lines.push_back(std::string(W::kSievedFile) + " の読み込みに失敗しました。");
    return ReadStatus::kFailed;
  }
  view.sievedPresent = entries.size() >= 2;
  view.sievedStart = entries.size() >= 1 ? entries[0] : 0;
  view.sievedEnd = entries.size() >= 2 ? entries[1] : 0;
  view.sievedCandidates = entries.size() > 2 ? static_cast<int64_t>(entries.size()) - 2 : 0;
  auto list = std::make_shared<const SievedLookup<Value>>(std::move(entries));
  view.ruledOut = [list](uint64_t v) { return list->RuledOut(v); };
  const uint64_t largest = view.Largest();
  view.checkSieved = [list, largest](bool primes, Problems& problems,
                                     std::vector<std::string>& shown) {
    CheckSievedEntries<Value>(W::kSievedFile, list->entries(), largest, primes,
                              Os().HardwareThreads(), problems, shown);
  };
  return ReadStatus::kOk;
}

// Tests every value of the table on every core; keeps the count and the smallest composite.
void TestTableValues(TableView& view) {
  std::atomic<int64_t> composites{0};
  std::atomic<int64_t> firstIndex{std::numeric_limits<int64_t>::max()};
  ParallelFor(view.Count(), Os().HardwareThreads(), [&](int64_t begin, int64_t end) {
    int64_t found = 0;
    for (int64_t i = begin; i < end; ++i) {
      if (IsPrime(view.values[static_cast<size_t>(i)])) continue;
      if (found++ == 0) {
        int64_t seen = firstIndex.load();
        while (i < seen && !firstIndex.compare_exchange_weak(seen, i)) {
        }
      }
    }
    composites += found;
  });
  view.compositeCount = composites.load();
  if (view.compositeCount > 0) view.firstComposite = view.values[static_cast<size_t>(firstIndex)];
}

}  // namespace

std::string PathIn(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  const char last = directory.back();
  return last == '/' || last == '\\' ? directory + name : directory + "/" + name;
}

// A bitmap of at most 64 bits per value for a dense table, buckets for a sparse one.
void TableView::BuildIndex() { index_.Build(values, 64); }

ReadStatus LoadReportTable(const std::string& directory, const std::vector<FileEntry>& files,
                           TableView& view, std::vector<std::string>& lines) {
  const FileEntry* t64 = FindFile(files, Width64::kTableFile);
  const FileEntry* t32 = FindFile(files, Width32::kTableFile);
  if (t64 == nullptr && t32 == nullptr) {
    lines.push_back(std::string(Width64::kTableFile) + " も " + Width32::kTableFile +
                    " も見つかりません。データとの照合は行いません。");
    return ReadStatus::kMissing;
  }
  const bool use32 = t64 == nullptr || (t32 != nullptr && t32->modified > t64->modified);
  view.bits = use32 ? 32 : 64;
  view.tableFile = use32 ? Width32::kTableFile : Width64::kTableFile;
  if (t64 != nullptr && t32 != nullptr) {
    lines.push_back(std::string(Width64::kTableFile) + " と " + Width32::kTableFile +
                    " の内、最後に書き込まれた " + view.tableFile + " を使用します。");
  }
  const ReadStatus status = use32 ? LoadTable<Width32>(directory, view, lines)
                                  : LoadTable<Width64>(directory, view, lines);
  if (status != ReadStatus::kOk) return status;
  view.present = true;
  view.BuildIndex();
  TestTableValues(view);
  return ReadStatus::kOk;
}

}  // namespace kv
