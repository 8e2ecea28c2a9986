// Test harness: the platform double and the program runners.
#include "tests/harness.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/dirlock.h"

namespace kvtest {

namespace fs = std::filesystem;

bool FakePlatform::ReadLine(std::string& line) {
  if (input.empty()) {
    line.clear();
    return false;
  }
  line = input.front();
  input.pop_front();
  return true;
}

void FakePlatform::MoveCursor(int column, int row) {
  locates.emplace_back(column, row);
  if (showLocate) output += "<@" + std::to_string(column) + "," + std::to_string(row) + ">";
}

uint32_t FakePlatform::TickCount() {
  if (tickStep == 0) return native().TickCount();
  tick += tickStep;
  return tick;
}

// The tests' directories live in memory where the system offers it: the programs force what they
// append to disk, which thousands of test runs would otherwise wait for.
// KV_TEST_ROOT chooses another place (the benchmarks' largest runs outgrow memory).
fs::path TestRoot() {
  if (const char* root = std::getenv("KV_TEST_ROOT"); root != nullptr && *root != '\0') return root;
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec)) return "/dev/shm";
  return fs::temp_directory_path();
}

TempDir::TempDir() {
  static std::atomic<unsigned> serial{0};
  static const fs::path root = TestRoot();
  std::random_device rd;
  for (;;) {
    path_ = root / ("kvtest_" + std::to_string(rd()) + "_" + std::to_string(serial++));
    std::error_code ec;
    if (fs::create_directory(path_, ec)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string LogWithoutTimes(const std::string& log) {
  std::string kept;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
    if (fields.size() >= 5 && fields[0] != "ステップ") {
      // A time of another form stays, so that the comparison shows it.
      for (const size_t time : {3u, 4u}) {
        if (fields[time].find('.') == fields[time].size() - 2) fields[time] = "";
      }
    }
    for (size_t i = 0; i < fields.size(); ++i) kept += (i == 0 ? "" : ",") + fields[i];
    kept += "\n";
  }
  return kept;
}

void WriteFiles(const fs::path& dir, const Files& files) {
  for (const auto& [name, content] : files) {
    std::ofstream out(dir / name, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
}

Files ReadFiles(const fs::path& dir) {
  Files files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    // The lock file names the last program that worked there, not what it left.
    if (!entry.is_regular_file() || entry.path().filename() == kv::kLockFile) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    files[entry.path().filename().string()] = content.str();
  }
  return files;
}

RunResult RunInDirectory(const std::function<void()>& program, FakePlatform& fake,
                         const fs::path& directory) {
  RunResult result;
  fake.output.clear();
  const fs::path previousDir = fs::current_path();
  fs::current_path(directory);
  kv::Platform* previous = kv::SetPlatform(&fake);
  try {
    program();
  } catch (const ExitRequest& exit) {
    result.exitCode = exit.code;
  }
  // Answers the run did not take must not answer the next one's questions.
  kv::ClearPresetAnswers();
  kv::SetPlatform(previous);
  fs::current_path(previousDir);
  result.output = fake.output;
  result.files = ReadFiles(directory);
  return result;
}

RunResult RunInProcess(const std::function<void()>& program, FakePlatform& fake,
                       const Files& files) {
  TempDir dir;
  WriteFiles(dir.path(), files);
  return RunInDirectory(program, fake, dir.path());
}

RunResult RunInProcess(const std::function<void()>& program, const std::vector<std::string>& input,
                       const Files& files) {
  FakePlatform fake;
  fake.input.assign(input.begin(), input.end());
  return RunInProcess(program, fake, files);
}

std::string WithoutProgress(std::string_view transcript) {
  // A progress line may follow a prompt that the input answered without a line end.
  std::string out;
  while (!transcript.empty()) {
    const size_t end = transcript.find("\r\n");
    const size_t next = end == std::string_view::npos ? transcript.size() : end + 2;
    std::string_view line = transcript.substr(0, next);
    transcript.remove_prefix(next);
    for (const std::string_view lead : {"Line  ", "Continuance Data  "}) {
      const size_t at = line.find(lead);
      if (at != std::string_view::npos &&
          line.find("  : finished. ( ", at) != std::string_view::npos) {
        line = line.substr(0, at);
        break;
      }
    }
    out.append(line);
  }
  return out;
}

std::string MaskTimings(std::string_view transcript) {
  static constexpr std::string_view kMark = " [ms] : ";
  std::string out;
  size_t pos = 0;
  for (;;) {
    const size_t hit = transcript.find(kMark, pos);
    if (hit == std::string_view::npos) break;
    size_t start = hit;
    while (start > pos && (std::isdigit(static_cast<unsigned char>(transcript[start - 1])) != 0)) {
      --start;
    }
    out.append(transcript.substr(pos, start - pos));
    out += start == hit ? "" : "#";
    out.append(kMark);
    pos = hit + kMark.size();
  }
  out.append(transcript.substr(pos));
  return out;
}

std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string s;
  for (auto line : lines) {
    s.append(line);
    s += "\r\n";
  }
  return s;
}

}  // namespace kvtest
