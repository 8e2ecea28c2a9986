// Converting the text form of the continuation store into the store.
#include <algorithm>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/numtext.h"
#include "format/filenames.h"
#include "format/instantiate.h"
#include "format/storeform.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "search/files/files.h"

namespace kv {
namespace {

constexpr const char* kTextFile = kStoreTextFile;
constexpr int32_t kListCapacity = 100000;

bool AllDigits(std::string_view field) {
  for (const char c : field) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// True when the store exists in the older ungrouped layout, to which grouped batches must not
// be appended: the mix could not be read back.
bool StoreIsUngrouped() {
  auto file = Os().OpenRead(kStoreFile);
  if (!file) return false;
  unsigned char head[4];
  const bool got = ReadExactly(*file, head, 4);
  file->Close();
  return got && StoreHeadIsUngrouped(head);
}

// Turns the fields of the records into pending items, checking each record against the table.
template <typename W>
class TextConverter {
 public:
  using Value = typename W::Value;

  explicit TextConverter(SearchState<W>& s) : s_(s) {}

  void Field(std::string_view field) {
    fields_[fieldCount_++] = std::string(field);
    if (fieldCount_ < 4) return;
    fieldCount_ = 0;
    Record();
  }

  // A record cut off by the end of the file: its last field ends there if it is the fourth,
  // otherwise the record cannot be converted.
  void End(std::string_view field) {
    if (fieldCount_ == 3 && !field.empty()) {
      Field(field);
    } else if (fieldCount_ > 0 || !field.empty()) {
      ++skipped_;
    }
    fieldCount_ = 0;
  }

  int64_t skipped() const { return skipped_; }

 private:
  void Record() {
    const NumberTable<W>& table = s_.table;
    const int32_t last = std::min(table.DataCount(), table.recordCount - 1);
    const std::string& first = fields_[1];
    const std::string& step = fields_[2];
    // Only numbers within the value range can be table values; anything larger would wrap.
    if (!AllDigits(first) || !AllDigits(step) || DigitsAbove(first, W::kLimit) ||
        DigitsAbove(step, W::kLimit)) {
      ++skipped_;
      return;
    }
    const auto a = static_cast<Value>(TextToInteger(first));
    const auto d = static_cast<Value>(TextToInteger(step));
    // The store keeps the first two indices only and its re-examination takes the third term as
    // present, so all three must be entries: index 0 would read back as a group marker, and a
    // missing term would give false result lines.
    const int32_t firstIndex = d == 0 ? 0 : FindEntry(table, a, 1, last);
    const int32_t secondIndex = firstIndex == 0 ? 0 : FindEntry(table, a + d, firstIndex + 1, last);
    const int32_t thirdIndex =
        secondIndex == 0 ? 0 : FindEntry(table, a + d + d, secondIndex + 1, last);
    if (thirdIndex == 0) {
      ++skipped_;
      return;
    }
    PendingList& list = s_.pending;
    list.entries[static_cast<size_t>(list.pendingCount)] = {
        firstIndex, secondIndex,
        static_cast<int32_t>(static_cast<uint32_t>(TextToInteger(fields_[0])))};
    ++list.pendingCount;
    if (list.pendingCount >= list.pendingCapacity) SaveContData(s_);
  }

  SearchState<W>& s_;
  std::string fields_[4];
  int fieldCount_ = 0;
  int64_t skipped_ = 0;
};

}  // namespace

template <typename W>
bool ReadContText(SearchState<W>& s) {
  if (StoreIsUngrouped()) {
    PrintLine("_ContData.dat が旧形式の為、_ContData.txt は次回の探索で変換します。");
    s.consoleRow += 1;
    return false;
  }
  std::string text;
  if (!ReadWholeFile(kTextFile, text)) {
    PrintLine("_ContData.txt を読み込めませんでした。変換せずに残します。");
    s.consoleRow += 1;
    return false;
  }

  s.pending = PendingList{};
  s.pending.entries.resize(kListCapacity);
  s.pending.pendingCapacity = kListCapacity;

  // A CR or "," ends a field, and so does an LF, so that LF line ends read like CR LF ones; empty
  // fields are skipped, which also takes care of the LF after a CR.
  TextConverter<W> converter(s);
  size_t fieldStart = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != ',' && c != '\n') continue;
    if (i > fieldStart) converter.Field(std::string_view(text).substr(fieldStart, i - fieldStart));
    fieldStart = i + 1;
  }
  converter.End(std::string_view(text).substr(fieldStart));
  if (s.pending.pendingCount > 0) SaveContData(s);
  s.pending = PendingList{};

  if (converter.skipped() > 0) {
    PrintLine("_ContData.txt の内 " + RealToText(static_cast<double>(converter.skipped())) +
              " 件は、データに無い数列か不正な値の為、読み飛ばしました。");
    s.consoleRow += 1;
  }
  return true;
}

#define KV_INSTANTIATE(W) template bool ReadContText<W>(SearchState<W>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
