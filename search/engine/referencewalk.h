// The reference engine's walks of one line (middle term) of the length-3 search: the plain
// two-cursor walk. The lower cursor moves down and the upper cursor moves up, alternately, so that
// the line's differences are tried in increasing order. It is the judge of what the search
// writes; the dense engine (densewalker.h) gets the same answers faster.
#pragma once

#include <cstdint>

#include "format/records.h"

namespace kv {

// The plain walk of a line at or below the midpoint. `handOff(lo, hi, d)` receives every
// progression v(lo), m, v(hi) in order. Returns false when the line ended before any walk (no
// progress check follows). The cursors are updated in place; the line ends finished (lo = 0).
template <typename W, typename HandOff>
bool ReferenceLowerLine(const TableRecord<W>* r, int32_t n, int32_t i, int32_t& lo, int32_t& hi,
                        HandOff&& handOff) {
  using Value = typename W::Value;
  auto v = [r](int32_t k) { return r[k].value; };
  const Value m = v(i);
  if (hi > n || v(hi) - m > m) {
    lo = 0;
    return false;
  }
  Value t = static_cast<Value>(m - (v(hi) - m));
  for (;;) {
    while (lo >= 1 && v(lo) > t) --lo;
    if (lo < 1) break;
    if (v(lo) == t) {
      handOff(lo, hi, static_cast<Value>(v(hi) - m));
      --lo;
      if (lo < 1) break;
    }
    t = static_cast<Value>(m + (m - v(lo)));
    // Below the midpoint t never passes the largest value; the bound only guards a table whose
    // header does not match its last record.
    while (hi <= n && v(hi) < t) ++hi;
    if (hi > n) break;
    if (v(hi) == t) {
      handOff(lo, hi, static_cast<Value>(m - v(lo)));
      ++hi;
      if (hi > n) break;
    }
    const Value d = static_cast<Value>(v(hi) - m);
    if (d > m) break;
    t = static_cast<Value>(m - d);
  }
  lo = 0;
  return true;
}

// The plain walk of a line above the midpoint; the cursors stay where the walk leaves them.
template <typename W, typename HandOff>
void ReferenceUpperLine(const TableRecord<W>* r, int32_t n, int32_t i, int32_t& lo, int32_t& hi,
                        HandOff&& handOff) {
  using Value = typename W::Value;
  auto v = [r](int32_t k) { return r[k].value; };
  const Value m = v(i);
  for (;;) {
    Value t = static_cast<Value>(m + (m - v(lo)));
    while (hi <= n && v(hi) < t) ++hi;
    if (hi > n) break;
    if (v(hi) == t) {
      handOff(lo, hi, static_cast<Value>(m - v(lo)));
      ++hi;
      if (hi > n) break;
    }
    const Value d = static_cast<Value>(v(hi) - m);
    t = static_cast<Value>(m - d);
    // Above the midpoint t stays above the smallest value; the bound only guards a damaged
    // table.
    while (lo >= 1 && v(lo) > t) --lo;
    if (lo < 1) break;
    if (v(lo) == t) {
      handOff(lo, hi, d);
      --lo;
      if (lo < 1) break;
    }
  }
  if (lo < 1) lo = 0;
}

}  // namespace kv
