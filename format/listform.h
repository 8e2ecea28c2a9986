// The form of a sieved list, checked wherever one is loaded: entries 0 and 1 are the range, the
// rest are candidates in strictly ascending order inside it. A candidate out of order or out of
// range would rule out values that were never sieved, and the search would close progressions
// that in fact go on.
#pragma once

#include <cstdint>
#include <string>

#include "console/console.h"
#include "console/numtext.h"

namespace kv {

// The index of the first entry that breaks the form; -1 when the list is sound. A list of fewer
// than three entries (none, a range start alone, a range alone, even a trimmed one whose start
// lies above its end) is sound.
template <typename Value>
int64_t FirstBadListEntry(const Value* entries, int64_t count) {
  for (int64_t i = 2; i < count; ++i) {
    const Value v = entries[i];
    if (v < entries[0] || v > entries[1] || (i > 2 && v <= entries[i - 1])) return i;
  }
  return -1;
}

// Ends the run when the list is not sound, naming the file and its first bad entry.
template <typename Value>
void RefuseDamagedList(const std::string& name, const Value* entries, int64_t count) {
  const int64_t bad = FirstBadListEntry(entries, count);
  if (bad < 0) return;
  PrintLine(name + " は壊れています。");
  PrintLine("先頭から " + IntegerToText(static_cast<uint64_t>(bad + 1)) + " 番目の値 " +
            IntegerToText(static_cast<uint64_t>(entries[bad])) + " が、昇順でないか範囲 " +
            IntegerToText(static_cast<uint64_t>(entries[0])) + " - " +
            IntegerToText(static_cast<uint64_t>(entries[1])) + " の外にあります。");
  PrintLine("篩い掛けデータを作り直すか、このファイルを削除してから実行してください。");
  EndRun(kFailed);
}

}  // namespace kv
