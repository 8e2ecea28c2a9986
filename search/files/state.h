// The program-wide state of the search program and the records it keeps in memory and in its
// files (their file layout is that of format/records.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/runobserver.h"
#include "format/records.h"
#include "format/width.h"

namespace kv {

// The growable table: `records` holds recordCount used records and freeSlots free ones.
template <typename W>
struct NumberTable {
  std::vector<TableRecord<W>> records;
  int32_t recordCount = 0;
  int32_t freeSlots = 0;
  // Set by ReadData when the table in memory is ahead of its file (a checkpoint was laid over
  // it, or a header left behind was repaired): the run then saves it even if nothing is added.
  bool needsSave = false;

  typename W::Value Largest() const { return records[0].value; }
  int32_t DataCount() const { return records[0].lowerCursor; }
  typename W::Value ValueAt(int32_t index) const {
    return records[static_cast<size_t>(index)].value;
  }
};

// Entry 0 is the range start, entry 1 the range end, then the ascending candidates.
template <typename W>
struct SievedList {
  std::vector<typename W::Value> entries;
  uint32_t count = 0;
};

struct PendingEntry {
  int32_t firstIndex;
  int32_t secondIndex;
  int32_t termCount;
};

// Progressions that may continue beyond the largest number, in the order they were handed off.
struct PendingList {
  std::vector<PendingEntry> entries;
  int32_t pendingCount = 0;
  int32_t pendingCapacity = 0;
  // Continuations already in the store's form (a group marker, then first indices), as the fast
  // length-3 search hands them over, with their inspection lines. They are stored before
  // `entries`.
  std::vector<unsigned char> encoded;
  int32_t encodedCount = 0;
  std::string inspection;
};

// Limits and choices that only the tests and the benchmarks change; the programs keep these
// values.
struct TestSettings {
  // Largest recordCount that AddData may reach; every cursor (up to N + 1) must fit 32 bits.
  int32_t maxRecordCount = 2147483647;
  // Searches with the plain one-line-at-a-time engine that the fast engines are checked
  // against, on one thread.
  bool referenceEngine = false;
  // The fast engines write what they found to the files, with a checkpoint, once this many
  // continuations or bytes of result lines are held in memory.
  int32_t heldPendingLimit = 1 << 20;
  size_t heldResultBytesLimit = size_t{32} << 20;
};

template <typename W>
struct SearchState {
  using Value = typename W::Value;

  NumberTable<W> table;
  SievedList<W> sieved;
  int32_t consoleRow = 0;
  int32_t minSaveLength = 0;
  int16_t dataLoaded = 0;
  int16_t dataAdded = 0;
  PendingList pending;
  // Result lines found since the last checkpoint, by length (index = length), each file's lines
  // in the order found. They reach their files only together with the checkpoint that covers
  // them, so that an interrupted run neither repeats nor loses one.
  std::vector<std::string> resultLines;
  // Progressions that the sieved list shows can never reach minSaveLength terms are not
  // stored: each further term beyond the largest number must be one of the list's candidates.
  bool prune = false;
  // Told of the searches' progress and of the run's end; none for the program's own run.
  RunObserver* observer = nullptr;
  // Worker threads for the searches; 0 uses every hardware thread.
  unsigned threadCount = 0;
  TestSettings testing;
};

}  // namespace kv
