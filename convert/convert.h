// kvconvert: carries the number table files between the 64-bit and the 32-bit build.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv {

// One whole run of kvconvert; ends the process.
[[noreturn]] void RunConvertProgram();

// kvconvert started with command-line arguments: options answer its question.
[[noreturn]] void RunConvertCommand(const std::vector<std::string>& arguments);

// The prompt of the question, for a preset answer.
inline constexpr std::string_view kConvertMenuPrompt =
    "2   通常版 から 32bit版(ファイル名末尾に32)へ :";

}  // namespace kv
