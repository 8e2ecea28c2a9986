// The routines of the files the search keeps: the table and its checkpoint, the sieved list, the
// pending list, the result files, the system's text files and the continuation store. Each is
// defined in its own source file and instantiated there for both widths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/files/state.h"

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
// The index of `value` among records `from` to `to` of the table; 0 when it is not there.
template <typename W>
int32_t FindEntry(const NumberTable<W>& table, typename W::Value value, int32_t from, int32_t to);

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

// Continuation store and its text form.
template <typename W>
void SaveContData(SearchState<W>& s);
// Returns true when the text form has been converted and may be deleted.
template <typename W>
bool ReadContText(SearchState<W>& s);

}  // namespace kv
