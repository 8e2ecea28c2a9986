// Also: the real program on a small file system that fills up, retried with a little more room
// each time (needs root to mount it; skipped otherwise).
//
// Stopping the real program at random moments of its continuation search and its length-3 search,
// and starting it again until the run completes: at the end of a series of growing runs, the
// files must be those of the same series run without stops.
//
// The normal suite keeps this short. For long runs on demand:
//   KV_INTERRUPT_KILLS  stops per run of the series (default 2)
//   KV_INTERRUPT_LIMIT  the table holds the primes below this number (default 20000; 300000
//                       makes runs long enough for progress lines and mid-search checkpoints)
//   KV_INTERRUPT_SEED   seed of the moments of the stops (default 20261207)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>

#include "tests/process.h"
#include "tests/search_testing.h"

// POSIX process control (the build leaves this file out on Windows).
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kv {
namespace {

namespace fs = std::filesystem;

const std::string kPrompt = "発見した数列は、長さ幾らからテキスト保存しますか？(3 - 20) :";

uint64_t Setting(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The search program as a child process that can be stopped at any moment.
class Child {
 public:
  Child(const fs::path& directory, const std::string& input) : output_(outDir_.path() / "out") {
    int toChild = -1;
    pid_ = kvtest::StartProgram(KV_KOLVEX_EXE, {}, directory.string(), output_.string(), toChild);
    if (pid_ < 0) return;
    // The answers fit the pipe: the write does not wait for the child.
    const bool written =
        ::write(toChild, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    ::close(toChild);
    if (!written) Kill();
  }
  ~Child() {
    if (pid_ > 0 && !finished_) {
      Kill();
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  std::string Output() const { return ReadFile(output_); }

  // Waits until the program has asked for the shortest saved length; false when it ended first.
  bool WaitForPrompt() {
    while (!Ended()) {
      if (Output().find(kPrompt) != std::string::npos) return true;
      ::usleep(1000);
    }
    return false;
  }

  // Stops the program at once; true when it was stopped, false when it had completed already.
  bool Kill() {
    if (Ended()) return false;
    ::kill(pid_, SIGKILL);
    Wait();
    return !exitedNormally_;
  }

  // Waits for the end; true when the program ended by itself with code 0.
  bool Wait() {
    while (!finished_) {
      int status = 0;
      const pid_t got = ::waitpid(pid_, &status, 0);
      if (got == pid_) Finish(status);
      if (got < 0 && errno != EINTR) finished_ = true;
    }
    return exitedNormally_;
  }

 private:
  bool Ended() {
    if (finished_) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) Finish(status);
    return finished_;
  }
  void Finish(int status) {
    finished_ = true;
    exitedNormally_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  kvtest::TempDir outDir_;
  fs::path output_;
  pid_t pid_ = -1;
  bool finished_ = false;
  bool exitedNormally_ = false;
};

std::string NumberFile(const std::vector<uint64_t>& values) {
  std::string text;
  for (const auto v : values) text += std::to_string(v) + "\r\n";
  return text;
}

std::string Answers(bool addNumbers) {
  return std::string(addNumbers ? "add.txt" : "") + "\n3\n\n";
}

std::set<std::string> LineSet(const std::string& content) {
  const auto lines = kvtest::SplitLines(content);
  return {lines.begin(), lines.end()};
}

// The lines of `a` that `b` lacks, for the failure message.
std::string Missing(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::string out;
  int shown = 0;
  for (const auto& line : a) {
    if (b.count(line) == 0 && shown++ < 10) out += line + "\n";
  }
  return out;
}

// The lines that a file holds more than once, for the failure message.
std::string Repeated(const std::string& content) {
  std::string out;
  std::set<std::string> seen;
  int shown = 0;
  for (const auto& line : kvtest::SplitLines(content)) {
    if (!seen.insert(line).second && shown++ < 10) out += line + "\n";
  }
  return out;
}

uint64_t ResultBytes(const fs::path& directory) {
  uint64_t bytes = 0;
  for (const auto& [length, content] : kvtest::ResultFiles(kvtest::ReadFiles(directory))) {
    bytes += content.size();
  }
  return bytes;
}

std::set<kvtest::StoredItem> StoreSet(const kvtest::Files& files) {
  const auto it = files.find("_ContData.dat");
  const auto items = kvtest::DecodeStore(it == files.end() ? "" : it->second);
  return {items.begin(), items.end()};
}

TEST(Interruption, StoppedRunsEndWithTheFilesOfAnUninterruptedSeries) {
  const uint64_t killsPerRun = Setting("KV_INTERRUPT_KILLS", 2);
  const uint64_t limit = Setting("KV_INTERRUPT_LIMIT", 20000);
  std::mt19937_64 rng(Setting("KV_INTERRUPT_SEED", 20261207));
  const auto primes = kvtest::PrimesBelow(limit);
  ASSERT_GT(primes.size(), 8u);
  const size_t cuts[] = {0, primes.size() / 2, primes.size() * 3 / 4, primes.size()};

  kvtest::TempDir plainDir;
  kvtest::TempDir stoppedDir;
  int stopsInContSearch = 0;
  int stopsLater = 0;
  // Stops of searches that had written results: the next run writes again what the stopped one
  // wrote since its last checkpoint, or since the start of its continuation search.
  int stopsAfterResults = 0;
  for (size_t step = 0; step < 3; ++step) {
    const std::vector<uint64_t> chunk(primes.begin() + static_cast<long>(cuts[step]),
                                      primes.begin() + static_cast<long>(cuts[step + 1]));
    kvtest::WriteFiles(plainDir.path(), {{"add.txt", NumberFile(chunk)}});
    kvtest::WriteFiles(stoppedDir.path(), {{"add.txt", NumberFile(chunk)}});

    // The uninterrupted run also tells how long the searches of this step take.
    Child plain(plainDir.path(), Answers(true));
    ASSERT_TRUE(plain.started());
    ASSERT_TRUE(plain.WaitForPrompt()) << plain.Output();
    const uint32_t asked = NativePlatform().TickCount();
    ASSERT_TRUE(plain.Wait());
    const int64_t searchMs = std::max<int64_t>(1, NativePlatform().TickCount() - asked);

    // The numbers are in the table once the question is asked: restarts add nothing.
    bool addNumbers = true;
    for (uint64_t kill = 0;; ++kill) {
      const uint64_t resultBytes = ResultBytes(stoppedDir.path());
      Child run(stoppedDir.path(), Answers(addNumbers));
      ASSERT_TRUE(run.started());
      ASSERT_TRUE(run.WaitForPrompt()) << run.Output();
      addNumbers = false;
      if (kill == killsPerRun) {
        ASSERT_TRUE(run.Wait()) << run.Output();
        break;
      }
      std::uniform_int_distribution<int64_t> delay(0, searchMs);
      ::usleep(static_cast<useconds_t>(delay(rng) * 1000));
      if (!run.Kill()) break;  // it completed before the stop
      const std::string out = run.Output();
      const bool pastContSearch = out.find("[ms] : ContSearch") != std::string::npos ||
                                  out.find("Skip : ContSearch") != std::string::npos;
      ++(pastContSearch ? stopsLater : stopsInContSearch);
      if (ResultBytes(stoppedDir.path()) != resultBytes &&
          out.find("[ms] : Len3Search") == std::string::npos) {
        ++stopsAfterResults;
      }
    }
  }
  std::cout << "stops during the continuation search: " << stopsInContSearch
            << ", later: " << stopsLater << ", after writing results: " << stopsAfterResults
            << "\n";

  const auto plain = kvtest::ReadFiles(plainDir.path());
  const auto stopped = kvtest::ReadFiles(stoppedDir.path());
  EXPECT_EQ(stopped.count("__TEMP___ContData_txt.dat"), 0u);
  EXPECT_EQ(stopped.count("_HalfData.dat"), 0u);
  EXPECT_EQ(stopped.at("_APData.dat"), plain.at("_APData.dat"));

  // Nothing is missing, nothing is false and nothing comes twice, however many stops followed
  // the writing of results: every file is that of the uninterrupted series.
  const auto plainResults = kvtest::ResultFiles(plain);
  const auto stoppedResults = kvtest::ResultFiles(stopped);
  ASSERT_FALSE(plainResults.empty());
  for (const auto& [length, content] : plainResults) {
    ASSERT_EQ(stoppedResults.count(length), 1u) << "length " << length;
    const std::string& got = stoppedResults.at(length);
    EXPECT_TRUE(got == content) << "length " << length << "\nmissing:\n"
                                << Missing(LineSet(content), LineSet(got)) << "extra:\n"
                                << Missing(LineSet(got), LineSet(content)) << "twice:\n"
                                << Repeated(got);
  }
  EXPECT_EQ(stoppedResults.size(), plainResults.size());
  EXPECT_FALSE(StoreSet(plain).empty());
  EXPECT_EQ(StoreSet(stopped), StoreSet(plain));
  EXPECT_EQ(stopped.at("_ContData_insp.txt"), plain.at("_ContData_insp.txt"));
  EXPECT_EQ(stopped.count("_NOTAddData.txt"), plain.count("_NOTAddData.txt"));
}

// A small file system in memory, mounted over a fresh directory and unmounted in all cases.
class SmallDisk {
 public:
  explicit SmallDisk(int64_t bytes) {
    mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, Size(bytes).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }
  const fs::path& path() const { return dir_.path(); }
  bool Resize(int64_t bytes) {
    return ::mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_REMOUNT, Size(bytes).c_str()) == 0;
  }

 private:
  static std::string Size(int64_t bytes) { return "size=" + std::to_string(bytes); }
  kvtest::TempDir dir_;
  bool mounted_ = false;
};

// Two runs over growing tables on a disk that is too small: each failed try says why and leaves
// every result file a beginning of the undisturbed one (nothing piles up from try to try); with
// a little more room each time the runs complete, and the files are those of the same runs on a
// large disk.
TEST(FullDisk, RetriesWithMoreRoomEndWithTheFilesOfAnUndisturbedSeries) {
  const auto primes = kvtest::PrimesBelow(40000);
  kvtest::TempDir inputs;
  const fs::path halves[] = {inputs.path() / "a.txt", inputs.path() / "b.txt"};
  const size_t half = primes.size() / 2;
  kvtest::WriteFiles(inputs.path(),
                     {{"a.txt", NumberFile({primes.begin(), primes.begin() + long(half)})},
                      {"b.txt", NumberFile({primes.begin() + long(half), primes.end()})}});
  auto answers = [&](int step) { return halves[step].string() + "\n4\n\n"; };

  kvtest::TempDir plainDir;
  for (int step = 0; step < 2; ++step) {
    ASSERT_EQ(kvtest::RunExecutableIn(KV_KOLVEX_EXE, answers(step), plainDir.path()).exitCode, 0);
  }
  const auto plain = kvtest::ReadFiles(plainDir.path());
  int64_t total = 0;
  for (const auto& [name, content] : plain) total += static_cast<int64_t>(content.size());

  int64_t room = 16384;
  SmallDisk disk(room);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  const int64_t step = std::max<int64_t>(4096, total / 12);
  int failures = 0;
  for (int run = 0; run < 2; ++run) {
    for (int tries = 0;; ++tries) {
      ASSERT_LT(tries, 40) << "run " << run << " never completed";
      const auto got = kvtest::RunExecutableIn(KV_KOLVEX_EXE, answers(run), disk.path());
      if (got.exitCode == 0) break;
      ASSERT_EQ(got.exitCode, 2) << got.output;
      EXPECT_NE(got.output.find("ディスクの空き容量が不足しています。"), std::string::npos)
          << got.output;
      ++failures;
      const auto results = kvtest::ResultFiles(got.files);
      for (const auto& [length, content] : kvtest::ResultFiles(plain)) {
        const auto it = results.find(length);
        if (it == results.end()) continue;
        EXPECT_EQ(content.compare(0, it->second.size(), it->second), 0)
            << "length " << length << " after a failed try:\n"
            << Repeated(it->second);
      }
      room += step;
      ASSERT_TRUE(disk.Resize(room));
    }
  }
  std::cout << "failed tries: " << failures << ", final room " << room / 1024 << " KB for "
            << total / 1024 << " KB of files\n";
  EXPECT_GT(failures, 3);
  const auto got = kvtest::ReadFiles(disk.path());
  for (const auto& [name, content] : plain) {
    if (name.rfind("__", 0) == 0) continue;
    ASSERT_EQ(got.count(name), 1u) << name;
    if (name == "_ContData.dat") {
      const auto want = kvtest::DecodeStore(content);
      const auto have = kvtest::DecodeStore(got.at(name));
      EXPECT_EQ(std::set<kvtest::StoredItem>(have.begin(), have.end()),
                std::set<kvtest::StoredItem>(want.begin(), want.end()));
    } else if (name != "_NOTAddData.txt") {
      EXPECT_TRUE(got.at(name) == content) << name << "\ntwice:\n" << Repeated(got.at(name));
    }
  }
}

}  // namespace
}  // namespace kv
