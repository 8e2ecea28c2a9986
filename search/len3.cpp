// The length-3 search over every unfinished middle term.
//
// Each line (middle term) keeps two cursors in its own record: the next candidate first term
// below it and the next candidate third term above it. The two walks alternate so that the
// line's differences are tried in increasing order, each once over the life of the table, and a
// progression is found only at its middle term: no three-term progression is handed off twice,
// in one run or across runs.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/numtext.h"
#include "format/instantiate.h"
#include "format/storeform.h"
#include "mpi/job.h"
#include "platform/platform.h"
#include "search/engine/densewalker.h"
#include "search/engine/follow.h"
#include "search/engine/parallel.h"
#include "search/engine/referencewalk.h"
#include "search/engine/team.h"
#include "search/engine/valuebitmap.h"
#include "search/phases.h"

namespace kv {
namespace {

constexpr uint32_t kDisplayInterval = 2000;  // milliseconds
constexpr int32_t kChunkLines = 32;
constexpr int32_t kFirstLine = 2;
// Another rank is handed this many chunks per thread at a time, and holds at most
// kOrdersInFlight such orders, so that the next is there when it finishes one. Orders much
// smaller than this leave a rank waiting for messages on a busy machine, where a search at idle
// priority is woken late.
constexpr int32_t kChunksPerThread = 64;
constexpr int32_t kOrdersInFlight = 2;

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

// A chunk as it travels from another rank to rank 0.
template <typename W>
void PackChunk(const LineChunk<W>& chunk, Packer& p) {
  p.Put(chunk.first);
  p.Put(chunk.last);
  p.PutArray(chunk.lines.data(), chunk.lines.size());
  p.PutArray(chunk.events.data(), chunk.events.size());
  p.PutArray(chunk.store.data(), chunk.store.size());
  p.PutArray(chunk.inspection.data(), chunk.inspection.size());
}

template <typename W>
void UnpackChunk(Unpacker& u, LineChunk<W>& chunk) {
  chunk.first = u.Get<int32_t>();
  chunk.last = u.Get<int32_t>();
  u.GetArray(chunk.lines);
  u.GetArray(chunk.events);
  u.GetArray(chunk.store);
  u.GetArray(chunk.inspection);
  // The committing thread indexes the table and the arrays with what the lines say.
  uint32_t events = 0;
  uint32_t stored = 0;
  uint32_t inspected = 0;
  int32_t line = chunk.first - 1;
  for (const LineOutcome<W>& out : chunk.lines) {
    if (out.line <= line || out.line > chunk.last || out.eventsEnd < events ||
        out.eventsEnd > chunk.events.size() || out.storeEnd < stored ||
        out.storeEnd > chunk.store.size() || out.inspectionEnd < inspected ||
        out.inspectionEnd > chunk.inspection.size()) {
      throw std::runtime_error("an answer's chunk does not hold together");
    }
    line = out.line;
    events = out.eventsEnd;
    stored = out.storeEnd;
    inspected = out.inspectionEnd;
  }
}

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
    midpoint_ = Midpoint();
    s_.pending.entries.assign(100000, PendingEntry{0, 0, 0});
    s_.pending.pendingCount = 0;
    s_.pending.pendingCapacity = 100000;

    if (s_.testing.referenceEngine) {
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

  // The fast engines over the table, as SearchLinesInChunks makes them; another rank makes the
  // same ones from the same data.
  void PrepareEngines() {
    midpoint_ = Midpoint();
    if (ValueBitmap<W>::Suits(records_, n_)) {
      // Without the memory for the bitmaps the walk of the cursors finds the same, slower.
      try {
        bitmap_ = std::make_unique<ValueBitmap<W>>(records_, n_, &s_.sieved,
                                                   s_.prune ? s_.minSaveLength : 0);
      } catch (const std::bad_alloc&) {
        bitmap_.reset();
      }
    }
  }

  // Chunk c holds lines kFirstLine + c * kChunkLines onward: the boundaries depend on the table
  // alone, whoever searches the chunk.
  int32_t ChunkCount() const { return (n_ - 1 - kFirstLine) / kChunkLines + 1; }
  void SearchChunk(LineChunk<W>& chunk, int32_t c) const {
    chunk.first = kFirstLine + c * kChunkLines;
    chunk.last = std::min(n_ - 1, chunk.first + kChunkLines - 1);
    chunk.lines.clear();
    chunk.events.clear();
    chunk.store.clear();
    chunk.inspection.clear();
    for (int32_t i = chunk.first; i <= chunk.last; ++i) SearchLine(i, bitmap_.get(), chunk);
  }

 private:
  Value v(int32_t k) const { return records_[k].value; }
  Value Midpoint() const {
    return static_cast<Value>((records_[1].value + records_[0].value) >> 1);
  }

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
    PrepareEngines();
    const unsigned threads = SearchThreads(s_);
    const int32_t chunkCount = ChunkCount();
    // The chunks handed to each other rank of a job at a time (none without a job).
    const std::vector<int32_t> orderChunks = BeginHelpers();
    const int helpers = static_cast<int>(orderChunks.size());

    if (threads == 1 && helpers == 0) {
      LineChunk<W> chunk;
      for (int32_t c = 0; c < chunkCount; ++c) {
        SearchChunk(chunk, c);
        Commit(chunk);
      }
      return;
    }

    // A window of chunks in flight bounds the memory, whatever the number of progressions.
    int32_t window = static_cast<int32_t>(4 * threads);
    for (const int32_t chunks : orderChunks) window += (kOrdersInFlight + 1) * chunks;
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
        SearchChunk(chunk, c);
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
    // The other ranks' share goes through one thread, the only one here that talks to them: it
    // hands out runs of chunks as the window allows and files the answers in their slots.
    auto courier = [&]() {
      std::vector<int> inFlight(static_cast<size_t>(helpers) + 1, 0);
      int outstanding = 0;
      std::vector<unsigned char> message;
      for (;;) {
        std::vector<std::pair<int, int32_t>> orders;  // rank, first chunk
        {
          std::unique_lock<std::mutex> lock(mutex);
          for (;;) {
            for (int r = 1; r <= helpers; ++r) {
              int& held = inFlight[static_cast<size_t>(r)];
              const int32_t chunks = orderChunks[static_cast<size_t>(r - 1)];
              while (!stopping && held < kOrdersInFlight && nextChunk < chunkCount &&
                     std::min(nextChunk + chunks, chunkCount) <= committed + window) {
                orders.emplace_back(r, nextChunk);
                nextChunk = std::min(nextChunk + chunks, chunkCount);
                ++held;
                ++outstanding;
              }
            }
            if (outstanding > 0 || stopping || nextChunk >= chunkCount) break;
            changed.wait(lock);
          }
        }
        for (const auto& [r, first] : orders) {
          const int32_t chunks = orderChunks[static_cast<size_t>(r - 1)];
          message.clear();
          Packer p(message);
          p.Put(Order::kWork);
          p.Put(first);
          p.Put(std::min(chunks, chunkCount - first));
          job::Send(r, job::kOrders, message);
        }
        if (outstanding == 0) break;
        const int from = job::Receive(job::kAnySource, job::kAnswers, message);
        --inFlight[static_cast<size_t>(from)];
        --outstanding;
        Unpacker u(message);
        const auto first = u.Get<int32_t>();
        const auto count = u.Get<int32_t>();
        if (first < 0 || count < 0 || first + count > chunkCount) {
          throw std::runtime_error("an answer names chunks that were not handed out");
        }
        for (int32_t c = first; c < first + count; ++c) {
          LineChunk<W>& chunk = slots[static_cast<size_t>(c % window)];
          UnpackChunk(u, chunk);
          if (chunk.first != kFirstLine + c * kChunkLines ||
              chunk.last != std::min(n_ - 1, chunk.first + kChunkLines - 1)) {
            throw std::runtime_error("an answer holds another chunk");
          }
        }
        {
          std::lock_guard<std::mutex> lock(mutex);
          for (int32_t c = first; c < first + count; ++c) {
            slots[static_cast<size_t>(c % window)].ready = true;
          }
        }
        changed.notify_all();
      }
      const std::vector<unsigned char> end{static_cast<unsigned char>(Order::kEnd)};
      for (int r = 1; r <= helpers; ++r) job::Send(r, job::kOrders, end);
    };
    for (unsigned t = 0; t < threads; ++t) pool.Start(worker);
    if (helpers > 0) {
      pool.Start([&courier] {
        try {
          courier();
        } catch (const std::exception& e) {
          // The other ranks may be waiting to send: no orderly end is left.
          std::fprintf(stderr, "%s\n", e.what());
          job::Abort(1);
        }
      });
    }
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
    StoreGroupEncoder group;
    for (size_t k = from; k < chunk.events.size(); ++k) {
      const HandOffEvent<W> e = chunk.events[k];
      if (!e.end.pending) {
        chunk.events[kept++] = e;
        continue;
      }
      ++count;
      group.Add(e.firstIndex, i, [&chunk](int32_t entry) { AppendStoreEntry(chunk.store, entry); });
      if (e.end.termCount >= s_.minSaveLength) {
        AppendProgressionLine<W>(chunk.inspection, e.end.termCount, v(e.firstIndex),
                                 static_cast<Value>(v(i) - v(e.firstIndex)));
      }
    }
    chunk.events.resize(kept);
    return count;
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
      if (pending.pendingCount + pending.encodedCount >= s_.testing.heldPendingLimit ||
          HeldResultBytes() >= s_.testing.heldResultBytesLimit) {
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

  // Sends the other ranks of a job what the search reads and learns how many threads each
  // searches with; returns the chunks handed to each at a time.
  std::vector<int32_t> BeginHelpers() const {
    const std::vector<uint32_t> threads = BeginSearchOnHelpers(Order::kLen3Begin, s_);
    const auto helpers = static_cast<int32_t>(threads.size());
    std::vector<int32_t> orderChunks;
    for (const uint32_t t : threads) {
      // A small table still goes out in several orders per rank.
      orderChunks.push_back(std::clamp(ChunkCount() / (8 * (helpers + 1)), 1,
                                       kChunksPerThread * static_cast<int32_t>(t)));
    }
    return orderChunks;
  }

  SearchState<W>& s_;
  const int32_t n_;
  TableRecord<W>* records_;
  Value midpoint_ = 0;
  std::unique_ptr<ValueBitmap<W>> bitmap_;
  uint32_t start_ = 0;
  uint32_t lastDisplay_ = 0;
  int32_t firstUnsaved_ = 1;
};

}  // namespace

template <typename W>
void Len3Search(SearchState<W>& s) {
  Len3Walker<W>(s).Run();
}

template <typename W>
void ServeLen3(const std::vector<unsigned char>& begin) {
  Unpacker u(begin, 2);
  SearchState<W> s;
  UnpackSearchData(u, s);
  Len3Walker<W> walker(s);
  walker.PrepareEngines();
  const unsigned threads = SearchThreads(s);
  std::vector<unsigned char> message;
  Packer(message).Put(static_cast<uint32_t>(threads));
  job::Send(0, job::kAnswers, message);

  PieceCrew crew(threads);
  std::vector<LineChunk<W>> chunks;
  ServeOrders(message, [&](Unpacker& o) {
    const auto first = o.Get<int32_t>();
    const auto count = o.Get<int32_t>();
    if (first < 0 || count < 0 || count > walker.ChunkCount() - first) {
      throw std::runtime_error("an order names chunks beyond the table");
    }
    if (chunks.size() < static_cast<size_t>(count)) chunks.resize(static_cast<size_t>(count));
    crew.Start(count, 1, [&](int64_t b, int64_t e) {
      for (int64_t k = b; k < e; ++k) {
        walker.SearchChunk(chunks[static_cast<size_t>(k)], first + static_cast<int32_t>(k));
      }
    });
    crew.Wait();
    message.clear();
    Packer p(message);
    p.Put(first);
    p.Put(count);
    for (int32_t k = 0; k < count; ++k) PackChunk(chunks[static_cast<size_t>(k)], p);
  });
}

#define KV_INSTANTIATE(W)                       \
  template void Len3Search<W>(SearchState<W>&); \
  template void ServeLen3<W>(const std::vector<unsigned char>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
