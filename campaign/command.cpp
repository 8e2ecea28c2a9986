// kvcampaign's command line.
#include <string>
#include <vector>

#include "campaign/campaign.h"
#include "console/console.h"
#include "console/options.h"

namespace kv {
namespace {

constexpr OptionInfo kOptions[] = {
    {"--to", "LIMIT", "この値までの素数で数表を作る (必須)"},
    {"--step", "SIZE",
     "1ステップで加える範囲の幅 (2000 以上。既定: 数表の最大値の 1/10 を 10000000 の倍数に"
     "切り捨てた幅、10000000 以上)"},
    {"--min-length", "N", "テキスト保存する数列の最小の長さ (3 - 20、必須)"},
    {"--32", "", "32bit版のファイルを使う (LIMIT は 2147483647 まで)"},
    {"--sieve-factor", "F",
     "篩い掛けデータをステップの終わりの F 倍まで作る (1 < F <= 100、既定: 3)"},
    {"--no-prune", "", "枝刈りをしない (既定では最小の長さに届き得ない数列を保存しない)"},
    {"--threads", "N", "探索に使うスレッド数 (1 - 1024、既定: 全てのハードウェアスレッド)"},
};

constexpr ProgramUsage kUsage{
    "kvcampaign",
    "素数の数表を範囲毎に大きくしながら、等差数列を探します。各ステップでは、次の範囲の\n"
    "篩い掛けデータを kvimport と同じ処理で作り、Kolvex の一回の実行と同じ処理でステップの\n"
    "素数を加えて探索します。素数は primesieve ライブラリで作ります。\n"
    "中断しても、同じコマンドで続きから再開します。",
    kOptions, "Kolvex (--32 では Kolvex32) と kvimport のファイル全て"};

// A factor of at most three decimals, in thousandths; 0 when it is not one.
uint64_t Thousandths(const std::string& text) {
  uint64_t value = 0;
  int decimals = -1;
  for (const char c : text) {
    if (c == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9' || decimals >= 3 || value > 1000000) return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (decimals >= 0) ++decimals;
  }
  if (text.empty() || text == ".") return 0;
  for (int d = decimals < 0 ? 0 : decimals; d < 3; ++d) value *= 10;
  return value;
}

}  // namespace

void RunCampaignCommand(const std::vector<std::string>& arguments) {
  const CommandLine line = ParseCommandLine(kUsage, arguments);
  CampaignPlan plan;
  plan.narrow = line.Has("--32");
  if (!line.Has("--to")) RejectCommandLine(kUsage, "--to LIMIT を指定して下さい。");
  if (!line.Has("--min-length")) RejectCommandLine(kUsage, "--min-length N を指定して下さい。");
  const int64_t formLimit = plan.narrow ? 2147483647 : 9223372036854775807;
  plan.limit = static_cast<uint64_t>(IntegerOption(kUsage, line, "--to", 100, formLimit, 0));
  // Wider than any gap between primes of the 64-bit range: every step adds numbers.
  plan.step = static_cast<uint64_t>(IntegerOption(kUsage, line, "--step", 2000, formLimit, 0));
  plan.minLength = static_cast<int32_t>(IntegerOption(kUsage, line, "--min-length", 3, 20, 0));
  plan.threads = static_cast<unsigned>(IntegerOption(kUsage, line, "--threads", 1, 1024, 0));
  plan.prune = !line.Has("--no-prune");
  if (line.Has("--sieve-factor")) {
    plan.factorMilli = Thousandths(line.Value("--sieve-factor"));
    if (plan.factorMilli <= 1000 || plan.factorMilli > 100000) {
      RejectCommandLine(kUsage, "--sieve-factor の値 \"" + line.Value("--sieve-factor") +
                                    "\" は使えません。1 より大きく 100 以下の数 (小数は3桁まで) "
                                    "を指定して下さい。");
    }
  }
  RunCampaign(plan);
}

}  // namespace kv
