// kvreport: summarizes the files of the search program in a directory and checks them
// independently of the search's code.
#pragma once

#include <string>
#include <vector>

namespace kv {

// One whole run with the command-line arguments (without the program name); returns the exit
// status: 0 every check passed, 1 a problem was found, 2 files could not be read or bad usage.
int RunReportProgram(const std::vector<std::string>& args);

}  // namespace kv
