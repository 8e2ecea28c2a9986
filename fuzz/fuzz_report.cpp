// kvreport on an in-memory directory: two result files, the continuation store, the checkpoint
// and the campaign log from the input, beside a table of the primes below 200 (or, by a flag, the
// table from the input too) and a sieved list; by another flag it writes the page, which reads
// the log; every run ends with one of the three exit statuses.
#include "fuzz/fuzz_support.h"
#include "report/report.h"

namespace {

template <typename W>
void Run(const kvfuzz::Input& in) {
  kvtest::MemoryPlatform platform;
  platform.SetFiles(
      {{"_L3_ResultData.txt", in.parts[0]},
       {"_L5_ResultData.txt", in.parts[1]},
       {"_ContData.dat", in.parts[2]},
       {W::kHalfFile, in.parts[3]},
       {"_CampaignLog.csv", in.parts[5]},
       {W::kTableFile,
        (in.flags & 2) != 0 ? in.parts[4] : kvfuzz::TableFile<W>(kvfuzz::SmallPrimes())}});
  if ((in.flags & 4) != 0) {
    platform.files[W::kSievedFile] =
        std::make_shared<std::string>(kvfuzz::SievedFile<W>({200, 260, 211, 223}));
  }
  int status = -1;
  const std::vector<std::string> args = (in.flags & 8) != 0
                                            ? std::vector<std::string>{"--html", "page.html"}
                                            : std::vector<std::string>{};
  kvfuzz::Guarded(platform, [&] { status = kv::RunReportProgram(args); });
  KV_FUZZ_CHECK(status >= 0 && status <= 2);
}

}  // namespace

KV_FUZZ_BOTH_WIDTHS(6)
