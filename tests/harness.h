// Test harness shared by every test: a platform double that captures the console, answers the
// input statement and catches the process exit, and runners that run a program in a fresh
// temporary directory and return its console bytes and every file it left behind (the runners
// of real executables, in child processes, are in tests/process.h).
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/console.h"
#include "platform/forwarding.h"
#include "platform/platform.h"

namespace kvtest {

using Files = std::map<std::string, std::string>;

// The end of a run, caught by the runners; the double's Exit throws it too, so that a whole run
// can be driven inside the test process.
using ExitRequest = kv::RunEnd;

// Console and process double; files go to the native platform (in the test's directory).
class FakePlatform : public kv::ForwardingPlatform {
 public:
  FakePlatform() : ForwardingPlatform(kv::NativePlatform()) {}

  // Captured console bytes, and those written to the standard error.
  std::string output;
  std::string errorOutput;
  // Lines answered to the input statement, in order; once empty, the input has ended.
  std::deque<std::string> input;
  // When set, every cursor move is written into `output` as "<@column,row>".
  bool showLocate = false;
  std::vector<std::pair<int, int>> locates;
  // When not 0, each tick reading advances the clock by this many milliseconds.
  uint32_t tickStep = 0;
  uint32_t tick = 0;
  unsigned threads = 1;
  bool idleRequested = false;

  void WriteOut(std::string_view bytes) override { output.append(bytes); }
  bool ReadLine(std::string& line) override;
  void MoveCursor(int column, int row) override;

  uint32_t TickCount() override;
  void SetIdlePriority() override { idleRequested = true; }
  unsigned HardwareThreads() override { return threads; }
  [[noreturn]] void Exit(int code) override { throw ExitRequest{code}; }
  void WriteError(std::string_view bytes) override { errorOutput.append(bytes); }

 protected:
  static kv::Platform& native() { return kv::NativePlatform(); }
};

// A fresh directory under the system's temporary directory, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// kvcampaign's log with its two time columns emptied where they hold a time with one decimal.
std::string LogWithoutTimes(const std::string& log);

void WriteFiles(const std::filesystem::path& dir, const Files& files);
Files ReadFiles(const std::filesystem::path& dir);

struct RunResult {
  std::string output;  // console bytes
  Files files;         // every file left in the working directory
  int exitCode = -1;   // -1 when the program returned without ending the process
};

// Runs `program` inside the test process in a fresh directory holding `files`, with the
// platform double `fake` (its `input` holds the answers). The double's output is cleared first.
RunResult RunInProcess(const std::function<void()>& program, FakePlatform& fake,
                       const Files& files = {});
// The same with a default double answering `input`.
RunResult RunInProcess(const std::function<void()>& program, const std::vector<std::string>& input,
                       const Files& files = {});

// Runs `directory` in-process with an existing directory (files kept between runs).
RunResult RunInDirectory(const std::function<void()>& program, FakePlatform& fake,
                         const std::filesystem::path& directory);

// Replaces the milliseconds of every timing line ("1234 [ms] : Phase") by "#".
// The transcript without its progress lines, which a run of a real process prints at most every
// two seconds of its own clock: how many there are depends on the machine's speed.
std::string WithoutProgress(std::string_view transcript);
std::string MaskTimings(std::string_view transcript);

// Joins lines, each followed by CR LF.
std::string Lines(std::initializer_list<std::string_view> lines);

// Bytes of a little-endian integer, for building binary files in tests.
template <typename T>
std::string LE(T value) {
  std::string s(sizeof(T), '\0');
  for (size_t i = 0; i < sizeof(T); ++i) {
    s[i] = static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
  }
  return s;
}

}  // namespace kvtest
