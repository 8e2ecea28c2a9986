// kvimport's run sequence: menu, load the list, merge an input file, the range-only dialogue and
// the save.
#include "import/import.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/numtext.h"
#include "console/worklock.h"
#include "format/listform.h"
#include "format/width.h"
#include "platform/fileutil.h"
#include "platform/platform.h"

namespace kv {
namespace {

// The list buffer grows by this many entries; the count line is printed at each growth.
constexpr int32_t kGrowStep = 10000;

constexpr std::string_view kAskStart = kImportStartPrompt;
constexpr std::string_view kAskEnd = kImportEndPrompt;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A typed range bound. A plain decimal answer is taken digit by digit, so that answers above
// 2^53 stay exact (the double of the input statement would round them and the stored range
// could claim values that were never sieved); other forms (&H, &O) keep the usual conversion.
uint64_t BoundFromAnswer(std::string_view answer, double real) {
  size_t i = 0;
  while (i < answer.size() && (answer[i] == ' ' || answer[i] == '\t')) ++i;
  if (i < answer.size() && answer[i] == '&') {
    return static_cast<uint64_t>(TruncateToInt64(real));
  }
  if (i < answer.size() && answer[i] == '+') ++i;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  for (; i < answer.size() && IsDigit(answer[i]); ++i) {
    const auto d = static_cast<uint64_t>(answer[i] - '0');
    if (value > (kMax - d) / 10) return kMax;
    value = value * 10 + d;
  }
  return value;
}

template <typename W>
class Importer {
 public:
  using Value = typename W::Value;

  Importer(int64_t entryLimit, bool& completed) : entryLimit_(entryLimit), completed_(completed) {
    entries_.assign(static_cast<size_t>(kGrowStep), 0);
  }

  [[noreturn]] void Run() {
    RefuseSpecialFiles({W::kSievedFile, W::kTempSievedFile});
    const bool listRead = LoadList();
    const bool added = AddFromFile();
    if (!listRead && !added) RangeOnlyDialogue();
    Save();
    completed_ = true;
    EndRun(kDone);
  }

 private:
  Value& Entry(int64_t index) { return entries_[static_cast<size_t>(index)]; }

  void Reserve(int64_t entries) {
    if (static_cast<int64_t>(entries_.size()) < entries) {
      entries_.resize(static_cast<size_t>(entries), 0);
    }
  }

  std::string CountLine() const {
    return RealToText(static_cast<double>(count_ - 2)) + " " + " 個登録済み";
  }

  bool LoadList() {
    auto file = Os().OpenRead(W::kSievedFile);
    // A list that exists but cannot be opened must not be replaced by a new one.
    if (!file && Os().Exists(W::kSievedFile)) ReadFailedStop();
    if (!file) {
      PrintLine("データを取得できませんでした。新規作成します。");
      return false;
    }
    constexpr int64_t kWidth = sizeof(Value);
    const int64_t size = file->Size();
    const int64_t entries = size < 0 ? 0 : size / kWidth;
    // A file shorter than the two range entries is no list the search program could use: the
    // first appended number would land in the range slot.
    count_ = entries < 2 ? 0 : entries;
    if (count_ > entryLimit_) NoteTooLarge();
    if (count_ > entryLimit_ ||
        !ResizeFromFile(entries_, std::max<int64_t>(static_cast<int64_t>(entries_.size()),
                                                    count_ + kGrowStep))) {
      file->Close();
      ReadFailedStop();
    }
    const bool read =
        size >= 0 && ReadItems(*file, count_, kWidth, [this](const unsigned char* p, int64_t i) {
          Entry(i) = LoadLE<Value>(p);
        });
    file->Close();
    // Going on with an empty list would overwrite the file that could not be read.
    if (!read) ReadFailedStop();
    RefuseDamagedList(W::kSievedFile, entries_.data(), count_);
    spareSlots_ = kGrowStep;
    PrintLine("既存データを読み込みました。 データ範囲= " + IntegerToText(Entry(0)) + " - " +
              IntegerToText(Entry(1)));
    return true;
  }

  // Asks one range bound until it is not negative. Returns false when the input has ended.
  bool AskBound(std::string_view prompt, uint64_t& bound) {
    for (;;) {
      std::string answer;
      const bool open = InputItems(prompt, {&answer});
      const double real = TextToReal(answer);
      if (real < 0) {
        PrintLine("負の値は指定できません。");
        continue;
      }
      bound = BoundFromAnswer(answer, real);
      // The 32-bit list keeps only 32 bits; a larger answer cut to its low bits could rule out
      // values that were never sieved.
      if constexpr (W::kBits == 32) {
        if (bound > 4294967295ULL) bound = 4294967295ULL;
      }
      return open;
    }
  }

  bool AddFromFile() {
    PrintLine("");
    PrintLine("ソート済みの(追加)データが入ったファイル名を入力し(無ければそのまま) ");
    std::string name;
    InputItems(kImportFilePrompt, {&name});
    if (TextEquals(name, "")) {
      PrintLine("");
      return false;
    }
    auto file = Os().OpenUserFile(name);
    if (!file) {
      PrintLine("ファイルが見つかりませんでした。");
      return false;
    }
    if (count_ == 0) {
      AskBound(kAskStart, requestedStart_);
      count_ = 2;
      spareSlots_ = kGrowStep - 2;
    }
    AskBound(kAskEnd, requestedEnd_);

    std::string text;
    const bool read = ReadWholeFile(*file, text);
    file->Close();
    if (!read) {
      PrintLine("ファイルの読み込みに失敗しました。保存せず終了します。");
      PrintFileError(name);
      EndRun(kFailed);
    }
    Scan(text);

    if (skippedCount_ > 0) {
      Locate(0, 14);
      PrintLine("スキップしたデータが有ります。");
    }
    if (count_ == 2) {
      PrintLine("データは追加されませんでした。");
      return false;
    }
    const Value first = Entry(2);
    const Value last = Entry(count_ - 1);
    Entry(0) = requestedStart_ != 0 && requestedStart_ <= first
                   ? static_cast<Value>(requestedStart_)
                   : first;
    Entry(1) =
        requestedEnd_ != 0 && requestedEnd_ >= last ? static_cast<Value>(requestedEnd_) : last;
    Locate(0, 15);
    PrintLine(CountLine());
    PrintLine("データの追加が終了しました。");
    return true;
  }

  // The first line is a header; every further line gives the digits at its very start.
  void Scan(std::string_view text) {
    size_t pos = text.find('\n');
    if (pos == std::string_view::npos) return;
    ++pos;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      size_t digitsEnd = pos;
      while (digitsEnd < end && IsDigit(text[digitsEnd])) ++digitsEnd;
      if (digitsEnd > pos) Merge(text.substr(pos, digitsEnd - pos));
      pos = end + 1;
    }
  }

  void Merge(std::string_view digits) {
    if (DigitsAbove(digits, W::kLimit)) RangeStop(digits);
    uint64_t value = 0;
    for (char c : digits) value = value * 10 + static_cast<uint64_t>(c - '0');
    const auto v = static_cast<Value>(value);
    if (v <= Entry(count_ - 1)) {
      ++skippedCount_;
      return;
    }
    Entry(count_) = v;
    ++count_;
    --spareSlots_;
    // The search program counts the entries in a signed 32-bit number, in both forms.
    if (count_ >= entryLimit_) {
      PrintLine("データの個数限界(2147483647個)です。終了します。");
      EndRun(kFailed);
    }
    if (spareSlots_ <= 0) {
      Reserve(count_ + kGrowStep);
      spareSlots_ = kGrowStep;
      Locate(0, 15);
      PrintLine(CountLine());
    }
  }

  [[noreturn]] void RangeStop(std::string_view digits) {
    if constexpr (W::kBits == 64) {
      PrintLine("64bit版の使用可能範囲(9223372036854775807以下)を超えるデータが見つかりました。");
    } else {
      PrintLine("32bit版の使用可能範囲(2147483647以下)を超えるデータが見つかりました。");
    }
    PrintLine(std::string("-> ") + " " + std::string(digits));
    if constexpr (W::kBits == 64) {
      PrintLine("この行を消去したファイルにて再度登録して下さい。");
    } else {
      PrintLine("この行を消去したファイルにて再度登録するか、通常(64bit)版をご指定下さい。");
    }
    EndRun(kFailed);
  }

  [[noreturn]] void ReadFailedStop() {
    PrintLine("既存データの読み込みに失敗しました。保存せず終了します。");
    PrintFileError(W::kSievedFile);
    EndRun(kFailed);
  }

  [[noreturn]] void StopWithoutSaving() {
    PrintLine("保存せず終了します。");
    EndRun(kNoWork);
  }

  void RangeOnlyDialogue() {
    std::string answer;
    InputItems(kImportRangeOnlyPrompt, {&answer});
    if (!TextEquals(answer, "Y") && !TextEquals(answer, "y")) StopWithoutSaving();
    // Once the input has ended the answers stay empty, and these questions would repeat forever.
    while (requestedStart_ == 0) {
      if (!AskBound(kAskStart, requestedStart_)) StopWithoutSaving();
    }
    while (requestedEnd_ < requestedStart_) {
      if (!AskBound(kAskEnd, requestedEnd_)) StopWithoutSaving();
      if (requestedEnd_ < requestedStart_) {
        PrintLine(std::string("篩い掛けの最小値:") + " " + IntegerToText(requestedStart_));
      }
    }
    count_ = 2;
    Entry(0) = static_cast<Value>(requestedStart_);
    Entry(1) = static_cast<Value>(requestedEnd_);
  }

  // The new entries go over the start of the old file, whose bytes beyond the new end (at most a
  // trailing partial entry) stay behind them as before; the whole content is written under a
  // temporary name first, so that a failed write never leaves a damaged list.
  void Save() {
    constexpr size_t kWidth = sizeof(Value);
    std::string bytes(static_cast<size_t>(count_) * kWidth, '\0');
    auto* p = reinterpret_cast<unsigned char*>(bytes.data());
    for (int64_t i = 0; i < count_; ++i) StoreLE(p + static_cast<size_t>(i) * kWidth, Entry(i));
    bool ok = true;
    if (Os().Exists(W::kSievedFile)) {
      std::string old;
      ok = ReadWholeFile(W::kSievedFile, old);
      if (ok && old.size() > bytes.size()) bytes.append(old, bytes.size());
    }
    ok = ok && ReplaceFileSafely(W::kSievedFile, W::kTempSievedFile, bytes);
    if (!ok) {
      PrintLine("ファイルの書き込みに失敗しました。強制終了します。");
      PrintFileError(W::kSievedFile);
      EndRun(kFailed);
    }
    PrintLine("保存完了しました。");
  }

  std::vector<Value> entries_;
  int64_t count_ = 0;
  int32_t spareSlots_ = 0;
  uint64_t requestedStart_ = 0;
  uint64_t requestedEnd_ = 0;
  int64_t skippedCount_ = 0;
  int64_t entryLimit_;
  bool& completed_;
};

}  // namespace

void RunImportProgram(const ImportSettings& settings) {
  bool completed = false;
  ObservedRun(settings.observer, completed, [&settings, &completed] {
    PrintLine("Kolvex ver 0.22～用 NewPGen生成データ追加プログラム");
    PrintLine("");
    // One program at a time in the working directory, for the whole run (console/worklock.h).
    const auto hold = HoldWorkingDirectory("kvimport");
    PrintLine("希望の処理を以下から選んで番号(1,2)を入力し、Enterを押して下さい。");
    PrintLine("");
    PrintLine("1   通常用");
    uint8_t choice = 0;
    InputItems(kImportMenuPrompt, {&choice});
    if (choice == 1) Importer<Width64>(settings.entryLimit, completed).Run();
    if (choice == 2) Importer<Width32>(settings.entryLimit, completed).Run();
    EndRun(kNoWork);
  });
}

}  // namespace kv
