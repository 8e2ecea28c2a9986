// The store is read in batches of entries by this thread; the entries of a batch are followed
// by every core, each core's part finding its group marker within the batch or taking the one in
// force where the batch began.
#include "report/store.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "console/numtext.h"
#include "format/storeform.h"
#include "format/width.h"
#include "platform/fileutil.h"
#include "platform/workers.h"

namespace kv {
namespace {

constexpr int64_t kBatchBytes = kStoreEntryBytes << 20;

struct PartResult {
  int64_t items = 0;
  int64_t ending = 0;
  std::vector<int64_t> openByLength;  // by length
  std::string csv;
  std::vector<std::string> mismatches;
  int64_t mismatchCount = 0;
  LiteratureTally literature;
};

// One stored progression given by the table indices of its first two terms; `position` names the
// entry in examples.
void Follow(const TableView& table, int64_t first, int64_t second, int64_t position, bool writeCsv,
            PartResult& out) {
  ++out.items;
  if (!table.present) return;
  const int64_t n = table.Count();
  int64_t length = 0;
  uint64_t next = 0;
  uint64_t a = 0;
  uint64_t d = 0;
  if (first >= 1 && first < second && second <= n) {
    a = table.values[static_cast<size_t>(first - 1)];
    d = table.values[static_cast<size_t>(second - 1)] - a;
    length = 2;
    next = a + 2 * d;
    while (next <= table.Largest() && table.Contains(next)) {
      ++length;
      next += d;
    }
  }
  if (length < 3) {
    ++out.mismatchCount;
    if (out.mismatches.size() < Problems::kExamples) {
      out.mismatches.push_back(
          std::string(kStoreFile) + " 項目 " + IntegerToText(static_cast<uint64_t>(position)) +
          " : 番号 " + IntegerToText(static_cast<uint64_t>(first)) + ", " +
          IntegerToText(static_cast<uint64_t>(second)) + " の数列がデータに有りません。");
    }
    return;
  }
  // A stored progression whose term before the first is in the table is the tail of another.
  if (a >= d && table.Contains(a - d)) return;
  out.literature.Add(a, d, length);
  const bool open = next > table.Largest() && !table.ruledOut(next);
  if (open) {
    if (out.openByLength.size() <= static_cast<size_t>(length)) {
      out.openByLength.resize(static_cast<size_t>(length) + 1);
    }
    ++out.openByLength[static_cast<size_t>(length)];
  } else {
    ++out.ending;
  }
  if (writeCsv) out.csv += CsvWriter::RowText(length, a, d, open ? "open" : "ending");
}

}  // namespace

ReadStatus SummarizeStore(const std::string& directory, const TableView& table, CsvWriter& csv,
                          StoreSummary& summary, Problems& problems,
                          const std::function<void(int64_t, int64_t)>& progress) {
  const std::string name = PathIn(directory, kStoreFile);
  auto file = Os().OpenRead(name);
  if (!file) return Os().Exists(name) ? ReadStatus::kFailed : ReadStatus::kMissing;
  summary.present = true;
  const int64_t size = file->Size();
  if (size < 0) return ReadStatus::kFailed;
  std::vector<unsigned char> bytes(static_cast<size_t>(std::clamp<int64_t>(size, 4, kBatchBytes)));
  if (size >= 4 && !ReadExactlyAt(*file, 0, bytes.data(), 4)) return ReadStatus::kFailed;
  const StoreLayout layout = StoreLayoutOf(size, bytes.data());
  summary.ungrouped = layout.ungrouped;
  const int64_t entryBytes = layout.itemBytes;
  const int64_t start = layout.start;
  const int64_t entries = layout.items;
  const unsigned threads = Os().HardwareThreads();

  int64_t marker = 0;  // the group marker in force where the batch begins
  for (int64_t done = 0; done < entries;) {
    const int64_t count = std::min(kBatchBytes / entryBytes, entries - done);
    const int64_t byteCount = count * entryBytes;
    if (!ReadExactlyAt(*file, start + done * entryBytes, bytes.data(), byteCount)) {
      return ReadStatus::kFailed;
    }
    const StoreEntries batch(bytes.data(), count, !layout.ungrouped, marker);

    std::mutex mutex;
    std::map<int64_t, PartResult> parts;
    ParallelFor(count, threads, [&](int64_t begin, int64_t end) {
      PartResult out;
      batch.Decode(
          begin, end,
          [&](int64_t i, const StoreItem& item) {
            Follow(table, item.first, item.second, done + i + 1, csv.active(), out);
          },
          [](int64_t) {});
      std::lock_guard<std::mutex> lock(mutex);
      parts[begin] = std::move(out);
    });
    marker = batch.SecondAfter();
    for (auto& [begin, part] : parts) {
      summary.items += part.items;
      summary.ending += part.ending;
      summary.literature.Merge(part.literature);
      for (size_t length = 0; length < part.openByLength.size(); ++length) {
        if (part.openByLength[length] > 0) {
          summary.openByLength[static_cast<int64_t>(length)] += part.openByLength[length];
        }
      }
      csv.Append(part.csv);
      for (int64_t k = 0; k < part.mismatchCount; ++k) {
        problems.Add(Problem::kStoreMismatch, k < static_cast<int64_t>(part.mismatches.size())
                                                  ? part.mismatches[static_cast<size_t>(k)]
                                                  : std::string());
      }
    }
    done += count;
    progress(start + done * entryBytes, size);
  }
  return ReadStatus::kOk;
}

}  // namespace kv
