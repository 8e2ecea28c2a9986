// The command line shared by every program: each program declares its options in a table; the
// parser answers --help and --version, and turns away anything else it does not know.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv {

// One option: its name ("--min-length"), the name of its value ("N"; empty for a switch) and one
// line of help.
struct OptionInfo {
  std::string_view name;
  std::string_view valueName;
  std::string_view help;
};

// What a program shows in its usage. The texts are code page 932; `summary` and `files` are
// lines without their line ends, separated by '\n'.
struct ProgramUsage {
  std::string_view name;
  std::string_view summary;
  std::span<const OptionInfo> options;
  std::string_view files;
};

// The options given, in order.
class CommandLine {
 public:
  bool Has(std::string_view name) const;
  // The value of the last occurrence; empty when not given.
  std::string Value(std::string_view name) const;
  void Add(std::string_view name, std::string value) {
    given_.emplace_back(name, std::move(value));
  }

 private:
  std::vector<std::pair<std::string, std::string>> given_;
};

// Reads the arguments by the program's table. --help prints the usage and --version the suite's
// version, and both end the run with status 0; an unknown option, a missing value or an argument
// that is no option ends it with a message and the usage on the standard error, status 2.
CommandLine ParseCommandLine(const ProgramUsage& program,
                             const std::vector<std::string>& arguments);

// Ends the run with the message, the usage and status 2, before anything has been touched.
[[noreturn]] void RejectCommandLine(const ProgramUsage& program, std::string_view message);

// The value of an integer option, which must be a decimal number from `min` to `max`;
// `fallback` when the option is not given.
int64_t IntegerOption(const ProgramUsage& program, const CommandLine& line, std::string_view name,
                      int64_t min, int64_t max, int64_t fallback);

// The usage text, lines ending in CR LF.
std::string UsageText(const ProgramUsage& program);

}  // namespace kv
