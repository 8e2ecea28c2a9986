// Builders for the binary table and sieved-list files, byte by byte, and a runner for one phase
// of the search program inside a fresh working directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "search/phases.h"
#include "tests/harness.h"

namespace kvtest {

// One table record in the file layout of width W.
template <typename W>
std::string Rec(uint64_t value, int32_t lower, int32_t upper) {
  return LE(static_cast<typename W::Value>(value)) + LE(lower) + LE(upper);
}

// A table file as AddData builds it: header, then each value with the cursors of a new record.
template <typename W>
std::string FreshTable(const std::vector<uint64_t>& values) {
  const auto n = static_cast<int32_t>(values.size());
  std::string file = Rec<W>(values.empty() ? 0 : values.back(), n, 0);
  for (int32_t i = 1; i <= n; ++i) file += Rec<W>(values[static_cast<size_t>(i - 1)], i - 1, i + 1);
  return file;
}

// A sieved-list file of width W.
template <typename W>
std::string SievedFile(const std::vector<uint64_t>& entries) {
  std::string file;
  for (uint64_t e : entries) file += LE(static_cast<typename W::Value>(e));
  return file;
}

// Runs `body` on a fresh state of width W in a new directory holding `files`; the state stays
// readable afterwards.
template <typename W>
RunResult RunPhase(kv::SearchState<W>& state, const std::function<void(kv::SearchState<W>&)>& body,
                   FakePlatform& fake, const Files& files = {}) {
  return RunInProcess([&] { body(state); }, fake, files);
}

// The file names and texts of each width, for tests written once for both.
template <typename W>
struct Names;
template <>
struct Names<kv::Width64> {
  static constexpr const char* kTable = "_APData.dat";
  static constexpr const char* kOld = "__OLD___APData.dat";
  static constexpr const char* kHalf = "_HalfData.dat";
  static constexpr const char* kTemp = "__TEMP___APData.dat";
  static constexpr const char* kSieved = "_SievedListData.dat";
  static constexpr const char* kTitle = "Kolvex ver0.22";
  static constexpr const char* kLimitText = "9223372036854775807";
  static constexpr const char* kAboveLimit = "9223372036854775808";
  static constexpr const char* kOutOfRange =
      "64bit版の使用可能範囲(9223372036854775807以下)を超えるデータが見つかりました。";
  static constexpr const char* kAdvice = "この行を消去したファイルにて再度登録して下さい。";
};
template <>
struct Names<kv::Width32> {
  static constexpr const char* kTable = "_APData32.dat";
  static constexpr const char* kOld = "__OLD___APData32.dat";
  static constexpr const char* kHalf = "_HalfData32.dat";
  static constexpr const char* kTemp = "__TEMP___APData32.dat";
  static constexpr const char* kSieved = "_SievedListData32.dat";
  static constexpr const char* kTitle = "Kolvex(32bit) ver0.22";
  static constexpr const char* kLimitText = "2147483647";
  static constexpr const char* kAboveLimit = "2147483648";
  static constexpr const char* kOutOfRange =
      "32bit版の使用可能範囲(2147483647以下)を超えるデータが見つかりました。";
  static constexpr const char* kAdvice =
      "この行を消去したファイルにて再度登録するか、通常(64bit)版をご使用下さい。";
};

using BothWidths = ::testing::Types<kv::Width64, kv::Width32>;

}  // namespace kvtest
