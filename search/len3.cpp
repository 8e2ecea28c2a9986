// The length-3 search over every unfinished middle term.
//
// Each line (middle term) keeps two cursors in its own record: the next candidate first term
// below it and the next candidate third term above it. The two walks alternate so that the
// line's differences are tried in increasing order, each once over the life of the table, and a
// progression is found only at its middle term: no three-term progression is handed off twice,
// in one run or across runs.
#include <algorithm>
#include <string>

#include "console/console.h"
#include "console/numtext.h"
#include "platform/platform.h"
#include "search/instantiate.h"
#include "search/phases.h"

namespace kv {
namespace {

constexpr uint32_t kDisplayInterval = 2000;  // milliseconds

template <typename W>
class Len3Walker {
 public:
  using Value = typename W::Value;

  explicit Len3Walker(SearchState<W>& s)
      // A header claiming more records than are loaded must not lead the walks off the table.
      : s_(s),
        n_(std::min(s.table.DataCount(), s.table.recordCount - 1)),
        records_(s.table.records.data()) {}

  void Run() {
    start_ = Os().TickCount();
    lastDisplay_ = start_;
    SaveHalfData(s_, 0, 1);
    const Value midpoint = static_cast<Value>((records_[1].value + records_[0].value) >> 1);
    s_.pending.entries.assign(100000, PendingEntry{0, 0, 0});
    s_.pending.pendingCount = 0;
    s_.pending.pendingCapacity = 100000;

    int32_t i = 2;
    for (; i <= n_ - 1 && records_[i].value <= midpoint; ++i) {
      if (LowerPassLine(i)) ProgressCheck(i, true);
    }
    for (; i <= n_ - 1; ++i) {
      UpperPassLine(i);
      ProgressCheck(i, false);
    }

    WriteCheckpoint(n_);
    s_.pending = PendingList{};
    const uint32_t elapsed = Os().TickCount() - start_;
    Locate(0, s_.consoleRow);
    PrintLine("Finished. (Total  " + RealToText(n_) + "  lines.)  ");
    PrintLine(RealToText(elapsed) + " [ms] : Len3Search");
  }

 private:
  Value v(int32_t k) const { return records_[k].value; }

  // Cursors that no search can have left (a damaged or hand-edited table) would lead the
  // walks off the table; such a line is searched again from its start.
  void CheckCursors(int32_t i) {
    TableRecord<W>& r = records_[i];
    if (r.lowerCursor < 0 || r.lowerCursor >= i || r.upperCursor <= i || r.upperCursor > n_ + 1) {
      r.lowerCursor = i - 1;
      r.upperCursor = i + 1;
    }
  }

  void HandOff(int32_t lo, int32_t i, int32_t hi, Value difference) {
    ExtendProgression(s_, static_cast<Value>(v(hi) + difference), lo, i, difference, hi + 1, 3);
    // The list grows only when full; the test here spares the call for every hand-off.
    if (s_.pending.pendingCount >= s_.pending.pendingCapacity) GrowPendingList(s_.pending);
  }

  // A line at or below the midpoint: every third term it can still pair with is present, so
  // the line is finished for good when it ends. Returns false when it ends before any walk
  // (nothing to check progress for).
  bool LowerPassLine(int32_t i) {
    TableRecord<W>& r = records_[i];
    if (r.lowerCursor == 0) return false;
    CheckCursors(i);
    const Value m = r.value;
    int32_t lo = r.lowerCursor;
    int32_t hi = r.upperCursor;
    if (hi > n_ || v(hi) - m > m) {
      r.lowerCursor = 0;
      return false;
    }
    Value t = static_cast<Value>(m - (v(hi) - m));
    for (;;) {
      while (lo >= 1 && v(lo) > t) --lo;
      if (lo < 1) break;
      if (v(lo) == t) {
        HandOff(lo, i, hi, static_cast<Value>(v(hi) - m));
        --lo;
        if (lo < 1) break;
      }
      t = static_cast<Value>(m + (m - v(lo)));
      // Below the midpoint t never passes the largest value; the bound only guards a table
      // whose header does not match its last record.
      while (hi <= n_ && v(hi) < t) ++hi;
      if (hi > n_) break;
      if (v(hi) == t) {
        HandOff(lo, i, hi, static_cast<Value>(m - v(lo)));
        ++hi;
        if (hi > n_) break;
      }
      const Value d = static_cast<Value>(v(hi) - m);
      if (d > m) break;
      t = static_cast<Value>(m - d);
    }
    r.lowerCursor = 0;
    r.upperCursor = hi;
    return true;
  }

  // A line above the midpoint: third terms may still be appended, so the line waits at the top
  // of the data with its cursors where the walk left them.
  void UpperPassLine(int32_t i) {
    TableRecord<W>& r = records_[i];
    if (r.lowerCursor == 0) return;
    CheckCursors(i);
    const Value m = r.value;
    int32_t lo = r.lowerCursor;
    int32_t hi = r.upperCursor;
    for (;;) {
      Value t = static_cast<Value>(m + (m - v(lo)));
      while (hi <= n_ && v(hi) < t) ++hi;
      if (hi > n_) break;
      if (v(hi) == t) {
        HandOff(lo, i, hi, static_cast<Value>(m - v(lo)));
        ++hi;
        if (hi > n_) break;
      }
      const Value d = static_cast<Value>(v(hi) - m);
      t = static_cast<Value>(m - d);
      // Above the midpoint t stays above the smallest value; the bound only guards a damaged
      // table.
      while (lo >= 1 && v(lo) > t) --lo;
      if (lo < 1) break;
      if (v(lo) == t) {
        HandOff(lo, i, hi, d);
        --lo;
        if (lo < 1) break;
      }
    }
    r.lowerCursor = lo < 1 ? 0 : lo;
    r.upperCursor = hi;
  }

  void ProgressCheck(int32_t i, bool lowerPass) {
    if (Os().TickCount() - lastDisplay_ <= kDisplayInterval) return;
    const double lines = static_cast<double>(n_);
    double percent;
    if (lowerPass) {
      percent = FloorToInt32(Power(i, 2) * 2000 / Power(lines, 2)) / 10.0;
    } else {
      percent = FloorToInt32(1000 - Power(n_ - i, 2) * 2000 / Power(lines, 2)) / 10.0;
    }
    Locate(0, s_.consoleRow);
    PrintLine("Line  " + RealToText(i) + "  : finished. ( " + RealToText(percent) +
              (lowerPass ? " %)" : " %)    "));
    WriteCheckpoint(i);
    lastDisplay_ = Os().TickCount();
  }

  // Result lines first, then the pending continuations, then the records through line `last`:
  // whatever the checkpoint records as done has its results on disk already.
  void WriteCheckpoint(int32_t last) {
    FlushResultLines(s_);
    if (s_.pending.pendingCount > 0) SaveContData(s_);
    SaveHalfData(s_, firstUnsaved_, last - firstUnsaved_ + 1);
    firstUnsaved_ = last + 1;
  }

  SearchState<W>& s_;
  const int32_t n_;
  TableRecord<W>* records_;
  uint32_t start_ = 0;
  uint32_t lastDisplay_ = 0;
  int32_t firstUnsaved_ = 1;
};

}  // namespace

template <typename W>
void Len3Search(SearchState<W>& s) {
  Len3Walker<W>(s).Run();
}

#define KV_INSTANTIATE(W) template void Len3Search<W>(SearchState<W>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
