// The phases and shared routines of the search program. Each is defined in its own source file
// and instantiated there for both widths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/state.h"

namespace kv {

// Number table and checkpoint files.
// What a loaded table must satisfy: each data record against the one before it (null for the
// first) in a table of n data records, and the header against the value of record `count`.
enum class TableFault { kNone, kOrder, kRange, kCursor, kHeader };
template <typename W>
TableFault CheckTableRecord(const TableRecord<W>& r, const TableRecord<W>* previous, int32_t n);
template <typename W>
TableFault CheckTableHeader(const TableRecord<W>& header, int32_t n,
                            typename W::Value valueAtCount);
// The lines that tell why a table file cannot be used; `index` is the first bad record.
std::vector<std::string> TableFaultLines(const std::string& file, TableFault fault, int32_t index);
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
// Reads a sieved list file; false, with the list left empty, when it is missing or unreadable.
template <typename W>
bool LoadSievedList(const std::string& name, SievedList<W>& list);

// Following progressions to their end (follow.cpp).
// The index of `value` among records `from` to `to` of the table; 0 when it is not there.
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

// The pending list (pending.cpp).
// Makes room for at least one more entry (200000 more when it is full).
void GrowPendingList(PendingList& list);
// Appends an entry, growing the list first when it is full.
void AddPendingEntry(PendingList& list, const PendingEntry& entry);

// The result files (resultfiles.cpp); the texts of their lines are in format/linetext.h.
template <typename W>
void WriteResultLine(SearchState<W>& s, int32_t termCount, int32_t firstIndex,
                     typename W::Value difference);
// Appends "Len n, a + d *n" and a line end: the line of a result file and of the inspection
// text. Safe from any thread.
template <typename W>
void AppendProgressionLine(std::string& text, int32_t termCount, typename W::Value first,
                           typename W::Value difference);
// Appends the collected result lines to their files (one write per file) and empties the
// collection. Called before the pending list is stored and before a checkpoint is written.
template <typename W>
void FlushResultLines(SearchState<W>& s);

// Appending to the system's text files (textfile.cpp).
void AppendToTextFile(const std::string& name, std::string_view text, bool addLineEnd);

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

// The search program started with command-line arguments: options answer their questions, then
// the run goes on as RunSearchProgram.
template <typename W>
[[noreturn]] void RunSearchCommand(SearchState<W>& s, const std::vector<std::string>& arguments);

// The prompts of the two questions of a run, for preset answers.
inline constexpr std::string_view kAddFilePrompt = "Enterを押して下さい : ";
inline constexpr std::string_view kMinLengthPrompt =
    "発見した数列は、長さ幾らからテキスト保存しますか？(3 - 20) :";

}  // namespace kv
