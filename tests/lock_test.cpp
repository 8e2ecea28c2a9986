// One owner of a working directory at a time: every writing program started beside another that
// holds the directory is refused at once with status 2 and changes nothing, and kvreport beside a
// writer reads the files as of the writer's last resume point.
//
// The holder is deterministic rather than a race between two searches: a real Kolvex waiting at
// its question (or a real kvcampaign stopped with SIGSTOP once the lock file names it) on POSIX,
// the test process itself on Windows, where the tests start no program that waits.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/dirlock.h"
#include "report/report.h"
#include "search/phases.h"
#include "tests/process.h"
#include "tests/search_testing.h"
#include "tests/table_files.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kv {
namespace {

namespace fs = std::filesystem;
using kvtest::Files;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

uint64_t ThisProcess() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<uint64_t>(::getpid());
#endif
}

std::string Numbers(const std::vector<uint64_t>& values, uint64_t from, uint64_t to,
                    const std::string& header = "") {
  std::string text = header;
  for (const uint64_t v : values) {
    if (v >= from && v < to) text += std::to_string(v) + "\r\n";
  }
  return text;
}

// The line of a refused writer, up to the holder's process id.
std::string Refusal(const std::string& program, uint64_t pid) {
  return "作業フォルダは " + program + " (プロセス " + std::to_string(pid) + "、";
}

// The lock of `dir` held by this test process as `program`, until it is destroyed.
class HeldByTest {
 public:
  HeldByTest(const fs::path& dir, const std::string& program) {
    std::string holder;
    result_ = NativePlatform().LockFile((dir / kLockFile).string(), program, true, lock_, holder);
  }
  bool held() const { return result_ == LockResult::kTaken; }

 private:
  std::unique_ptr<FileLock> lock_;
  LockResult result_;
};

#ifndef _WIN32
// A real program started in `dir`; the test decides when its input comes and may stop it.
class Child {
 public:
  Child(const std::string& exe, const std::vector<std::string>& args, const fs::path& dir)
      : dir_(dir), output_(outDir_.path() / "out") {
    pid_ = kvtest::StartProgram(exe, args, dir.string(), output_.string(), input_);
  }
  ~Child() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (input_ >= 0) ::close(input_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  std::string Output() const { return ReadFile(output_); }

  // Waits until the lock file names this process; false when the program ended first.
  bool WaitForLock() {
    for (int waited = 0; waited < 60000; ++waited) {
      if (ParseLockFile(ReadFile(dir_ / kLockFile)).pid == std::to_string(pid_)) return !Ended();
      if (Ended()) return false;
      ::usleep(1000);
    }
    return false;
  }
  // Waits until the output shows `text`; false when the program ended first.
  bool WaitForOutput(const std::string& text) {
    for (;;) {
      if (Output().find(text) != std::string::npos) return !Ended();
      if (Ended()) return false;
      ::usleep(1000);
    }
  }
  // Gives the rest of the input and ends it.
  void Answer(const std::string& text) {
    [[maybe_unused]] const ssize_t n = ::write(input_, text.data(), text.size());
    ::close(input_);
    input_ = -1;
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  bool Running() { return !Ended(); }
  // The exit status; -1 when it did not end by itself.
  int Wait() {
    while (!ended_) {
      int status = 0;
      const pid_t got = ::waitpid(pid_, &status, 0);
      if (got == pid_) Finish(status);
      if (got < 0 && errno != EINTR) ended_ = true;
    }
    return code_;
  }

 private:
  bool Ended() {
    int status = 0;
    if (!ended_ && ::waitpid(pid_, &status, WNOHANG) == pid_) Finish(status);
    return ended_;
  }
  void Finish(int status) {
    ended_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir_;
  kvtest::TempDir outDir_;
  fs::path output_;
  int input_ = -1;
  pid_t pid_ = -1;
  bool ended_ = false;
  int code_ = -1;
};
#endif

// A program started beside the holder.
struct Second {
  const char* name;
  std::string exe;
  std::vector<std::string> args;
};

// Runs every program of `seconds` in `dir` while `holder` (process `pid`) holds it: each is
// refused at once with status 2 and changes nothing. kvreport is not refused, and says in one
// line that `holder` runs; with `atPoint` (the holder has appended nothing since its last resume
// point) it reports as it would on a copy of the directory.
void ExpectRefused(const fs::path& dir, const std::string& holder, uint64_t pid,
                   const std::vector<Second>& seconds, const std::string& reportNote,
                   bool atPoint = true) {
  for (const Second& second : seconds) {
    SCOPED_TRACE(second.name);
    const Files before = kvtest::ReadFiles(dir);
    const uint32_t started = NativePlatform().TickCount();
    const auto run = kvtest::RunExecutableIn(second.exe, "", dir, second.args);
    // At once: nobody waits for the lock.
    EXPECT_LT(NativePlatform().TickCount() - started, 20000u);
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find(Refusal(holder, pid)), std::string::npos) << run.output;
    EXPECT_TRUE(run.files == before);
  }
  // kvreport is never refused; it reads what a copy of the directory holds, as of the holder's
  // resume point.
  const Files before = kvtest::ReadFiles(dir);
  kvtest::TempDir copy;
  kvtest::WriteFiles(copy.path(), before);
  const auto alone = kvtest::RunExecutableIn(KV_REPORT_EXE, "", copy.path());
  const auto beside = kvtest::RunExecutableIn(KV_REPORT_EXE, "", dir);
  if (atPoint) {
    EXPECT_EQ(beside.exitCode, alone.exitCode) << beside.output;
  }
  const std::string note = holder + " (プロセス " + std::to_string(pid) + "、";
  const size_t at = beside.output.find("\r\n");
  ASSERT_NE(at, std::string::npos);
  const size_t end = beside.output.find("\r\n", at + 2);
  const std::string line = beside.output.substr(at + 2, end - at - 2);
  EXPECT_EQ(line.rfind(note, 0), 0u) << line;
  EXPECT_NE(line.find(reportNote), std::string::npos) << line;
  if (atPoint) {
    EXPECT_EQ(beside.output.substr(0, at + 2) + beside.output.substr(end + 2), alone.output);
  }
  EXPECT_TRUE(kvtest::ReadFiles(dir) == before);
}

TEST(DirectoryLock, EveryWriterBesideAHolderIsRefusedAndTheFilesStayThoseOfTheUndisturbedRun) {
  const auto primes = kvtest::PrimesBelow(50000);
  const std::vector<uint64_t> low(primes.begin(),
                                  std::lower_bound(primes.begin(), primes.end(), 10000));
  std::vector<uint64_t> list = {20001, 40000};
  for (const uint64_t p : primes) {
    if (p > 20000 && p <= 40000) list.push_back(p);
  }
  const Files start = {{"_APData.dat", kvtest::FreshTable<Width64>(low)},
                       {"add.txt", Numbers(primes, 10000, 20000)},
                       {"more.txt", Numbers(primes, 40001, 50000, "primes\r\n")},
                       {"_SievedListData.dat", kvtest::SievedFile<Width64>(list)}};
  const std::vector<Second> seconds = {
      {"Kolvex", KV_KOLVEX_EXE, {"--add", "add.txt", "--min-length", "8", "--no-wait"}},
      {"Kolvex32 without its table",
       KV_KOLVEX32_EXE,
       {"--add", "", "--min-length", "8", "--no-wait"}},
      {"kvimport", KV_IMPORT_EXE, {"--64", "--add", "more.txt", "--end", "", "--no-wait"}},
      {"kvconvert", KV_CONVERT_EXE, {"--to-32", "--no-wait"}},
#ifdef KV_CAMPAIGN_EXE
      {"kvcampaign", KV_CAMPAIGN_EXE, {"--to", "30000", "--step", "10000", "--min-length", "8"}},
#endif
  };

  kvtest::TempDir undisturbed;
  kvtest::WriteFiles(undisturbed.path(), start);
  const auto alone =
      kvtest::RunExecutableIn(KV_KOLVEX_EXE, "8\n\n", undisturbed.path(), {"--add", "add.txt"});
  ASSERT_EQ(alone.exitCode, 0) << alone.output;

  kvtest::TempDir dir;
  kvtest::WriteFiles(dir.path(), start);
#ifdef _WIN32
  {
    HeldByTest held(dir.path(), "Kolvex");
    ASSERT_TRUE(held.held());
    ExpectRefused(dir.path(), "Kolvex", ThisProcess(), seconds,
                  "書き込み途中のファイルをそのまま集計します。");
  }
  // The directory is free again: the run that was held back does its work.
  EXPECT_EQ(
      kvtest::RunExecutableIn(KV_KOLVEX_EXE, "8\n\n", dir.path(), {"--add", "add.txt"}).exitCode,
      0);
#else
  {
    // Kolvex holds the directory from its start: here it has mended, read and saved the table
    // and waits for the shortest length to save.
    Child kolvex(KV_KOLVEX_EXE, {"--add", "add.txt"}, dir.path());
    ASSERT_GT(kolvex.pid(), 0);
    ASSERT_TRUE(kolvex.WaitForOutput(std::string(kMinLengthPrompt))) << kolvex.Output();
    ASSERT_TRUE(kolvex.WaitForLock());
    ExpectRefused(dir.path(), "Kolvex", static_cast<uint64_t>(kolvex.pid()), seconds,
                  "集計はその最後の再開点までです。");
    kolvex.Answer("8\n\n");
    EXPECT_EQ(kolvex.Wait(), 0) << kolvex.Output();
  }
#endif
  EXPECT_TRUE(kvtest::ReadFiles(dir.path()) == alone.files);

#if !defined(_WIN32) && defined(KV_CAMPAIGN_EXE)
  // kvcampaign holds the directory for its whole run, over its inner runs of kvimport and the
  // search program: stopped anywhere, it still holds it.
  const std::vector<std::string> campaignArgs = {"--to",   "600000",       "--step",
                                                 "150000", "--min-length", "8"};
  kvtest::TempDir campaignAlone;
  const auto plain =
      kvtest::RunExecutableIn(KV_CAMPAIGN_EXE, "", campaignAlone.path(), campaignArgs);
  ASSERT_EQ(plain.exitCode, 0) << plain.output;
  kvtest::TempDir campaignDir;
  {
    Child campaign(KV_CAMPAIGN_EXE, campaignArgs, campaignDir.path());
    ASSERT_GT(campaign.pid(), 0);
    ASSERT_TRUE(campaign.WaitForLock()) << "the campaign ended before it could be stopped";
    campaign.Signal(SIGSTOP);
    ASSERT_TRUE(campaign.Running()) << "the campaign ended before it could be stopped";
    ExpectRefused(campaignDir.path(), "kvcampaign", static_cast<uint64_t>(campaign.pid()),
                  {{"Kolvex", KV_KOLVEX_EXE, {"--add", "", "--min-length", "8", "--no-wait"}},
                   {"kvcampaign", KV_CAMPAIGN_EXE, campaignArgs}},
                  "が実行中です。", false);
    campaign.Signal(SIGCONT);
    EXPECT_EQ(campaign.Wait(), 0) << campaign.Output();
  }
  // The campaign's log is the same but for its times.
  auto withoutTimes = [](Files files) {
    files["_CampaignLog.csv"] = kvtest::LogWithoutTimes(files["_CampaignLog.csv"]);
    return files;
  };
  EXPECT_TRUE(withoutTimes(kvtest::ReadFiles(campaignDir.path())) == withoutTimes(plain.files));
#endif
}

// The files of a search over the primes below 3000 in `dir`.
Files FinishedSearch(const fs::path& dir) {
  const auto primes = kvtest::PrimesBelow(3000);
  kvtest::WriteFiles(dir, {{"new.txt", Numbers(primes, 0, 3000)}});
  kvtest::FakePlatform fake;
  fake.input = {"new.txt", "5", ""};
  SearchState<Width64> state;
  const auto run = kvtest::RunInDirectory([&] { RunSearchProgram(state); }, fake, dir);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  fs::remove(dir / "new.txt");
  return kvtest::ReadFiles(dir);
}

struct Report {
  int status = -1;
  std::string output;
};

Report RunReportIn(const fs::path& dir) {
  kvtest::FakePlatform fake;
  Report report;
  report.output =
      kvtest::RunInDirectory([&] { report.status = RunReportProgram({}); }, fake, dir).output;
  return report;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    text += kDigits[static_cast<unsigned char>(c) >> 4];
    text += kDigits[static_cast<unsigned char>(c) & 15];
  }
  return text;
}

TEST(DirectoryLock, ReportBesideAWriterStopsAtItsLastResumePoint) {
  kvtest::TempDir dir;
  const Files finished = FinishedSearch(dir.path());
  const Report clean = RunReportIn(dir.path());
  ASSERT_EQ(clean.status, 0) << clean.output;

  // A run in progress: its journal records the present point, and it has appended to the files
  // since: a line already listed, a store item that fits no table, a new result file.
  const std::string table = finished.at("_APData.dat");
  std::string journal = "KVJOURNAL 1\ntable 16 _APData.dat\nhalf _HalfData.dat\npoint " +
                        Hex(table.substr(0, 16)) + " " + std::to_string(table.size()) + " -1 0 0\n";
  for (const auto& [name, content] : finished) {
    if (name.rfind("_L", 0) == 0 || name == "_ContData.dat" || name == "_ContData_insp.txt") {
      journal += "file " + std::to_string(content.size()) + " - " + name + "\n";
    }
  }
  journal += "file -1 - _L12_ResultData.txt\nend\n";
  const std::string l5 = finished.at("_L5_ResultData.txt");
  const std::string line5 = kvtest::SplitLines(l5)[1];
  kvtest::WriteFiles(
      dir.path(), {{"__JOURNAL___Kolvex.dat", journal},
                   {"_L5_ResultData.txt", l5 + line5 + "\r\n"},
                   {"_ContData.dat", finished.at("_ContData.dat") + kvtest::LE<int32_t>(-100000) +
                                         kvtest::LE<int32_t>(3)},
                   {"_L12_ResultData.txt", "Len 12, 7 + 2 *n\r\n"}});
  const Files during = kvtest::ReadFiles(dir.path());

  {
    HeldByTest held(dir.path(), "Kolvex");
    ASSERT_TRUE(held.held());
    const Report beside = RunReportIn(dir.path());
    EXPECT_EQ(beside.status, 0) << beside.output;
    const std::string note = "Kolvex (プロセス " + std::to_string(ThisProcess()) + "、";
    const size_t at = beside.output.find("\r\n") + 2;
    const size_t end = beside.output.find("\r\n", at);
    const std::string line = beside.output.substr(at, end - at);
    EXPECT_EQ(line.rfind(note, 0), 0u) << line;
    EXPECT_NE(line.find("が実行中です。集計はその最後の再開点までです。"), std::string::npos);
    EXPECT_EQ(beside.output.substr(0, at) + beside.output.substr(end + 2), clean.output);

    // A journal whose point the files do not show: what stands is read, with a word about it.
    kvtest::WriteFiles(dir.path(), {{"__JOURNAL___Kolvex.dat",
                                     journal.replace(journal.find(" -1 0 0"), 7, " 16 0 0")}});
    const Report unmatched = RunReportIn(dir.path());
    EXPECT_EQ(unmatched.status, 1);
    EXPECT_NE(unmatched.output.find(note), std::string::npos);
    EXPECT_NE(unmatched.output.find("が実行中です。書き込み途中のファイルをそのまま集計します。"),
              std::string::npos)
        << unmatched.output;
    kvtest::WriteFiles(dir.path(),
                       {{"__JOURNAL___Kolvex.dat", during.at("__JOURNAL___Kolvex.dat")}});
  }
  // Without a writer the report reads the files whole, and takes the lock itself.
  const Report whole = RunReportIn(dir.path());
  EXPECT_EQ(whole.status, 1) << whole.output;
  EXPECT_EQ(whole.output.find("が実行中です。"), std::string::npos);
  EXPECT_EQ(ParseLockFile(ReadFile(dir.path() / kLockFile)).program, "kvreport");
  // Nothing is written but the lock file.
  EXPECT_TRUE(kvtest::ReadFiles(dir.path()) == during);
}

}  // namespace
}  // namespace kv
