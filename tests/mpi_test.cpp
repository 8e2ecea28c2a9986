// Searches spread over the processes of an MPI job, with real mpirun jobs: every file and every
// console byte (timings aside) must be those of the run on one process, and a job that lost a
// rank must leave files from which the next run, with any number of processes or none, goes on
// exactly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/process.h"
#include "tests/search_testing.h"
#include "tests/table_files.h"

namespace {

using kv::Width32;
using kv::Width64;
using kvtest::Files;
using kvtest::TempDir;

// mpirun, or empty when the programs are built without MPI or no launcher was found.
constexpr const char* kMpirun = KV_MPIRUN;

bool MpiReady() {
  if (kMpirun[0] == '\0') return false;
  // The suite runs as root in CI; more processes than cores are fine for these small runs.
  ::setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
  ::setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
  // What MPI_Init allocates for good is its own, not the programs' leak.
  const char* asan = std::getenv("ASAN_OPTIONS");
  ::setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":detect_leaks=0").c_str(),
           1);
  return true;
}

std::vector<std::string> UnderMpi(int processes, const std::string& program,
                                  const std::vector<std::string>& arguments) {
  std::vector<std::string> all{"--oversubscribe", "-np", std::to_string(processes), program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return all;
}

std::string Lines(const std::vector<uint64_t>& primes, uint64_t from, uint64_t to) {
  std::string text;
  for (const uint64_t p : primes) {
    if (p >= from && p < to) text += std::to_string(p) + "\n";
  }
  return text;
}

// Three batches of primes below `top` and a sieved list of the candidates up to twice it.
template <typename W>
Files Batches(uint64_t top) {
  const auto primes = kvtest::PrimesBelow(2 * top);
  std::vector<uint64_t> sieved{top, 2 * top};
  for (const uint64_t p : primes) {
    if (p >= top) sieved.push_back(p);
  }
  return {{"b1.txt", Lines(primes, 0, top / 4)},
          {"b2.txt", Lines(primes, top / 4, top / 2)},
          {"b3.txt", Lines(primes, top / 2, top)},
          {kvtest::Names<W>::kSieved, kvtest::SievedFile<W>(sieved)}};
}

// Batch 0 adds nothing: the run that completes a stopped one.
std::vector<std::string> RunArguments(int batch, bool prune) {
  std::vector<std::string> a{"--add",        batch == 0 ? "" : "b" + std::to_string(batch) + ".txt",
                             "--min-length", "5",
                             "--threads",    "2",
                             "--no-wait"};
  if (prune) a.push_back("--prune");
  return a;
}

void ExpectSameFiles(const Files& expected, const Files& got, const std::string& what) {
  EXPECT_EQ(expected.size(), got.size()) << what;
  for (const auto& [name, content] : expected) {
    EXPECT_TRUE(got.count(name) != 0 && got.at(name) == content) << what << ": " << name;
  }
}

template <typename W>
void ExpectJobMatchesThreads(const char* program, bool prune) {
  TempDir threaded;
  TempDir spread;
  kvtest::WriteFiles(threaded.path(), Batches<W>(120000));
  kvtest::WriteFiles(spread.path(), Batches<W>(120000));
  for (int batch = 1; batch <= 3; ++batch) {
    const std::string what =
        std::string(program) + (prune ? " --prune" : "") + ", run " + std::to_string(batch);
    const auto one =
        kvtest::RunExecutableIn(program, "", threaded.path(), RunArguments(batch, prune));
    const auto job = kvtest::RunExecutableIn(kMpirun, "", spread.path(),
                                             UnderMpi(3, program, RunArguments(batch, prune)));
    ASSERT_EQ(one.exitCode, 0) << what;
    ASSERT_EQ(job.exitCode, 0) << what;
    EXPECT_EQ(kvtest::MaskTimings(kvtest::WithoutProgress(one.output)),
              kvtest::MaskTimings(kvtest::WithoutProgress(job.output)))
        << what;
    ExpectSameFiles(one.files, job.files, what);
  }
  EXPECT_GE(kvtest::ReadFiles(threaded.path()).count("_L7_ResultData.txt"), 1u);
}

TEST(Mpi, JobsLeaveTheFilesOfTheThreadedRun) {
  if (!MpiReady()) GTEST_SKIP() << "MPI is not built in or mpirun was not found";
  for (const bool prune : {false, true}) {
    ExpectJobMatchesThreads<Width64>(KV_KOLVEX_EXE, prune);
    ExpectJobMatchesThreads<Width32>(KV_KOLVEX32_EXE, prune);
  }
}

// The process of rank `rank` among the children of mpirun (its local ranks), or -1.
pid_t RankProcess(pid_t mpirun, int rank) {
  const std::string wanted = "OMPI_COMM_WORLD_RANK=" + std::to_string(rank);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    fields >> state >> parent;
    if (parent != mpirun) continue;
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    std::string variable;
    while (std::getline(environ, variable, '\0')) {
      if (variable == wanted) return static_cast<pid_t>(std::stol(name));
    }
  }
  return -1;
}

// A job that loses a rank in the middle of its length-3 search ends as MPI ends it; the same
// command then completes with two processes, and the next run without MPI, and the files are
// those of the same runs undisturbed.
TEST(Mpi, LostRankLeavesFilesThatTheNextRunsComplete) {
  if (!MpiReady()) GTEST_SKIP() << "MPI is not built in or mpirun was not found";
  const Files batches = Batches<Width64>(1000000);
  TempDir undisturbed;
  TempDir disturbed;
  kvtest::WriteFiles(undisturbed.path(), batches);
  kvtest::WriteFiles(disturbed.path(), batches);
  for (int batch = 1; batch <= 3; ++batch) {
    ASSERT_EQ(
        kvtest::RunExecutableIn(KV_KOLVEX_EXE, "", undisturbed.path(), RunArguments(batch, true))
            .exitCode,
        0);
  }
  ASSERT_EQ(
      kvtest::RunExecutableIn(KV_KOLVEX_EXE, "", disturbed.path(), RunArguments(1, true)).exitCode,
      0);

  TempDir outDir;
  int toChild = -1;
  const pid_t job =
      kvtest::StartProgram(kMpirun, UnderMpi(3, KV_KOLVEX_EXE, RunArguments(2, true)),
                           disturbed.path().string(), (outDir.path() / "out").string(), toChild);
  ASSERT_GT(job, 0);
  ::close(toChild);
  // The checkpoint appears as the length-3 search begins; the other ranks then have their work.
  const auto checkpoint = disturbed.path() / "_HalfData.dat";
  pid_t rank1 = -1;
  for (int waited = 0; waited < 60000 && rank1 < 0; waited += 5) {
    if (std::filesystem::exists(checkpoint)) rank1 = RankProcess(job, 1);
    ::usleep(5000);
  }
  ::usleep(20000);
  if (rank1 > 0) ::kill(rank1, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(job, &status, 0), job);
  ASSERT_GT(rank1, 0) << "rank 1 was never seen";
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the job was not stopped";

  const auto again = kvtest::RunExecutableIn(kMpirun, "", disturbed.path(),
                                             UnderMpi(2, KV_KOLVEX_EXE, RunArguments(0, true)));
  ASSERT_EQ(again.exitCode, 0) << again.output;
  const auto alone =
      kvtest::RunExecutableIn(KV_KOLVEX_EXE, "", disturbed.path(), RunArguments(3, true));
  ASSERT_EQ(alone.exitCode, 0) << alone.output;
  // As after any stop: the backup of the table is the one the resumed run made, and the store
  // holds the same items, which a resumed run may group differently.
  for (const auto& [name, content] : kvtest::ReadFiles(undisturbed.path())) {
    if (name.rfind("__", 0) == 0) continue;
    ASSERT_EQ(alone.files.count(name), 1u) << name;
    if (name == "_ContData.dat") {
      const auto want = kvtest::DecodeStore(content);
      const auto have = kvtest::DecodeStore(alone.files.at(name));
      EXPECT_EQ(std::set<kvtest::StoredItem>(have.begin(), have.end()),
                std::set<kvtest::StoredItem>(want.begin(), want.end()));
    } else {
      EXPECT_TRUE(alone.files.at(name) == content) << name;
    }
  }
}

}  // namespace
