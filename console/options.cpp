// The command line: table-driven options, usage, version and the rejection of bad arguments.
#include "console/options.h"

#include <algorithm>

#include "console/console.h"
#include "platform/platform.h"

namespace kv {
namespace {

constexpr OptionInfo kHelp{"--help", "", "この説明を表示して終了します。"};
constexpr OptionInfo kVersion{"--version", "", "版を表示して終了します。"};

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
  std::string text = "使い方: " + std::string(program.name) + " [オプション]\r\n";
  AppendLines(text, program.summary, "");
  text += "オプションの無い質問は、これまで通り標準入力から答えます。\r\n";
  text += "\r\nオプション:\r\n";
  size_t width = 0;
  auto label = [](const OptionInfo& option) {
    return std::string(option.name) +
           (option.valueName.empty() ? "" : " " + std::string(option.valueName));
  };
  for (const OptionInfo& option : program.options) width = std::max(width, label(option).size());
  width = std::max(width, label(kVersion).size());
  auto add = [&](const OptionInfo& option) {
    const std::string name = label(option);
    text +=
        "  " + name + std::string(width - name.size() + 2, ' ') + std::string(option.help) + "\r\n";
  };
  for (const OptionInfo& option : program.options) add(option);
  add(kHelp);
  add(kVersion);
  text += "\r\nファイル(作業ディレクトリ):\r\n";
  AppendLines(text, program.files, "  ");
  text += "\r\n終了コード:\r\n";
  text += "  0  処理を完了しました。\r\n";
  text += "  1  回答や入力の内容により、処理せずに終了しました。\r\n";
  text += "  2  失敗しました(ファイルの読み書き、データの誤り、コマンドラインの誤り)。\r\n";
  return text;
}

void RejectCommandLine(const ProgramUsage& program, std::string_view message) {
  Os().WriteError(std::string(program.name) + ": " + std::string(message) + "\r\n\r\n" +
                  UsageText(program));
  ExitNow(2);
}

CommandLine ParseCommandLine(const ProgramUsage& program,
                             const std::vector<std::string>& arguments) {
  CommandLine line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == kHelp.name) {
      PrintText(UsageText(program));
      ExitNow(0);
    }
    if (argument == kVersion.name) {
      PrintText(std::string(program.name) + " " + KV_SUITE_VERSION + "\r\n");
      ExitNow(0);
    }
    const size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);
    const OptionInfo* option = argument.starts_with("--") ? FindOption(program, name) : nullptr;
    if (option == nullptr) {
      RejectCommandLine(program, argument.starts_with("-")
                                     ? "不明なオプションです: " + Quoted(argument)
                                     : "オプションではない引数です: " + Quoted(argument));
    }
    if (option->valueName.empty()) {
      if (equals != std::string::npos) {
        RejectCommandLine(program, std::string(name) + " は値を取りません。");
      }
      line.Add(name, "");
    } else if (equals != std::string::npos) {
      line.Add(name, argument.substr(equals + 1));
    } else if (i + 1 < arguments.size()) {
      line.Add(name, arguments[++i]);
    } else {
      RejectCommandLine(program, std::string(name) + " には値 " + std::string(option->valueName) +
                                     " が必要です。");
    }
  }
  return line;
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
