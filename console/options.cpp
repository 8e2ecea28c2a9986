// The command line: table-driven options, usage, version and the rejection of bad arguments.
#include "console/options.h"

#include <algorithm>

#include "console/console.h"
#include "platform/platform.h"

namespace kv {
namespace {

constexpr OptionInfo kHelp{"--help", "", "この説明を表示して終了します。"};
constexpr std::string_view kVersionName = "--version";

void AppendLines(std::string& text, std::string_view lines, std::string_view indent) {
  while (!lines.empty()) {
    const size_t end = std::min(lines.find('\n'), lines.size());
    text.append(indent);
    text.append(lines.substr(0, end));
    text += "\r\n";
    lines.remove_prefix(std::min(end + 1, lines.size()));
  }
}

const OptionInfo* FindOption(const ProgramUsage& program, std::string_view name) {
  for (const OptionInfo& option : program.options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Reads the option that `arguments[i]` names (with its value, which may be the next argument);
// false, with the fault set, when it is a mistake.
bool ReadOption(const ProgramUsage& program, const std::vector<std::string>& arguments, size_t& i,
                ParsedArguments& parsed) {
  const std::string& argument = arguments[i];
  const size_t equals = argument.find('=');
  const std::string_view name = std::string_view(argument).substr(0, equals);
  const OptionInfo* option = argument.starts_with("--") ? FindOption(program, name) : nullptr;
  auto fault = [&parsed](ParsedArguments::Fault f, std::string_view subject) {
    parsed.fault = f;
    parsed.subject = subject;
    return false;
  };
  if (option == nullptr) return fault(ParsedArguments::Fault::kUnknownOption, argument);
  parsed.valueName = option->valueName;
  if (option->once && parsed.line.Has(name)) return fault(ParsedArguments::Fault::kRepeated, name);
  std::string value;
  if (option->valueName.empty()) {
    if (equals != std::string::npos) return fault(ParsedArguments::Fault::kSwitchWithValue, name);
  } else if (equals != std::string::npos) {
    value = argument.substr(equals + 1);
  } else if (i + 1 < arguments.size()) {
    value = arguments[++i];
  } else {
    return fault(ParsedArguments::Fault::kValueMissing, name);
  }
  if (option->nonEmpty && value.empty()) return fault(ParsedArguments::Fault::kEmptyValue, name);
  parsed.line.Add(name, std::move(value));
  return true;
}

// Takes an argument that is no option as the program's operand; false, with the fault set, when
// it is a mistake.
bool ReadOperand(const ProgramUsage& program, const std::string& argument,
                 ParsedArguments& parsed) {
  using Fault = ParsedArguments::Fault;
  parsed.fault = program.operand.empty()          ? Fault::kNotAnOption
                 : !parsed.line.Operand().empty() ? Fault::kSecondOperand
                 : argument.empty()               ? Fault::kEmptyOperand
                                                  : Fault::kNone;
  if (parsed.fault != Fault::kNone) {
    parsed.subject = argument;
    return false;
  }
  parsed.line.SetOperand(argument);
  return true;
}

}  // namespace

bool CommandLine::Has(std::string_view name) const {
  return std::any_of(given_.begin(), given_.end(),
                     [name](const auto& item) { return item.first == name; });
}

std::string CommandLine::Value(std::string_view name) const {
  std::string value;
  for (const auto& [option, text] : given_) {
    if (option == name) value = text;
  }
  return value;
}

std::string UsageText(const ProgramUsage& program) {
  std::string text = "使い方: " + std::string(program.name) + " [オプション]";
  if (!program.operand.empty()) text += " [" + std::string(program.operand) + "]";
  text += "\r\n";
  AppendLines(text, program.summary, "");
  AppendLines(text, program.inputNote, "");
  text += "\r\nオプション:\r\n";
  const OptionInfo version{kVersionName, "", program.versionHelp};
  size_t width = 0;
  auto label = [](const OptionInfo& option) {
    return std::string(option.name) +
           (option.valueName.empty() ? "" : " " + std::string(option.valueName));
  };
  for (const OptionInfo& option : program.options) width = std::max(width, label(option).size());
  width = std::max(width, label(version).size());
  // The help's further lines stand below its first.
  const std::string helpIndent(2 + width + 2, ' ');
  auto add = [&](const OptionInfo& option) {
    const std::string name = label(option);
    const size_t end = std::min(option.help.find('\n'), option.help.size());
    text += "  " + name + std::string(width - name.size() + 2, ' ') +
            std::string(option.help.substr(0, end)) + "\r\n";
    if (end < option.help.size()) AppendLines(text, option.help.substr(end + 1), helpIndent);
  };
  for (const OptionInfo& option : program.options) add(option);
  add(kHelp);
  add(version);
  text += "\r\n" + std::string(program.filesHeading) + "\r\n";
  AppendLines(text, program.files, "  ");
  text += "\r\n終了コード:\r\n";
  AppendLines(text, program.exitCodes, "  ");
  return text;
}

std::string VersionText(const ProgramUsage& program) {
  return std::string(program.name) + " " + KV_SUITE_VERSION + "\r\n";
}

void RejectCommandLine(const ProgramUsage& program, std::string_view message) {
  Os().WriteError(std::string(program.name) + ": " + std::string(message) + "\r\n\r\n" +
                  UsageText(program));
  ExitNow(2);
}

ParsedArguments ReadCommandLine(const ProgramUsage& program,
                                const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == kHelp.name || (!program.helpAlias.empty() && argument == program.helpAlias)) {
      parsed.request = ParsedArguments::Request::kHelp;
      return parsed;
    }
    if (argument == kVersionName) {
      parsed.request = ParsedArguments::Request::kVersion;
      return parsed;
    }
    // A lone "-" is an operand where the program takes one.
    const bool option =
        argument.starts_with("-") && (argument.size() > 1 || program.operand.empty());
    if (!(option ? ReadOption(program, arguments, i, parsed)
                 : ReadOperand(program, argument, parsed))) {
      parsed.request = ParsedArguments::Request::kBad;
      return parsed;
    }
  }
  return parsed;
}

std::string FaultText(const ProgramUsage& program, const ParsedArguments& parsed) {
  const std::string& subject = parsed.subject;
  const std::string value(parsed.valueName);
  switch (parsed.fault) {
    case ParsedArguments::Fault::kNone:
      break;
    case ParsedArguments::Fault::kUnknownOption:
      return "不明なオプションです: " + Quoted(subject);
    case ParsedArguments::Fault::kNotAnOption:
      return "オプションではない引数です: " + Quoted(subject);
    case ParsedArguments::Fault::kSwitchWithValue:
      return subject + " は値を取りません。";
    case ParsedArguments::Fault::kValueMissing:
      return subject + " には値 " + value + " が必要です。";
    case ParsedArguments::Fault::kRepeated:
      return subject + " が二回以上指定されています。";
    case ParsedArguments::Fault::kEmptyValue:
      return subject + " の" + value + "が空です。";
    case ParsedArguments::Fault::kSecondOperand:
      return std::string(program.operand) + "は一つだけ指定して下さい。";
    case ParsedArguments::Fault::kEmptyOperand:
      return std::string(program.operand) + "名が空です。";
  }
  return "";
}

CommandLine ParseCommandLine(const ProgramUsage& program,
                             const std::vector<std::string>& arguments) {
  ParsedArguments parsed = ReadCommandLine(program, arguments);
  switch (parsed.request) {
    case ParsedArguments::Request::kHelp:
      PrintText(UsageText(program));
      ExitNow(0);
    case ParsedArguments::Request::kVersion:
      PrintText(VersionText(program));
      ExitNow(0);
    case ParsedArguments::Request::kBad:
      RejectCommandLine(program, FaultText(program, parsed));
    case ParsedArguments::Request::kRun:
      break;
  }
  return std::move(parsed.line);
}

int64_t IntegerOption(const ProgramUsage& program, const CommandLine& line, std::string_view name,
                      int64_t min, int64_t max, int64_t fallback) {
  if (!line.Has(name)) return fallback;
  const std::string text = line.Value(name);
  // At most 19 digits, which an unsigned 64-bit number always holds.
  uint64_t value = 0;
  bool ok = !text.empty() && text.size() <= 19;
  for (const char c : text) {
    if (c < '0' || c > '9') ok = false;
    if (!ok) break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (!ok || value < static_cast<uint64_t>(min) || value > static_cast<uint64_t>(max)) {
    RejectCommandLine(program, std::string(name) + " の値 " + Quoted(text) + " は使えません。" +
                                   std::to_string(min) + " から " + std::to_string(max) +
                                   " までの整数を指定して下さい。");
  }
  return static_cast<int64_t>(value);
}

}  // namespace kv
