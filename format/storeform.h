// The continuation store's form, for every program that writes or reads `_ContData.dat`
// (doc/contstore.md). The grouped form: a header of three int32 entries (the mark -20, the table's
// data count plus 1, 0), then body entries; an entry of 0 or less is a group marker naming the
// second-term index of the items after it, one of 1 or more the first-term index of an item. The
// older ungrouped form, read but never written: 16-byte records of four uint32 (length so far,
// first index, second index, index from which the next term is sought).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/fileutil.h"

namespace kv {

// The first entry of a grouped store; a store whose first int32 is above it is ungrouped.
inline constexpr int32_t kStoreGroupedMark = -20;
inline constexpr int64_t kStoreHeaderBytes = 12;
// A body entry of the grouped form, and a record of the ungrouped one.
inline constexpr int64_t kStoreEntryBytes = 4;
inline constexpr int64_t kStoreRecordBytes = 16;

// True when a store beginning with these 4 bytes is in the older ungrouped form.
inline bool StoreHeadIsUngrouped(const unsigned char* head) {
  return LoadLE<int32_t>(head) > kStoreGroupedMark;
}

// Where the items of a store of `size` bytes lie: its form, the offset of its first item, the
// bytes of one item and their number. A grouped store shorter than its header holds nothing.
struct StoreLayout {
  bool ungrouped = false;
  int64_t start = 0;
  int64_t itemBytes = kStoreEntryBytes;
  int64_t items = 0;
};
// `head` holds the store's first 4 bytes when `size` is at least 4 and is not read otherwise.
StoreLayout StoreLayoutOf(int64_t size, const unsigned char* head);

// Where the next batch of a grouped store of `size` bytes goes: after its last whole entry, so
// that the torn tail of a write cut short shifts no later entry; -1 when the header itself is
// missing or torn and the batch must begin with a new one.
int64_t StoreAppendOffset(int64_t size);

// Gives each entry of the header that opens a store for a table of `dataCount` entries to
// `put(int32_t)`.
template <typename Put>
void EncodeStoreHeader(int32_t dataCount, Put&& put) {
  put(kStoreGroupedMark);
  put(static_cast<int32_t>(static_cast<uint32_t>(dataCount) + 1U));
  put(0);
}

inline void PutStoreEntry(unsigned char* at, int32_t entry) {
  StoreLE<uint32_t>(at, static_cast<uint32_t>(entry));
}
inline void AppendStoreEntry(std::vector<unsigned char>& bytes, int32_t entry) {
  unsigned char b[kStoreEntryBytes];
  PutStoreEntry(b, entry);
  bytes.insert(bytes.end(), b, b + kStoreEntryBytes);
}

// Puts items (first, second) into the grouped form: a group marker whenever the second index
// differs from the one of the item before (always before the first item of a batch).
class StoreGroupEncoder {
 public:
  template <typename Put>
  void Add(int32_t first, int32_t second, Put&& put) {
    if (second != second_) {
      put(-second);
      second_ = second;
    }
    put(first);
  }

 private:
  int32_t second_ = 0;
};

// One stored progression: the table indices of its first two terms and, in the ungrouped form
// only, its length so far and the index from which its next term is sought (0 in the grouped
// form). `second` is 0 for an item that no group marker precedes.
struct StoreItem {
  int64_t first;
  int64_t second;
  uint32_t length;
  uint32_t searchFrom;
};

// `count` consecutive items of a store's body as read into memory (`bytes`, the file's form),
// `second` being the group marker in force before the first of them. Any part of them can be
// decoded on its own, by any thread.
class StoreEntries {
 public:
  StoreEntries(const unsigned char* bytes, int64_t count, bool grouped, int64_t second)
      : bytes_(bytes), count_(count), grouped_(grouped), second_(second) {}

  // The group marker in force before entry `at`: the last marker before it among these entries,
  // otherwise the one in force before the first.
  int64_t SecondBefore(int64_t at) const {
    for (int64_t n = at - 1; grouped_ && n >= 0; --n) {
      const int32_t entry = Entry(n);
      if (entry <= 0) return -static_cast<int64_t>(entry);
    }
    return second_;
  }

  // Decodes entries [begin, end) in order: `item(k, StoreItem)` for each item, `marker(k)` for
  // each group marker, k being the entry's place among these entries.
  template <typename OnItem, typename OnMarker>
  void Decode(int64_t begin, int64_t end, OnItem&& item, OnMarker&& marker) const {
    if (!grouped_) {
      for (int64_t k = begin; k < end; ++k) {
        const unsigned char* record = bytes_ + k * kStoreRecordBytes;
        item(k, StoreItem{LoadLE<uint32_t>(record + 4), LoadLE<uint32_t>(record + 8),
                          LoadLE<uint32_t>(record), LoadLE<uint32_t>(record + 12)});
      }
      return;
    }
    int64_t second = SecondBefore(begin);
    for (int64_t k = begin; k < end; ++k) {
      const int32_t entry = Entry(k);
      if (entry <= 0) {
        second = -static_cast<int64_t>(entry);
        marker(k);
      } else {
        item(k, StoreItem{entry, second, 0, 0});
      }
    }
  }

  // The group marker in force after the last of these entries, and so before the entries that
  // follow them in the store.
  int64_t SecondAfter() const { return SecondBefore(count_); }

 private:
  int32_t Entry(int64_t n) const { return LoadLE<int32_t>(bytes_ + n * kStoreEntryBytes); }

  const unsigned char* bytes_;
  int64_t count_;
  bool grouped_;
  int64_t second_;
};

}  // namespace kv
