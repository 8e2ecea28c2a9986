// kvimport's command line.
#include <string>
#include <vector>

#include "console/console.h"
#include "console/options.h"
#include "import/import.h"

namespace kv {
namespace {

constexpr OptionInfo kOptions[] = {
    {"--64", "", "通常版(Kolvex)用の篩い掛けデータ (メニューの 1)"},
    {"--32", "", "32bit版(Kolvex32)用の篩い掛けデータ (メニューの 2)"},
    {"--add", "FILE", "ソート済みの(追加)データのファイル名 (--add \"\" で無し)"},
    {"--start", "N", "篩い掛けの最小値 (--start \"\" でデータ最小値)"},
    {"--end", "N", "篩い掛けの最大値 (--end \"\" でデータ最大値)"},
    {"--range-only", "", "データが無い時、範囲のみのファイルを作成する (Y と答えます)"},
    {"--no-wait", "", "終了時の確認を表示するだけで、Enter を待たない"},
};

constexpr ProgramUsage kUsage{
    "kvimport",
    "ソート済みの数のファイル(1行目は見出し行)から、Kolvex の篩い掛けデータを作成・追加します。",
    kOptions,
    "_SievedListData.dat   通常版の篩い掛けデータ\n"
    "_SievedListData32.dat 32bit版の篩い掛けデータ"};

// A bound is a whole decimal number or empty (the data's own bound).
void PresetBound(const CommandLine& line, std::string_view name, std::string_view prompt) {
  if (!line.Has(name)) return;
  const std::string value = line.Value(name);
  if (!value.empty()) IntegerOption(kUsage, line, name, 0, 9223372036854775807, 0);
  PresetAnswer(prompt, value);
}

}  // namespace

void RunImportCommand(const std::vector<std::string>& arguments) {
  const CommandLine line = ParseCommandLine(kUsage, arguments);
  if (line.Has("--64") && line.Has("--32")) {
    RejectCommandLine(kUsage, "--64 と --32 は同時に指定できません。");
  }
  if (line.Has("--add") && line.Value("--add").find(',') != std::string::npos) {
    RejectCommandLine(kUsage, "--add のファイル名に , は使えません。");
  }
  PresetBound(line, "--start", kImportStartPrompt);
  PresetBound(line, "--end", kImportEndPrompt);
  if (line.Has("--64")) PresetAnswer(kImportMenuPrompt, "1");
  if (line.Has("--32")) PresetAnswer(kImportMenuPrompt, "2");
  if (line.Has("--add")) PresetAnswer(kImportFilePrompt, line.Value("--add"));
  if (line.Has("--range-only")) PresetAnswer(kImportRangeOnlyPrompt, "Y");
  if (line.Has("--no-wait")) PresetAnswer(kClosingPrompt, "");
  RunImportProgram();
}

}  // namespace kv
