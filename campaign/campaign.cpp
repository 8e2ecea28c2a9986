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

#include "campaign/primesfile.h"
#include "console/console.h"
#include "console/numtext.h"
#include "console/worklock.h"
#include "import/import.h"
#include "platform/fileutil.h"
#include "platform/forwarding.h"
#include "platform/platform.h"
#include "search/phases.h"
#include "search/records.h"

namespace kv {

uint64_t StepNumber(const CampaignPlan& plan, uint64_t firstPrime) {
  return firstPrime / plan.step + (firstPrime % plan.step == 0 ? 0 : 1);
}

uint64_t StepEnd(const CampaignPlan& plan, uint64_t firstPrime) {
  const uint64_t number = StepNumber(plan, firstPrime);
  return number > plan.limit / plan.step ? plan.limit : number * plan.step;
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
// Markers of a completed run in the inner programs' console.
constexpr std::string_view kSearchDone =
    "完了しました。発見した数列は以下のファイルに保存されました。";
constexpr std::string_view kImportDone = "保存完了しました。";
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
// of the current range under kPrimesName; console output kept for a failure report and scanned
// for the search's progress; no input, as every question is answered in advance.
class InnerPlatform final : public ForwardingPlatform {
 public:
  InnerPlatform(Platform& base, std::function<void(double)> onProgress)
      : ForwardingPlatform(base), onProgress_(std::move(onProgress)) {}

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
    // "Line  i  : finished. ( p %)" from the length-3 search.
    if (bytes.starts_with("Line  ")) {
      const size_t open = bytes.find("( ");
      const size_t close = bytes.find(" %)");
      if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
        onProgress_(TextToReal(bytes.substr(open + 2, close - open - 2)));
      }
    }
  }
  bool ReadLine(std::string& line) override {
    line.clear();
    return false;
  }
  void MoveCursor(int, int) override {}
  std::unique_ptr<FileHandle> OpenRead(const std::string& name) override {
    if (name == kPrimesName) return OpenPrimesFile(from_, to_, header_);
    return base().OpenRead(name);
  }

 private:
  std::function<void(double)> onProgress_;
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
class Campaign {
 public:
  using Value = typename W::Value;

  explicit Campaign(const CampaignPlan& plan)
      : plan_(plan), base_(Os()), inner_(base_, [this](double p) { ShowProgress(p); }) {}

  [[noreturn]] void Run() {
    start_ = base_.TickCount();
    Print(std::string("kvcampaign ") + KV_SUITE_VERSION + " : " +
          (W::kBits == 64 ? "通常版" : "32bit版") + "、素数 " + IntegerToText(plan_.limit) +
          " まで、" + IntegerToText(plan_.step) + " ずつ、長さ " +
          IntegerToText(static_cast<uint64_t>(plan_.minLength)) + " 以上を保存" +
          (plan_.prune ? "、枝刈り有り" : "、枝刈り無し"));
    const std::string factor = RealToText(static_cast<double>(plan_.factorMilli) / 1000.0);
    Print("各ステップの前に、次の範囲の篩い掛けデータ (範囲の " + factor +
          " 倍まで) を作成します。");
    SnapshotResults();
    if (Unfinished()) {
      Print("中断された探索が有ります。先に完了させます。");
      SearchRun(0, 0, "");
    }
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

 private:
  void Step(uint64_t largest, uint64_t first) {
    stepStart_ = base_.TickCount();
    stepEnd_ = StepEnd(plan_, first);
    stepNumber_ = StepNumber(plan_, first);
    stepFrom_ = std::max(largest + 1, (stepNumber_ - 1) * plan_.step + 1);
    stepCount_ = StepNumber(plan_, plan_.limit);
    lastStatus_ = 0;
    stepShown_ = false;
    ShowProgress(0);
    const uint64_t listEnd = ListEnd(plan_, stepEnd_, W::kLimit);
    // A range without primes (only just below the form's limit) gets no list.
    if (listEnd > stepEnd_ && ListEndOnDisk() < listEnd && PrimeAbove(stepEnd_) <= listEnd) {
      ImportRun(stepEnd_ + 1, listEnd);
    }
    const auto before = sizes_;
    SearchRun(largest + 1, stepEnd_, kPrimesName);
    std::map<int, int64_t> found;
    for (auto& [length, size] : sizes_) {
      const auto old = before.find(length);
      found[length] = size.second - (old == before.end() ? 0 : old->second.second);
    }
    Status("ステップ " + StepLabel() + " 完了  " + Range() + "  所要 " +
               Clock(base_.TickCount() - stepStart_) + "  発見 " + Counts(found) + "  最長 " +
               Longest(),
           true);
  }

  // kvimport, menu and bounds answered, given the primes of (stepEnd, listEnd] after a header.
  void ImportRun(uint64_t from, uint64_t to) {
    inner_.Serve(from, to, "primes " + IntegerToText(from) + " " + IntegerToText(to) + "\n");
    PresetAnswer(kImportMenuPrompt, W::kBits == 64 ? "1" : "2");
    PresetAnswer(kImportFilePrompt, kPrimesName);
    PresetAnswer(kImportStartPrompt, IntegerToText(from));
    PresetAnswer(kImportEndPrompt, IntegerToText(to));
    PresetAnswer(kClosingPrompt, "");
    Inner([] { RunImportProgram(); }, kImportDone);
  }

  // The search program adding the primes of [from, to] (none when `file` is empty).
  void SearchRun(uint64_t from, uint64_t to, const std::string& file) {
    inner_.Serve(from, to, "");
    PresetAnswer(kAddFilePrompt, file);
    PresetAnswer(kMinLengthPrompt, IntegerToText(static_cast<uint64_t>(plan_.minLength)));
    PresetAnswer(kClosingPrompt, "");
    Inner(
        [this] {
          auto state = std::make_unique<SearchState<W>>();
          state->threadCount = plan_.threads;
          state->prune = plan_.prune;
          RunSearchProgram(*state);
        },
        kSearchDone);
    SnapshotResults();
  }

  void Inner(const std::function<void()>& program, std::string_view doneMarker) {
    inner_.ClearTranscript();
    int code = 0;
    {
      PlatformScope scope(&inner_);
      code = RunToEnd(program);
    }
    ClearPresetAnswers();
    if (code == 0 && inner_.transcript().find(doneMarker) != std::string::npos) return;
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

  std::string Longest() const {
    int longest = 0;
    for (const auto& [length, count] : totals_) {
      if (count > 0) longest = std::max(longest, length);
    }
    return longest == 0 ? "-" : std::to_string(longest);
  }

  std::string StepLabel() const {
    return std::to_string(stepNumber_) + "/" + std::to_string(stepCount_);
  }
  std::string Range() const {
    return "範囲 " + IntegerToText(stepFrom_) + " - " + IntegerToText(stepEnd_);
  }

  void ShowProgress(double percent) {
    const uint32_t now = base_.TickCount();
    if (stepShown_ && now - lastStatus_ < kStatusInterval) return;
    lastStatus_ = now;
    stepShown_ = true;
    const uint64_t spent = now - stepStart_;
    std::string left = "計算中";
    if (percent > 0) {
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
    Status("ステップ " + StepLabel() + "  " + Range() + "  探索 " + RealToText(percent) +
               " %  経過 " + Clock(Elapsed()) + "  残り " + left,
           false);
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
