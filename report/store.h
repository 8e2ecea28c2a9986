// The continuation store: every stored progression followed through the table as the search
// follows it, in batches spread over every core, in memory bounded by the batch size.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "report/literature.h"
#include "report/model.h"
#include "report/tableload.h"

namespace kv {

struct StoreSummary {
  bool present = false;
  bool ungrouped = false;  // the older layout of 16-byte records
  int64_t items = 0;       // stored progressions, tails included
  // Progressions counted once, at their current length: those that may still continue, and
  // those that the table or the sieved list now ends (the next run finishes them).
  std::map<int64_t, int64_t> openByLength;
  int64_t ending = 0;
  LiteratureTally literature;  // the open and the ending ones at their length in the table
};

// `progress(done, total)` is called on the calling thread after each batch, in bytes.
ReadStatus SummarizeStore(const std::string& directory, const TableView& table, CsvWriter& csv,
                          StoreSummary& summary, Problems& problems,
                          const std::function<void(int64_t, int64_t)>& progress);

}  // namespace kv
