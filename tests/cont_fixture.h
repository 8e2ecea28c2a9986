// Building tables and continuation stores for the tests of the continuation search, and reading
// stores back as items.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/fileutil.h"
#include "search/files/state.h"
#include "tests/harness.h"

namespace kvtest {

// A state whose table holds `values` (ascending) with fresh cursors.
template <typename W>
kv::SearchState<W> StateWithTable(const std::vector<uint64_t>& values, int32_t minSaveLength) {
  kv::SearchState<W> s;
  auto& t = s.table;
  t.records.resize(values.size() + 2);
  const auto n = static_cast<int32_t>(values.size());
  t.records[0] = {static_cast<typename W::Value>(values.empty() ? 0 : values.back()), n, 0};
  for (int32_t i = 1; i <= n; ++i) {
    t.records[static_cast<size_t>(i)] = {
        static_cast<typename W::Value>(values[static_cast<size_t>(i - 1)]), i - 1, i + 1};
  }
  t.recordCount = n + 1;
  t.freeSlots = 1;
  s.minSaveLength = minSaveLength;
  return s;
}

inline std::vector<uint64_t> Range(uint64_t from, uint64_t to) {
  std::vector<uint64_t> v;
  for (uint64_t x = from; x <= to; ++x) v.push_back(x);
  return v;
}

// A grouped store: the header with `nextIndex` in its second field, then the body entries.
inline std::string GroupedStore(uint32_t nextIndex, const std::vector<int32_t>& body) {
  std::string s = LE<int32_t>(-20) + LE<uint32_t>(nextIndex) + LE<uint32_t>(0);
  for (const int32_t e : body) s += LE<int32_t>(e);
  return s;
}

// An ungrouped store of records (length, first index, second index, search-start index).
inline std::string UngroupedStore(const std::vector<std::array<uint32_t, 4>>& records) {
  std::string s;
  for (const auto& r : records) {
    for (const uint32_t f : r) s += LE<uint32_t>(f);
  }
  return s;
}

struct StoreView {
  bool grouped = false;
  uint32_t nextIndex = 0;
  std::vector<std::pair<int32_t, int32_t>> items;  // (first index, second index) in order
  int markers = 0;
};

// Reads a grouped store back.
inline StoreView ReadStore(const std::string& bytes) {
  StoreView v;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 12) return v;
  v.grouped = kv::LoadLE<int32_t>(p) == -20 && kv::LoadLE<uint32_t>(p + 8) == 0;
  v.nextIndex = kv::LoadLE<uint32_t>(p + 4);
  int32_t second = 0;
  for (size_t at = 12; at + 4 <= bytes.size(); at += 4) {
    const int32_t e = kv::LoadLE<int32_t>(p + at);
    if (e <= 0) {
      ++v.markers;
      second = -e;
    } else {
      v.items.emplace_back(e, second);
    }
  }
  return v;
}

}  // namespace kvtest
