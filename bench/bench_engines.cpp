// Times a whole first run of the search program (64-bit build), in this process, with the
// reference engine and with the fast engines on one thread and on every hardware thread, over
// the primes below a bound, with minimum length 10 and the sieved list of the primes from the
// bound to 1.5 times the bound; checks that every run leaves the same files and reports the
// ratios.
//
//   build/bench/bench_engines                  primes below 1,000,000, all three engines
//   build/bench/bench_engines 10000000 fast    primes below 10^7, the fast engine only
//   build/bench/bench_engines 10000000 fast 3 prune
//                                              the same with the sieved list to 3 times the
//                                              bound, storing only what can reach 10 terms
//   build/bench/bench_engines 10000000 fast 1.5 plain next
//                                              then a second run that adds the primes of the
//                                              list's range, with the list of the range above
//                                              (the continuation search re-examines the store of
//                                              the first)
//   build/bench/bench_engines files DIR 10000000 [3]
//                                              writes the input files of such a run into DIR
//                                              (primes.txt and _SievedListData.dat), for runs of
//                                              the real program (bench/compare_runs.sh)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "search/phases.h"
#include "tests/search_testing.h"

namespace {

// The primes from `from` to below the bound, and the sieved list of the primes above the bound
// up to listEnd.
kvtest::Files InputFiles(uint64_t bound, uint64_t listEnd, uint64_t from = 0) {
  const auto primes = kvtest::PrimesBelow(listEnd + 1);
  std::string numbers;
  std::string sieved = kvtest::LE<uint64_t>(bound + 1) + kvtest::LE<uint64_t>(listEnd);
  for (uint64_t p : primes) {
    if (p < from) continue;
    if (p < bound) {
      numbers += std::to_string(p) + "\r\n";
    } else {
      sieved += kvtest::LE<uint64_t>(p);
    }
  }
  return {{"primes.txt", numbers}, {"_SievedListData.dat", sieved}};
}

// Peak resident size of this process in kB, where the system reports it.
long PeakResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

struct Timed {
  double seconds;
  double processorSeconds;
  long peakKb;
  kvtest::Files files;
  std::map<std::string, uintmax_t> sizes;
  std::string phases;  // the program's own timing lines
};

std::string TimingLines(const std::string& output) {
  std::string lines;
  size_t at = 0;
  while ((at = output.find(" [ms] : ", at)) != std::string::npos) {
    size_t begin = output.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    const size_t end = output.find('\r', at);
    lines += "    " + output.substr(begin, end - begin) + "\n";
    at = end;
  }
  return lines;
}

// Runs in `in` when given (its files stay for a further run), else in a directory of its own.
Timed RunOnce(const kvtest::Files& input, bool reference, unsigned threads, bool keepFiles,
              bool prune = false, const kvtest::TempDir* in = nullptr) {
  kvtest::FakePlatform fake;
  fake.threads = kv::NativePlatform().HardwareThreads();
  fake.input = {"primes.txt", "10", ""};
  kv::SearchState<kv::Width64> state;
  state.testing.referenceEngine = reference;
  state.prune = prune;
  state.threadCount = threads;
  const kvtest::TempDir own;
  const kvtest::TempDir& dir = in != nullptr ? *in : own;
  kvtest::WriteFiles(dir.path(), input);
  Timed timed{};
  // The peak resident size counts from here: the input built before is not the run's.
  std::ofstream("/proc/self/clear_refs") << "5";
  auto program = [&] {
    const uint32_t start = kv::NativePlatform().TickCount();
    const std::clock_t processorStart = std::clock();
    try {
      kv::RunSearchProgram(state);
    } catch (const kvtest::ExitRequest&) {
      timed.seconds = static_cast<double>(kv::NativePlatform().TickCount() - start) / 1000.0;
      timed.processorSeconds = static_cast<double>(std::clock() - processorStart) / CLOCKS_PER_SEC;
      timed.peakKb = PeakResidentKb();
      throw;
    }
  };
  if (keepFiles) {
    auto run = kvtest::RunInDirectory(program, fake, dir.path());
    run.files.erase("primes.txt");
    timed.files = std::move(run.files);
    timed.phases = TimingLines(run.output);
  } else {
    // The files of a large run are not read back: only their sizes are shown.
    const auto previousDir = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    kv::Platform* previous = kv::SetPlatform(&fake);
    try {
      program();
    } catch (const kvtest::ExitRequest&) {
    }
    kv::SetPlatform(previous);
    std::filesystem::current_path(previousDir);
    timed.phases = TimingLines(fake.output);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      const std::string name = entry.path().filename().string();
      if (name != "primes.txt") timed.sizes[name] = entry.file_size();
    }
  }
  return timed;
}

bool SameFiles(const kvtest::Files& a, const kvtest::Files& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [name, content] : a) {
    const auto other = b.find(name);
    if (other == b.end()) return false;
    if (content != other->second) {
      return false;
    }
  }
  return true;
}

// The three engines on the same input, their files compared.
int FullComparison(const kvtest::Files& input, unsigned cores) {
  const Timed fast = RunOnce(input, false, 0, true);
  std::printf("  fast engine, %u threads:  %8.2f s   (peak resident size %ld kB)\n%s", cores,
              fast.seconds, fast.peakKb, fast.phases.c_str());
  const Timed single = RunOnce(input, false, 1, true);
  std::printf("  fast engine, 1 thread:   %8.2f s   (%u threads: %.2fx faster)\n", single.seconds,
              cores, single.seconds / fast.seconds);
  const Timed reference = RunOnce(input, true, 1, true);
  std::printf("  reference engine:        %8.2f s   (fast engine: %.1fx faster)\n",
              reference.seconds, reference.seconds / fast.seconds);
  const bool same =
      SameFiles(reference.files, fast.files) && SameFiles(reference.files, single.files);
  std::printf("  files: %s\n", same ? "the same, byte for byte" : "DIFFERENT");
  if (!same) return 1;
  for (const auto& [name, content] : fast.files) {
    std::printf("  %-24s %12zu bytes\n", name.c_str(), content.size());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 && std::string(argv[1]) == "files") {
    const uint64_t bound = std::strtoull(argv[3], nullptr, 10);
    const double factor = argc > 4 ? std::strtod(argv[4], nullptr) : 1.5;
    std::filesystem::create_directories(argv[2]);
    kvtest::WriteFiles(
        argv[2], InputFiles(bound, static_cast<uint64_t>(static_cast<double>(bound) * factor)));
    return 0;
  }
  const uint64_t bound = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const bool fastOnly = argc > 2 && std::string(argv[2]) == "fast";
  const double factor = fastOnly && argc > 3 ? std::strtod(argv[3], nullptr) : 1.5;
  const bool prune = fastOnly && argc > 4 && std::string(argv[4]) == "prune";
  const auto listEnd = static_cast<uint64_t>(static_cast<double>(bound) * factor);
  const unsigned cores = kv::NativePlatform().HardwareThreads();
  std::printf("first run over the primes below %llu, minimum length 10, sieved list to %llu%s\n",
              static_cast<unsigned long long>(bound), static_cast<unsigned long long>(listEnd),
              prune ? ", pruned store" : "");
  if (!fastOnly) return FullComparison(InputFiles(bound, listEnd), cores);
  const bool next = fastOnly && argc > 5 && std::string(argv[5]) == "next";
  const kvtest::TempDir dir;
  Timed fast;
  {
    // The input is dropped before the run.
    const auto input = InputFiles(bound, listEnd);
    fast = RunOnce(input, false, 0, false, prune, &dir);
  }
  std::printf(
      "  fast engine, %u threads:  %8.2f s, %.2f processor s   (peak resident size %ld kB)\n%s",
      cores, fast.seconds, fast.processorSeconds, fast.peakKb, fast.phases.c_str());
  for (const auto& [name, size] : fast.sizes) {
    std::printf("  %-24s %12ju bytes\n", name.c_str(), size);
  }
  if (next) {
    // The next run adds the primes of the list's range, with the list of the range above, as
    // far again by the same factor.
    const auto nextEnd = static_cast<uint64_t>(static_cast<double>(listEnd) * factor);
    const Timed second =
        RunOnce(InputFiles(listEnd + 1, nextEnd, bound), false, 0, false, prune, &dir);
    std::printf(
        "second run, adding the primes up to %llu (sieved list to %llu): %8.2f s, %.2f processor "
        "s   (peak resident size %ld kB)\n%s",
        static_cast<unsigned long long>(listEnd), static_cast<unsigned long long>(nextEnd),
        second.seconds, second.processorSeconds, second.peakKb, second.phases.c_str());
    for (const auto& [name, size] : second.sizes) {
      std::printf("  %-24s %12ju bytes\n", name.c_str(), size);
    }
  }
  return 0;
}
