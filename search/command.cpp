// The search program's command line.
#include <string>
#include <vector>

#include "console/console.h"
#include "console/options.h"
#include "format/instantiate.h"
#include "search/phases.h"

namespace kv {
namespace {

constexpr OptionInfo kOptions[] = {
    {"--add", "FILE", "追加するデータのファイル名 (--add \"\" で追加なし)"},
    {"--min-length", "N", "テキスト保存する数列の最小の長さ (3 - 20)"},
    {"--threads", "N", "探索に使うスレッド数 (1 - 1024、既定: 全てのハードウェアスレッド)"},
    {"--prune", "",
     "最小の長さに届き得ない数列を _ContData.dat に保存しない "
     "(後で最小の長さを下げても戻せません)"},
    {"--no-wait", "", "終了時の確認を表示するだけで、Enter を待たない"},
};

constexpr std::string_view kFiles =
    "_APData.dat              数表 (32bit版は _APData32.dat、以下同様)\n"
    "_HalfData.dat            中途データ\n"
    "__OLD___APData.dat       前回の数表\n"
    "_SievedListData.dat      篩い掛けデータ (kvimport で作成)\n"
    "_L(長さ)_ResultData.txt  発見した数列\n"
    "_ContData.dat            データ外に続く可能性のある数列 (内容は _ContData_insp.txt)\n"
    "_NOTAddData.txt          追加しなかったデータ";

template <typename W>
ProgramUsage Usage() {
  return ProgramUsage{
      W::kBits == 64 ? "Kolvex" : "Kolvex32",
      W::kBits == 64
          ? "素数などの昇順の数表に新しい数を加え、等差数列を探して長さ毎のファイルに保存します。"
          : "素数などの昇順の数表(32bit版)"
            "に新しい数を加え、等差数列を探して長さ毎のファイルに保存します。",
      kOptions, kFiles};
}

}  // namespace

template <typename W>
void RunSearchCommand(SearchState<W>& s, const std::vector<std::string>& arguments) {
  const ProgramUsage usage = Usage<W>();
  const CommandLine line = ParseCommandLine(usage, arguments);
  if (line.Has("--add")) {
    const std::string name = line.Value("--add");
    // The answer is one item: a comma would split it, and the question would be asked again.
    if (name.find(',') != std::string::npos) {
      RejectCommandLine(usage, "--add のファイル名に , は使えません。");
    }
    PresetAnswer(kAddFilePrompt, name);
  }
  if (line.Has("--min-length")) {
    PresetAnswer(kMinLengthPrompt, line.Value("--min-length"));
  }
  // Checked after the answers are set, but before anything is read or written.
  IntegerOption(usage, line, "--min-length", 3, 20, 0);
  s.threadCount = static_cast<unsigned>(IntegerOption(usage, line, "--threads", 1, 1024, 0));
  s.prune = line.Has("--prune");
  if (line.Has("--no-wait")) PresetAnswer(kClosingPrompt, "");
  RunSearchProgram(s);
}

#define KV_INSTANTIATE(W) \
  template void RunSearchCommand<W>(SearchState<W>&, const std::vector<std::string>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
