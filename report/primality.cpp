// Miller–Rabin with fixed bases, each set proven to leave no strong pseudoprime below its bound.
#include "report/primality.h"

#include <initializer_list>

namespace kv {
namespace {

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 Wide;
uint64_t MulMod(uint64_t a, uint64_t b, uint64_t m) {
  if (m <= 0xFFFFFFFFu) return a * b % m;
  return static_cast<uint64_t>(static_cast<Wide>(a) * b % m);
}
#else
// Compilers without a 128-bit type: doubling and adding, every step below 2^64.
uint64_t MulMod(uint64_t a, uint64_t b, uint64_t m) {
  if (m <= 0xFFFFFFFFu) return a * b % m;
  uint64_t result = 0;
  a %= m;
  for (; b != 0; b >>= 1) {
    if ((b & 1) != 0) result = result >= m - a ? result - (m - a) : result + a;
    a = a >= m - a ? a - (m - a) : a + a;
  }
  return result;
}
#endif

uint64_t PowMod(uint64_t base, uint64_t exponent, uint64_t m) {
  uint64_t result = 1;
  base %= m;
  for (; exponent != 0; exponent >>= 1) {
    if ((exponent & 1) != 0) result = MulMod(result, base, m);
    base = MulMod(base, base, m);
  }
  return result;
}

// n odd, n - 1 = d * 2^s with d odd.
bool StrongProbablePrime(uint64_t n, uint64_t base, uint64_t d, int s) {
  uint64_t x = PowMod(base, d, n);
  if (x == 1 || x == n - 1) return true;
  for (int r = 1; r < s; ++r) {
    x = MulMod(x, x, n);
    if (x == n - 1) return true;
  }
  return false;
}

bool PassesBases(uint64_t n, std::initializer_list<uint64_t> bases) {
  uint64_t d = n - 1;
  int s = 0;
  while ((d & 1) == 0) {
    d >>= 1;
    ++s;
  }
  for (const uint64_t base : bases) {
    if (!StrongProbablePrime(n, base, d, s)) return false;
  }
  return true;
}

}  // namespace

bool IsPrime(uint64_t n) {
  if (n < 2) return false;
  for (const uint64_t p : {2u, 3u, 5u, 7u, 11u, 13u, 17u, 19u, 23u, 29u, 31u, 37u}) {
    if (n % p == 0) return n == p;
  }
  if (n < 41 * 41) return true;
  // Every base below is smaller than n here.
  if (n < 4759123141ULL) return PassesBases(n, {2, 7, 61});
  if (n < 3474749660383ULL) return PassesBases(n, {2, 3, 5, 7, 11, 13});
  if (n < 341550071728321ULL) return PassesBases(n, {2, 3, 5, 7, 11, 13, 17});
  if (n < 3825123056546413051ULL) return PassesBases(n, {2, 3, 5, 7, 11, 13, 17, 19, 23});
  return PassesBases(n, {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37});
}

}  // namespace kv
