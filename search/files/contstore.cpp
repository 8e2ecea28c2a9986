// The continuation store: writing pending progressions and their inspection text.
#include <algorithm>
#include <vector>

#include "console/console.h"
#include "console/numtext.h"
#include "format/filenames.h"
#include "format/instantiate.h"
#include "format/storeform.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "search/files/files.h"
#include "search/files/journal.h"

namespace kv {
namespace {

constexpr size_t kPieceBytes = 1 << 20;

// The same message for every write of the store, whoever writes it; the line after it names the
// file and the reason.
[[noreturn]] void StoreFailed() {
  EmergencyStop("ContData.txt の変換中にファイル書き込みに失敗しました。", kStoreFile);
}

}  // namespace

template <typename W>
void SaveContData(SearchState<W>& s) {
  // The result lines of the same stretch of work go out first, so that a stop never leaves a
  // progression in the store whose finished siblings are missing from the result files.
  FlushResultLines(s);

  JournalTrack(kStoreFile);
  auto file = Os().OpenAppend(kStoreFile);
  if (!file) StoreFailed();
  const int64_t size = file->Size();
  if (size < 0) {
    file->Close();
    StoreFailed();
  }

  PendingList& list = s.pending;
  // The batch goes out in pieces of a fixed size, so that a flush of any number of items needs
  // no more memory than that.
  std::vector<unsigned char> bytes(
      std::min(kPieceBytes, 16 + 8 * static_cast<size_t>(std::max(list.pendingCount, 0))));
  size_t used = 0;
  // A batch goes after the last whole entry: the torn tail of a write that was cut short must
  // not shift every entry written after it. A torn header is written again.
  const int64_t appendAt = StoreAppendOffset(size);
  const int64_t writeAt = std::max<int64_t>(appendAt, 0);
  bool ok = true;
  bool positioned = false;
  auto write = [&](const unsigned char* data, size_t count) {
    if (!positioned) {
      ok = ok && file->SeekTo(writeAt);
      positioned = true;
    }
    ok = ok && file->Write(data, static_cast<int64_t>(count));
  };
  auto writePiece = [&]() {
    write(bytes.data(), used);
    used = 0;
    // The store's own failure is reported, not a later one of the inspection text.
    if (!ok) StoreFailed();
  };
  auto add = [&](int32_t entry) {
    constexpr auto kEntryBytes = static_cast<size_t>(kStoreEntryBytes);
    if (used + kEntryBytes > bytes.size()) writePiece();
    PutStoreEntry(bytes.data() + used, entry);
    used += kEntryBytes;
  };
  if (appendAt < 0) EncodeStoreHeader(s.table.DataCount(), add);

  if (!Os().Exists(kInspectionFile)) {
    AppendToTextFile(kInspectionFile,
                     "等差数列がデータの範囲外まで続く可能性があります。閲覧専用の為、改変、削除は"
                     "次回の探索に影響しません。\r\n",
                     true);
  }

  // What comes already encoded goes out in one write, behind the header.
  if (!list.encoded.empty()) {
    writePiece();
    write(list.encoded.data(), list.encoded.size());
    if (!ok) StoreFailed();
  }
  if (!list.inspection.empty()) AppendToTextFile(kInspectionFile, list.inspection, false);

  std::string text;
  text.reserve(100000);
  StoreGroupEncoder groups;
  for (int32_t n = 0; n < list.pendingCount; ++n) {
    const PendingEntry& item = list.entries[static_cast<size_t>(n)];
    groups.Add(item.firstIndex, item.secondIndex, add);
    if (item.termCount >= s.minSaveLength) {
      const auto first = s.table.ValueAt(item.firstIndex);
      AppendProgressionLine<W>(text, item.termCount, first,
                               s.table.ValueAt(item.secondIndex) - first);
      if (text.size() >= 99000) {
        AppendToTextFile(kInspectionFile, text, false);
        text.clear();
      }
    }
  }
  if (!text.empty()) AppendToTextFile(kInspectionFile, text, false);

  writePiece();
  // With a journal, the store is forced to disk before the run moves on from its present point.
  if (!JournalOpen()) ok = file->Sync() && ok;
  ok = file->Close() && ok;
  if (!ok) StoreFailed();
  list.pendingCount = 0;
  list.encoded.clear();
  list.encodedCount = 0;
  list.inspection.clear();
}

#define KV_INSTANTIATE(W) template void SaveContData<W>(SearchState<W>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
