// The sieved list: loading, trimming and the query that rules out values beyond the table.
#include <algorithm>
#include <limits>
#include <string>

#include "console/console.h"
#include "console/numtext.h"
#include "format/instantiate.h"
#include "format/listform.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "search/files/files.h"

namespace kv {
namespace {

// A list of fewer than two entries has no range end; it reads as 0, as a short file leaves it.
template <typename W>
typename W::Value EntryOrZero(const SievedList<W>& list, uint32_t index) {
  return index < list.count && index < list.entries.size() ? list.entries[index] : 0;
}

// Drops the candidates below the new range start (entry 0), keeping the rest in order.
template <typename W>
void trimSievedList(SievedList<W>& list) {
  auto& e = list.entries;
  const typename W::Value start = e[0];
  if (e[2] >= start) return;
  if (e[list.count - 1] < start) {
    list.count = 0;
    return;
  }
  // First index whose entry is at or above the start; entry[lo] < start <= entry[hi].
  uint32_t lo = 2;
  uint32_t hi = list.count - 1;
  while (hi > lo + 1) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (e[mid] > start) {
      hi = mid;
    } else if (e[mid] == start) {
      hi = mid;
      break;
    } else {
      lo = mid;
    }
  }
  std::move(e.begin() + hi, e.begin() + list.count, e.begin() + 2);
  list.count = 2 + (list.count - hi);
}

}  // namespace

template <typename W>
bool LoadSievedList(const std::string& name, SievedList<W>& list) {
  using Value = typename W::Value;
  auto file = Os().OpenRead(name);
  const int64_t size = file ? file->Size() : -1;
  const int64_t count = size < 0 ? 0 : size / static_cast<int64_t>(sizeof(Value));
  if (!file) return false;
  // Spare room behind the entries keeps the range ends readable in a file of fewer than two.
  const auto spare = static_cast<int64_t>(1000 / sizeof(Value));
  const bool room = size >= 0 &&
                    (count <= std::numeric_limits<uint32_t>::max() || NoteTooLarge()) &&
                    (static_cast<int64_t>(list.entries.size()) >= count + spare ||
                     ResizeFromFile(list.entries, count + spare));
  if (!room) {
    file->Close();
    return false;
  }
  const bool read =
      ReadItems(*file, count, sizeof(Value), [&list](const unsigned char* p, int64_t i) {
        list.entries[static_cast<size_t>(i)] = LoadLE<Value>(p);
      });
  file->Close();
  if (!read) {
    // A list read only in part could rule out values that are in fact candidates.
    std::fill(list.entries.begin(), list.entries.end(), Value{0});
    list.count = 0;
    return false;
  }
  list.count = static_cast<uint32_t>(count);
  return true;
}

template <typename W>
void ReadSievedData(SearchState<W>& s) {
  SievedList<W>& list = s.sieved;
  if (!LoadSievedList(W::kSievedFile, list)) {
    // A list that is there but cannot be read is not a missing one: without it the run would
    // keep progressions open that the list rules out, and write other results.
    if (Os().Exists(W::kSievedFile)) {
      PrintLine(std::string(W::kSievedFile) + " の読み込みに失敗しました。");
      PrintFileError(W::kSievedFile);
      EndRun(kFailed);
    }
    PrintLine("篩い掛けデータは確認できませんでした。");
    s.consoleRow += 1;
    return;
  }
  RefuseDamagedList(W::kSievedFile, list.entries.data(), list.count);
  PrintLine("篩い掛けデータを読み込みました。 データ範囲= " + IntegerToText(list.entries[0]) +
            " - " + IntegerToText(list.entries[1]));
  s.consoleRow += 1;
}

template <typename W>
bool isRuledOut(const SievedList<W>& list, typename W::Value v) {
  if (list.count == 0) return false;
  if (v < EntryOrZero(list, 0) || v > EntryOrZero(list, 1)) return false;
  // Bisection over the candidates, entries 2 to count - 1.
  int64_t lo = 2;
  int64_t hi = static_cast<int64_t>(list.count) - 1;
  while (lo <= hi) {
    const int64_t mid = (lo + hi) / 2;
    const auto e = list.entries[static_cast<size_t>(mid)];
    if (e > v) {
      hi = mid - 1;
    } else if (e == v) {
      return false;
    } else {
      lo = mid + 1;
    }
  }
  return true;
}

template <typename W>
void SaveSievedData(SearchState<W>& s) {
  using Value = typename W::Value;
  SievedList<W>& list = s.sieved;
  const uint32_t start = Os().TickCount();
  list.entries[0] = static_cast<Value>(s.table.Largest() + 1);
  if (list.count > 2) trimSievedList(list);

  // The trimmed list replaces the old file only once it is complete on disk.
  ReplacementFile file(W::kSievedFile, W::kTempSievedFile);
  const bool written = WriteItems(
      file, list.count, sizeof(Value),
      [&list](unsigned char* p, int64_t i) { StoreLE(p, list.entries[static_cast<size_t>(i)]); });
  if (!written || !file.Commit()) {
    PrintLine("篩い掛けファイルの書き込みに失敗しました。強制終了します。");
    PrintFileError(W::kSievedFile);
    EndRun(kFailed);
  }
  PrintLine(RealToText(static_cast<double>(Os().TickCount() - start)) + " [ms] : SaveSievedData");
  s.consoleRow += 1;
}

#define KV_INSTANTIATE(W)                                              \
  template bool LoadSievedList<W>(const std::string&, SievedList<W>&); \
  template void ReadSievedData<W>(SearchState<W>&);                    \
  template void SaveSievedData<W>(SearchState<W>&);                    \
  template bool isRuledOut<W>(const SievedList<W>&, typename W::Value);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
