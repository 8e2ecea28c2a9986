// Times a first search run of Kolvex over the primes below 1,000,000 with minimum length 10,
// once without a sieved list and once with the sieved list of the primes from 1,000,001 to
// 1,500,000, and reports the whole-run time, the time of each phase and the files written.
//
//   build/bench/bench_search [path of Kolvex]     (default: build/bin/Kolvex next to this one)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/process.h"

namespace fs = std::filesystem;

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

void WriteNumbers(const fs::path& file, const std::vector<uint64_t>& numbers, uint64_t below) {
  std::ofstream out(file, std::ios::binary);
  for (const uint64_t n : numbers) {
    if (n < below) out << n << "\r\n";
  }
}

void WriteSievedList(const fs::path& file, uint64_t start, uint64_t end,
                     const std::vector<uint64_t>& numbers) {
  std::ofstream out(file, std::ios::binary);
  auto put = [&out](uint64_t v) {
    for (int k = 0; k < 8; ++k) out.put(static_cast<char>((v >> (8 * k)) & 0xFF));
  };
  put(start);
  put(end);
  for (const uint64_t n : numbers) {
    if (n >= start && n <= end) put(n);
  }
}

// Prints every timing line of the program ("1234 [ms] : Phase").
void PrintPhaseTimes(const std::string& output) {
  static const std::string kMark = " [ms] : ";
  size_t at = 0;
  while ((at = output.find(kMark, at)) != std::string::npos) {
    size_t begin = at;
    while (begin > 0 && output[begin - 1] >= '0' && output[begin - 1] <= '9') --begin;
    size_t end = output.find("\r\n", at);
    if (end == std::string::npos) end = output.size();
    std::string phase = output.substr(at + kMark.size(), end - at - kMark.size());
    while (!phase.empty() && phase.back() == ' ') phase.pop_back();
    std::printf("  %-14s %10s ms\n", phase.c_str(), output.substr(begin, at - begin).c_str());
    at = end;
  }
}

bool RunOnce(const std::string& kolvex, const fs::path& dir, const char* label) {
  const fs::path outFile = dir / "__bench_stdout.txt";
  // The platform's millisecond tick (the standard clocks' headers do not build with the code
  // page of our texts).
  const uint32_t start = kv::NativePlatform().TickCount();
  const int code =
      kvtest::RunProgram(kolvex, {}, dir.string(), "primes.txt\n10\n\n", outFile.string());
  const uint32_t stop = kv::NativePlatform().TickCount();
  if (code != 0) {
    std::printf("%s: Kolvex could not be run (exit code %d)\n", label, code);
    return false;
  }
  std::ifstream in(outFile, std::ios::binary);
  std::ostringstream output;
  output << in.rdbuf();
  in.close();
  fs::remove(outFile);
  std::printf("%s\n  whole run      %10u ms\n", label, stop - start);
  PrintPhaseTimes(output.str());
  std::printf("  files written:\n");
  std::vector<fs::directory_entry> entries(fs::directory_iterator(dir), fs::directory_iterator{});
  std::sort(entries.begin(), entries.end());
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (name == "primes.txt") continue;
    std::printf("    %-28s %12ju bytes\n", name.c_str(), static_cast<uintmax_t>(entry.file_size()));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kolvex =
      argc > 1 ? argv[1]
               : (fs::absolute(argv[0]).parent_path().parent_path() / "bin" / "Kolvex").string();
  const auto primes = PrimesBelow(1500001);
  const fs::path root = fs::temp_directory_path() / "kv_bench_search";
  fs::remove_all(root);
  bool ok = true;
  for (const bool sieved : {false, true}) {
    const fs::path dir = root / (sieved ? "sieved" : "plain");
    fs::create_directories(dir);
    WriteNumbers(dir / "primes.txt", primes, 1000000);
    if (sieved) WriteSievedList(dir / "_SievedListData.dat", 1000001, 1500000, primes);
    ok = RunOnce(kolvex, dir,
                 sieved ? "primes below 10^6, minimum length 10, sieved list 1000001-1500000"
                        : "primes below 10^6, minimum length 10, no sieved list") &&
         ok;
  }
  fs::remove_all(root);
  return ok ? 0 : 1;
}
