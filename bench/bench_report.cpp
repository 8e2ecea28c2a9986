// Times kvreport on the files of a real search over the primes below 10^7 (sieved list to
// 1.5 × 10^7): the table alone; the result files with the table, summarized and fully checked
// (all of them, and a million lines); then the continuation store alone at a quarter, a half and
// the whole of its size, on every core (and the quarter on one).
//
//   build/bench/bench_report [minimum length, default 6] [cache directory]
//
// The search's files are made once (about a minute) and kept in the cache directory
// (default /tmp/kvreport_bench_L<minimum length>).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "format/storeform.h"
#include "report/report.h"
#include "search/phases.h"
#include "tests/search_testing.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kBound = 10000000;
constexpr uint64_t kMillion = 1000000;

void MakeSearchFiles(const fs::path& dir, int minLength) {
  std::printf("making the search's files in %s (one run over the primes below %llu)\n",
              dir.string().c_str(), static_cast<unsigned long long>(kBound));
  const auto primes = kvtest::PrimesBelow(kBound + kBound / 2 + 1);
  std::string numbers;
  std::string sieved = kvtest::LE<uint64_t>(kBound + 1) + kvtest::LE<uint64_t>(kBound + kBound / 2);
  for (uint64_t p : primes) {
    if (p < kBound) {
      numbers += std::to_string(p) + "\r\n";
    } else {
      sieved += kvtest::LE<uint64_t>(p);
    }
  }
  fs::create_directories(dir);
  kvtest::WriteFiles(dir, {{"primes.txt", numbers}, {"_SievedListData.dat", sieved}});
  kvtest::FakePlatform fake;
  fake.threads = kv::NativePlatform().HardwareThreads();
  fake.input = {"primes.txt", std::to_string(minLength), ""};
  static kv::SearchState<kv::Width64> state;
  const auto previousDir = fs::current_path();
  fs::current_path(dir);
  kv::Platform* previous = kv::SetPlatform(&fake);
  try {
    kv::RunSearchProgram(state);
  } catch (const kvtest::ExitRequest&) {
  }
  kv::SetPlatform(previous);
  fs::current_path(previousDir);
  fs::remove(dir / "primes.txt");
}

// Runs the report on `dir` in this process; returns the seconds taken.
double TimeReport(const fs::path& dir, unsigned threads, int& status) {
  kvtest::FakePlatform fake;
  fake.threads = threads;
  const uint32_t start = kv::NativePlatform().TickCount();
  kvtest::RunInDirectory([&] { status = kv::RunReportProgram({}); }, fake, dir);
  return static_cast<double>(kv::NativePlatform().TickCount() - start) / 1000.0;
}

// A directory holding the listed files of `from`, copied.
fs::path CopyOf(const fs::path& from, const fs::path& to, bool results, bool store) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(from)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file()) continue;
    const bool isResult = name.rfind("_L", 0) == 0;
    const bool isStore = name == "_ContData.dat";
    if ((isResult && !results) || (isStore && !store) || name == "_ContData_insp.txt") continue;
    fs::copy_file(entry.path(), to / name);
  }
  return to;
}

}  // namespace

int main(int argc, char** argv) {
  const int minLength = argc > 1 ? std::atoi(argv[1]) : 6;
  const fs::path cache =
      argc > 2 ? fs::path(argv[2])
               : fs::temp_directory_path() / ("kvreport_bench_L" + std::to_string(minLength));
  if (!fs::exists(cache / "_APData.dat")) MakeSearchFiles(cache, minLength);
  const unsigned cores = kv::NativePlatform().HardwareThreads();

  uint64_t lines = 0;
  for (const auto& [length, content] : kvtest::ResultFiles(kvtest::ReadFiles(cache))) {
    lines += kvtest::SplitLines(content).size() - 1;
  }
  const fs::path work = fs::temp_directory_path() / "kvreport_bench_work";
  int status = -1;
  const double tableOnly = TimeReport(CopyOf(cache, work, false, false), cores, status);
  std::printf("the table alone (read, indexed, every value tested): %.2f s\n", tableOnly);
  const double results = TimeReport(CopyOf(cache, work, true, false), cores, status);
  std::printf(
      "result files (%llu lines) and the table of the primes below %llu: %.2f s, "
      "exit status %d\n",
      static_cast<unsigned long long>(lines), static_cast<unsigned long long>(kBound), results,
      status);
  if (lines > kMillion) {
    // The shortest lengths' file cut to a whole number of lines, so that a million remain: the
    // lines dropped are maximal progressions and tails of the shortest length only, so the rest
    // still passes every check.
    auto files = kvtest::ResultFiles(kvtest::ReadFiles(cache));
    const auto& [shortest, content] = *files.begin();
    const uint64_t keep = kvtest::SplitLines(content).size() - 1 - (lines - kMillion);
    size_t at = 0;
    for (uint64_t k = 0; k <= keep; ++k) at = content.find('\n', at) + 1;
    std::ofstream(work / ("_L" + std::to_string(shortest) + "_ResultData.txt"), std::ios::binary)
        << content.substr(0, at);
    const double million = TimeReport(work, cores, status);
    std::printf("a million result lines and the table: %.2f s, exit status %d\n", million, status);
  }

  // The store alone, at a quarter, a half and the whole of its size: the first batches of a
  // store are a store of their own.
  const uintmax_t storeSize = fs::file_size(cache / "_ContData.dat");
  for (int part : {4, 2, 1}) {
    CopyOf(cache, work, false, false);
    constexpr auto kHeader = static_cast<uintmax_t>(kv::kStoreHeaderBytes);
    constexpr auto kEntry = static_cast<uintmax_t>(kv::kStoreEntryBytes);
    const uintmax_t bytes =
        kHeader + (storeSize - kHeader) / kEntry / static_cast<uintmax_t>(part) * kEntry;
    fs::copy_file(cache / "_ContData.dat", work / "_ContData.dat");
    fs::resize_file(work / "_ContData.dat", bytes);
    const double mb = static_cast<double>(bytes) / 1e6;
    const double all = TimeReport(work, cores, status);
    std::printf("store of %.0f MB: %.2f s on %u threads (%.0f MB/s)", mb, all, cores, mb / all);
    if (part == 4) std::printf(", %.2f s on 1 thread", TimeReport(work, 1, status));
    std::printf(", exit status %d\n", status);
  }
  std::printf("(each time includes reading and testing the table)\n");
  fs::remove_all(work);
  return 0;
}
