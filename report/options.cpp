// Parsing kvreport's arguments: options first or last, one directory at most.
#include "report/options.h"

namespace kv {

ReportOptions ParseReportOptions(const std::vector<std::string>& args) {
  ReportOptions o;
  bool directoryGiven = false;
  auto bad = [&o](std::string message) {
    o.action = ReportOptions::Action::kBad;
    o.error = std::move(message);
    return o;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      o.action = ReportOptions::Action::kHelp;
      return o;
    }
    if (arg == "--version") {
      o.action = ReportOptions::Action::kVersion;
      return o;
    }
    if (arg == "--csv" || arg.rfind("--csv=", 0) == 0) {
      if (!o.csvFile.empty()) return bad("--csv が二回以上指定されています。");
      if (arg == "--csv") {
        if (i + 1 >= args.size()) return bad("--csv の後にファイル名が有りません。");
        o.csvFile = args[++i];
      } else {
        o.csvFile = arg.substr(6);
      }
      if (o.csvFile.empty()) return bad("--csv のファイル名が空です。");
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return bad(arg + " : 不明なオプションです。");
    if (directoryGiven) return bad("ディレクトリは一つだけ指定して下さい。");
    if (arg.empty()) return bad("ディレクトリ名が空です。");
    o.directory = arg;
    directoryGiven = true;
  }
  return o;
}

std::vector<std::string> ReportUsage() {
  return {
      "使い方: kvreport [オプション] [ディレクトリ]",
      "",
      "探索結果のファイルを集計し、探索プログラムとは別の計算で検査します。",
      "ディレクトリを省略すると現在のディレクトリのファイルを使用します。",
      "ファイルは変更せず、入力も求めません。",
      "",
      "オプション:",
      "  --csv ファイル名  全ての極大な数列と継続中の数列をCSV形式で書き出します。",
      "                    (長さ,初項,公差,最終項,状態)",
      "  --help            この説明を表示して終了します。",
      "  --version         バージョンを表示して終了します。",
      "",
      "読み込むファイル:",
      "  _L(長さ)_ResultData.txt  _APData.dat または _APData32.dat  _HalfData(32).dat",
      "  _SievedListData(32).dat  _ContData.dat",
      "",
      "終了コード:",
      "  0  全ての検査に合格しました。",
      "  1  問題が見つかりました。",
      "  2  ファイルを読み込めないか、使い方が正しくありません。",
  };
}

}  // namespace kv
