// kvreport's command line: options first or last, one directory at most; the shared parser
// (console/options.h) reads it. Unlike the programs that hold a dialogue, kvreport answers a bad
// command line on the standard output and returns its exit status.
#include <string>
#include <vector>

#include "console/console.h"
#include "console/options.h"
#include "report/report.h"

namespace kv {
namespace {

constexpr OptionInfo kOptions[] = {
    {.name = "--csv",
     .valueName = "ファイル名",
     .help = "全ての極大な数列と継続中の数列をCSV形式で書き出します。\n"
             "(長さ,初項,公差,最終項,状態)",
     .once = true,
     .nonEmpty = true},
    {.name = "--html",
     .valueName = "ファイル名",
     .help = "集計と文献の値との比較を図にしたページを書き出します。\n"
             "(_CampaignLog.csv が有れば、各ステップの時間と発見数も)",
     .once = true,
     .nonEmpty = true},
};

constexpr ProgramUsage kUsage{
    .name = "kvreport",
    .summary =
        "\n"
        "探索結果のファイルを集計し、探索プログラムとは別の計算で検査します。\n"
        "ディレクトリを省略すると現在のディレクトリのファイルを使用します。\n"
        "ファイルは変更せず(ロックファイル __LOCK___Kolvex.dat を除く)、入力も求めません。\n"
        "探索などが実行中の時は、その最後の再開点までを集計します。",
    .options = kOptions,
    .files =
        "_L(長さ)_ResultData.txt  _APData.dat または _APData32.dat  _HalfData(32).dat\n"
        "_SievedListData(32).dat  _ContData.dat  _CampaignLog.csv (--html)",
    .operand = "ディレクトリ",
    .helpAlias = "-h",
    .inputNote = "",
    .versionHelp = "バージョンを表示して終了します。",
    .filesHeading = "読み込むファイル:",
    .exitCodes =
        "0  全ての検査に合格しました。\n"
        "1  問題が見つかりました。\n"
        "2  ファイルを読み込めないか、使い方が正しくありません。",
};

// kvreport words two of the mistakes in its own way; the others as every program does.
std::string Mistake(const ParsedArguments& parsed) {
  switch (parsed.fault) {
    case ParsedArguments::Fault::kUnknownOption:
      return parsed.subject + " : 不明なオプションです。";
    case ParsedArguments::Fault::kValueMissing:
      return parsed.subject + " の後に" + std::string(parsed.valueName) + "が有りません。";
    default:
      return FaultText(kUsage, parsed);
  }
}

}  // namespace

int RunReportProgram(const std::vector<std::string>& args) {
  const ParsedArguments parsed = ReadCommandLine(kUsage, args);
  switch (parsed.request) {
    case ParsedArguments::Request::kHelp:
      PrintText(UsageText(kUsage));
      return 0;
    case ParsedArguments::Request::kVersion:
      PrintText(VersionText(kUsage));
      return 0;
    case ParsedArguments::Request::kBad:
      PrintLine(Mistake(parsed));
      PrintLine("");
      PrintText(UsageText(kUsage));
      return 2;
    case ParsedArguments::Request::kRun:
      break;
  }
  return RunReport(parsed.line.Operand(), parsed.line.Value("--csv"), parsed.line.Value("--html"));
}

}  // namespace kv
