// Merging a user's file of ascending numbers into the table.
#include <memory>
#include <string>

#include "console/console.h"
#include "console/numtext.h"
#include "format/filenames.h"
#include "format/instantiate.h"
#include "platform/platform.h"
#include "search/phases.h"

namespace kv {
namespace {

// The input is scanned block by block, so a file of any size needs only this much memory.
constexpr int64_t kBlockBytes = 1 << 20;

template <typename W>
class Merger {
 public:
  explicit Merger(SearchState<W>& s) : s_(s) {}

  // One byte of the input; the byte 0 after the last one ends a number that runs to the end.
  void Scan(char c) {
    if (c >= '0' && c <= '9') {
      // Digits on the ignored rest of a line are dropped anyway.
      if (!skip_) digits_ += c;
      return;
    }
    if (skip_) {
      if (c == '\n') skip_ = false;
    } else if (!digits_.empty()) {
      Merge();
      if (c != '\n') skip_ = true;
    }
    digits_.clear();
  }

  // The skipped numbers go to their file in blocks, each forced to disk.
  void WriteNotAdded() {
    if (notAdded_.empty()) return;
    AppendToTextFile(kNotAddedFile, notAdded_, false);
    notAdded_.clear();
  }

  // Forgets a number that a failed read may have cut short.
  void DropUnfinished() { digits_.clear(); }

  int64_t skipped() const { return skipped_; }

 private:
  void Merge() {
    // Judged by exact value, so that neither length nor leading zeros fool the range check.
    if (DigitsAbove(digits_, W::kLimit)) OutOfRange();
    const size_t firstNonZero = digits_.find_first_not_of('0');
    const auto v = static_cast<typename W::Value>(
        firstNonZero == std::string::npos
            ? 0
            : TextToInteger(std::string_view(digits_).substr(firstNonZero)));
    NumberTable<W>& t = s_.table;
    if (t.recordCount == 1 || v > t.ValueAt(t.recordCount - 1)) {
      if (t.recordCount >= s_.testing.maxRecordCount) TableFull();
      AppendRecord(s_, v);
    } else {
      notAdded_ += digits_;
      notAdded_ += "\r\n";
      if (notAdded_.size() >= kBlockBytes) WriteNotAdded();
      ++skipped_;
    }
  }

  [[noreturn]] void OutOfRange() {
    WriteNotAdded();
    PrintLine(W::kOutOfRangeLine);
    PrintLine("-> " + std::string(" ") + digits_);
    PrintLine(W::kOutOfRangeAdvice);
    if (s_.table.recordCount == 1) EndRun(kFailed);
    SaveMergedAndEnd();
  }

  [[noreturn]] void TableFull() {
    WriteNotAdded();
    PrintLine("データ数が上限(" + RealToText(s_.testing.maxRecordCount - 1) +
              "個)に達したため、これ以上登録できません。");
    PrintLine("-> " + std::string(" ") + digits_);
    SaveMergedAndEnd();
  }

  // The header is brought up to date first, so that the saved table is consistent.
  [[noreturn]] void SaveMergedAndEnd() {
    PrintLine("ここまでに登録したものは保存されます。");
    UpdateHeader(s_);
    SaveData(s_);
    EndRun(kFailed);
  }

  SearchState<W>& s_;
  std::string digits_;
  std::string notAdded_;
  bool skip_ = false;
  int64_t skipped_ = 0;
};

}  // namespace

template <typename W>
int16_t AddData(SearchState<W>& s) {
  PrintLine(" ");
  PrintLine("ソート済みの(追加)データが入ったファイル名を入力し(無ければそのまま) ");
  std::string answer;
  InputItems(kAddFilePrompt, {&answer});
  s.consoleRow += 4;
  if (TextEquals(answer, "")) {
    PrintLine("");
    s.consoleRow += 1;
    return 0;
  }

  const uint32_t start = Os().TickCount();
  auto file = Os().OpenUserFile(answer);
  if (!file) {
    PrintLine("ファイルが見つかりませんでした。");
    s.consoleRow += 1;
    return 0;
  }
  Merger<W> merger(s);
  // Not zeroed: only the bytes that a read delivers are looked at.
  const auto block = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(kBlockBytes));
  bool readFailed = false;
  for (;;) {
    const int64_t got = file->Read(block.get(), kBlockBytes);
    if (got < 0) readFailed = true;
    if (got <= 0) break;
    for (int64_t i = 0; i < got; ++i) merger.Scan(block[static_cast<size_t>(i)]);
  }
  file->Close();
  // After a failed read the digits collected last may be only the front of a number.
  if (readFailed) merger.DropUnfinished();
  merger.Scan('\0');
  merger.WriteNotAdded();

  PrintLine(RealToText(static_cast<double>(Os().TickCount() - start)) + " [ms] : AddData");
  s.consoleRow += 1;
  if (readFailed) {
    PrintLine("ファイルを最後まで読み込めませんでした。読み込めた所までを登録します。");
    s.consoleRow += 1;
  }
  if (merger.skipped() > 0) {
    PrintLine("スキップしたデータが有ります。 " + std::string(kNotAddedFile) + " に出力しました。");
    s.consoleRow += 1;
  }
  int16_t added = 0;
  if (s.table.recordCount - 1 == s.table.DataCount()) {
    PrintLine("データは追加されませんでした。");
  } else {
    UpdateHeader(s);
    PrintLine("データの追加が終了しました。");
    added = 1;
  }
  s.consoleRow += 1;
  return added;
}

#define KV_INSTANTIATE(W) template int16_t AddData<W>(SearchState<W>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
