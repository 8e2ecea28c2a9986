// The phases and shared routines of the search program. Each is defined in its own source file
// and instantiated there for both widths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "search/state.h"

namespace kv {

// Number table and checkpoint files.
template <typename W>
int16_t ReadData(SearchState<W>& s);
template <typename W>
void AppendRecord(SearchState<W>& s, typename W::Value value);
template <typename W>
void UpdateHeader(SearchState<W>& s);
template <typename W>
void SaveData(SearchState<W>& s);
// Copies the table file to its backup (through a temporary file); a failure leaves the old backup
// and is reported in one line.
template <typename W>
void SaveBackup(SearchState<W>& s);
template <typename W>
void SaveHalfData(SearchState<W>& s, int32_t first, int32_t count);

// Merging new numbers from the user's file.
template <typename W>
int16_t AddData(SearchState<W>& s);

// Sieved list.
template <typename W>
void ReadSievedData(SearchState<W>& s);
template <typename W>
void SaveSievedData(SearchState<W>& s);
template <typename W>
bool isRuledOut(const SievedList<W>& list, typename W::Value v);

// Extension of progressions and the result files.
template <typename W>
int32_t FindEntry(const NumberTable<W>& table, typename W::Value value, int32_t from, int32_t to);
// Where a progression ends: finished (inside the table, or ruled out just beyond it) or
// pending (it may continue beyond the largest number), with the number of its terms.
struct ProgressionEnd {
  bool pending;
  int32_t termCount;
};
// Follows a progression through the table without changing anything (safe from any thread).
template <typename W>
ProgressionEnd FollowProgression(const SearchState<W>& s, typename W::Value next,
                                 typename W::Value difference, int32_t searchFrom,
                                 int32_t termCount);
// Writes a finished progression's result line (when long enough) or appends it to the pending
// list.
template <typename W>
void ApplyProgressionEnd(SearchState<W>& s, ProgressionEnd end, int32_t firstIndex,
                         int32_t secondIndex, typename W::Value difference);
template <typename W>
void ExtendProgression(SearchState<W>& s, typename W::Value next, int32_t firstIndex,
                       int32_t secondIndex, typename W::Value difference, int32_t searchFrom,
                       int32_t termCount);
void GrowPendingList(PendingList& list);
template <typename W>
void WriteResultLine(SearchState<W>& s, int32_t termCount, int32_t firstIndex,
                     typename W::Value difference);
void AppendToTextFile(const std::string& name, std::string_view text, bool addLineEnd);
// Appends the collected result lines to their files (one write per file) and empties the
// collection. Called before the pending list is stored and before a checkpoint is written.
template <typename W>
void FlushResultLines(SearchState<W>& s);

// Continuation store and its re-examination.
template <typename W>
void SaveContData(SearchState<W>& s);
// Returns true when the text form has been converted and may be deleted.
template <typename W>
bool ReadContText(SearchState<W>& s);
template <typename W>
void ContSearch(SearchState<W>& s);

// The length-3 search.
template <typename W>
void Len3Search(SearchState<W>& s);

// One whole run of the search program; ends the process.
template <typename W>
[[noreturn]] void RunSearchProgram(SearchState<W>& s);

}  // namespace kv
