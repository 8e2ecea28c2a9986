// Following progressions to their end, the result files and the binary search of the table.
#include <algorithm>
#include <string>

#include "console/numtext.h"
#include "platform/platform.h"
#include "search/instantiate.h"
#include "search/phases.h"
#include "search/walk.h"

namespace kv {
namespace {

// True when the result file holds no whole line yet: absent, or left empty or with a fragment by
// a first append that failed (the fragment is dropped before the next append). The header line
// then goes first.
bool NeedsHeaderLine(const std::string& name) {
  auto file = Os().OpenRead(name);
  if (!file) return !Os().Exists(name);
  char head[4096];
  const int64_t got = file->Read(head, sizeof head);
  file->Close();
  return got >= 0 && std::find(head, head + got, '\n') == head + got;
}

}  // namespace

template <typename W>
int32_t FindEntry(const NumberTable<W>& table, typename W::Value value, int32_t from, int32_t to) {
  while (from <= to) {
    const int32_t mid = from + (to - from) / 2;
    const auto v = table.ValueAt(mid);
    if (v == value) return mid;
    if (v < value) {
      from = mid + 1;
    } else {
      to = mid - 1;
    }
  }
  return 0;
}

template <typename W>
ProgressionEnd FollowProgression(const SearchState<W>& s, typename W::Value next,
                                 typename W::Value difference, int32_t searchFrom,
                                 int32_t termCount) {
  const NumberTable<W>& table = s.table;
  const auto largest = table.Largest();
  // A header that claims more records than are loaded must not lead the search off the table.
  const int32_t last = std::min(table.DataCount(), table.recordCount - 1);
  while (next <= largest) {
    const int32_t k = FindEntry(table, next, searchFrom, last);
    if (k == 0) return {false, termCount};
    ++termCount;
    searchFrom = k + 1;
    next += difference;
  }
  if (isRuledOut(s.sieved, next)) return {false, termCount};
  // A pruned search ends here what can never reach the shortest saved length.
  if (s.prune && !MayReachLength<W>(next, difference, termCount, s.minSaveLength,
                                    [&s](auto x) { return isRuledOut(s.sieved, x); })) {
    return {false, termCount};
  }
  return {true, termCount};
}

template <typename W>
void ApplyProgressionEnd(SearchState<W>& s, ProgressionEnd end, int32_t firstIndex,
                         int32_t secondIndex, typename W::Value difference) {
  if (!end.pending) {
    if (end.termCount >= s.minSaveLength) WriteResultLine(s, end.termCount, firstIndex, difference);
    return;
  }
  PendingList& list = s.pending;
  // Callers that do not grow the list after each hand-off still never write past its end.
  if (list.pendingCount >= list.pendingCapacity ||
      static_cast<size_t>(list.pendingCount) >= list.entries.size()) {
    GrowPendingList(list);
  }
  list.entries[static_cast<size_t>(list.pendingCount)] = {firstIndex, secondIndex, end.termCount};
  ++list.pendingCount;
}

template <typename W>
void ExtendProgression(SearchState<W>& s, typename W::Value next, int32_t firstIndex,
                       int32_t secondIndex, typename W::Value difference, int32_t searchFrom,
                       int32_t termCount) {
  ApplyProgressionEnd(s, FollowProgression(s, next, difference, searchFrom, termCount), firstIndex,
                      secondIndex, difference);
}

void GrowPendingList(PendingList& list) {
  if (list.pendingCount >= list.pendingCapacity ||
      static_cast<size_t>(list.pendingCount) >= list.entries.size()) {
    list.pendingCapacity = std::max(list.pendingCapacity, list.pendingCount) + 200000;
    list.entries.resize(static_cast<size_t>(list.pendingCapacity));
  }
}

template <typename W>
void WriteResultLine(SearchState<W>& s, int32_t termCount, int32_t firstIndex,
                     typename W::Value difference) {
  // Collected, not written: the line reaches its file with the next checkpoint.
  const auto length = static_cast<size_t>(termCount);
  if (s.resultLines.size() <= length) s.resultLines.resize(length + 1);
  AppendProgressionLine<W>(s.resultLines[length], termCount, s.table.ValueAt(firstIndex),
                           difference);
}

template <typename W>
void AppendProgressionLine(std::string& text, int32_t termCount, typename W::Value first,
                           typename W::Value difference) {
  text += "Len ";
  text += RealToText(static_cast<double>(termCount));
  text += ", ";
  text += IntegerToText(first);
  text += " + ";
  text += IntegerToText(difference);
  text += " *n\r\n";
}

template <typename W>
void FlushResultLines(SearchState<W>& s) {
  for (size_t length = 0; length < s.resultLines.size(); ++length) {
    std::string& lines = s.resultLines[length];
    if (lines.empty()) continue;
    const std::string name = ResultFileName(length);
    // A new file begins with its header line, written in the same append as its first lines.
    if (NeedsHeaderLine(name)) lines.insert(0, std::string(kResultHeaderLine) + "\r\n");
    AppendToTextFile(name, lines, false);
    lines.clear();
  }
}

#define KV_INSTANTIATE(W)                                                                    \
  template int32_t FindEntry<W>(const NumberTable<W>&, typename W::Value, int32_t, int32_t); \
  template void ExtendProgression<W>(SearchState<W>&, typename W::Value, int32_t, int32_t,   \
                                     typename W::Value, int32_t, int32_t);                   \
  template ProgressionEnd FollowProgression<W>(const SearchState<W>&, typename W::Value,     \
                                               typename W::Value, int32_t, int32_t);         \
  template void ApplyProgressionEnd<W>(SearchState<W>&, ProgressionEnd, int32_t, int32_t,    \
                                       typename W::Value);                                   \
  template void WriteResultLine<W>(SearchState<W>&, int32_t, int32_t, typename W::Value);    \
  template void FlushResultLines<W>(SearchState<W>&);                                        \
  template void AppendProgressionLine<W>(std::string&, int32_t, typename W::Value,           \
                                         typename W::Value);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
