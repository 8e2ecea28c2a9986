// Times a whole first run of the search program (64-bit build), in this process, with the
// reference engine and with the fast engines on one thread and on every hardware thread, over
// the primes below a bound, with minimum length 10 and the sieved list of the primes from the
// bound to 1.5 times the bound; checks that every run leaves the same files and reports the
// ratios.
//
//   build/bench/bench_engines                  primes below 1,000,000, all three engines
//   build/bench/bench_engines 10000000 fast    primes below 10^7, the fast engine only
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "search/phases.h"
#include "tests/harness.h"

namespace {

std::vector<uint64_t> PrimesBelow(uint64_t limit) {
  std::vector<bool> composite(limit, false);
  std::vector<uint64_t> primes;
  for (uint64_t n = 2; n < limit; ++n) {
    if (composite[n]) continue;
    primes.push_back(n);
    for (uint64_t m = n * n; m < limit; m += n) composite[m] = true;
  }
  return primes;
}

kvtest::Files InputFiles(uint64_t bound) {
  const auto primes = PrimesBelow(bound + bound / 2 + 1);
  std::string numbers;
  std::string sieved = kvtest::LE<uint64_t>(bound + 1) + kvtest::LE<uint64_t>(bound + bound / 2);
  for (uint64_t p : primes) {
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

// The decoded items of a continuation store: where a flush fell (it depends on the clock)
// changes its group markers, not its items.
std::vector<int32_t> StoreItems(const std::string& bytes) {
  std::vector<int32_t> items;
  int32_t second = 0;
  for (size_t at = 12; at + 4 <= bytes.size(); at += 4) {
    int32_t e = 0;
    for (size_t k = 0; k < 4; ++k) {
      e = static_cast<int32_t>(static_cast<uint32_t>(e) |
                               static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + k]))
                                   << (8 * k));
    }
    if (e <= 0) {
      second = -e;
    } else {
      items.push_back(e);
      items.push_back(second);
    }
  }
  return items;
}

struct Timed {
  double seconds;
  kvtest::Files files;
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

Timed RunOnce(const kvtest::Files& input, bool reference, unsigned threads) {
  kvtest::FakePlatform fake;
  fake.threads = kv::NativePlatform().HardwareThreads();
  fake.input = {"primes.txt", "10", ""};
  kv::SearchState<kv::Width64> state;
  state.referenceEngine = reference;
  state.threadCount = threads;
  const uint32_t start = kv::NativePlatform().TickCount();
  auto run = kvtest::RunInProcess([&state] { kv::RunSearchProgram(state); }, fake, input);
  const uint32_t stop = kv::NativePlatform().TickCount();
  run.files.erase("primes.txt");
  return {static_cast<double>(stop - start) / 1000.0, std::move(run.files),
          TimingLines(run.output)};
}

bool SameFiles(const kvtest::Files& a, const kvtest::Files& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [name, content] : a) {
    const auto other = b.find(name);
    if (other == b.end()) return false;
    if (name == "_ContData.dat") {
      if (StoreItems(content) != StoreItems(other->second)) return false;
    } else if (content != other->second) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t bound = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const bool fastOnly = argc > 2 && std::string(argv[2]) == "fast";
  const unsigned cores = kv::NativePlatform().HardwareThreads();
  std::printf("first run over the primes below %llu, minimum length 10, sieved list to %llu\n",
              static_cast<unsigned long long>(bound),
              static_cast<unsigned long long>(bound + bound / 2));
  const auto input = InputFiles(bound);

  const Timed fast = RunOnce(input, false, 0);
  std::printf("  fast engine, %u threads:  %8.2f s\n%s", cores, fast.seconds, fast.phases.c_str());
  if (!fastOnly) {
    const Timed single = RunOnce(input, false, 1);
    std::printf("  fast engine, 1 thread:   %8.2f s   (%u threads: %.2fx faster)\n", single.seconds,
                cores, single.seconds / fast.seconds);
    const Timed reference = RunOnce(input, true, 1);
    std::printf("  reference engine:        %8.2f s   (fast engine: %.1fx faster)\n",
                reference.seconds, reference.seconds / fast.seconds);
    const bool same =
        SameFiles(reference.files, fast.files) && SameFiles(reference.files, single.files);
    std::printf("  files: %s\n", same ? "the same" : "DIFFERENT");
    if (!same) return 1;
  }
  std::printf("  result files:");
  for (const auto& [name, content] : fast.files) {
    if (name.rfind("_L", 0) == 0) {
      std::printf(" %s(%lld)", name.c_str(),
                  static_cast<long long>(std::count(content.begin(), content.end(), '\n') - 1));
    }
  }
  std::printf("\n  peak resident size: %ld kB\n", PeakResidentKb());
  return 0;
}
