// The journal of the files that the search program only ever appends to: result files, the
// continuation store and its inspection text, the skipped numbers and the checkpoint.
//
// A run resumes from a point that its files show: the table file (its header record and size),
// the checkpoint that belongs to it, and whether the store is being re-examined or a text form of
// it waits to be converted. For the present point the journal holds the length and the last bytes
// of each appended file; before a run moves to the next point it syncs those files and writes the
// journal anew (temporary file, sync, rename) with both points. A run that starts after a stop or
// a failure cuts every file back to the lengths of the point it finds, so that the work after
// that point is done once, not twice. See doc/journal.md.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace kv {

struct RunPoint {
  std::string tableHead;  // the table file's header record (empty: no such record)
  int64_t tableSize = -1;
  int64_t halfSize = -1;  // -1: no checkpoint that belongs to the table
  bool examining = false;
  bool converting = false;
  bool operator==(const RunPoint&) const = default;
};

// At the start of a run: mends the files after a stopped or failed run, then records the present
// point. Ends the run when the working directory cannot be written.
void OpenJournal(const std::string& tableFile, const std::string& halfFile, int64_t recordBytes);
// True while a run records its points in the journal.
bool JournalOpen();
// True when the files were brought back to a point recorded by an earlier run.
bool JournalMended();
// Before each append to a file: the journal learns its present length (at the first), and that
// the file is to be forced to disk before the next point. While the journal is open, appends do
// not force their files to disk themselves.
void JournalTrack(const std::string& name);
// Forces every file appended to since the last point to disk; ends the run when one cannot be.
void JournalSync();
// The present point (as the journal knows it).
RunPoint JournalPoint();
// Moves the run to `next`: forces the appended files to disk, records the present lengths of the
// appended files (the files in `gone` as absent) as those of `next`, does `move` and, when it
// succeeded, takes `next` as the present point. Returns what `move` returned. Without an open
// journal it only does `move`.
bool JournalAdvance(const RunPoint& next, std::initializer_list<const char*> gone,
                    const std::function<bool()>& move);
// The files need no mending any more: they are forced to disk and the journal is removed.
void CloseJournal();
// The run ends: the journal stays on disk as it is, and nothing more is recorded in it.
void LeaveJournal();

// Ends the run after a file could not be read, written, renamed or removed: prints `message`,
// then the stop line and the line that names `file` with the system's reason; exit status
// kFailed. What the files hold after the last point stays for the next run to cut back.
[[noreturn]] void EmergencyStop(const std::string& message, const std::string& file);

}  // namespace kv
