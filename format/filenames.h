// The names of the files that both builds of the search program share; the names that differ
// between the builds are in format/width.h.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

constexpr const char* kStoreFile = "_ContData.dat";
constexpr const char* kInspectionFile = "_ContData_insp.txt";
constexpr const char* kStoreTextFile = "_ContData.txt";
constexpr const char* kSavedStoreTextFile = "__OLD___ContData_txt.dat";
constexpr const char* kExaminedStoreFile = "__TEMP___ContData_txt.dat";
constexpr const char* kNotAddedFile = "_NOTAddData.txt";
constexpr const char* kJournalFile = "__JOURNAL___Kolvex.dat";
constexpr const char* kTempJournalFile = "__TEMP___JOURNAL___Kolvex.dat";

// The result file of the progressions of one length: "_L" length "_ResultData.txt".
inline constexpr const char* kResultFilePrefix = "_L";
inline constexpr const char* kResultFileSuffix = "_ResultData.txt";
inline std::string ResultFileName(uint64_t length) {
  return kResultFilePrefix + std::to_string(length) + kResultFileSuffix;
}

// The temporary file through which a text file is replaced whole.
inline std::string TempFileName(const std::string& name) { return "__TEMP___" + name; }

}  // namespace kv
