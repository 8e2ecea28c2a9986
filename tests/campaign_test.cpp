// kvcampaign: its files are those of the same steps done by hand with primesieve, kvimport and
// the search program; stopped anywhere and started again it ends with the undisturbed files.
#include "campaign/campaign.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/harness.h"
#include "tests/memfs.h"
#include "tests/process.h"
#include "tests/search_testing.h"

namespace kv {
namespace {

using kvtest::Files;

// Files that a campaign and the same steps by hand both leave (the hand's input files apart).
Files Outcome(Files files) {
  files.erase("next.txt");
  files.erase("step.txt");
  return files;
}

std::string PrimesText(uint64_t from, uint64_t to, const std::filesystem::path& scratch) {
  const auto out = (scratch / "primes.out").string();
  const int code =
      kvtest::RunProgram(KV_PRIMESIEVE_EXE, {std::to_string(from), std::to_string(to), "-p"},
                         scratch.string(), "", out);
  EXPECT_EQ(code, 0);
  std::ifstream in(out, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Campaign, FilesEqualTheSameStepsByHand) {
  if (!std::filesystem::exists(KV_PRIMESIEVE_EXE)) GTEST_SKIP() << "no primesieve program";
  constexpr uint64_t kStep = 10000;
  constexpr uint64_t kLimit = 30000;
  for (const bool narrow : {false, true}) {
    SCOPED_TRACE(narrow ? "32-bit" : "64-bit");
    std::vector<std::string> arguments = {
        "--to", std::to_string(kLimit), "--step", std::to_string(kStep), "--min-length",
        "5",    "--sieve-factor",       "2.5"};
    if (narrow) arguments.push_back("--32");
    kvtest::TempDir campaignDir;
    const auto campaign =
        kvtest::RunExecutableIn(KV_CAMPAIGN_EXE, "", campaignDir.path(), arguments);
    EXPECT_EQ(campaign.exitCode, 0) << campaign.output;

    kvtest::TempDir hand;
    kvtest::TempDir scratch;
    const char* menu = narrow ? "2\n" : "1\n";
    for (uint64_t end = kStep; end <= kLimit; end += kStep) {
      const uint64_t listEnd = end * 5 / 2;
      kvtest::WriteFiles(hand.path(),
                         {{"next.txt", "primes\n" + PrimesText(end + 1, listEnd, scratch.path())},
                          {"step.txt", PrimesText(end - kStep + 1, end, scratch.path())}});
      const bool listExists = std::filesystem::exists(
          hand.path() / (narrow ? "_SievedListData32.dat" : "_SievedListData.dat"));
      const std::string bounds =
          (listExists ? "" : std::to_string(end + 1) + "\n") + std::to_string(listEnd) + "\n\n";
      const auto import = kvtest::RunExecutableIn(
          KV_IMPORT_EXE, menu + std::string("next.txt\n") + bounds, hand.path());
      EXPECT_EQ(import.exitCode, 0);
      const auto search = kvtest::RunExecutableIn(narrow ? KV_KOLVEX32_EXE : KV_KOLVEX_EXE,
                                                  "step.txt\n5\n\n", hand.path(), {"--prune"});
      EXPECT_EQ(search.exitCode, 0);
    }
    const Files byHand = Outcome(kvtest::ReadFiles(hand.path()));
    EXPECT_TRUE(Outcome(campaign.files) == byHand);
    for (const auto& [name, content] : byHand) {
      EXPECT_TRUE(campaign.files.count(name) != 0 && campaign.files.at(name) == content) << name;
    }
    EXPECT_GE(byHand.count("_L7_ResultData.txt"), 1u);
  }
}

TEST(Campaign, BadArgumentsTouchNothing) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--to", "1000"},
      {"--min-length", "5"},
      {"--to", "99", "--min-length", "5"},
      {"--to", "2147483648", "--min-length", "5", "--32"},
      {"--to", "9223372036854775808", "--min-length", "5"},
      {"--to", "100000", "--min-length", "5", "--step", "1999"},
      {"--to", "100000", "--min-length", "2"},
      {"--to", "100000", "--min-length", "5", "--sieve-factor", "1"},
      {"--to", "100000", "--min-length", "5", "--sieve-factor", "100.001"},
      {"--to", "100000", "--min-length", "5", "--sieve-factor", "2.0001"},
      {"--to", "100000", "--min-length", "5", "--sieve-factor", "x"},
      {"--to", "100000", "--min-length", "5", "--threads", "0"},
      {"--to", "100000", "--min-length", "5", "--prune"},
  };
  const Files files{{"_APData.dat", "table"}};
  for (const auto& arguments : bad) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    kvtest::FakePlatform fake;
    const auto run = kvtest::RunInProcess([&] { RunCampaignCommand(arguments); }, fake, files);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.files, files);
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(fake.errorOutput.starts_with("kvcampaign: ")) << fake.errorOutput;
  }
}

// The store's items in the order of their first appearance: a resumed re-examination may group
// them otherwise.
std::vector<kvtest::StoredItem> FirstAppearances(const std::string& store) {
  std::vector<kvtest::StoredItem> items;
  std::set<kvtest::StoredItem> seen;
  for (const auto& item : kvtest::DecodeStore(store)) {
    if (seen.insert(item).second) items.push_back(item);
  }
  return items;
}

// Runs the campaign over the memory platform until it ends; true when it was stopped.
bool RunOnce(const CampaignPlan& plan, kvtest::MemoryPlatform& p) {
  p.output.clear();
  Platform* previous = SetPlatform(&p);
  bool killed = false;
  try {
    RunCampaign(plan);
  } catch (const kvtest::ExitRequest& end) {
    EXPECT_EQ(end.code, 0) << p.output;
  } catch (const kvtest::Killed&) {
    killed = true;
  }
  ClearPresetAnswers();
  SetPlatform(previous);
  return killed;
}

TEST(Campaign, StoppedAnywhereAndStartedAgainEndsWithTheUndisturbedFiles) {
  CampaignPlan plan;
  plan.limit = 24000;
  plan.step = 6000;
  plan.minLength = 5;
  for (const bool narrow : {false, true}) {
    plan.narrow = narrow;
    kvtest::MemoryPlatform undisturbed;
    RunOnce(plan, undisturbed);
    const Files expected = undisturbed.Snapshot();
    const std::string table = narrow ? "_APData32.dat" : "_APData.dat";
    ASSERT_GE(expected.count(table), 1u);
    std::mt19937 random(narrow ? 32 : 64);
    for (int scenario = 0; scenario < 12; ++scenario) {
      kvtest::MemoryPlatform p;
      // One to three stops in a row, each at an operation drawn among those of a whole campaign.
      const int stops = 1 + static_cast<int>(random() % 3);
      int stopped = 0;
      for (int s = 0; s < stops; ++s) {
        const auto op = static_cast<size_t>(random() % 4);
        const auto total = static_cast<uint64_t>(undisturbed.counts[op]);
        p.Arm(static_cast<kvtest::FaultOp>(op), kvtest::FaultKind::kStop,
              1 + static_cast<int64_t>(random() % total));
        stopped += RunOnce(plan, p) ? 1 : 0;
      }
      p.Arm(kvtest::FaultOp::kOpen, kvtest::FaultKind::kFail, 0);
      EXPECT_FALSE(RunOnce(plan, p));
      Files got = p.Snapshot();
      SCOPED_TRACE("scenario " + std::to_string(scenario) + ", stops " + std::to_string(stopped));
      EXPECT_EQ(FirstAppearances(got["_ContData.dat"]),
                FirstAppearances(expected.at("_ContData.dat")));
      std::set<std::string> names;
      for (const auto& [name, content] : got) names.insert(name);
      for (const auto& [name, content] : expected) names.insert(name);
      for (const std::string& name : names) {
        if (name.starts_with("__OLD___") || name == "_ContData.dat") continue;
        ASSERT_TRUE(got.count(name) != 0 && expected.count(name) != 0) << name;
        EXPECT_TRUE(got.at(name) == expected.at(name)) << name;
      }
    }
  }
}

}  // namespace
}  // namespace kv
