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

// One option: its name ("--min-length"), the name of its value ("N"; empty for a switch) and its
// help (lines separated by '\n').
struct OptionInfo {
  std::string_view name;
  std::string_view valueName;
  std::string_view help;
  // Given twice, or with an empty value, the option is a mistake (otherwise the last one counts,
  // and an empty value is a value).
  bool once = false;
  bool nonEmpty = false;
};

// The usage's texts that programs holding a dialogue share.
inline constexpr std::string_view kAnswersFromInputNote =
    "オプションの無い質問は、これまで通り標準入力から答えます。";
inline constexpr std::string_view kDialogueExitCodes =
    "0  処理を完了しました。\n"
    "1  回答や入力の内容により、処理せずに終了しました。\n"
    "2  失敗しました(ファイルの読み書き、データの誤り、コマンドラインの誤り、\n"
    "   作業フォルダを他のプログラムが使用中)。";

// What a program shows in its usage and accepts on its command line. The texts are code page
// 932; `summary`, `files`, `inputNote` and `exitCodes` are lines without their line ends,
// separated by '\n'. The members after `files` have the defaults of a program that holds a
// dialogue; a program that asks nothing (kvreport) sets its own.
struct ProgramUsage {
  std::string_view name;
  std::string_view summary;
  std::span<const OptionInfo> options;
  std::string_view files;
  // The name of one optional argument that is no option ("[name]" in the usage); empty: none.
  std::string_view operand = {};
  // A second name of --help ("-h"); empty: none.
  std::string_view helpAlias = {};
  std::string_view inputNote = kAnswersFromInputNote;  // after the summary
  std::string_view versionHelp = "版を表示して終了します。";
  std::string_view filesHeading = "ファイル(作業ディレクトリ):";
  std::string_view exitCodes = kDialogueExitCodes;
};

// The options given, in order, and the operand.
class CommandLine {
 public:
  bool Has(std::string_view name) const;
  // The value of the last occurrence; empty when not given.
  std::string Value(std::string_view name) const;
  void Add(std::string_view name, std::string value) {
    given_.emplace_back(name, std::move(value));
  }
  // The argument that is no option; empty when not given.
  const std::string& Operand() const { return operand_; }
  void SetOperand(std::string operand) { operand_ = std::move(operand); }

 private:
  std::vector<std::pair<std::string, std::string>> given_;
  std::string operand_;
};

// What the arguments ask for, read by the program's table in order up to --help, --version or
// the first mistake.
struct ParsedArguments {
  enum class Request { kRun, kHelp, kVersion, kBad };
  // The mistake of kBad. `subject` is the option's name for the faults of a known option
  // (kSwitchWithValue to kEmptyValue, with `valueName` its value's name), the argument otherwise.
  enum class Fault {
    kNone,
    kUnknownOption,
    kNotAnOption,  // the program takes no operand
    kSwitchWithValue,
    kValueMissing,
    kRepeated,
    kEmptyValue,
    kSecondOperand,
    kEmptyOperand,
  };
  Request request = Request::kRun;
  CommandLine line;
  Fault fault = Fault::kNone;
  std::string subject;
  std::string_view valueName;
};
// Reads the arguments without acting on them: nothing is printed and the run goes on.
ParsedArguments ReadCommandLine(const ProgramUsage& program,
                                const std::vector<std::string>& arguments);

// The message that tells what is wrong with a command line read as kBad.
std::string FaultText(const ProgramUsage& program, const ParsedArguments& parsed);

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
// The answer to --version: the program's name and the suite's version, with CR LF.
std::string VersionText(const ProgramUsage& program);

}  // namespace kv
