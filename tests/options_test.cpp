// The command line of every program: options give exactly the console bytes and files of the same
// answers piped in; --help, --version and bad arguments end the run at once and touch no file.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert.h"
#include "import/import.h"
#include "search/phases.h"
#include "tests/harness.h"
#include "tests/process.h"
#include "tests/search_testing.h"

namespace kv {
namespace {

using kvtest::Files;

std::string PrimeLines(uint64_t from, uint64_t below) {
  std::string text;
  for (const uint64_t p : kvtest::PrimesBelow(below)) {
    if (p >= from) text += std::to_string(p) + "\n";
  }
  return text;
}

// A directory with a table made by a first run, a file of further primes and an import file.
Files Workspace() {
  Files files{{"first.txt", PrimeLines(2, 3000)},
              {"next.txt", PrimeLines(3000, 5000)},
              {"list.txt", "header\n" + PrimeLines(5000, 9000)}};
  const auto first = kvtest::RunExecutable(KV_KOLVEX_EXE, "first.txt\n6\n\n", files);
  files = first.files;
  const auto narrow = kvtest::RunExecutable(KV_KOLVEX32_EXE, "first.txt\n6\n\n", files);
  return narrow.files;
}

// The console bytes without what depends on the clock: timings, and the progress lines that the
// searches print every two seconds (a loaded machine may print one more in either run).
std::string Transcript(const std::string& output) {
  std::string text = kvtest::MaskTimings(output);
  for (const std::string_view head : {"Continuance Data ", "Line "}) {
    size_t at = 0;
    while ((at = text.find(head, at)) != std::string::npos) {
      const size_t cr = text.find('\r', at + head.size());
      if (cr != std::string::npos && cr + 1 < text.size() && text[cr + 1] == '\n') {
        text.erase(at, cr + 2 - at);
      } else {
        at += head.size();
      }
    }
  }
  return text;
}

TEST(CommandLine, OptionsGiveTheBytesAndFilesOfPipedAnswers) {
  struct Case {
    const char* exe;
    std::vector<std::string> arguments;
    const char* rest;   // still read from standard input
    const char* piped;  // the same answers, all piped
  };
  const Case cases[] = {
      {KV_KOLVEX_EXE,
       {"--add", "next.txt", "--min-length", "6", "--no-wait"},
       "",
       "next.txt\n6\n\n"},
      {KV_KOLVEX_EXE, {"--min-length=7", "--threads", "1"}, "next.txt\n\n", "next.txt\n7\n\n"},
      {KV_KOLVEX32_EXE, {"--add", "", "--no-wait", "--min-length", "6"}, "", "\n6\n\n"},
      {KV_KOLVEX32_EXE, {"--add", "missing.txt", "--threads", "2"}, "5\n\n", "missing.txt\n5\n\n"},
      {KV_KOLVEX_EXE, {"--min-length", "8"}, "", "\n8\n"},  // input ends at the closing prompt
      {KV_IMPORT_EXE,
       {"--64", "--add", "list.txt", "--start", "5000", "--end", "9500", "--no-wait"},
       "",
       "1\nlist.txt\n5000\n9500\n\n"},
      {KV_IMPORT_EXE, {"--32", "--end", ""}, "list.txt\n\n\n", "2\nlist.txt\n\n\n\n"},
      {KV_IMPORT_EXE,
       {"--add", "", "--range-only", "--start", "10", "--end", "20"},
       "1\n\n",
       "1\n\nY\n10\n20\n\n"},
      {KV_CONVERT_EXE, {"--to-32", "--no-wait"}, "", "2\n\n"},
      {KV_CONVERT_EXE, {"--to-64"}, "\n", "1\n\n"},
  };
  const Files start = Workspace();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.exe) + " " + testing::PrintToString(c.arguments));
    kvtest::TempDir withOptions;
    kvtest::TempDir piped;
    kvtest::WriteFiles(withOptions.path(), start);
    kvtest::WriteFiles(piped.path(), start);
    const auto a = kvtest::RunExecutableIn(c.exe, c.rest, withOptions.path(), c.arguments);
    const auto b = kvtest::RunExecutableIn(c.exe, c.piped, piped.path());
    EXPECT_EQ(Transcript(a.output), Transcript(b.output));
    EXPECT_EQ(a.exitCode, b.exitCode);
    EXPECT_TRUE(a.files == b.files);
    EXPECT_NE(a.output.find(kClosingPrompt), std::string::npos);
  }
}

template <typename W>
void Search(const std::vector<std::string>& arguments) {
  SearchState<W> state;
  RunSearchCommand(state, arguments);
}

TEST(CommandLine, HelpVersionAndBadArgumentsTouchNothing) {
  using Program = std::function<void(const std::vector<std::string>&)>;
  struct Case {
    const char* name;
    Program program;
    std::vector<std::vector<std::string>> bad;
  };
  const std::vector<std::vector<std::string>> common = {
      {"--bogus"}, {"-h"}, {"stray"}, {"--no-wait=1"}, {"--help=x"}, {"--bogus", "--help"}};
  const Case cases[] = {
      {"Kolvex",
       Search<Width64>,
       {{"--min-length", "2"},
        {"--min-length", "21"},
        {"--min-length", "x"},
        {"--min-length"},
        {"--min-length", "99999999999999999999"},
        {"--threads", "0"},
        {"--threads", "-1"},
        {"--add", "a,b"},
        {"--add"}}},
      {"Kolvex32", Search<Width32>, {{"--min-length", ""}, {"--threads", "1025"}}},
      {"kvimport",
       RunImportCommand,
       {{"--64", "--32"}, {"--start", "-5"}, {"--end", "1e5"}, {"--end", "9223372036854775808"}}},
      {"kvconvert", RunConvertCommand, {{"--to-64", "--to-32"}, {"--to-64", "2"}}},
  };
  const Files files{{"_APData.dat", "table"}, {"in.txt", "1\n2\n"}};
  for (const Case& c : cases) {
    auto run = [&](const std::vector<std::string>& arguments) {
      kvtest::FakePlatform fake;
      fake.input = {"1", "in.txt", "", "", ""};
      return std::pair(kvtest::RunInProcess([&] { c.program(arguments); }, fake, files),
                       fake.errorOutput);
    };
    auto bad = c.bad;
    bad.insert(bad.end(), common.begin(), common.end());
    for (const auto& arguments : bad) {
      SCOPED_TRACE(std::string(c.name) + " " + testing::PrintToString(arguments));
      const auto [result, error] = run(arguments);
      EXPECT_EQ(result.exitCode, 2);
      EXPECT_EQ(result.output, "");
      EXPECT_EQ(result.files, files);
      EXPECT_TRUE(error.starts_with(std::string(c.name) + ": ")) << error;
      EXPECT_NE(error.find("\r\n\r\n使い方: " + std::string(c.name) + " [オプション]\r\n"),
                std::string::npos);
    }
    const auto [help, helpError] = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.starts_with("使い方: " + std::string(c.name)));
    EXPECT_NE(help.output.find("終了コード:"), std::string::npos);
    const auto [version, versionError] = run({"--no-wait", "--version"});
    EXPECT_EQ(version.output, std::string(c.name) + " " + KV_SUITE_VERSION + "\r\n");
    EXPECT_EQ(helpError + versionError, "");
    EXPECT_EQ(help.files, files);
    EXPECT_EQ(version.files, files);
  }
}

}  // namespace
}  // namespace kv
