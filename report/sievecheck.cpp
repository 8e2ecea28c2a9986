// The sieved list's own check: order and range in one pass, then the primes of the range from a
// segmented sieve of Eratosthenes over odd numbers, one bit each, compared with the candidates a
// word at a time.
#include "report/sievecheck.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>

#include "console/numtext.h"
#include "platform/fileutil.h"
#include "platform/workers.h"
#include "report/listlookup.h"
#include "report/primality.h"

namespace kv {
namespace {

// Odd numbers per segment: 2^18 bits, 32 KiB, at home in a core's own cache.
constexpr uint64_t kSegmentBits = uint64_t{1} << 18;
constexpr uint64_t kSegmentWords = kSegmentBits / 64;
// The sieving primes go up to this bound; above it (ranges beyond 2^50) the numbers that the
// sieve leaves and the list lacks go through the primality test.
constexpr uint64_t kLargestSievingPrime = uint64_t{1} << 25;

uint64_t SquareRoot(uint64_t n) {
  uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(n)));
  while (r > 0 && (r > 0xFFFFFFFFu || r * r > n)) --r;
  while (r < 0xFFFFFFFFu && (r + 1) * (r + 1) <= n) ++r;
  return r;
}

// The odd primes up to `bound`, by a plain sieve of Eratosthenes.
std::vector<uint32_t> OddPrimesUpTo(uint64_t bound) {
  std::vector<uint32_t> primes;
  if (bound < 3) return primes;
  // Bit i stands for 2i + 1.
  std::vector<bool> composite(static_cast<size_t>(bound / 2 + 1), false);
  for (uint64_t i = 1; 2 * i + 1 <= bound; ++i) {
    if (composite[static_cast<size_t>(i)]) continue;
    const uint64_t p = 2 * i + 1;
    primes.push_back(static_cast<uint32_t>(p));
    for (uint64_t m = p * p; m <= bound; m += 2 * p) composite[static_cast<size_t>(m / 2)] = true;
  }
  return primes;
}

// The odd primes below 64 strike whole words: each one's multiples among the odd numbers from
// `base` repeat every p words, so a word is struck with one mask. (The prime itself is kept.)
constexpr uint32_t kWordPrimes[] = {3,  5,  7,  11, 13, 17, 19, 23, 29,
                                    31, 37, 41, 43, 47, 53, 59, 61};

struct WordMasks {
  uint32_t prime;
  std::vector<uint64_t> masks;  // word k of the period: the bits of the multiples of `prime`
};

std::vector<WordMasks> MakeWordMasks(uint64_t base) {
  std::vector<WordMasks> all;
  for (const uint32_t p : kWordPrimes) {
    WordMasks w{p, std::vector<uint64_t>(p, 0)};
    // The index of the first odd multiple of p at or above `base`; then every p-th.
    const uint64_t r = base % p;
    uint64_t i = r == 0 ? 0 : ((p - r) % 2 == 0 ? (p - r) / 2 : (2 * p - r) / 2);
    for (; i < 64 * uint64_t{p}; i += p) w.masks[i / 64] |= uint64_t{1} << (i % 64);
    all.push_back(std::move(w));
  }
  return all;
}

struct Part {
  int64_t count = 0;
  std::vector<uint64_t> first;
};

// Segments [firstSegment, endSegment) of the odd numbers from `base` (odd) to `hi`.
template <typename Value>
void SievePart(uint64_t base, uint64_t hi, uint64_t firstSegment, uint64_t endSegment,
               const std::vector<uint32_t>& sieving, const std::vector<WordMasks>& wordMasks,
               bool exact, std::span<const Value> candidates, size_t examples, Part& out) {
  // Each sieving prime's next odd multiple, as an index of odd numbers from `base`.
  const uint64_t partStart = base + 2 * firstSegment * kSegmentBits;
  std::vector<uint64_t> next(sieving.size());
  for (size_t j = 0; j < sieving.size(); ++j) {
    const uint64_t p = sieving[j];
    uint64_t m = std::max(p * p, (partStart + p - 1) / p * p);
    if (m % 2 == 0) m += p;
    next[j] = (m - base) / 2;
  }
  auto candidate = std::lower_bound(candidates.begin(), candidates.end(), partStart,
                                    [](Value c, uint64_t v) { return c < v; });
  std::vector<uint64_t> bits(kSegmentWords);
  for (uint64_t segment = firstSegment; segment < endSegment; ++segment) {
    const uint64_t first = segment * kSegmentBits;  // index of the segment's first odd number
    const uint64_t low = base + 2 * first;
    const uint64_t count = std::min(kSegmentBits, (hi - low) / 2 + 1);
    const uint64_t high = low + 2 * (count - 1);
    std::fill(bits.begin(), bits.end(), ~uint64_t{0});
    const uint64_t firstWord = first / 64;  // segments are whole words
    for (const WordMasks& w : wordMasks) {
      if (uint64_t{w.prime} * w.prime > high) break;
      size_t k = static_cast<size_t>(firstWord % w.prime);
      for (uint64_t word = 0; word < kSegmentWords; ++word) {
        bits[word] &= ~w.masks[k];
        if (++k == w.prime) k = 0;
      }
      if (w.prime >= low && w.prime <= high) {
        const uint64_t i = (w.prime - low) / 2;
        bits[i >> 6] |= uint64_t{1} << (i & 63);
      }
    }
    for (size_t j = 0; j < sieving.size(); ++j) {
      const uint64_t p = sieving[j];
      if (p < 64) continue;
      if (p * p > high) break;
      uint64_t at = next[j];
      for (; at < first + count; at += p) {
        const uint64_t i = at - first;
        bits[i >> 6] &= ~(uint64_t{1} << (i & 63));
      }
      next[j] = at;
    }
    // The candidates of the segment are no missing primes.
    for (; candidate != candidates.end() && static_cast<uint64_t>(*candidate) <= high;
         ++candidate) {
      const uint64_t c = *candidate;
      if (c < low || c % 2 == 0) continue;
      const uint64_t i = (c - low) / 2;
      bits[i >> 6] &= ~(uint64_t{1} << (i & 63));
    }
    const uint64_t words = (count + 63) / 64;
    if (count % 64 != 0) bits[words - 1] &= (uint64_t{1} << (count % 64)) - 1;
    for (uint64_t w = 0; w < words; ++w) {
      for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
        const uint64_t v = low + 2 * (64 * w + static_cast<uint64_t>(std::countr_zero(word)));
        if (!exact && !IsPrime(v)) continue;
        ++out.count;
        if (out.first.size() < examples) out.first.push_back(v);
      }
    }
  }
}

std::string Text(uint64_t v) { return IntegerToText(v); }
std::string Index(size_t k) { return IntegerToText(static_cast<uint64_t>(k)); }

}  // namespace

template <typename Value>
MissingPrimes FindMissingPrimes(uint64_t lo, uint64_t hi, std::span<const Value> candidates,
                                size_t examples, unsigned threads) {
  MissingPrimes missing;
  if (lo > hi || hi < 2) return missing;
  if (lo <= 2) {
    if (!std::binary_search(candidates.begin(), candidates.end(), Value{2})) {
      ++missing.count;
      if (examples > 0) missing.first.push_back(2);
    }
    lo = 3;
    if (hi < 3) return missing;
  }
  const uint64_t base = lo | 1;
  if (base > hi) return missing;
  const uint64_t root = SquareRoot(hi);
  const bool exact = root <= kLargestSievingPrime;
  const std::vector<uint32_t> sieving = OddPrimesUpTo(std::min(root, kLargestSievingPrime));
  const std::vector<WordMasks> wordMasks = MakeWordMasks(base);
  const uint64_t segments = ((hi - base) / 2) / kSegmentBits + 1;
  const uint64_t parts = std::clamp<uint64_t>(segments / 4, 1, std::max(1u, threads));
  std::vector<Part> results(static_cast<size_t>(parts));
  WorkerGroup group;
  for (uint64_t p = 0; p < parts; ++p) {
    auto work = [&, p] {
      SievePart<Value>(base, hi, segments * p / parts, segments * (p + 1) / parts, sieving,
                       wordMasks, exact, candidates, examples, results[static_cast<size_t>(p)]);
    };
    if (p + 1 < parts) {
      group.Start(work);
    } else {
      work();
    }
  }
  group.Join();
  for (const Part& part : results) {
    missing.count += part.count;
    for (const uint64_t v : part.first) {
      if (missing.first.size() < examples) missing.first.push_back(v);
    }
  }
  return missing;
}

template <typename V>
bool ReadSievedFile(const std::string& name, std::vector<V>& entries) {
  entries.clear();
  auto file = Os().OpenRead(name);
  const int64_t size = file ? file->Size() : -1;
  const int64_t count = size < 0 ? 0 : size / static_cast<int64_t>(sizeof(V));
  // The search counts the entries in 32 bits.
  if (size < 0 || count > std::numeric_limits<uint32_t>::max()) {
    if (file) file->Close();
    return false;
  }
  entries.resize(static_cast<size_t>(count));
  const bool read =
      ReadItems(*file, count, sizeof(V), [&entries](const unsigned char* p, int64_t i) {
        entries[static_cast<size_t>(i)] = LoadLE<V>(p);
      });
  file->Close();
  if (!read) entries.clear();
  return read;
}

template <typename V>
void CheckSievedEntries(const std::string& file, std::span<const V> entries, uint64_t largest,
                        bool primes, unsigned threads, Problems& problems,
                        std::vector<std::string>& lines) {
  // Lists of no entry or one rule nothing out.
  if (entries.size() < 2) return;
  const uint64_t start = entries[0];
  const uint64_t end = entries[1];
  const std::string range = Text(start) + " - " + Text(end);
  for (size_t k = 2; k < entries.size(); ++k) {
    const uint64_t v = entries[k];
    if (k > 2 && v <= entries[k - 1]) {
      problems.Add(Problem::kSievedOrder, file + " 項目 " + Index(k) + " : " + Text(v) +
                                              " (前の項目 " + Text(entries[k - 1]) + ")");
    }
    if (v < start || v > end) {
      problems.Add(Problem::kSievedRange,
                   file + " 項目 " + Index(k) + " : " + Text(v) + " (範囲 " + range + ")");
    }
  }
  // A range whose start lies above its end has been passed by the table: nothing is left of it.
  if (!primes || start > end) return;
  const uint64_t lo = std::max(start, largest + 1);
  if (lo > end) return;
  // No table value lies above 2^63 - 1 (doc/files.md), nor any prime that could continue one.
  uint64_t hi = std::min<uint64_t>(end, std::numeric_limits<int64_t>::max());
  if (lo > hi) return;
  const uint64_t span = std::clamp<uint64_t>(kSievedSpanPerCandidate * entries.size(),
                                             kSmallestSievedSpan, kLargestSievedSpan);
  if (hi - lo >= span) {
    hi = lo + (span - 1);
    lines.push_back(file + " : 候補に無い素数は " + Text(lo) + " から " + Text(hi) +
                    " までを調べました。");
  }
  std::vector<V> sorted;
  const MissingPrimes missing = FindMissingPrimes<V>(lo, hi, CandidatesInRange(entries, sorted),
                                                     Problems::kExamples, threads);
  for (const uint64_t p : missing.first) {
    problems.Add(Problem::kSievedMissing,
                 file + " : 範囲 " + range + " の素数 " + Text(p) + " が候補に有りません。");
  }
  problems.count[static_cast<size_t>(Problem::kSievedMissing)] +=
      missing.count - static_cast<int64_t>(missing.first.size());
}

#define KV_INSTANTIATE(V)                                                                     \
  template bool ReadSievedFile<V>(const std::string&, std::vector<V>&);                       \
  template void CheckSievedEntries<V>(const std::string&, std::span<const V>, uint64_t, bool, \
                                      unsigned, Problems&, std::vector<std::string>&);        \
  template MissingPrimes FindMissingPrimes<V>(uint64_t, uint64_t, std::span<const V>, size_t, \
                                              unsigned);
KV_INSTANTIATE(uint32_t)
KV_INSTANTIATE(uint64_t)

}  // namespace kv
