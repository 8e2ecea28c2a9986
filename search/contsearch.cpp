// Re-examining the stored progressions against the grown table.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/numtext.h"
#include "format/filenames.h"
#include "format/instantiate.h"
#include "format/storeform.h"
#include "mpi/job.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "search/engine/follow.h"
#include "search/engine/parallel.h"
#include "search/engine/sievedbitmap.h"
#include "search/engine/team.h"
#include "search/engine/valuebitmap.h"
#include "search/files/journal.h"
#include "search/phases.h"

namespace kv {
namespace {

constexpr const char* kTextFile = kStoreTextFile;
constexpr const char* kSavedTextFile = kSavedStoreTextFile;
constexpr const char* kTempFile = kExaminedStoreFile;
constexpr int64_t kBlockItems = 100000;
// The share of a block that a following thread takes at a time.
constexpr int64_t kPieceItems = 1024;
constexpr int32_t kListCapacity = 100000;

// Exists as a file that can be read (a directory of that name does not count).
bool IsReadableFile(const std::string& name) {
  auto file = Os().OpenRead(name);
  if (!file) return false;
  file->Close();
  return true;
}

// The rest of the run depends on the temporary store being gone: while it exists, the next run
// takes the new store for a partial rewrite and deletes it.
[[noreturn]] void StopRun(const char* what, const char* file = kTempFile) {
  EmergencyStop(std::string(file) + " : " + what, file);
}

template <typename W>
class Reexamination {
 public:
  using Value = typename W::Value;

  // A header that claims more records than are loaded must not lead the walk off the table.
  explicit Reexamination(SearchState<W>& s)
      : s_(s),
        last_(std::min(s.table.DataCount(), s.table.recordCount - 1)),
        followers_(SearchThreads(s)) {
    s_.pending = PendingList{};
    s_.pending.entries.resize(kListCapacity);
    s_.pending.pendingCapacity = kListCapacity;
    if (!s_.testing.referenceEngine && ValueBitmap<W>::Suits(s_.table.records.data(), last_)) {
      // Without the memory for the bitmaps the progressions are followed by bisection.
      try {
        bitmap_ = std::make_unique<ValueBitmap<W>>(s_.table.records.data(), last_);
        sieved_ = std::make_unique<SievedBitmap<W>>(s_.sieved);
      } catch (const std::bad_alloc&) {
        bitmap_.reset();
        sieved_.reset();
      }
    }
  }
  ~Reexamination() {
    s_.pending = PendingList{};
    if (helperThreads_.empty()) return;
    // Left early (a failed write), the answers still out are taken before the other ranks are
    // told that the search is over.
    try {
      CollectShares(following_);
      const std::vector<unsigned char> end{static_cast<unsigned char>(Order::kEnd)};
      for (size_t r = 1; r <= helperThreads_.size(); ++r) {
        job::Send(static_cast<int>(r), job::kOrders, end);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      job::Abort(1);
    }
  }
  Reexamination(const Reexamination&) = delete;
  Reexamination& operator=(const Reexamination&) = delete;

  // In a job, the other ranks get what the search reads and follow their shares of each block.
  void BeginHelpers() {
    if (s_.testing.referenceEngine) return;
    helperThreads_ = BeginSearchOnHelpers(Order::kContBegin, s_);
    shares_.assign(helperThreads_.size(), {0, 0});
  }

  // Another rank's share of a block: the items of `items` (their marker in force before the
  // first) followed into steps, sent back as they are.
  void ServeShare(Unpacker& u, std::vector<unsigned char>& answer) {
    Block& block = following_;
    block.grouped = u.Get<bool>();
    block.second = u.Get<int64_t>();
    const auto first = u.Get<int64_t>();
    u.GetArray(block.bytes);
    block.count = static_cast<int64_t>(block.bytes.size()) /
                  (block.grouped ? kStoreEntryBytes : kStoreRecordBytes);
    block.steps.resize(static_cast<size_t>(block.count));
    followers_.Start(block.count, kPieceItems,
                     [this](int64_t begin, int64_t end) { Follow(following_, begin, end); });
    followers_.Wait();
    answer.clear();
    Packer p(answer);
    p.Put(first);
    p.PutArray(block.steps.data(), block.steps.size());
  }

  // Works through the temporary store; returns false when it could not be read whole.
  bool Run(uint32_t startTick) {
    startTick_ = startTick;
    lastShown_ = startTick;
    auto file = Os().OpenRead(kTempFile);
    if (!file) return false;
    const int64_t size = file->Size();
    if (size < 0) {
      file->Close();
      return false;
    }
    unsigned char head[4] = {0, 0, 0, 0};
    if (size >= 4 && !ReadExactly(*file, head, 4)) {
      file->Close();
      return false;
    }
    const StoreLayout layout = StoreLayoutOf(size, head);
    if (layout.ungrouped) {
      // The older layout was judged by its first record: the timing starts afresh here.
      startTick_ = Os().TickCount();
      lastShown_ = startTick_;
    }
    bool ok = true;
    // A grouped store shorter than its header holds nothing.
    if (layout.ungrouped || size >= kStoreHeaderBytes) {
      ok = file->SeekTo(layout.start) && Items(*file, layout);
    }
    file->Close();
    return ok;
  }

  void PrintTiming() {
    const uint32_t elapsed = Os().TickCount() - startTick_;
    Locate(0, s_.consoleRow);
    PrintLine(RealToText(static_cast<double>(elapsed)) + " [ms] : ContSearch" +
              std::string(35, ' '));
    s_.consoleRow += 1;
    if (carried_ > 0) {
      PrintLine("現在のデータで調べられない数列 " + RealToText(static_cast<double>(carried_)) +
                " 件は、そのまま保存しました。");
      s_.consoleRow += 1;
    }
    if (dropped_ > 0) {
      PrintLine(std::string(kTempFile) + " の読み取れない項目 " +
                RealToText(static_cast<double>(dropped_)) + " 件は、破棄しました。");
      s_.consoleRow += 1;
    }
  }

 private:
  // What an item of the store comes to: nothing (a group marker), a drop (unreadable), a
  // progression kept as it was, or one to follow.
  enum class Kind : uint8_t { kMarker, kDropped, kCarried, kFollowed };

  struct Step {
    Kind kind;
    int32_t first;
    int32_t second;
    Value next;
    Value difference;
    int32_t searchFrom;
    int32_t termCount;
    ProgressionEnd end;
  };

  // A block of the store as read, the steps made from it, and how far the store had been read at
  // its end.
  struct Block {
    std::vector<unsigned char> bytes;
    int64_t count = 0;
    bool grouped = false;
    // The group marker in force at the block's start.
    int64_t second = 0;
    std::vector<Step> steps;
    int64_t done = 0;
  };

  bool Items(FileHandle& file, const StoreLayout& layout) {
    const int64_t total = layout.items;
    // The group marker in force carries over from one block to the next.
    int64_t second = 0;
    for (int64_t done = 0; done < total;) {
      const int64_t count = std::min(total - done, kBlockItems);
      if (!Read(file, count, layout.itemBytes)) return FinishBlocks(false);
      reading_.grouped = !layout.ungrouped;
      reading_.second = second;
      second = Entries(reading_).SecondAfter();
      done += count;
      EndBlock(done, total);
    }
    return FinishBlocks(true);
  }

  bool Read(FileHandle& file, int64_t count, int64_t itemBytes) {
    reading_.bytes.resize(static_cast<size_t>(count * itemBytes));
    reading_.count = count;
    return ReadExactly(file, reading_.bytes.data(), count * itemBytes);
  }

  static StoreEntries Entries(const Block& block) {
    return {block.bytes.data(), block.count, block.grouped, block.second};
  }

  // One item of the grouped form: its first three terms are taken as present, so the walk
  // seeks the fourth from two places after the second and derives the length again from 3.
  Step GroupedStep(const StoreItem& item) const {
    if (item.second < 1 || item.second > std::numeric_limits<int32_t>::max()) {
      // No group marker names its second term: nothing to examine or store.
      return {Kind::kDropped, 0, 0, 0, 0, 0, 0, {}};
    }
    const auto first = static_cast<int32_t>(item.first);
    const auto secondIndex = static_cast<int32_t>(item.second);
    if (first > last_ || secondIndex > last_ || secondIndex <= first) {
      return Carried(first, secondIndex);
    }
    const Value a = s_.table.ValueAt(first);
    const Value b = s_.table.ValueAt(secondIndex);
    const Value d = b - a;
    // Only a damaged table gives no step; a step this large never had three terms in a table.
    if (d == 0 || d > (std::numeric_limits<Value>::max() - b) / 2) {
      return Carried(first, secondIndex);
    }
    return {Kind::kFollowed, first, secondIndex, static_cast<Value>(b + d + d), d,
            secondIndex + 2, 3,     {}};
  }

  // One record of the older layout: its length and search-start index are used as they are.
  Step UngroupedStep(const StoreItem& item) const {
    constexpr int64_t kMaxIndex = std::numeric_limits<int32_t>::max();
    const uint32_t length = item.length;
    const uint32_t searchFrom = item.searchFrom;
    if (item.first < 1 || item.second < 1 || item.first > kMaxIndex || item.second > kMaxIndex) {
      // The grouped form cannot hold such indices.
      return {Kind::kDropped, 0, 0, 0, 0, 0, 0, {}};
    }
    const auto firstIndex = static_cast<int32_t>(item.first);
    const auto secondIndex = static_cast<int32_t>(item.second);
    // The terms lie at ascending indices, so the one after the last found term is at least
    // length - 1 places after the second; it may lie one past the end of the table.
    const int64_t lowestStart = item.second + int64_t{length} - 1;
    if (firstIndex > last_ || secondIndex > last_ || secondIndex <= firstIndex || length < 3 ||
        searchFrom < lowestStart || searchFrom > int64_t{last_} + 1) {
      return Carried(firstIndex, secondIndex);
    }
    const Value a = s_.table.ValueAt(firstIndex);
    const Value b = s_.table.ValueAt(secondIndex);
    const Value d = b - a;
    const Value steps = length - 1;
    if (d == 0 || steps > (std::numeric_limits<Value>::max() - b) / d) {
      return Carried(firstIndex, secondIndex);
    }
    return {Kind::kFollowed,
            firstIndex,
            secondIndex,
            static_cast<Value>(b + steps * d),
            d,
            static_cast<int32_t>(searchFrom),
            static_cast<int32_t>(length),
            {}};
  }

  // The store is shared by both builds, whose tables may differ: what this table cannot
  // examine goes into the new store as it was. Its length is unknown here, so it gets no line
  // in the inspection text.
  static Step Carried(int32_t first, int32_t second) {
    return {Kind::kCarried, first, second, 0, 0, 0, 0, {}};
  }

  // Makes the steps of items [begin, end) of a block and follows their progressions. A piece of
  // a grouped block finds the group marker in force at its start by looking back.
  void Follow(Block& block, int64_t begin, int64_t end) const {
    const bool grouped = block.grouped;
    Entries(block).Decode(
        begin, end,
        [&](int64_t k, const StoreItem& item) {
          Step& step = block.steps[static_cast<size_t>(k)];
          step = grouped ? GroupedStep(item) : UngroupedStep(item);
          if (step.kind != Kind::kFollowed) return;
          step.end = bitmap_ ? FollowInBitmap(step)
                             : FollowProgression(s_, step.next, step.difference, step.searchFrom,
                                                 step.termCount);
        },
        [&](int64_t k) { block.steps[static_cast<size_t>(k)].kind = Kind::kMarker; });
  }

  // Takes the ends of a followed block in store order, exactly as if each progression had been
  // followed in turn.
  void Settle(const Block& block) {
    for (const Step& step : block.steps) {
      switch (step.kind) {
        case Kind::kMarker:
          continue;
        case Kind::kDropped:
          ++dropped_;
          break;
        case Kind::kCarried:
          Keep(step.first, step.second);
          break;
        case Kind::kFollowed:
          ApplyProgressionEnd(s_, step.end, step.first, step.second, step.difference);
          break;
      }
      ++handled_;
    }
  }

  void Keep(int32_t first, int32_t second) {
    ++carried_;
    PendingList& list = s_.pending;
    if (list.pendingCount >= list.pendingCapacity) GrowPendingList(list);
    list.entries[static_cast<size_t>(list.pendingCount)] = {first, second, 0};
    ++list.pendingCount;
  }

  // A block read hands its items to the followers and writes the block before it, which was
  // followed while this one was read: the files see the blocks one after the other, as if each
  // had been read, followed and written in turn.
  void EndBlock(int64_t done, int64_t total) {
    reading_.done = done;
    total_ = total;
    followers_.Wait();
    CollectShares(following_);
    std::swap(writing_, following_);
    std::swap(following_, reading_);
    following_.steps.resize(static_cast<size_t>(following_.count));
    const int64_t own = HandOutShares(following_);
    followers_.Start(own, kPieceItems,
                     [this](int64_t begin, int64_t end) { Follow(following_, begin, end); });
    WriteBlock(writing_);
  }

  // Sends the other ranks the end of the block, each a share after its threads, and returns the
  // end of this rank's own share, at the block's start.
  int64_t HandOutShares(const Block& block) {
    if (helperThreads_.empty()) return block.count;
    uint64_t threads = followers_.Size();
    for (const unsigned t : helperThreads_) threads += t;
    const auto shareOf = [&](uint64_t t) {
      return static_cast<int64_t>(static_cast<uint64_t>(block.count) * t / threads);
    };
    const int64_t own = shareOf(followers_.Size());
    int64_t begin = own;
    const int64_t itemBytes = block.grouped ? kStoreEntryBytes : kStoreRecordBytes;
    std::vector<unsigned char> order;
    for (size_t r = 0; r < helperThreads_.size(); ++r) {
      const int64_t end =
          r + 1 == helperThreads_.size() ? block.count : begin + shareOf(helperThreads_[r]);
      shares_[r] = {begin, end};
      if (end > begin) {
        order.clear();
        Packer p(order);
        p.Put(Order::kWork);
        p.Put(block.grouped);
        p.Put(Entries(block).SecondBefore(begin));
        p.Put(begin);
        p.PutArray(block.bytes.data() + begin * itemBytes,
                   static_cast<size_t>((end - begin) * itemBytes));
        job::Send(static_cast<int>(r + 1), job::kOrders, order);
      }
      begin = end;
    }
    return own;
  }

  // Files the other ranks' steps of the block in their places.
  void CollectShares(Block& block) {
    std::vector<unsigned char> answer;
    std::vector<Step> steps;
    for (size_t r = 0; r < shares_.size(); ++r) {
      auto& [begin, end] = shares_[r];
      if (end <= begin) continue;
      job::Receive(static_cast<int>(r + 1), job::kAnswers, answer);
      Unpacker u(answer);
      const auto first = u.Get<int64_t>();
      u.GetArray(steps);
      if (first != begin || static_cast<int64_t>(steps.size()) != end - begin ||
          end > static_cast<int64_t>(block.steps.size())) {
        throw std::runtime_error("an answer does not fit its share of the block");
      }
      std::copy(steps.begin(), steps.end(), block.steps.begin() + begin);
      begin = end = 0;
    }
  }

  // Writes the block still being followed and passes `ok` on. After a failed read, what was
  // read before it is written, as it always was.
  bool FinishBlocks(bool ok) {
    followers_.Wait();
    CollectShares(following_);
    std::swap(writing_, following_);
    WriteBlock(writing_);
    return ok;
  }

  // The results of a block reach their files before its continuations reach the store, so a
  // stop between blocks loses nothing.
  void WriteBlock(Block& block) {
    if (block.done == 0) return;
    Settle(block);
    FlushResultLines(s_);
    if (s_.pending.pendingCount > 0) SaveContData(s_);
    const int64_t done = block.done;
    block.done = 0;
    const uint32_t now = Os().TickCount();
    if (now - lastShown_ <= 2000) return;
    const double percent =
        std::floor(1000.0 * static_cast<double>(done) / static_cast<double>(total_)) / 10;
    Locate(0, s_.consoleRow);
    PrintLine("Continuance Data  " + RealToText(static_cast<double>(handled_)) +
              "  : finished. ( " + RealToText(percent) + " %)    ");
    if (s_.observer != nullptr) s_.observer->Progress(RunPhase::kContinuation, percent);
    lastShown_ = now;
  }

  // FollowProgression with one bit test per term instead of a bisection of the table, on a
  // table dense enough for a bitmap of its values; a term found below the place where the
  // bisection would begin counts as missing there too.
  ProgressionEnd FollowInBitmap(const Step& step) const {
    const uint64_t largest = bitmap_->Largest();
    Value next = step.next;
    int32_t searchFrom = step.searchFrom;
    int32_t termCount = step.termCount;
    while (next <= largest) {
      if (!bitmap_->Contains(next)) return {false, termCount};
      const int32_t k = bitmap_->IndexOf(next);
      if (k < searchFrom) return {false, termCount};
      ++termCount;
      searchFrom = k + 1;
      next += step.difference;
    }
    if (sieved_->RuledOut(next)) return {false, termCount};
    if (s_.prune && !MayReachLength<W>(next, step.difference, termCount, s_.minSaveLength,
                                       [this](Value x) { return sieved_->RuledOut(x); })) {
      return {false, termCount};
    }
    return {true, termCount};
  }

  SearchState<W>& s_;
  const int32_t last_;
  std::unique_ptr<ValueBitmap<W>> bitmap_;
  std::unique_ptr<SievedBitmap<W>> sieved_;
  // Three blocks in turn: one being read, one being followed, one being written. Their buffers
  // are reused from block to block.
  Block reading_;
  Block following_;
  Block writing_;
  int64_t total_ = 0;
  uint32_t startTick_ = 0;
  uint32_t lastShown_ = 0;
  int64_t handled_ = 0;
  int64_t carried_ = 0;
  int64_t dropped_ = 0;
  // In a job, the other ranks' thread counts, and the share of the block being followed that each
  // holds (begin, end; empty when none).
  std::vector<unsigned> helperThreads_;
  std::vector<std::pair<int64_t, int64_t>> shares_;
  // Last, so that a run that ends early waits for the followers before anything they read goes.
  PieceCrew followers_;
};

}  // namespace

template <typename W>
void ContSearch(SearchState<W>& s) {
  const uint32_t startTick = Os().TickCount();

  // A saved text form is restored first; it is deleted only once its copy is in place.
  if (IsReadableFile(kSavedTextFile) && Os().Copy(kSavedTextFile, kTextFile)) {
    Os().Remove(kSavedTextFile);
  }

  // A store beside the temporary file is the partial rewrite of an interrupted run. The journal
  // has already cut it back to what the re-examination had not yet written; without a journal it
  // goes whole. Either happens before the text form is converted, so that the converted records
  // are kept.
  const bool resuming = Os().Exists(kTempFile);
  if (resuming && !JournalMended()) {
    Os().Remove(kStoreFile);
    Os().Remove(kInspectionFile);
  }
  // Once its records are in the store, the text form goes in the same step as the journal
  // records the store's new length: a stop converts it again, from the store as it was before.
  // Without a journal, the records converted beside a temporary store sit in a store that a stop
  // of this re-examination would delete: the text form then stays until the work is done.
  bool removeTextLater = false;
  if (Os().Exists(kTextFile) && ReadContText(s)) {
    if (resuming && !JournalOpen()) {
      removeTextLater = true;
    } else {
      RunPoint next = JournalPoint();
      next.converting = false;
      // A text form left behind would be converted a second time by the next run.
      const bool removed = JournalAdvance(next, {}, [] {
        const bool saved = !Os().Exists(kSavedTextFile) || Os().Remove(kSavedTextFile);
        return Os().Remove(kTextFile) && saved;
      });
      if (!removed) StopRun("ファイル削除に失敗しました。", kTextFile);
    }
  }
  // A store that cannot be moved to its work name would be skipped in silence, and the
  // progressions it holds decided only in some later run, under that run's shortest length.
  if (!resuming && Os().Exists(kStoreFile)) {
    RunPoint next = JournalPoint();
    next.examining = true;
    const bool moved = JournalAdvance(next, {kStoreFile, kInspectionFile},
                                      [] { return Os().Rename(kStoreFile, kTempFile); });
    if (!moved && Os().Exists(kStoreFile)) StopRun("ファイル名の変更に失敗しました。", kStoreFile);
  }

  if (!Os().Exists(kTempFile)) {
    PrintLine("Skip : ContSearch");
    s.consoleRow += 1;
    return;
  }
  // The re-examination rebuilds the inspection text from nothing.
  if (!resuming && !Os().Remove(kInspectionFile) && Os().Exists(kInspectionFile)) {
    StopRun("ファイル削除に失敗しました。", kInspectionFile);
  }

  Reexamination<W> work(s);
  work.BeginHelpers();
  if (!work.Run(startTick)) StopRun("ファイル読み込みに失敗しました。");
  RunPoint next = JournalPoint();
  next.examining = false;
  if (!JournalAdvance(next, {}, [] { return Os().Remove(kTempFile); })) {
    StopRun("ファイル削除に失敗しました。");
  }
  if (removeTextLater) Os().Remove(kTextFile);
  work.PrintTiming();
}

template <typename W>
void ServeContSearch(const std::vector<unsigned char>& begin) {
  Unpacker u(begin, 2);
  SearchState<W> s;
  UnpackSearchData(u, s);
  Reexamination<W> work(s);
  std::vector<unsigned char> message;
  Packer(message).Put(static_cast<uint32_t>(SearchThreads(s)));
  job::Send(0, job::kAnswers, message);
  ServeOrders(message, [&work, &message](Unpacker& o) { work.ServeShare(o, message); });
}

#define KV_INSTANTIATE(W)                       \
  template void ContSearch<W>(SearchState<W>&); \
  template void ServeContSearch<W>(const std::vector<unsigned char>&);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
