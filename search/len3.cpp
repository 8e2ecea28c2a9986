// The length-3 search over every unfinished middle term.
//
// Each line (middle term) keeps two cursors in its own record: the next candidate first term
// below it and the next candidate third term above it. The two walks alternate so that the
// line's differences are tried in increasing order, each once over the life of the table, and a
// progression is found only at its middle term: no three-term progression is handed off twice,
// in one run or across runs.
#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "console/numtext.h"
#include "platform/platform.h"
#include "search/instantiate.h"
#include "search/parallel.h"
#include "search/phases.h"
#include "search/walk.h"

namespace kv {
namespace {

constexpr uint32_t kDisplayInterval = 2000;  // milliseconds
constexpr int32_t kChunkLines = 32;

// What the search of one line leaves: its cursors, whether a progress check follows, and the
// fates of the progressions it handed off, in order.
template <typename W>
struct LineOutcome {
  int32_t line;
  int32_t lowerCursor;
  int32_t upperCursor;
  bool check;
  bool lowerPass;
  uint32_t eventsEnd;  // end of this line's events in the chunk
  // Ends of this line's continuations in the chunk, in the store's form, and of their
  // inspection lines.
  uint32_t storeEnd;
  uint32_t inspectionEnd;
  int32_t pendingCount;
};

template <typename W>
struct HandOffEvent {
  typename W::Value difference;
  int32_t firstIndex;
  ProgressionEnd end;
};

// A run of consecutive lines searched by one worker and committed in order by the main thread.
template <typename W>
struct LineChunk {
  int32_t first = 0;
  int32_t last = 0;
  std::vector<LineOutcome<W>> lines;
  std::vector<HandOffEvent<W>> events;
  std::vector<unsigned char> store;
  std::string inspection;
  bool ready = false;
};

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
    midpoint_ = static_cast<Value>((records_[1].value + records_[0].value) >> 1);
    s_.pending.entries.assign(100000, PendingEntry{0, 0, 0});
    s_.pending.pendingCount = 0;
    s_.pending.pendingCapacity = 100000;

    if (s_.referenceEngine) {
      SearchLinesOneByOne();
    } else {
      SearchLinesInChunks();
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

  // The reference engine: every line walked in turn, every progression followed at once.
  void SearchLinesOneByOne() {
    auto handOff = [this](int32_t i) {
      return [this, i](int32_t lo, int32_t hi, Value d) {
        ExtendProgression(s_, static_cast<Value>(v(hi) + d), lo, i, d, hi + 1, 3);
        GrowPendingList(s_.pending);
      };
    };
    int32_t i = 2;
    for (; i <= n_ - 1 && v(i) <= midpoint_; ++i) {
      TableRecord<W>& r = records_[i];
      if (r.lowerCursor == 0) continue;
      CheckCursors(i, r.lowerCursor, r.upperCursor);
      if (ReferenceLowerLine<W>(records_, n_, i, r.lowerCursor, r.upperCursor, handOff(i))) {
        ProgressCheck(i, true);
      }
    }
    for (; i <= n_ - 1; ++i) {
      TableRecord<W>& r = records_[i];
      if (r.lowerCursor != 0) {
        CheckCursors(i, r.lowerCursor, r.upperCursor);
        ReferenceUpperLine<W>(records_, n_, i, r.lowerCursor, r.upperCursor, handOff(i));
      }
      ProgressCheck(i, false);
    }
  }

  // Cursors that no search can have left (a damaged or hand-edited table) would lead the
  // walks off the table; such a line is searched again from its start.
  static void CheckCursors(int32_t i, int32_t& lo, int32_t& hi, int32_t n) {
    if (lo < 0 || lo >= i || hi <= i || hi > n + 1) {
      lo = i - 1;
      hi = i + 1;
    }
  }
  void CheckCursors(int32_t i, int32_t& lo, int32_t& hi) const { CheckCursors(i, lo, hi, n_); }

  // The fast engines: lines are searched in chunks by every hardware thread, each progression
  // followed by the thread that found it; the main thread commits the chunks in line order,
  // exactly as the reference engine would have made the same calls, so that every file and
  // every progress line comes out the same.
  void SearchLinesInChunks() {
    if (n_ < 3) return;
    const bool dense = ValueBitmap<W>::Suits(records_, n_);
    std::unique_ptr<ValueBitmap<W>> bitmap;
    if (dense) {
      // Without the memory for the bitmaps the walk of the cursors finds the same, slower.
      try {
        bitmap = std::make_unique<ValueBitmap<W>>(records_, n_, &s_.sieved,
                                                  s_.prune ? s_.minSaveLength : 0);
      } catch (const std::bad_alloc&) {
        bitmap.reset();
      }
    }
    unsigned threads = s_.threadCount != 0 ? s_.threadCount : Os().HardwareThreads();
    if (threads == 0) threads = 1;

    const int32_t firstLine = 2;
    const int32_t lastLine = n_ - 1;
    const int32_t chunkCount = (lastLine - firstLine) / kChunkLines + 1;
    auto searchChunk = [&](LineChunk<W>& chunk, int32_t c) {
      chunk.first = firstLine + c * kChunkLines;
      chunk.last = std::min(lastLine, chunk.first + kChunkLines - 1);
      chunk.lines.clear();
      chunk.events.clear();
      chunk.store.clear();
      chunk.inspection.clear();
      for (int32_t i = chunk.first; i <= chunk.last; ++i) SearchLine(i, bitmap.get(), chunk);
    };

    if (threads == 1) {
      LineChunk<W> chunk;
      for (int32_t c = 0; c < chunkCount; ++c) {
        searchChunk(chunk, c);
        Commit(chunk);
      }
      return;
    }

    // A window of chunks in flight bounds the memory, whatever the number of progressions.
    const int32_t window = static_cast<int32_t>(4 * threads);
    std::vector<LineChunk<W>> slots(static_cast<size_t>(window));
    std::mutex mutex;
    std::condition_variable changed;
    int32_t nextChunk = 0;
    int32_t committed = 0;
    // Set when the search is left early: by a failure of a worker, or by the end of the run
    // while the main thread commits.
    bool stopping = false;
    auto worker = [&]() {
      for (;;) {
        int32_t c;
        {
          std::unique_lock<std::mutex> lock(mutex);
          changed.wait(lock, [&] {
            return stopping || nextChunk >= chunkCount || nextChunk < committed + window;
          });
          if (stopping || nextChunk >= chunkCount) return;
          c = nextChunk++;
        }
        LineChunk<W>& chunk = slots[static_cast<size_t>(c % window)];
        searchChunk(chunk, c);
        {
          std::lock_guard<std::mutex> lock(mutex);
          chunk.ready = true;
        }
        changed.notify_all();
      }
    };
    WorkerGroup pool([&] {
      {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
      }
      changed.notify_all();
    });
    for (unsigned t = 0; t < threads; ++t) pool.Start(worker);
    for (int32_t c = 0; c < chunkCount; ++c) {
      LineChunk<W>& chunk = slots[static_cast<size_t>(c % window)];
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return chunk.ready || stopping; });
        if (!chunk.ready) break;  // a worker failed: Join throws its exception
      }
      Commit(chunk);
      {
        std::lock_guard<std::mutex> lock(mutex);
        chunk.ready = false;
        ++committed;
      }
      changed.notify_all();
    }
    pool.Join();
  }

  // Searches one line without touching the state: outcome and events go to the chunk.
  void SearchLine(int32_t i, const ValueBitmap<W>* bitmap, LineChunk<W>& chunk) const {
    const TableRecord<W>& r = records_[i];
    LineOutcome<W> out{i, r.lowerCursor, r.upperCursor, false, v(i) <= midpoint_, 0, 0, 0, 0};
    const size_t eventsFrom = chunk.events.size();
    if (out.lowerCursor != 0) {
      CheckCursors(i, out.lowerCursor, out.upperCursor);
      const Value m = v(i);
      if (bitmap != nullptr) {
        DenseWalker<W> walker(records_, n_, *bitmap);
        walker.HandOffOnlyLonger(s_.minSaveLength > 3);
        walker.HandOffOnlyLongerThanFour(s_.minSaveLength > 4);
        auto handOff = [&](Value d) { FollowDense(*bitmap, m, d, chunk.events); };
        if (out.lowerPass) {
          out.check = walker.LowerLine(i, out.lowerCursor, out.upperCursor, handOff);
        } else {
          walker.UpperLine(i, out.lowerCursor, out.upperCursor, handOff);
        }
      } else {
        auto handOff = [&](int32_t lo, int32_t hi, Value d) {
          const ProgressionEnd end =
              FollowProgression(s_, static_cast<Value>(v(hi) + d), d, hi + 1, 3);
          if (end.pending || end.termCount >= s_.minSaveLength)
            chunk.events.push_back({d, lo, end});
        };
        if (out.lowerPass) {
          out.check =
              ReferenceLowerLine<W>(records_, n_, i, out.lowerCursor, out.upperCursor, handOff);
        } else {
          ReferenceUpperLine<W>(records_, n_, i, out.lowerCursor, out.upperCursor, handOff);
        }
      }
    }
    if (!out.lowerPass) out.check = true;
    out.pendingCount = EncodeContinuations(i, eventsFrom, chunk);
    out.eventsEnd = static_cast<uint32_t>(chunk.events.size());
    out.storeEnd = static_cast<uint32_t>(chunk.store.size());
    out.inspectionEnd = static_cast<uint32_t>(chunk.inspection.size());
    chunk.lines.push_back(out);
  }

  // Puts the line's continuations into the store's form here, off the main thread: one group
  // (the marker of the line, then the first indices) and the inspection lines of the long ones.
  // Only the finished progressions stay events. Returns the number of continuations.
  int32_t EncodeContinuations(int32_t i, size_t from, LineChunk<W>& chunk) const {
    size_t kept = from;
    int32_t count = 0;
    for (size_t k = from; k < chunk.events.size(); ++k) {
      const HandOffEvent<W> e = chunk.events[k];
      if (!e.end.pending) {
        chunk.events[kept++] = e;
        continue;
      }
      if (count++ == 0) AppendEntry(chunk.store, -i);
      AppendEntry(chunk.store, e.firstIndex);
      if (e.end.termCount >= s_.minSaveLength) {
        AppendProgressionLine<W>(chunk.inspection, e.end.termCount, v(e.firstIndex),
                                 static_cast<Value>(v(i) - v(e.firstIndex)));
      }
    }
    chunk.events.resize(kept);
    return count;
  }

  static void AppendEntry(std::vector<unsigned char>& bytes, int32_t entry) {
    const auto x = static_cast<uint32_t>(entry);
    const unsigned char b[4] = {static_cast<unsigned char>(x), static_cast<unsigned char>(x >> 8),
                                static_cast<unsigned char>(x >> 16),
                                static_cast<unsigned char>(x >> 24)};
    bytes.insert(bytes.end(), b, b + 4);
  }

  // Follows m - d, m, m + d upward with the bitmap, one bit test per further term, and keeps
  // the progression when it leaves a trace (a result line or a pending entry).
  void FollowDense(const ValueBitmap<W>& bitmap, Value m, Value d,
                   std::vector<HandOffEvent<W>>& events) const {
    const uint64_t step = static_cast<uint64_t>(d);
    const uint64_t largest = bitmap.Largest();
    uint64_t next = static_cast<uint64_t>(m) + 2 * step;
    int32_t count = 3;
    if (bitmap.OddOnly() && next % 2 == 1 && step % 2 == 0) {
      // Every term is odd: the odd bitmap, half the size, stays nearer in the caches.
      while (next <= largest && bitmap.ContainsOdd(next)) {
        ++count;
        next += step;
      }
    } else {
      while (next <= largest && bitmap.Contains(next)) {
        ++count;
        next += step;
      }
    }
    // Over a table of odd numbers the scan has already kept only the progressions whose fourth
    // (and, with four terms in the table, fifth) term lies in the table or is left open by the
    // sieved list.
    const bool screened = bitmap.OddOnly() && m % 2 == 1 &&
                          (count == 3 ? s_.minSaveLength > 3 : count == 4 && s_.minSaveLength > 4);
    bool pending = next > largest && (screened || !bitmap.RuledOut(static_cast<Value>(next)));
    if (pending && s_.prune) {
      pending = MayReachLength<W>(static_cast<Value>(next), d, count, s_.minSaveLength,
                                  [&bitmap](Value x) { return bitmap.RuledOut(x); });
    }
    if (!pending && count < s_.minSaveLength) return;
    events.push_back({d, bitmap.IndexOf(static_cast<uint64_t>(m) - step), {pending, count}});
  }

  void Commit(const LineChunk<W>& chunk) {
    uint32_t event = 0;
    uint32_t stored = 0;
    uint32_t inspected = 0;
    PendingList& pending = s_.pending;
    for (const LineOutcome<W>& out : chunk.lines) {
      TableRecord<W>& r = records_[out.line];
      r.lowerCursor = out.lowerCursor;
      r.upperCursor = out.upperCursor;
      for (; event < out.eventsEnd; ++event) {
        const HandOffEvent<W>& e = chunk.events[event];
        ApplyProgressionEnd(s_, e.end, e.firstIndex, out.line, e.difference);
      }
      pending.encoded.insert(pending.encoded.end(), chunk.store.begin() + stored,
                             chunk.store.begin() + out.storeEnd);
      pending.inspection.append(chunk.inspection, inspected, out.inspectionEnd - inspected);
      pending.encodedCount += out.pendingCount;
      stored = out.storeEnd;
      inspected = out.inspectionEnd;
      if (out.check) ProgressCheck(out.line, out.lowerPass);
      // Between two displays the work found is held in memory; past a fixed amount it goes to
      // the files at once, with the checkpoint that covers it. A line's continuations share
      // one group of the store, so a flush at a line's end leaves the store's bytes as they
      // would have been.
      if (pending.pendingCount + pending.encodedCount >= s_.heldPendingLimit ||
          HeldResultBytes() >= s_.heldResultBytesLimit) {
        WriteCheckpoint(out.line);
      }
    }
  }

  size_t HeldResultBytes() const {
    size_t bytes = 0;
    for (const std::string& lines : s_.resultLines) bytes += lines.size();
    return bytes;
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
    if (s_.observer != nullptr) s_.observer->Progress(RunPhase::kLength3, percent);
    WriteCheckpoint(i);
    lastDisplay_ = Os().TickCount();
  }

  // Result lines first, then the pending continuations, then the records through line `last`:
  // whatever the checkpoint records as done has its results on disk already.
  void WriteCheckpoint(int32_t last) {
    FlushResultLines(s_);
    if (s_.pending.pendingCount > 0 || s_.pending.encodedCount > 0) SaveContData(s_);
    SaveHalfData(s_, firstUnsaved_, last - firstUnsaved_ + 1);
    firstUnsaved_ = last + 1;
  }

  SearchState<W>& s_;
  const int32_t n_;
  TableRecord<W>* records_;
  Value midpoint_ = 0;
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
