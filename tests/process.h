// Child processes for the tests and the benchmarks: the real executables started with piped input,
// and the runners that give back their console bytes and the files they left behind.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/harness.h"

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace kvtest {

// Runs `program` with `arguments` in `directory` with `input` piped to its standard input and
// its standard output written to `outputFile`; returns its exit code, -1 when it could not be
// run or did not exit by itself (a signal, an abort). With a time limit (seconds), a program
// still running then is killed and -2 returned. Names and arguments are code page 932 bytes, as
// everywhere in the programs.
inline constexpr int kHang = -2;
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& directory, std::string_view input, const std::string& outputFile,
               int timeLimit = 0);

#ifndef _WIN32
// Starts `program` as RunProgram does but returns at once: the child's process id, -1 when it
// could not be started, and in `input` the write end of the pipe to its standard input, for the
// caller to fill and close.
// `errorFile` ("": the caller's) receives its standard error.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& directory, const std::string& outputFile, int& input,
                   const std::string& errorFile = "");

// Runs `program` as RunProgram does, with no input and its standard error to `errorFile`, and
// kills it once `seconds` have passed; -1 when it could not be run or was killed.
int RunProgramWithin(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, const std::string& outputFile,
                     const std::string& errorFile, int seconds);
#endif

// Runs a real executable as a child process in a fresh directory holding `files`, with
// `stdinBytes` piped to its standard input.
RunResult RunExecutable(const std::string& executable, std::string_view stdinBytes,
                        const Files& files = {});
// The same in an existing directory, optionally with command-line arguments.
RunResult RunExecutableIn(const std::string& executable, std::string_view stdinBytes,
                          const std::filesystem::path& directory,
                          const std::vector<std::string>& arguments = {});

}  // namespace kvtest
