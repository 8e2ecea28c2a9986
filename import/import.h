// kvimport: builds and extends the sieved list files from an ascending list of numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/runobserver.h"

namespace kv {

// The most entries (range entries included) a sieved list may hold: the count is a signed 32-bit
// number in the search program.
inline constexpr int64_t kSievedEntryLimit = 2147483647;

// How a run of kvimport is started by a program in its own process (or a test).
struct ImportSettings {
  // Lowered by tests, so that the limit can be reached without billions of numbers.
  int64_t entryLimit = kSievedEntryLimit;
  // Told of the run's end; none for the program's own run.
  RunObserver* observer = nullptr;
};

// One whole run of kvimport; ends the process.
[[noreturn]] void RunImportProgram(const ImportSettings& settings = {});

// kvimport started with command-line arguments: options answer their questions.
[[noreturn]] void RunImportCommand(const std::vector<std::string>& arguments);

// The prompts of kvimport's questions, for preset answers.
inline constexpr std::string_view kImportMenuPrompt = "2   32bit用(ファイル名末尾に32) :";
inline constexpr std::string_view kImportFilePrompt = "Enterを押して下さい : ";
inline constexpr std::string_view kImportStartPrompt = "篩い掛けの最小値(空白:データ最小値) :";
inline constexpr std::string_view kImportEndPrompt = "篩い掛けの最大値(空白:データ最大値) :";
inline constexpr std::string_view kImportRangeOnlyPrompt =
    "データが1件も有りませんでした。範囲のみのファイルを作成しますか？(Y/N)";

}  // namespace kv
