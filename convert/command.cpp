// kvconvert's command line.
#include <string>
#include <vector>

#include "console/console.h"
#include "console/options.h"
#include "convert/convert.h"

namespace kv {
namespace {

constexpr OptionInfo kOptions[] = {
    {"--to-64", "", "32bit版のデータを通常版へ変換する (メニューの 1)"},
    {"--to-32", "", "通常版のデータを32bit版へ変換する (メニューの 2)"},
    {"--no-wait", "", "終了時の確認を表示するだけで、Enter を待たない"},
};

constexpr ProgramUsage kUsage{
    "kvconvert", "Kolvex 通常版と32bit版の数表・前回の数表・中途データを入れ替えます。", kOptions,
    "_APData.dat / _APData32.dat               数表\n"
    "__OLD___APData.dat / __OLD___APData32.dat 前回の数表\n"
    "_HalfData.dat / _HalfData32.dat           中途データ"};

}  // namespace

void RunConvertCommand(const std::vector<std::string>& arguments) {
  const CommandLine line = ParseCommandLine(kUsage, arguments);
  if (line.Has("--to-64") && line.Has("--to-32")) {
    RejectCommandLine(kUsage, "--to-64 と --to-32 は同時に指定できません。");
  }
  if (line.Has("--to-64")) PresetAnswer(kConvertMenuPrompt, "1");
  if (line.Has("--to-32")) PresetAnswer(kConvertMenuPrompt, "2");
  if (line.Has("--no-wait")) PresetAnswer(kClosingPrompt, "");
  RunConvertProgram();
}

}  // namespace kv
