// The two builds of the search program differ only in the width of their values. Everything that
// depends on it (value type, record size, file names, texts naming the limit) lives here, so both
// widths compile from the same sources and are tested in the same test binary. The names of the
// files that both widths share are in format/filenames.h.
#pragma once

#include <cstdint>

#include "format/filenames.h"

namespace kv {

struct Width64 {
  using Value = uint64_t;
  static constexpr int kBits = 64;
  static constexpr Value kLimit = 9223372036854775807ULL;
  static constexpr const char* kTitle = "Kolvex ver0.22";
  static constexpr const char* kTableFile = "_APData.dat";
  static constexpr const char* kOldTableFile = "__OLD___APData.dat";
  static constexpr const char* kTempTableFile = "__TEMP___APData.dat";
  static constexpr const char* kTempOldTableFile = "__TEMP___OLD___APData.dat";
  static constexpr const char* kHalfFile = "_HalfData.dat";
  static constexpr const char* kSievedFile = "_SievedListData.dat";
  static constexpr const char* kTempSievedFile = "__TEMP___SievedListData.dat";
  static constexpr const char* kOutOfRangeLine =
      "64bit版の使用可能範囲(9223372036854775807以下)を超えるデータが見つかりました。";
  static constexpr const char* kOutOfRangeAdvice =
      "この行を消去したファイルにて再度登録して下さい。";
};

struct Width32 {
  using Value = uint32_t;
  static constexpr int kBits = 32;
  static constexpr Value kLimit = 2147483647U;
  static constexpr const char* kTitle = "Kolvex(32bit) ver0.22";
  static constexpr const char* kTableFile = "_APData32.dat";
  static constexpr const char* kOldTableFile = "__OLD___APData32.dat";
  static constexpr const char* kTempTableFile = "__TEMP___APData32.dat";
  static constexpr const char* kTempOldTableFile = "__TEMP___OLD___APData32.dat";
  static constexpr const char* kHalfFile = "_HalfData32.dat";
  static constexpr const char* kSievedFile = "_SievedListData32.dat";
  static constexpr const char* kTempSievedFile = "__TEMP___SievedListData32.dat";
  static constexpr const char* kOutOfRangeLine =
      "32bit版の使用可能範囲(2147483647以下)を超えるデータが見つかりました。";
  static constexpr const char* kOutOfRangeAdvice =
      "この行を消去したファイルにて再度登録するか、通常(64bit)版をご使用下さい。";
};

}  // namespace kv
