// The pending list: the progressions that may continue beyond the largest number, held until the
// continuation store takes them.
#include <algorithm>

#include "search/files/files.h"

namespace kv {

void GrowPendingList(PendingList& list) {
  if (list.pendingCount >= list.pendingCapacity ||
      static_cast<size_t>(list.pendingCount) >= list.entries.size()) {
    list.pendingCapacity = std::max(list.pendingCapacity, list.pendingCount) + 200000;
    list.entries.resize(static_cast<size_t>(list.pendingCapacity));
  }
}

void AddPendingEntry(PendingList& list, const PendingEntry& entry) {
  // Callers that do not grow the list after each hand-off still never write past its end.
  GrowPendingList(list);
  list.entries[static_cast<size_t>(list.pendingCount)] = entry;
  ++list.pendingCount;
}

}  // namespace kv
