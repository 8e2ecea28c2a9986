// The continuation store's layout as the readers and the writer of the store find it.
#include "format/storeform.h"

namespace kv {

StoreLayout StoreLayoutOf(int64_t size, const unsigned char* head) {
  StoreLayout layout;
  if (size >= 4 && StoreHeadIsUngrouped(head)) {
    layout.ungrouped = true;
    layout.itemBytes = kStoreRecordBytes;
    layout.items = size / kStoreRecordBytes;
  } else if (size >= kStoreHeaderBytes) {
    layout.start = kStoreHeaderBytes;
    layout.items = (size - kStoreHeaderBytes) / kStoreEntryBytes;
  }
  return layout;
}

int64_t StoreAppendOffset(int64_t size) {
  if (size < kStoreHeaderBytes) return -1;
  return kStoreHeaderBytes + (size - kStoreHeaderBytes) / kStoreEntryBytes * kStoreEntryBytes;
}

}  // namespace kv
