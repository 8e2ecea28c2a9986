// The run of kvreport: the files are read in the order the summary shows them, every check
// counts its problems, and the exit status says how it went. Nothing is asked and, but for the
// --csv file and the page, nothing is written.
#include "report/report.h"

#include <algorithm>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/numtext.h"
#include "format/filenames.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "report/campaignlog.h"
#include "report/html.h"
#include "report/literature.h"
#include "report/model.h"
#include "report/results.h"
#include "report/running.h"
#include "report/store.h"
#include "report/tableload.h"

namespace kv {
namespace {

constexpr uint32_t kDisplayInterval = 2000;  // milliseconds
constexpr size_t kLongestShown = 10;

// Right-aligns the text in `width` bytes (code page 932: two bytes, two columns per character).
std::string Right(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}
std::string Left(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}
std::string Number(int64_t n) { return IntegerToText(static_cast<uint64_t>(n)); }

constexpr const char* kAllPassed = "全ての検査に合格しました。";

class Report {
 public:
  Report(const std::string& directory, const std::string& csvFile, const std::string& htmlFile)
      : directory_(directory), csvFile_(csvFile), htmlFile_(htmlFile) {}

  int Run() {
    Print(std::string("kvreport ") + KV_SUITE_VERSION);
    // Beside a running writer, the files as of its last resume point (report/running.h).
    const ReportHold hold(directory_);
    if (!hold.note().empty()) Print(hold.note());
    Print("");
    std::vector<FileEntry> files;
    if (!Os().ListFiles(directory_, files)) {
      Print((directory_.empty() ? std::string(".") : directory_) +
            " : ディレクトリを読み込めませんでした。");
      return 2;
    }
    if (!csvFile_.empty() && !csv_.Open(csvFile_)) {
      Print(csvFile_ + " : ファイルを作成できませんでした。");
      return 2;
    }
    ShowTable(files);
    ShowResults(files);
    ShowStore();
    ShowLiterature();
    ShowChecks();
    if (!csv_.Close()) {
      Print(csvFile_ + " : ファイル書き込みに失敗しました。");
      readFailed_ = true;
    }
    if (!htmlFile_.empty()) WritePage();
    if (problems_.Total() > 0) Print("問題が " + Number(problems_.Total()) + " 件見つかりました。");
    if (tableMissing_) Print("データが無いため、一部の検査を行えませんでした。");
    if (readFailed_) Print("読み込めないファイルが有りました。");
    if (readFailed_ || tableMissing_) return 2;
    if (problems_.Total() > 0) return 1;
    Print(kAllPassed);
    return 0;
  }

 private:
  void Print(const std::string& line) {
    PrintLine(line);
    ++row_;
  }

  void ShowTable(const std::vector<FileEntry>& files) {
    std::vector<std::string> lines;
    const ReadStatus status = LoadReportTable(directory_, files, table_, lines);
    if (status == ReadStatus::kOk) {
      Print("【データ】 " + table_.tableFile + " (" + Number(table_.bits) + "bit版)");
    } else {
      Print("【データ】");
    }
    for (const std::string& line : lines) Print(line);
    if (status != ReadStatus::kOk) {
      (status == ReadStatus::kMissing ? tableMissing_ : readFailed_) = true;
      return;
    }
    if (table_.usedCheckpoint) Print("中途データを反映しました。");
    Print("データ数= " + Number(table_.Count()) +
          "  データ最大値= " + IntegerToText(table_.Largest()));
    Print("長さ3の探索: 完了 " + Number(table_.linesFinished) + " 行、データの追加待ち " +
          Number(table_.linesWaiting) + " 行、未了 " + Number(table_.linesOpen) + " 行");
    if (table_.compositeCount == 0) {
      Print("データは全て素数です。");
    } else {
      Print("データに素数でない数が " + Number(table_.compositeCount) + " 個有ります (最初の数 " +
            IntegerToText(table_.firstComposite) + ")。");
      Print("素数判定は行わず、データとの照合のみ行います。");
    }
    if (table_.sievedPresent) {
      Print("篩い掛けデータ: 範囲= " + IntegerToText(table_.sievedStart) + " - " +
            IntegerToText(table_.sievedEnd) + "  候補数= " + Number(table_.sievedCandidates));
    } else {
      Print("篩い掛けデータは有りません。");
    }
    std::vector<std::string> listLines;
    if (table_.checkSieved) table_.checkSieved(table_.AllPrime(), problems_, listLines);
    for (const std::string& line : listLines) Print(line);
  }

  void ShowResults(const std::vector<FileEntry>& files) {
    std::vector<std::string> unreadable;
    if (!ReadResultFiles(directory_, files, table_, results_, problems_, unreadable)) {
      readFailed_ = true;
    }
    Print("");
    Print("【発見した数列】 結果ファイル " + Number(static_cast<int64_t>(results_.files.size())) +
          " 個");
    for (const std::string& name : unreadable) Print(name + " の読み込みに失敗しました。");
    if (results_.files.empty()) return;
    Print("(行数は長い数列の末尾部分の行も数え、極大な数列は前後に延ばせない数列を一度数えます)");
    Print("  長さ        行数  極大な数列");
    int64_t lines = 0;
    int64_t progressions = 0;
    std::map<int64_t, std::pair<int64_t, int64_t>> rows;
    for (const auto& [length, n] : results_.linesByLength) rows[length].first = n;
    for (const auto& [length, n] : results_.progressionsByLength) rows[length].second = n;
    for (const auto& [length, row] : rows) {
      Print(Right(Number(length), 6) + Right(Number(row.first), 12) +
            Right(Number(row.second), 12));
      lines += row.first;
      progressions += row.second;
    }
    Print(Right("計", 6) + Right(Number(lines), 12) + Right(Number(progressions), 12));
    for (const Progression& p : results_.progressions) {
      csv_.Row(p.length, p.first, p.difference, "finished");
    }

    const std::vector<Progression> longest = Longest(results_, kLongestShown);
    if (longest.empty()) return;
    Print("");
    Print("【最長の数列】 (完了した数列)");
    ShowProgressionHeading();
    for (const Progression& p : longest) ShowProgression(p);
    Print("");
    Print("【長さ毎の最小の最終項】 (完了した数列。長い数列の先頭部分を含みます)");
    ShowProgressionHeading();
    for (const auto& [length, p] : SmallestLastTerms(results_)) ShowProgression(p);
  }

  void ShowProgressionHeading() {
    Print("  長さ" + Right("初項", 21) + Right("公差", 21) + Right("最終項", 21));
  }
  void ShowProgression(const Progression& p) {
    Print(Right(Number(p.length), 6) + Right(IntegerToText(p.first), 21) +
          Right(IntegerToText(p.difference), 21) + Right(IntegerToText(p.Last()), 21));
  }

  void ShowStore() {
    Print("");
    Print("【継続中の数列】 " + std::string(kStoreFile));
    // The progress line is redrawn on the row below the heading, where the summary then starts.
    const uint32_t start = Os().TickCount();
    uint32_t shown = start;
    StoreSummary& store = store_;
    const ReadStatus status = SummarizeStore(
        directory_, table_, csv_, store, problems_, [&](int64_t done, int64_t total) {
          const uint32_t now = Os().TickCount();
          if (now - shown <= kDisplayInterval) return;
          shown = now;
          Locate(0, row_);
          PrintLine("集計中 ( " + RealToText(static_cast<double>(done * 1000 / total) / 10) +
                    " %)    ");
        });
    const bool redrawn = shown != start;
    if (redrawn) Locate(0, row_);
    if (status == ReadStatus::kMissing) {
      Print(std::string(kStoreFile) + " は有りません。");
      return;
    }
    if (status == ReadStatus::kFailed) {
      Print(std::string(kStoreFile) + " の読み込みに失敗しました。");
      readFailed_ = true;
      storeFailed_ = true;
      return;
    }
    const std::string items = "保存された数列= " + Number(store.items) +
                              " (長い数列の末尾部分を含みます)" +
                              (store.ungrouped ? " (旧形式)" : "");
    Print(redrawn ? Left(items, 30) : items);
    if (!table_.present) {
      Print("データが無いため、長さは調べられません。");
      return;
    }
    if (store.openByLength.empty() && store.ending == 0) return;
    Print("(長い数列の末尾部分を除き、極大な数列を現在の長さで一度数えます)");
    Print("  長さ  極大な数列");
    int64_t total = 0;
    for (const auto& [length, n] : store.openByLength) {
      Print(Right(Number(length), 6) + Right(Number(n), 12));
      total += n;
    }
    Print(Right("計", 6) + Right(Number(total), 12));
    if (store.ending > 0) {
      Print("現在のデータで終了する数列 " + Number(store.ending) +
            " 件は、次回の探索で保存されます。");
    }
  }

  // The counts as the published tables count them, from the finished and the open progressions,
  // beside the published values where the table holds every prime they depend on.
  void ShowLiterature() {
    if (!table_.present || results_.lineLengths.empty()) return;
    LiteratureTally tally = store_.literature;
    for (const Progression& p : results_.progressions) {
      if (p.sound) tally.Add(p.first, p.difference, p.length);
    }
    literature_ = CompareWithLiterature(tally, table_, *results_.lineLengths.begin(),
                                        !readFailed_ && !storeFailed_);
    Print("");
    Print("【長さ毎の全ての数列】 (長い数列の中の数列も数えます。完了した数列と継続中の数列)");
    Print("  範囲" + Right("長さ", 18) + Right("数列数", 16) + Right("文献の値", 16));
    for (const LiteratureRow& r : literature_.counts) {
      Print(Left("  " + BoundText(r.bound), 18) + Right(Number(r.length), 6) +
            Right(IntegerToText(r.found), 16) +
            (r.hasPublished ? Right(IntegerToText(r.published), 16) + "  " + VerdictText(r.verdict)
                            : std::string()));
      if (r.verdict == LiteratureRow::Verdict::kMismatch) {
        problems_.Add(Problem::kLiterature, BoundText(r.bound) + "の長さ " + Number(r.length) +
                                                " の数列 " + IntegerToText(r.found) +
                                                " 個 : 文献の値は " + IntegerToText(r.published) +
                                                " 個です。");
      }
    }
    Print("文献の値: OEIS A115608-A115613 (10^n 未満の素数の数列の数)。10^n 未満の素数が全て");
    Print("データに有る範囲のみ比べます。");
    Print("");
    Print("【長さ毎の最小の最終項と文献の値】 (長い数列の先頭部分を含みます)");
    Print("  長さ" + Right("最終項", 21) + Right("文献の値", 21));
    for (const LiteratureRow& r : literature_.least) {
      Print(Right(Number(r.length), 6) + Right(r.hasFound ? IntegerToText(r.found) : "-", 21) +
            (r.hasPublished ? Right(IntegerToText(r.published), 21) + "  " + VerdictText(r.verdict)
                            : std::string()));
      if (r.verdict == LiteratureRow::Verdict::kMismatch) {
        problems_.Add(Problem::kLiterature,
                      "長さ " + Number(r.length) + " の最小の最終項 " +
                          (r.hasFound ? IntegerToText(r.found) : std::string("無し")) +
                          " : 文献の値は " + IntegerToText(r.published) + " です。");
      }
    }
    if (table_.AllPrime()) {
      const bool unknown = std::any_of(
          literature_.least.begin(), literature_.least.end(),
          [](const LiteratureRow& r) { return r.verdict == LiteratureRow::Verdict::kUnknown; });
      Print(std::string("文献の値: OEIS A005115。") +
            (unknown ? "未確認: 文献の値までの素数がデータに揃っていません。" : ""));
    }
  }

  // The page is written whole beside itself and put in place at once, so that a browser that
  // reloads it during a campaign never sees half of it.
  void WritePage() {
    PageFacts facts;
    if (table_.present) {
      facts.table = "データ: " + table_.tableFile + " (" + Number(table_.bits) +
                    "bit版)  データ数= " + Number(table_.Count()) +
                    "  データ最大値= " + IntegerToText(table_.Largest());
    }
    facts.finished = results_.progressionsByLength;
    facts.open = store_.openByLength;
    facts.literature = literature_;
    const ReadStatus log = ReadCampaignLog(directory_, facts.log);
    facts.hasLog = log == ReadStatus::kOk;
    if (log == ReadStatus::kFailed) {
      Print(std::string(kCampaignLogFile) + " の読み込みに失敗しました。");
      readFailed_ = true;
    }
    if (!facts.log.unreadableLines.empty()) {
      std::string numbers;
      for (size_t k = 0; k < facts.log.unreadableLines.size() && k < Problems::kExamples; ++k) {
        numbers += (k == 0 ? "" : ", ") + Number(facts.log.unreadableLines[k]);
      }
      Print(std::string(kCampaignLogFile) + " の読み取れない行 " +
            Number(static_cast<int64_t>(facts.log.unreadableLines.size())) + " 行を飛ばしました (" +
            numbers + (facts.log.unreadableLines.size() > Problems::kExamples ? ", …" : "") +
            "行目)。");
    }
    facts.verdict =
        problems_.Total() > 0
            ? "問題が " + Number(problems_.Total()) + " 件見つかりました。"
            : (readFailed_ || tableMissing_ ? "一部の検査を行えませんでした。" : kAllPassed);
    if (!ReplaceFileSafely(htmlFile_, htmlFile_ + ".tmp", PageText(facts))) {
      Print(htmlFile_ + " : ファイル書き込みに失敗しました。");
      readFailed_ = true;
      return;
    }
    Print(htmlFile_ + " にページを書き込みました。");
  }

  void ShowChecks() {
    Print("");
    Print("【検査】");
    if (table_.AllPrime() || !table_.present) {
      Print("素数判定: データの数 " + Number(table_.Count()) + " 個、データに無い項 " +
            Number(results_.termsTested) + " 個");
    }
    for (const CheckRow& check : kChecks) {
      const auto k = static_cast<size_t>(check.kind);
      Print("  " + Left(check.label, 36) +
            Right(Made(check) ? Number(problems_.count[k]) : std::string("-"), 10));
      for (const std::string& example : problems_.examples[k]) Print("    " + example);
    }
  }

  // Whether the files hold what `check` needs: without it the check is not made.
  bool Made(const CheckRow& check) const {
    const bool lacking =
        ((check.needs & kNeedsTable) != 0 && !table_.present) ||
        ((check.needs & kNeedsPrimes) != 0 && table_.present && !table_.AllPrime()) ||
        ((check.needs & kNeedsComparison) != 0 && literature_.compared == 0);
    return !lacking;
  }

  const std::string& directory_;
  const std::string& csvFile_;
  const std::string& htmlFile_;
  TableView table_;
  ResultSummary results_;
  StoreSummary store_;
  LiteratureView literature_;
  bool storeFailed_ = false;
  Problems problems_;
  CsvWriter csv_;
  bool readFailed_ = false;
  bool tableMissing_ = false;
  int row_ = 0;
};

}  // namespace

int RunReport(const std::string& directory, const std::string& csvFile,
              const std::string& htmlFile) {
  return Report(directory, csvFile, htmlFile).Run();
}

}  // namespace kv
