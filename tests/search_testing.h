// Helpers for the search tests: tables built in memory, the length-3 search run in a directory,
// the continuation store decoded, and a brute-force enumeration of progressions that shares no
// code with the search.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "search/phases.h"
#include "tests/harness.h"

namespace kvtest {

// A table as the merge of new numbers leaves it: header, then records with their cursors on
// their nearest neighbours.
template <typename W>
void AppendValues(kv::SearchState<W>& s, const std::vector<typename W::Value>& values) {
  auto& t = s.table;
  if (t.records.empty()) {
    t.records.push_back({0, 0, 0});
    t.recordCount = 1;
  }
  t.records.resize(static_cast<size_t>(t.recordCount));
  for (const auto v : values) {
    const int32_t i = t.recordCount;
    t.records.push_back({v, i - 1, i + 1});
    ++t.recordCount;
  }
  t.records[0].value = t.records.back().value;
  t.records[0].lowerCursor = t.recordCount - 1;
  t.records.push_back({0, 0, 0});  // the spare record a loaded table has
  t.freeSlots = 1;
}

template <typename W>
kv::SearchState<W> MakeState(const std::vector<typename W::Value>& values, int32_t minSave) {
  kv::SearchState<W> s;
  AppendValues(s, values);
  s.minSaveLength = minSave;
  return s;
}

template <typename W>
RunResult RunLen3In(kv::SearchState<W>& s, FakePlatform& fake, const std::filesystem::path& dir) {
  return RunInDirectory([&s] { kv::Len3Search(s); }, fake, dir);
}

// One item of the continuation store.
struct StoredItem {
  int32_t first;
  int32_t second;
  bool operator==(const StoredItem&) const = default;
  auto operator<=>(const StoredItem&) const = default;
};

// Decodes the grouped store; `header` receives its three header words.
inline std::vector<StoredItem> DecodeStore(const std::string& bytes, int32_t header[3] = nullptr) {
  std::vector<StoredItem> items;
  auto word = [&bytes](size_t at) {
    uint32_t w = 0;
    for (size_t k = 0; k < 4; ++k) {
      w |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + k])) << (8 * k);
    }
    return static_cast<int32_t>(w);
  };
  if (bytes.size() < 12) return items;
  if (header != nullptr) {
    for (size_t k = 0; k < 3; ++k) header[k] = word(4 * k);
  }
  int32_t second = 0;
  for (size_t at = 12; at + 4 <= bytes.size(); at += 4) {
    const int32_t e = word(at);
    if (e <= 0) {
      second = -e;
    } else {
      items.push_back({e, second});
    }
  }
  return items;
}

inline std::vector<uint64_t> PrimesBelow(uint64_t limit) {
  std::vector<bool> composite(limit, false);
  std::vector<uint64_t> primes;
  for (uint64_t n = 2; n < limit; ++n) {
    if (composite[n]) continue;
    primes.push_back(n);
    for (uint64_t m = n * n; m < limit; m += n) composite[m] = true;
  }
  return primes;
}

// What a first search over a table must produce, found by trying every pair of entries.
struct Enumeration {
  struct Progression {
    int32_t first;  // 1-based table indices
    int32_t second;
    int32_t length;  // terms present from `first` on
    bool open;       // may continue beyond the largest value
  };
  // Every three-term progression in the order a first search meets them: by middle term, then
  // by difference.
  std::vector<Progression> found;
  std::map<int32_t, std::string> resultFiles;  // by length, whole file content
  std::vector<StoredItem> stored;
  std::string inspection;  // whole file content, empty when nothing is stored
};

// `ruledOut` answers for a value beyond the table whether the sieved list excludes it; only
// progressions whose middle term has an index up to `lastMiddle` are counted. With `prune`, an
// open progression whose terms beyond the table the list rules out before minSave is not stored.
inline Enumeration Enumerate(const std::vector<uint64_t>& values, int32_t minSave,
                             const std::function<bool(uint64_t)>& ruledOut = nullptr,
                             size_t lastMiddle = SIZE_MAX, bool prune = false) {
  Enumeration e;
  std::unordered_map<uint64_t, int32_t> index;
  for (size_t k = 0; k < values.size(); ++k) index[values[k]] = static_cast<int32_t>(k + 1);
  const uint64_t largest = values.empty() ? 0 : values.back();
  auto line = [](int32_t length, uint64_t a, uint64_t d) {
    return "Len " + std::to_string(length) + ", " + std::to_string(a) + " + " + std::to_string(d) +
           " *n\r\n";
  };
  for (size_t mid = 1; mid + 1 < values.size() && mid + 1 <= lastMiddle; ++mid) {
    for (size_t lo = mid; lo-- > 0;) {  // increasing difference
      const uint64_t a = values[lo];
      const uint64_t d = values[mid] - a;
      if (index.count(values[mid] + d) == 0) continue;
      int32_t length = 3;
      uint64_t next = values[mid] + 2 * d;
      while (next <= largest && index.count(next) != 0) {
        ++length;
        next += d;
      }
      bool open = next > largest && !(ruledOut && ruledOut(next));
      for (int32_t n = length; open && prune && n < minSave; ++n)
        open = !ruledOut(next + static_cast<uint64_t>(n - length) * d);
      e.found.push_back(
          {static_cast<int32_t>(lo + 1), static_cast<int32_t>(mid + 1), length, open});
      if (open) {
        e.stored.push_back({static_cast<int32_t>(lo + 1), static_cast<int32_t>(mid + 1)});
        if (length >= minSave) {
          if (e.inspection.empty()) {
            e.inspection =
                "等差数列がデータの範囲外まで続く可能性があります。閲覧専用の為、改変、削除は次回"
                "の探索に影響しません。\r\n\r\n";
          }
          e.inspection += line(length, a, d);
        }
      } else if (length >= minSave) {
        std::string& file = e.resultFiles[length];
        if (file.empty()) file = "n=0,1, ... ,Len-1\r\n";
        file += line(length, a, d);
      }
    }
  }
  if (!e.stored.empty() && e.inspection.empty()) {
    e.inspection =
        "等差数列がデータの範囲外まで続く可能性があります。閲覧専用の為、改変、削除は次回"
        "の探索に影響しません。\r\n\r\n";
  }
  return e;
}

// The result files among the files of a directory, by length.
inline std::map<int32_t, std::string> ResultFiles(const Files& files) {
  std::map<int32_t, std::string> out;
  for (const auto& [name, content] : files) {
    if (name.rfind("_L", 0) == 0 && name.size() > 17 &&
        name.substr(name.size() - 15) == "_ResultData.txt") {
      out[std::stoi(name.substr(2, name.size() - 17))] = content;
    }
  }
  return out;
}

// The lines of a text file, without their CR LF.
inline std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < content.size()) {
    const size_t end = content.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(content.substr(at));
      break;
    }
    lines.push_back(content.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// A result or inspection line "Len L, a + d *n"; false when the line has another shape.
inline bool ParseResultLine(const std::string& line, int32_t& length, uint64_t& a, uint64_t& d) {
  const size_t comma = line.find(", ");
  const size_t plus = line.find(" + ");
  if (line.rfind("Len ", 0) != 0 || comma == std::string::npos || plus == std::string::npos ||
      line.size() < 3 || line.substr(line.size() - 3) != " *n") {
    return false;
  }
  length = std::stoi(line.substr(4, comma - 4));
  a = std::stoull(line.substr(comma + 2, plus - comma - 2));
  d = std::stoull(line.substr(plus + 3, line.size() - 3 - plus - 3));
  return true;
}

}  // namespace kvtest
