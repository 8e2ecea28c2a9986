// kvcampaign: its files are those of the same steps done by hand with primesieve, kvimport and
// the search program; stopped anywhere and started again it ends with the undisturbed files.
#include "campaign/campaign.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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

// Files that a campaign and the same steps by hand both leave (the hand's input files and the
// campaign's log apart).
Files Outcome(Files files) {
  files.erase("next.txt");
  files.erase("step.txt");
  files.erase("_CampaignLog.csv");
  return files;
}

// The "L5:12 L6:3" of the result lines added to `now` since `before`, by length.
std::string Found(const Files& before, const Files& now) {
  std::string text;
  for (int length = 3; length <= 64; ++length) {
    const std::string name = "_L" + std::to_string(length) + "_ResultData.txt";
    const auto lines = [&name](const Files& files) -> int64_t {
      const auto file = files.find(name);
      return file == files.end() ? 1 : std::count(file->second.begin(), file->second.end(), '\n');
    };
    if (lines(now) > lines(before)) {
      text += (text.empty() ? "L" : " L") + std::to_string(length) + ":" +
              std::to_string(lines(now) - lines(before));
    }
  }
  return text;
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
    // The log the steps by hand call for, without its times.
    std::string log = "ステップ,範囲開始,範囲終了,所要秒,CPU秒,発見,最長\r\n";
    for (uint64_t end = kStep; end <= kLimit; end += kStep) {
      const Files before = kvtest::ReadFiles(hand.path());
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
      const Files now = kvtest::ReadFiles(hand.path());
      int longest = 0;
      for (int length = 3; length <= 64; ++length) {
        if (!Found(before, now).empty() &&
            Found({}, now).find("L" + std::to_string(length) + ":") != std::string::npos) {
          longest = length;
        }
      }
      log += std::to_string(end / kStep) + "," + std::to_string(end - kStep + 1) + "," +
             std::to_string(end) + ",,," + Found(before, now) + "," + std::to_string(longest) +
             "\r\n";
    }
    const Files byHand = Outcome(kvtest::ReadFiles(hand.path()));
    EXPECT_TRUE(Outcome(campaign.files) == byHand);
    ASSERT_EQ(campaign.files.count("_CampaignLog.csv"), 1u);
    EXPECT_EQ(kvtest::LogWithoutTimes(campaign.files.at("_CampaignLog.csv")),
              kvtest::LogWithoutTimes(log));
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

// Runs the campaign over the memory platform until it ends with `status`; true when it was
// stopped.
bool RunOnce(const CampaignPlan& plan, kvtest::MemoryPlatform& p, int status = 0) {
  p.output.clear();
  Platform* previous = SetPlatform(&p);
  bool killed = false;
  try {
    RunCampaign(plan);
  } catch (const kvtest::ExitRequest& end) {
    EXPECT_EQ(end.code, status) << p.output;
  } catch (const kvtest::Killed&) {
    killed = true;
  }
  ClearPresetAnswers();
  SetPlatform(previous);
  return killed;
}

// The sorted lines of every result file, and the store's items as a set.
std::map<std::string, std::multiset<std::string>> ResultsInAnyOrder(const Files& files) {
  std::map<std::string, std::multiset<std::string>> results;
  for (const auto& [name, content] : files) {
    if (!name.ends_with("_ResultData.txt")) continue;
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) results[name].insert(line);
  }
  for (const auto& item : FirstAppearances(files.at("_ContData.dat"))) {
    results["_ContData.dat"].insert(std::to_string(item.first) + " " + std::to_string(item.second));
  }
  return results;
}

// Every file as the undisturbed campaign left it: the backup apart, the store's items in their
// order of first appearance and the log without its times.
void ExpectUndisturbed(Files got, const Files& expected) {
  EXPECT_EQ(FirstAppearances(got["_ContData.dat"]), FirstAppearances(expected.at("_ContData.dat")));
  std::set<std::string> names;
  for (const auto& [name, content] : got) names.insert(name);
  for (const auto& [name, content] : expected) names.insert(name);
  for (const std::string& name : names) {
    if (name.starts_with("__OLD___") || name == "_ContData.dat") continue;
    ASSERT_TRUE(got.count(name) != 0 && expected.count(name) != 0) << name;
    if (name == "_CampaignLog.csv") {
      EXPECT_EQ(kvtest::LogWithoutTimes(got.at(name)), kvtest::LogWithoutTimes(expected.at(name)));
    } else {
      EXPECT_TRUE(got.at(name) == expected.at(name)) << name;
    }
  }
}

TEST(Campaign, StoppedAnywhereAndStartedAgainEndsWithTheUndisturbedFiles) {
  CampaignPlan fixed;
  fixed.limit = 24000;
  fixed.step = 6000;
  fixed.minLength = 5;
  // Steps of 1000 up to 20000, then of 2000.
  CampaignPlan growing = fixed;
  growing.step = 0;
  growing.unit = 1000;
  for (const bool narrow : {false, true}) {
    fixed.narrow = growing.narrow = narrow;
    kvtest::MemoryPlatform undisturbed[2];
    RunOnce(fixed, undisturbed[0]);
    RunOnce(growing, undisturbed[1]);
    const Files expected[2] = {undisturbed[0].Snapshot(), undisturbed[1].Snapshot()};
    const std::string table = narrow ? "_APData32.dat" : "_APData.dat";
    ASSERT_GE(expected[0].count(table), 1u);
    // Other steps find the same progressions, perhaps in another order.
    EXPECT_EQ(ResultsInAnyOrder(expected[0]), ResultsInAnyOrder(expected[1]));
    std::mt19937 random(narrow ? 32 : 64);
    for (int scenario = 0; scenario < 12; ++scenario) {
      const int kind = scenario % 2;
      const CampaignPlan& plan = kind == 0 ? fixed : growing;
      kvtest::MemoryPlatform p;
      // One to three stops in a row, each at an operation drawn among those of a whole campaign.
      const int stops = 1 + static_cast<int>(random() % 3);
      int stopped = 0;
      for (int s = 0; s < stops; ++s) {
        const auto op = static_cast<size_t>(random() % 4);
        const auto total = static_cast<uint64_t>(undisturbed[kind].counts[op]);
        p.Arm(static_cast<kvtest::FaultOp>(op), kvtest::FaultKind::kStop,
              1 + static_cast<int64_t>(random() % total));
        stopped += RunOnce(plan, p) ? 1 : 0;
      }
      p.Arm(kvtest::FaultOp::kOpen, kvtest::FaultKind::kFail, 0);
      EXPECT_FALSE(RunOnce(plan, p));
      SCOPED_TRACE("scenario " + std::to_string(scenario) + ", stops " + std::to_string(stopped));
      ExpectUndisturbed(p.Snapshot(), expected[kind]);
    }
    // A failure of the list's, the search's or the log's file ends the campaign as failed; once
    // it is gone the same command ends with the undisturbed files.
    for (const std::string& file :
         {std::string(narrow ? "__TEMP___SievedListData32.dat" : "__TEMP___SievedListData.dat"),
          std::string("_L5_ResultData.txt"), std::string("_CampaignLog.csv")}) {
      SCOPED_TRACE(file);
      kvtest::MemoryPlatform p;
      p.always = {kvtest::FullDisk(file)};
      RunOnce(fixed, p, 2);
      EXPECT_NE(p.output.find("kvcampaign: "), std::string::npos) << p.output;
      p.always.clear();
      RunOnce(fixed, p);
      ExpectUndisturbed(p.Snapshot(), expected[0]);
    }
    // A log edited by hand: its unreadable lines are skipped and kept, a last line without its
    // line end is taken out, and the campaign goes on as from nothing.
    const std::string damaged =
        "x\r\n1,2\r\n,,,,,,\r\n1,1,99999999999999999999,,,,3\r\n2,1,9,,,L9:x,4\r\n"
        "3,1,9,1.0,,L70:1,4\r\n4,1,9";
    kvtest::MemoryPlatform edited;
    edited.SetFiles({{"_CampaignLog.csv", damaged}});
    RunOnce(fixed, edited);
    Files got = edited.Snapshot();
    const std::string& log = expected[0].at("_CampaignLog.csv");
    EXPECT_EQ(kvtest::LogWithoutTimes(got["_CampaignLog.csv"]),
              kvtest::LogWithoutTimes(damaged.substr(0, damaged.rfind('\n') + 1) +
                                      log.substr(log.find('\n') + 1)));
    got.erase("_CampaignLog.csv");
    Files clean = expected[0];
    clean.erase("_CampaignLog.csv");
    EXPECT_TRUE(got == clean);
  }
}

}  // namespace
}  // namespace kv
