// The crew of threads that stays for many rounds of pieces.
#include "search/engine/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace kv {
namespace {

TEST(PieceCrew, EveryItemOnceInEveryRoundAndAFailedPieceReportedOnce) {
  PieceCrew crew(3);
  for (int64_t count : {0, 1, 5, 1000, 4099}) {
    std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
    crew.Start(count, 64, [&](int64_t begin, int64_t end) {
      for (int64_t k = begin; k < end; ++k) seen[static_cast<size_t>(k)]++;
    });
    crew.Wait();
    for (const auto& s : seen) ASSERT_EQ(s.load(), 1) << count;
  }
  crew.Start(1000, 10, [](int64_t begin, int64_t) {
    if (begin == 500) throw std::runtime_error("piece");
  });
  EXPECT_THROW(crew.Wait(), std::runtime_error);
  // The next round runs whole, and a round left under way is finished by the destructor.
  std::atomic<int64_t> sum{0};
  crew.Start(100, 7, [&](int64_t begin, int64_t end) { sum += end - begin; });
  crew.Wait();
  EXPECT_EQ(sum.load(), 100);
  crew.Start(100, 7, [&](int64_t begin, int64_t end) { sum += end - begin; });
}

}  // namespace
}  // namespace kv
