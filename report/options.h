// The command line of kvreport. Kept to itself so that it can later join a parser shared by all
// programs.
#pragma once

#include <string>
#include <vector>

namespace kv {

struct ReportOptions {
  enum class Action { kReport, kHelp, kVersion, kBad };
  Action action = Action::kReport;
  std::string directory;  // "" is the working directory
  std::string csvFile;    // "" writes none
  std::string error;      // the message for kBad
};

ReportOptions ParseReportOptions(const std::vector<std::string>& args);

// The usage text, one entry per line.
std::vector<std::string> ReportUsage();

}  // namespace kv
