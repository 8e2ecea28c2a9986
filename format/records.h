// The table's records and their file layout: the value, then the lower and the upper cursor, each a
// little-endian integer, with nothing between records. Every program that reads or writes a table
// file goes through these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/width.h"
#include "platform/fileutil.h"

namespace kv {

// One entry of the number table. Record 0 is the header: `value` holds the largest number and
// `lowerCursor` the count of data records.
template <typename W>
struct TableRecord {
  typename W::Value value;
  int32_t lowerCursor;
  int32_t upperCursor;
};
static_assert(sizeof(TableRecord<Width64>) == 16);
static_assert(sizeof(TableRecord<Width32>) == 12);

template <typename W>
inline constexpr int64_t kRecordBytes = static_cast<int64_t>(sizeof(typename W::Value)) + 8;

template <typename W>
TableRecord<W> DecodeRecord(const unsigned char* p) {
  constexpr size_t v = sizeof(typename W::Value);
  return {LoadLE<typename W::Value>(p), LoadLE<int32_t>(p + v), LoadLE<int32_t>(p + v + 4)};
}

template <typename W>
void EncodeRecord(unsigned char* p, const TableRecord<W>& r) {
  constexpr size_t v = sizeof(typename W::Value);
  StoreLE(p, r.value);
  StoreLE(p + v, r.lowerCursor);
  StoreLE(p + v + 4, r.upperCursor);
}

template <typename W>
bool SameRecord(const TableRecord<W>& a, const TableRecord<W>& b) {
  return a.value == b.value && a.lowerCursor == b.lowerCursor && a.upperCursor == b.upperCursor;
}

// Reads exactly `count` records from record `first` on into `target`.
template <typename W>
bool ReadRecordsAt(FileHandle& file, int64_t first, int64_t count, TableRecord<W>* target) {
  if (count == 0) return true;
  return file.SeekTo(first * kRecordBytes<W>) &&
         ReadItems(file, count, kRecordBytes<W>,
                   [target](const unsigned char* p, int64_t i) { target[i] = DecodeRecord<W>(p); });
}

// Writes `count` records from `records` to `sink` (a FileHandle or a ReplacementFile).
template <typename W, typename Sink>
bool WriteRecords(Sink& sink, const TableRecord<W>* records, int64_t count) {
  return WriteItems(sink, count, kRecordBytes<W>,
                    [records](unsigned char* p, int64_t i) { EncodeRecord<W>(p, records[i]); });
}

// What a loaded table must satisfy: each data record against the one before it (null for the
// first) in a table of n data records, and the header against the value of record `count`. The
// search and kvreport refuse the same tables with the same lines.
enum class TableFault { kNone, kOrder, kRange, kCursor, kHeader };

template <typename W>
TableFault CheckTableRecord(const TableRecord<W>& r, const TableRecord<W>* previous, int32_t n) {
  const int64_t cursorLimit = static_cast<int64_t>(n) + 1;
  if (r.value > W::kLimit) return TableFault::kRange;
  if (previous != nullptr && r.value <= previous->value) return TableFault::kOrder;
  if (r.lowerCursor < 0 || r.lowerCursor > cursorLimit || r.upperCursor < 0 ||
      r.upperCursor > cursorLimit) {
    return TableFault::kCursor;
  }
  return TableFault::kNone;
}

template <typename W>
TableFault CheckTableHeader(const TableRecord<W>& header, int32_t n,
                            typename W::Value valueAtCount) {
  const int32_t count = header.lowerCursor;
  if (count < 0 || count > n) return TableFault::kHeader;
  const typename W::Value expected = count == 0 ? 0 : valueAtCount;
  return header.value == expected ? TableFault::kNone : TableFault::kHeader;
}

// The lines that tell why a table file cannot be used; `index` is the first bad record.
std::vector<std::string> TableFaultLines(const std::string& file, TableFault fault, int32_t index);

}  // namespace kv
