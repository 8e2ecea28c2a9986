// The plain way to count the progressions of ten primes below a bound, for comparison with the
// pruned search: a bitmap of the odd primes, ANDed with itself shifted by d / 2, 2d / 2, ...,
// 9d / 2 for every difference d that is a multiple of 210 (every progression of ten primes has
// such a difference), on every hardware thread or the number given. Counts every ten terms in a
// row, so a progression of k >= 10 primes counts k - 9 times.
//
//   build/bench/bench_peer 100000000 [threads]
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

int main(int argc, char** argv) {
  const uint64_t bound = argc > 1 ? std::stoull(argv[1]) : 100000000;
  unsigned threads = argc > 2 ? static_cast<unsigned>(std::stoul(argv[2]))
                              : std::max(1u, std::thread::hardware_concurrency());
  const uint32_t start = kv::NativePlatform().TickCount();
  // Bit i: 2i + 1 is prime, for 2i + 1 < bound.
  const uint64_t bits = bound / 2;
  std::vector<uint64_t> odd(bits / 64 + 3, 0);
  std::vector<bool> composite(bits, false);
  for (uint64_t i = 1; i < bits; ++i) {
    if (composite[i]) continue;
    odd[i >> 6] |= uint64_t{1} << (i & 63);
    const uint64_t p = 2 * i + 1;
    for (uint64_t j = (p * p) / 2; p * p < bound && j < bits; j += p) composite[j] = true;
  }
  auto word = [&odd](uint64_t at) {
    const uint64_t w = at >> 6;
    const unsigned s = static_cast<unsigned>(at & 63);
    return s == 0 ? odd[w] : (odd[w] >> s) | (odd[w + 1] << (64 - s));
  };
  std::atomic<uint64_t> next{1};
  std::atomic<uint64_t> total{0};
  auto work = [&]() {
    uint64_t count = 0;
    for (uint64_t t = next++; 9 * 105 * t < bits; t = next++) {
      const uint64_t shift = 105 * t;
      const uint64_t words = (bits - 9 * shift) / 64 + 1;
      for (uint64_t w = 0; w < words; ++w) {
        uint64_t h = odd[w];
        for (uint64_t k = 1; k <= 9 && h != 0; ++k) h &= word(64 * w + k * shift);
        count += static_cast<uint64_t>(std::popcount(h));
      }
    }
    total += count;
  };
  std::vector<std::thread> pool;
  for (unsigned k = 0; k < threads; ++k) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  const double seconds = static_cast<double>(kv::NativePlatform().TickCount() - start) / 1000.0;
  std::printf("progressions of 10 primes below %llu (k terms counted k - 9 times): %llu\n",
              static_cast<unsigned long long>(bound), static_cast<unsigned long long>(total));
  std::printf("%.2f s on %u threads\n", seconds, threads);
  return 0;
}
