// The campaign's steps. Each step runs kvimport and the search program in this process, with
// every question answered in advance and their console kept out of sight; the files they leave
// are those of the same programs run by hand. Where the campaign stands is read from the files
// alone, so a stopped campaign goes on where it was with the same command.
#include "campaign/campaign.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "campaign/primesfile.h"
#include "console/console.h"
#include "console/numtext.h"
#include "console/worklock.h"
#include "format/records.h"
#include "import/import.h"
#include "platform/fileutil.h"
#include "platform/forwarding.h"
#include "platform/platform.h"
#include "search/phases.h"

namespace kv {

namespace {

// The growing step that holds `value`: its number, its start (the end of the step before it) and
// its end, counted from the first step.
struct GrowingStep {
  uint64_t number;
  uint64_t start;
  uint64_t end;
};

GrowingStep FindGrowingStep(const CampaignPlan& plan, uint64_t value) {
  GrowingStep step{1, 0, 0};
  for (;;) {
    const uint64_t size = std::max(plan.unit, step.start / 10 / plan.unit * plan.unit);
    step.end =
        plan.limit - std::min(step.start, plan.limit) <= size ? plan.limit : step.start + size;
    if (step.end >= value || step.end >= plan.limit) return step;
    step.start = step.end;
    ++step.number;
  }
}

}  // namespace

uint64_t StepNumber(const CampaignPlan& plan, uint64_t firstPrime) {
  if (plan.step == 0) return FindGrowingStep(plan, firstPrime).number;
  return firstPrime / plan.step + (firstPrime % plan.step == 0 ? 0 : 1);
}

uint64_t StepEnd(const CampaignPlan& plan, uint64_t firstPrime) {
  if (plan.step == 0) return FindGrowingStep(plan, firstPrime).end;
  const uint64_t number = StepNumber(plan, firstPrime);
  return number > plan.limit / plan.step ? plan.limit : number * plan.step;
}

uint64_t StepStart(const CampaignPlan& plan, uint64_t firstPrime) {
  if (plan.step == 0) return FindGrowingStep(plan, firstPrime).start + 1;
  return (StepNumber(plan, firstPrime) - 1) * plan.step + 1;
}

uint64_t ListEnd(const CampaignPlan& plan, uint64_t stepEnd, uint64_t formLimit) {
  // ⌊stepEnd · F / 1000⌋ without overflow: the thousands and the rest apart.
  const uint64_t whole = stepEnd / 1000;
  const uint64_t rest = stepEnd % 1000;
  if (whole > formLimit / plan.factorMilli) return formLimit;
  const uint64_t end = whole * plan.factorMilli + rest * plan.factorMilli / 1000;
  return std::min(end, formLimit);
}

namespace {

// The name under which the inner programs read the primes of a range; no file of the working
// directory is ever opened by it.
constexpr const char* kPrimesName = "<kvcampaign primes>";
// The campaign's log: one line per completed step.
constexpr const char* kLogFile = "_CampaignLog.csv";
constexpr const char* kTempLogFile = "__TEMP___CampaignLog.csv";
constexpr std::string_view kLogHeader = "ステップ,範囲開始,範囲終了,所要秒,CPU秒,発見,最長";
// Progress is shown at most this often when the output is not a console.
constexpr uint32_t kStatusInterval = 10000;

std::string Clock(uint64_t ms) {
  const uint64_t s = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                static_cast<unsigned long long>(s / 60 % 60),
                static_cast<unsigned long long>(s % 60));
  return text;
}

// The platform seen by the inner programs: files and process as the campaign's own; the primes
// of the current range under kPrimesName; console output kept for a failure report; no input,
// as every question is answered in advance.
class InnerPlatform final : public ForwardingPlatform {
 public:
  explicit InnerPlatform(Platform& base) : ForwardingPlatform(base) {}

  void Serve(uint64_t from, uint64_t to, std::string header) {
    from_ = from;
    to_ = to;
    header_ = std::move(header);
  }
  const std::string& transcript() const { return transcript_; }
  void ClearTranscript() { transcript_.clear(); }

  void WriteOut(std::string_view bytes) override {
    // Only the end of a long console is kept.
    if (transcript_.size() > (1u << 20)) transcript_.erase(0, transcript_.size() / 2);
    transcript_.append(bytes);
  }
  bool ReadLine(std::string& line) override {
    line.clear();
    return false;
  }
  void MoveCursor(int, int) override {}
  // The inner runs read the primes as the file of new numbers that a user would name.
  std::unique_ptr<FileHandle> OpenUserFile(const std::string& name) override {
    if (name == kPrimesName) return OpenPrimesFile(from_, to_, header_);
    return base().OpenUserFile(name);
  }

 private:
  uint64_t from_ = 1;
  uint64_t to_ = 0;
  std::string header_;
  std::string transcript_;
};

// Installs a platform for the life of one inner run, whatever way it ends.
class PlatformScope {
 public:
  explicit PlatformScope(Platform* platform) : previous_(SetPlatform(platform)) {}
  ~PlatformScope() { SetPlatform(previous_); }
  PlatformScope(const PlatformScope&) = delete;
  PlatformScope& operator=(const PlatformScope&) = delete;

 private:
  Platform* previous_;
};

// The first `count` values of a binary file of W::Value, each at the start of an item of
// `stride` bytes, as far as it holds them.
template <typename W>
std::vector<uint64_t> LeadingValues(const std::string& name, int64_t stride, int64_t count) {
  std::vector<uint64_t> values;
  auto file = Os().OpenRead(name);
  if (!file) return values;
  const int64_t items = std::clamp<int64_t>(file->Size() / stride, 0, count);
  if (!ReadItems(*file, items, stride, [&values](const unsigned char* p, int64_t) {
        values.push_back(LoadLE<typename W::Value>(p));
      })) {
    values.clear();
  }
  file->Close();
  return values;
}

template <typename W>
class Campaign final : public RunObserver {
 public:
  using Value = typename W::Value;

  explicit Campaign(const CampaignPlan& plan) : plan_(plan), base_(Os()), inner_(base_) {}

  [[noreturn]] void Run() {
    start_ = base_.TickCount();
    Print(std::string("kvcampaign ") + KV_SUITE_VERSION + " : " +
          (W::kBits == 64 ? "通常版" : "32bit版") + "、素数 " + IntegerToText(plan_.limit) +
          " まで、" +
          (plan_.step != 0 ? IntegerToText(plan_.step) + " ずつ"
                           : "数表の大きさに応じた幅 (" + IntegerToText(plan_.unit) + " 以上) で") +
          "、長さ " + IntegerToText(static_cast<uint64_t>(plan_.minLength)) + " 以上を保存" +
          (plan_.prune ? "、枝刈り有り" : "、枝刈り無し"));
    const std::string factor = RealToText(static_cast<double>(plan_.factorMilli) / 1000.0);
    Print("各ステップの前に、次の範囲の篩い掛けデータ (範囲の " + factor +
          " 倍まで) を作成します。");
    SnapshotResults();
    if (Unfinished()) {
      Print("中断された探索が有ります。先に完了させます。");
      SearchRun(0, 0, "");
    }
    CatchUpLog();
    for (;;) {
      const uint64_t largest = Largest();
      const uint64_t first = PrimeAbove(largest);
      if (first > plan_.limit) break;
      Step(largest, first);
      // A step that added nothing would be taken again and again.
      if (Largest() <= largest) {
        Print("kvcampaign: 数表にステップの素数が加わりませんでした。中止します。");
        ExitNow(2);
      }
    }
    Print("");
    Print("完了しました。データ最大値= " + IntegerToText(Largest()) + "  経過 " + Clock(Elapsed()));
    Print("長さ別の件数 (合計) : " + Counts(totals_) + "  最長 " + Longest());
    ExitNow(0);
  }

  void Progress(RunPhase phase, double percent) override { ShowProgress(phase, percent); }
  void Ended(RunOutcome outcome, int) override { outcome_ = outcome; }

 private:
  void Step(uint64_t largest, uint64_t first) {
    stepStart_ = base_.TickCount();
    const double processorStart = ProcessorSeconds();
    stepEnd_ = StepEnd(plan_, first);
    stepNumber_ = StepNumber(plan_, first);
    stepFrom_ = std::max(largest + 1, StepStart(plan_, first));
    stepCount_ = StepNumber(plan_, plan_.limit);
    lastStatus_ = 0;
    stepShown_ = false;
    ShowProgress(RunPhase::kLength3, 0);
    const uint64_t listEnd = ListEnd(plan_, stepEnd_, W::kLimit);
    // A range without primes (only just below the form's limit) gets no list.
    if (listEnd > stepEnd_ && ListEndOnDisk() < listEnd && PrimeAbove(stepEnd_) <= listEnd) {
      // A list that reaches the step's end grows by its new part; one made from nothing, or one
      // that cannot be grown so, is made by kvimport's run.
      if (ListEndOnDisk() < stepEnd_ || !GrowList(listEnd)) ImportRun(stepEnd_ + 1, listEnd);
    }
    const auto before = sizes_;
    SearchRun(largest + 1, stepEnd_, kPrimesName);
    std::map<int, int64_t> found;
    for (auto& [length, size] : sizes_) {
      const auto old = before.find(length);
      found[length] = size.second - (old == before.end() ? 0 : old->second.second);
    }
    const uint32_t spent = base_.TickCount() - stepStart_;
    AppendLogLine(stepNumber_, stepFrom_, stepEnd_, Seconds(static_cast<double>(spent) / 1000.0),
                  Seconds(ProcessorSeconds() - processorStart), found);
    Status("ステップ " + StepLabel() + " 完了  " + Range() + "  所要 " + Clock(spent) + "  発見 " +
               Counts(found) + "  最長 " + Longest(),
           true);
  }

  // Adds to the list on disk the primes above its last candidate (and above the step's end) up to
  // `listEnd`, as kvimport merges a file into an existing list: the range start becomes the
  // first candidate and the range end `listEnd`; without such primes the list stays as it is.
  // False when the list cannot be read as one: kvimport's run then makes it and says why.
  bool GrowList(uint64_t listEnd) {
    constexpr int64_t kWidth = sizeof(Value);
    auto file = Os().OpenRead(W::kSievedFile);
    if (!file) return false;
    const int64_t size = file->Size();
    const int64_t count = size < 0 ? 0 : size / kWidth;
    unsigned char bytes[sizeof(Value)];
    if (count < 2 || !ReadExactlyAt(*file, (count - 1) * kWidth, bytes, kWidth)) {
      file->Close();
      return false;
    }
    const uint64_t last = LoadLE<Value>(bytes);
    const std::vector<uint64_t> fresh = PrimesBetween(std::max(last, stepEnd_) + 1, listEnd);
    if (fresh.empty()) {
      file->Close();
      return true;
    }
    // kvimport stops at its count limit; its run says so.
    if (count + static_cast<int64_t>(fresh.size()) >= kSievedEntryLimit) {
      file->Close();
      return false;
    }
    uint64_t start = fresh.front();
    if (count > 2) {
      if (!ReadExactlyAt(*file, 2 * kWidth, bytes, kWidth)) {
        file->Close();
        return false;
      }
      start = LoadLE<Value>(bytes);
    }
    ReplacementFile list(W::kSievedFile, W::kTempSievedFile);
    unsigned char range[2 * sizeof(Value)];
    StoreLE(range, static_cast<Value>(start));
    StoreLE(range + kWidth, static_cast<Value>(listEnd));
    bool ok = list.Write(range, sizeof range) && file->SeekTo(2 * kWidth);
    // The old candidates, a piece at a time, then the new ones.
    std::vector<unsigned char> piece;
    for (int64_t done = 2 * kWidth; ok && done < count * kWidth;) {
      const int64_t take = std::min<int64_t>(count * kWidth - done, int64_t{1} << 22);
      piece.resize(static_cast<size_t>(take));
      ok = ReadExactly(*file, piece.data(), take) && list.Write(piece.data(), take);
      done += take;
    }
    file->Close();
    ok = ok && WriteItems(list, static_cast<int64_t>(fresh.size()), kWidth,
                          [&fresh](unsigned char* p, int64_t i) {
                            StoreLE(p, static_cast<Value>(fresh[static_cast<size_t>(i)]));
                          });
    if (!ok || !list.Commit()) {
      Print("");
      Print("kvcampaign: 篩い掛けデータを保存できませんでした。");
      PrintFileError(W::kSievedFile);
      Print("原因を取り除いてから、同じコマンドで再開できます。");
      ExitNow(2);
    }
    return true;
  }

  // kvimport, menu and bounds answered, given the primes of (stepEnd, listEnd] after a header.
  void ImportRun(uint64_t from, uint64_t to) {
    inner_.Serve(from, to, "primes " + IntegerToText(from) + " " + IntegerToText(to) + "\n");
    PresetAnswer(kImportMenuPrompt, W::kBits == 64 ? "1" : "2");
    PresetAnswer(kImportFilePrompt, kPrimesName);
    PresetAnswer(kImportStartPrompt, IntegerToText(from));
    PresetAnswer(kImportEndPrompt, IntegerToText(to));
    PresetAnswer(kClosingPrompt, "");
    Inner([this] { RunImportProgram({.observer = this}); });
  }

  // The search program adding the primes of [from, to] (none when `file` is empty).
  void SearchRun(uint64_t from, uint64_t to, const std::string& file) {
    inner_.Serve(from, to, "");
    PresetAnswer(kAddFilePrompt, file);
    PresetAnswer(kMinLengthPrompt, IntegerToText(static_cast<uint64_t>(plan_.minLength)));
    PresetAnswer(kClosingPrompt, "");
    Inner([this] {
      auto state = std::make_unique<SearchState<W>>();
      state->threadCount = plan_.threads;
      state->prune = plan_.prune;
      state->observer = this;
      RunSearchProgram(*state);
    });
    SnapshotResults();
  }

  void Inner(const std::function<void()>& program) {
    inner_.ClearTranscript();
    outcome_ = RunOutcome::kFailed;
    int code = 0;
    {
      PlatformScope scope(&inner_);
      code = RunToEnd(program);
    }
    ClearPresetAnswers();
    if (outcome_ == RunOutcome::kCompleted) return;
    // What the program said, from its last lines, then the campaign's own word.
    const std::string& said = inner_.transcript();
    size_t from = said.size();
    for (int lines = 0; lines < 12 && from > 0; ++lines) {
      from = said.rfind('\n', from - 1);
      if (from == std::string::npos) {
        from = 0;
        break;
      }
    }
    Print("");
    base_.WriteOut(said.substr(from));
    Print("");
    Print("kvcampaign: 途中で終了しました。原因を取り除いてから、同じコマンドで再開できます。");
    ExitNow(code != 0 ? code : 2);
  }

  // The table's largest value (0 without a table).
  uint64_t Largest() const {
    const auto header = LeadingValues<W>(W::kTableFile, kRecordBytes<W>, 1);
    return header.empty() ? 0 : header[0];
  }

  // The end of the sieved range on disk (0 without a list).
  uint64_t ListEndOnDisk() const {
    const auto entries = LeadingValues<W>(W::kSievedFile, sizeof(Value), 2);
    return entries.size() < 2 ? 0 : entries[1];
  }

  // True when a run of the search program stopped before its end: its checkpoint, the store's
  // work file or its journal is left, or some line of the table still waits for a third term
  // below its end.
  bool Unfinished() const {
    if (Os().Exists(W::kHalfFile) || Os().Exists(kExaminedStoreFile) || Os().Exists(kJournalFile)) {
      return true;
    }
    if (!Os().Exists(W::kTableFile)) return false;
    auto file = Os().OpenRead(W::kTableFile);
    const int64_t size = file ? file->Size() : -1;
    int32_t n = 0;
    bool waiting = false;
    const bool read = size >= 0 && ReadItems(*file, size / kRecordBytes<W>, kRecordBytes<W>,
                                             [&](const unsigned char* p, int64_t i) {
                                               const TableRecord<W> r = DecodeRecord<W>(p);
                                               if (i == 0) n = r.lowerCursor;
                                               waiting = waiting || (i > 0 && r.lowerCursor != 0 &&
                                                                     r.upperCursor != n + 1);
                                             });
    if (file) file->Close();
    return !read || waiting;
  }

  // The size and the count of result lines of every result file.
  void SnapshotResults() {
    for (int length = 3; length <= 64; ++length) {
      const std::string name = ResultFileName(static_cast<uint64_t>(length));
      auto file = Os().OpenRead(name);
      if (!file) continue;
      auto& [size, lines] = sizes_[length];
      const int64_t now = file->Size();
      // Only what was appended since the last look is read.
      if (now > size) {
        std::string tail(static_cast<size_t>(now - size), '\0');
        if (ReadExactlyAt(*file, size, tail.data(), now - size)) {
          // The header line of a new file is no result line.
          lines += std::count(tail.begin(), tail.end(), '\n') - (size == 0 ? 1 : 0);
          size = now;
        }
      }
      file->Close();
      totals_[length] = lines;
    }
  }

  std::string Counts(const std::map<int, int64_t>& counts) const {
    std::string text;
    for (const auto& [length, count] : counts) {
      if (count <= 0) continue;
      text += (text.empty() ? "" : " ") + std::string("L") + std::to_string(length) + ":" +
              std::to_string(count);
    }
    return text.empty() ? "無し" : text;
  }

  int LongestLength() const {
    int longest = 0;
    for (const auto& [length, count] : totals_) {
      if (count > 0) longest = std::max(longest, length);
    }
    return longest;
  }
  std::string Longest() const {
    return LongestLength() == 0 ? "-" : std::to_string(LongestLength());
  }

  std::string StepLabel() const {
    return std::to_string(stepNumber_) + "/" + std::to_string(stepCount_);
  }
  std::string Range() const {
    return "範囲 " + IntegerToText(stepFrom_) + " - " + IntegerToText(stepEnd_);
  }

  void ShowProgress(RunPhase phase, double percent) {
    const uint32_t now = base_.TickCount();
    if (stepShown_ && now - lastStatus_ < kStatusInterval) return;
    lastStatus_ = now;
    stepShown_ = true;
    const uint64_t spent = now - stepStart_;
    std::string left = "計算中";
    if (phase == RunPhase::kLength3 && percent > 0) {
      // The search's cost grows with the square of the table: later steps weigh more.
      const double step = static_cast<double>(spent) * 100.0 / percent;
      const double here = static_cast<double>(stepEnd_) * static_cast<double>(stepEnd_) -
                          static_cast<double>(stepFrom_) * static_cast<double>(stepFrom_);
      const double limit = static_cast<double>(plan_.limit);
      const double later =
          limit * limit - static_cast<double>(stepEnd_) * static_cast<double>(stepEnd_);
      const double total = step - static_cast<double>(spent) + (here > 0 ? step * later / here : 0);
      left = "約 " + Clock(static_cast<uint64_t>(std::max(total, 0.0)));
    }
    Status("ステップ " + StepLabel() + "  " + Range() +
               (phase == RunPhase::kLength3 ? "  探索 " : "  継続データ ") + RealToText(percent) +
               " %  経過 " + Clock(Elapsed()) + "  残り " + left,
           false);
  }

  // The log's lines as far as they can be read: the range end of the last one and the counts
  // found in all of them. A line that cannot be read is skipped, and said so; the bytes after the
  // last line end (a line whose writing was cut off) are taken out of the file.
  void ReadLog(uint64_t& lastEnd, std::map<int, int64_t>& logged) {
    lastEnd = 0;
    std::string text;
    if (!Os().Exists(kLogFile)) return;
    if (!ReadWholeFile(kLogFile, text)) LogStop();
    const size_t whole = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    if (whole < text.size()) {
      text.resize(whole);
      if (!ReplaceFileSafely(kLogFile, kTempLogFile, text)) LogStop();
    }
    int64_t skipped = 0;
    for (size_t pos = 0; pos < text.size();) {
      const size_t end = text.find('\n', pos);
      std::string_view line(text.data() + pos, end - pos);
      pos = end + 1;
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (line == kLogHeader) continue;
      uint64_t rangeEnd = 0;
      std::map<int, int64_t> counts;
      if (!ReadLogLine(line, rangeEnd, counts)) {
        ++skipped;
        continue;
      }
      lastEnd = rangeEnd;
      for (const auto& [length, count] : counts) logged[length] += count;
    }
    if (skipped > 0) {
      Print(std::string(kLogFile) + " の読めない行 " + std::to_string(skipped) +
            " 行を飛ばしました。");
    }
  }

  // "number,start,end,seconds,seconds,L5:12 L6:3,longest"; the times may be empty.
  static bool ReadLogLine(std::string_view line, uint64_t& rangeEnd,
                          std::map<int, int64_t>& counts) {
    std::vector<std::string_view> fields;
    for (size_t pos = 0;;) {
      const size_t comma = line.find(',', pos);
      fields.push_back(line.substr(pos, comma == std::string_view::npos ? comma : comma - pos));
      if (comma == std::string_view::npos) break;
      pos = comma + 1;
    }
    uint64_t number = 0;
    uint64_t ignored = 0;
    if (fields.size() != 7 || !Decimal(fields[0], number) || !Decimal(fields[1], ignored) ||
        !Decimal(fields[2], rangeEnd) || !Decimal(fields[6], ignored)) {
      return false;
    }
    for (size_t pos = 0; pos < fields[5].size();) {
      size_t end = fields[5].find(' ', pos);
      if (end == std::string_view::npos) end = fields[5].size();
      const std::string_view item = fields[5].substr(pos, end - pos);
      pos = end + 1;
      const size_t colon = item.find(':');
      uint64_t length = 0;
      uint64_t count = 0;
      if (!item.starts_with('L') || colon == std::string_view::npos ||
          !Decimal(item.substr(1, colon - 1), length) || !Decimal(item.substr(colon + 1), count) ||
          length < 3 || length > 64 || count > (uint64_t{1} << 62)) {
        return false;
      }
      counts[static_cast<int>(length)] += static_cast<int64_t>(count);
    }
    return true;
  }

  // A whole decimal number of at most 19 digits.
  static bool Decimal(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
  }

  // The line of a step whose search completed but whose line a stop prevented: what the result
  // files hold beyond the logged lines, without the times. Steps taken without a log (by an
  // older campaign, or by hand) get one line together, numbered as the last of them.
  void CatchUpLog() {
    uint64_t lastEnd = 0;
    std::map<int, int64_t> logged;
    ReadLog(lastEnd, logged);
    const uint64_t largest = Largest();
    if (largest <= lastEnd) return;
    std::map<int, int64_t> found;
    for (const auto& [length, count] : totals_) {
      const auto old = logged.find(length);
      found[length] = count - (old == logged.end() ? 0 : old->second);
    }
    AppendLogLine(StepNumber(plan_, largest), lastEnd + 1,
                  std::max(StepEnd(plan_, largest), largest), "", "", found);
  }

  void AppendLogLine(uint64_t number, uint64_t from, uint64_t to, const std::string& seconds,
                     const std::string& processorSeconds, const std::map<int, int64_t>& found) {
    std::string text;
    if (!Os().Exists(kLogFile)) text = std::string(kLogHeader) + "\r\n";
    const std::string counts = Counts(found);
    text += std::to_string(number) + "," + std::to_string(from) + "," + std::to_string(to) + "," +
            seconds + "," + processorSeconds + "," + (counts == "無し" ? "" : counts) + "," +
            std::to_string(LongestLength()) + "\r\n";
    if (!AppendToFile(kLogFile, text)) LogStop();
  }

  [[noreturn]] void LogStop() {
    Print("");
    Print(std::string("kvcampaign: ") + kLogFile + " を読み書きできませんでした。");
    PrintFileError(kLogFile);
    Print("原因を取り除いてから、同じコマンドで再開できます。");
    ExitNow(2);
  }

  static std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::max(seconds, 0.0));
    return text;
  }

  // A status line stays on its row of a console and is written over by the next one.
  void Status(const std::string& text, bool keep) {
    base_.MoveCursor(0, row_);
    std::string line = text;
    if (line.size() < lastWidth_) line.append(lastWidth_ - line.size(), ' ');
    lastWidth_ = keep ? 0 : text.size();
    base_.WriteOut(line + "\r\n");
    if (keep) ++row_;
  }

  void Print(const std::string& text) {
    base_.MoveCursor(0, row_);
    base_.WriteOut(text + "\r\n");
    ++row_;
  }

  uint64_t Elapsed() const { return base_.TickCount() - start_; }

  const CampaignPlan plan_;
  Platform& base_;
  InnerPlatform inner_;
  int row_ = 0;
  size_t lastWidth_ = 0;
  uint32_t start_ = 0;
  uint32_t stepStart_ = 0;
  uint32_t lastStatus_ = 0;
  bool stepShown_ = false;
  uint64_t stepFrom_ = 0;
  uint64_t stepEnd_ = 0;
  uint64_t stepNumber_ = 0;
  uint64_t stepCount_ = 0;
  // By length: the bytes looked at and the result lines counted in them.
  std::map<int, std::pair<int64_t, int64_t>> sizes_;
  std::map<int, int64_t> totals_;
  RunOutcome outcome_ = RunOutcome::kFailed;
};

}  // namespace

void RunCampaign(const CampaignPlan& plan) {
  // The campaign holds the working directory for its whole run; its inner runs of kvimport and
  // the search program find the lock held by this process and take nothing more.
  const auto hold = HoldWorkingDirectory("kvcampaign", false);
  if (plan.narrow) Campaign<Width32>(plan).Run();
  Campaign<Width64>(plan).Run();
}

}  // namespace kv
