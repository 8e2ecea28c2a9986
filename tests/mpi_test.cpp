// Searches spread over the processes of an MPI job, with real mpirun jobs: every file and every
// console byte (timings aside) must be those of the run on one process, and a job that lost a
// rank must leave files from which the next run, with any number of processes or none, goes on
// exactly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

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

std::vector<std::string> RunArguments(int batch, bool prune) {
  std::vector<std::string> a{
      "--add",    "b" + std::to_string(batch) + ".txt", "--min-length", "5", "--threads", "2",
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
    EXPECT_EQ(kvtest::MaskTimings(one.output), kvtest::MaskTimings(job.output)) << what;
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

}  // namespace
