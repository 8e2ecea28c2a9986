// The names of the files that both builds of the search program share.
#pragma once

namespace kv {

constexpr const char* kStoreFile = "_ContData.dat";
constexpr const char* kInspectionFile = "_ContData_insp.txt";
constexpr const char* kStoreTextFile = "_ContData.txt";
constexpr const char* kSavedStoreTextFile = "__OLD___ContData_txt.dat";
constexpr const char* kExaminedStoreFile = "__TEMP___ContData_txt.dat";
constexpr const char* kNotAddedFile = "_NOTAddData.txt";
constexpr const char* kJournalFile = "__JOURNAL___Kolvex.dat";
constexpr const char* kTempJournalFile = "__TEMP___JOURNAL___Kolvex.dat";

}  // namespace kv
