// kvreport: summarizes the files of the search program in a directory and checks them
// independently of the search's code.
#pragma once

#include <string>
#include <vector>

namespace kv {

// One whole run with the command-line arguments (without the program name), read in command.cpp;
// returns the exit status: 0 every check passed, 1 a problem was found, 2 files could not be read
// or bad usage.
int RunReportProgram(const std::vector<std::string>& args);

// The report on the files of `directory` ("": the working directory), with the --csv file
// `csvFile` and the page `htmlFile` ("": none); returns the exit status as RunReportProgram.
int RunReport(const std::string& directory, const std::string& csvFile,
              const std::string& htmlFile = "");

}  // namespace kv
