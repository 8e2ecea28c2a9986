// Fault injection over whole scenarios of several runs: in each run of a scenario, the k-th open,
// write (or sync), rename or delete fails, a write stops half way, or the machine is stopped just
// before that operation and loses what was not yet forced to disk, for every k the run reaches.
// The run must either end as the undisturbed one does, or say that something failed and exit with
// the failure status; and repeating it undisturbed, then going on with the scenario, must leave
// every file exactly as the undisturbed scenario does. The only differences allowed are those the
// programs cause on purpose: work files and the backup, the grouping of the continuation store
// (its progressions and their order of first appearance stay), and the skipped numbers of a file
// given again after the run said that its numbers were already saved.
//
// KV_FAULT_SWEEP=N (N > 0) makes the search scenario ten times larger (more checkpoints, more
// progressions) and runs N random scenarios per program, in which each run is disturbed up to
// three times in a row before one is let through (seeded; KV_FAULT_SEED picks the seed).
// KV_FAULT_DUMP=path keeps the console output of a disturbed run after which something was lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "import/import.h"
#include "platform/fileutil.h"
#include "tests/memfs.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FaultKind;
using kvtest::FaultOp;
using kvtest::Files;
using kvtest::MemoryPlatform;

struct Step {
  std::vector<std::string> input;
  Files place;  // files the user puts into the directory before this run
};

struct Scenario {
  std::string name;
  std::function<void()> program;
  std::vector<Step> steps;
  Files start;
  // Files whose content the scenario must keep; work files and backups are not among them.
  std::function<bool(const std::string&)> kept;
  // Brings files into the form in which the next run would take them (may be empty).
  std::function<void(Files&)> settle;
};

struct Outcome {
  std::string output;
  bool killed = false;
  bool ended = false;  // through the end of the run, as every run of these programs does
  int code = -1;
};

constexpr const char* kSavedNote = "追加したデータは保存済みです。";

// Runs one step; the user's files are placed only on the first attempt (a repeated run finds
// them as the disturbed one left them).
Outcome RunStep(const Scenario& sc, const Step& step, MemoryPlatform& p, bool place = true) {
  if (place) {
    for (const auto& [name, content] : step.place) {
      p.files[name] = std::make_shared<std::string>(content);
    }
  }
  p.input.assign(step.input.begin(), step.input.end());
  // The user's files, and the sieved lists, which a run that cannot read them goes on without.
  p.spared = {"a.txt", "b.txt", "c.txt", Width64::kSievedFile, Width32::kSievedFile};
  p.output.clear();
  p.tickStep = 700;
  Outcome out;
  Platform* previous = SetPlatform(&p);
  try {
    sc.program();
  } catch (const kvtest::ExitRequest& end) {
    out.ended = true;
    out.code = end.code;
  } catch (const kvtest::Killed&) {
    out.killed = true;
    p.DropUnsynced();
  }
  SetPlatform(previous);
  out.output = kvtest::MaskTimings(p.output);
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The progressions of the continuation store in the order of their first appearance.
std::vector<std::pair<int32_t, int32_t>> StoredProgressions(const std::string& bytes) {
  std::vector<std::pair<int32_t, int32_t>> items;
  std::set<std::pair<int32_t, int32_t>> seen;
  const auto entry = [&](size_t i) {
    return LoadLE<int32_t>(reinterpret_cast<const unsigned char*>(bytes.data()) + 4 * i);
  };
  const auto add = [&](int32_t first, int32_t second) {
    if (seen.emplace(first, second).second) items.emplace_back(first, second);
  };
  const size_t n = bytes.size() / 4;
  if (n >= 3 && entry(0) <= -20) {
    int32_t second = 0;
    for (size_t i = 3; i < n; ++i) {
      if (entry(i) <= 0) {
        second = -entry(i);
      } else {
        add(entry(i), second);
      }
    }
  } else {
    for (size_t i = 0; i + 4 <= n; i += 4) add(entry(i + 1), entry(i + 2));
  }
  return items;
}

// True when `got` is `want` with lines of `given` (numbers of a file given again) put in.
bool WithNumbersGivenAgain(const std::string& got, const std::string& want, const Files& given) {
  std::set<std::string> numbers;
  for (const auto& [name, content] : given) {
    for (std::string line : SplitLines(content)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      numbers.insert(line + "\r");
    }
  }
  const auto have = SplitLines(got);
  const auto need = SplitLines(want);
  size_t matched = 0;
  for (const std::string& line : have) {
    if (matched < need.size() && line == need[matched]) {
      ++matched;
    } else if (numbers.count(line) == 0) {
      return false;
    }
  }
  return matched == need.size();
}

// Empty when `got` holds exactly the files of `want`; otherwise what differs. `given` are the
// files of a run after which the run said that their numbers were saved (empty: none).
std::string Differences(const Scenario& sc, Files want, Files got, const Files& given = {}) {
  if (sc.settle) {
    sc.settle(want);
    sc.settle(got);
  }
  std::string report;
  for (const auto& [name, content] : got) {
    if (sc.kept(name) && want.count(name) == 0) report += " " + name + " is extra;";
  }
  for (const auto& [name, content] : want) {
    if (!sc.kept(name)) continue;
    const auto it = got.find(name);
    if (it == got.end()) {
      report += " " + name + " is missing;";
      continue;
    }
    bool same = it->second == content;
    if (!same && name == "_ContData.dat") {
      same = StoredProgressions(it->second) == StoredProgressions(content);
    } else if (!same && name == "_NOTAddData.txt") {
      same = WithNumbersGivenAgain(it->second, content, given);
    }
    if (!same) {
      report += " " + name + " differs";
      const auto have = SplitLines(it->second);
      const auto need = SplitLines(content);
      report +=
          " (" + std::to_string(have.size()) + " lines, want " + std::to_string(need.size()) + ");";
    }
  }
  return report;
}

size_t Occurrences(const std::string& text, const std::string& phrase) {
  size_t n = 0;
  for (size_t at = text.find(phrase); at != std::string::npos; at = text.find(phrase, at + 1)) ++n;
  return n;
}

// True when `got` says more about failures than the undisturbed run said.
bool ReportsFailure(const std::string& got, const std::string& want) {
  static const char* const kPhrases[] = {"失敗",
                                         "緊急停止",
                                         "やり直して",
                                         "見つかりませんでした",
                                         "見付かりませんでした",
                                         "確認できませんでした",
                                         "取得できませんでした",
                                         "読み込めませんでした",
                                         "一致しない",
                                         "使用できません"};
  for (const char* phrase : kPhrases) {
    if (Occurrences(got, phrase) > Occurrences(want, phrase)) return true;
  }
  return false;
}

struct Baseline {
  std::vector<Files> before;  // the directory before each step
  std::vector<Outcome> outcome;
  std::vector<std::array<int64_t, 4>> counts;  // operations of each class in each step
  Files final;
};

Baseline Undisturbed(const Scenario& sc) {
  Baseline b;
  MemoryPlatform p;
  p.SetFiles(sc.start);
  for (const Step& step : sc.steps) {
    b.before.push_back(p.Snapshot());
    p.Arm(FaultOp::kOpen, FaultKind::kFail, 0);
    b.outcome.push_back(RunStep(sc, step, p));
    b.counts.push_back({p.counts[0], p.counts[1], p.counts[2], p.counts[3]});
  }
  b.final = p.Snapshot();
  return b;
}

struct SweepFigures {
  int64_t faults = 0;
  int64_t runs = 0;
};

// What is wrong with the way a disturbed run ended (empty: nothing). A run that reports a failure
// must exit with the failure status; one that exits as the undisturbed run did must not claim to
// have stopped.
std::string Judge(const Outcome& got, const Outcome& want) {
  if (got.killed) return "";
  if (!got.ended) return " the run neither ended nor was stopped";
  const bool stopped = Occurrences(got.output, "緊急停止") + Occurrences(got.output, "強制終了") +
                           Occurrences(got.output, "やり直して") >
                       Occurrences(want.output, "緊急停止") + Occurrences(want.output, "強制終了") +
                           Occurrences(want.output, "やり直して");
  if (stopped && got.code != kFailed) return " stopped with status " + std::to_string(got.code);
  // The user's file that cannot be opened is one that was not found: no work, status 1.
  if (got.code != want.code && got.code != kFailed && !ReportsFailure(got.output, want.output)) {
    return " ended with status " + std::to_string(got.code);
  }
  return "";
}

// True when the next run should repeat the disturbed one: it was stopped, or it said so.
bool NeedsRepeat(const Outcome& got, const Outcome& want) {
  return got.killed || got.code != want.code || ReportsFailure(got.output, want.output);
}

// Runs step `j` with the fault, checks the run, then recovers and finishes the scenario.
// Returns an empty text or the description of what went wrong.
std::string OneFault(const Scenario& sc, const Baseline& b, size_t j, FaultOp op, FaultKind kind,
                     int64_t k, SweepFigures& fig) {
  MemoryPlatform p;
  p.SetFiles(b.before[j]);
  p.Arm(op, kind, k);
  const Outcome got = RunStep(sc, sc.steps[j], p);
  ++fig.runs;
  if (!p.injected) return "";
  ++fig.faults;
  const Outcome& want = b.outcome[j];
  std::string where = sc.name + " run " + std::to_string(j + 1) + ", op " +
                      std::to_string(static_cast<int>(op)) + " kind " +
                      std::to_string(static_cast<int>(kind)) + " k " + std::to_string(k) + ":";
  const std::string judged = Judge(got, want);
  if (!judged.empty()) return where + judged + "\nthe disturbed run:\n" + got.output;
  // A run that reports no failure is taken at its word: the scenario goes on with the next run
  // and must still end with everything. One that reports the fault is repeated first.
  const bool repeat = NeedsRepeat(got, want);
  p.Arm(op, kind, 0);
  for (size_t i = repeat ? j : j + 1; i < sc.steps.size(); ++i) {
    RunStep(sc, sc.steps[i], p, i != j);
    ++fig.runs;
  }
  // A stopped run may have saved the numbers too, without a word.
  const bool saved = got.killed || got.output.find(kSavedNote) != std::string::npos;
  const std::string wrong =
      Differences(sc, b.final, p.Snapshot(), saved ? sc.steps[j].place : Files{});
  if (!wrong.empty()) {
    if (std::getenv("KV_FAULT_DUMP")) {
      FILE* f = std::fopen(std::getenv("KV_FAULT_DUMP"), "wb");
      std::fwrite(got.output.data(), 1, got.output.size(), f);
      std::fclose(f);
    }
    return where + (repeat ? " after recovery" : " reported success, but at the end") + wrong +
           "\nthe disturbed run:\n" + got.output;
  }
  return "";
}

SweepFigures Sweep(const Scenario& sc) {
  const Baseline b = Undisturbed(sc);
  SweepFigures fig;
  for (size_t j = 0; j < sc.steps.size(); ++j) {
    for (int o = 0; o < 4; ++o) {
      const auto op = static_cast<FaultOp>(o);
      for (int64_t k = 1; k <= b.counts[j][static_cast<size_t>(o)]; ++k) {
        for (FaultKind kind : {FaultKind::kFail, FaultKind::kShort, FaultKind::kStop}) {
          if (kind == FaultKind::kShort && op != FaultOp::kWrite) continue;
          const std::string problem = OneFault(sc, b, j, op, kind, k, fig);
          EXPECT_EQ(problem, "");
          if (!problem.empty()) return fig;
        }
      }
    }
  }
  return fig;
}

// Random runs of disturbed runs: each step is disturbed a few times in a row (each time by a
// fault drawn at random among the operations the undisturbed run makes) before it is let through.
SweepFigures RandomSweep(const Scenario& sc, uint32_t seed, int scenarios) {
  const Baseline b = Undisturbed(sc);
  SweepFigures fig;
  std::mt19937 random(seed);
  for (int n = 0; n < scenarios; ++n) {
    MemoryPlatform p;
    p.SetFiles(sc.start);
    Files given;
    for (size_t j = 0; j < sc.steps.size(); ++j) {
      const int disturbed = static_cast<int>(random() % 4);
      bool placed = false;
      bool done = false;
      for (int d = 0; d < disturbed && !done; ++d) {
        const auto o = static_cast<size_t>(random() % 4);
        const int64_t count = b.counts[j][o];
        if (count == 0) continue;
        const auto kind = static_cast<FaultKind>(random() % 3);
        p.Arm(static_cast<FaultOp>(o), kind,
              1 + static_cast<int64_t>(random() % static_cast<uint64_t>(count)));
        const Outcome got = RunStep(sc, sc.steps[j], p, !placed);
        placed = true;
        ++fig.runs;
        fig.faults += p.injected ? 1 : 0;
        EXPECT_EQ(Judge(got, b.outcome[j]), "") << sc.name << " seed " << seed << "\n"
                                                << got.output;
        if (got.killed || got.output.find(kSavedNote) != std::string::npos) {
          given.insert(sc.steps[j].place.begin(), sc.steps[j].place.end());
        }
        // A run that ended as the undisturbed one did has done the step.
        done = !NeedsRepeat(got, b.outcome[j]);
      }
      if (done) continue;
      p.Arm(FaultOp::kOpen, FaultKind::kFail, 0);
      RunStep(sc, sc.steps[j], p, !placed);
      ++fig.runs;
    }
    const std::string wrong = Differences(sc, b.final, p.Snapshot(), given);
    EXPECT_EQ(wrong, "") << sc.name << " seed " << seed << " scenario " << n;
    if (!wrong.empty()) break;
  }
  return fig;
}

std::string NumberLines(const std::vector<uint64_t>& values, const char* header = nullptr) {
  std::string text = header == nullptr ? "" : std::string(header) + "\r\n";
  for (uint64_t v : values) text += std::to_string(v) + "\r\n";
  return text;
}

std::vector<uint64_t> Primes(uint64_t from, uint64_t to) {
  std::vector<uint64_t> primes;
  for (uint64_t n = std::max<uint64_t>(from, 2); n <= to; ++n) {
    bool prime = true;
    for (uint64_t d = 2; d * d <= n; ++d) prime = prime && n % d != 0;
    if (prime) primes.push_back(n);
  }
  return primes;
}

bool NotWorkFile(const std::string& name) { return name.rfind("__", 0) != 0; }

// The search program over four runs: a first table, growth with skipped numbers and a sieved
// list, a run that adds nothing but converts a text form of the store, growth into the sieved
// range ending in a number above the limit.
template <typename W>
Scenario SearchScenario(uint64_t scale, unsigned threads = 1) {
  Scenario sc;
  sc.name = std::string(W::kBits == 64 ? "Kolvex" : "Kolvex32") + " on " + std::to_string(threads) +
            " threads";
  sc.program = [threads] {
    SearchState<W> s;
    s.threadCount = threads;
    // With workers, small amounts held in memory: the search writes while they run.
    if (threads > 1) s.testing.heldPendingLimit = 8;
    RunSearchProgram(s);
  };
  const uint64_t top = 60 * scale;
  std::vector<uint64_t> sieved = {top + 2, 2 * top};
  for (uint64_t p : Primes(top + 2, 2 * top)) sieved.push_back(p);
  std::vector<uint64_t> second = Primes(top / 3, top + top / 3);
  std::string third = NumberLines(Primes(top + top / 3 + 1, top + top / 2));
  third += "99999999999999999999\r\n";
  sc.steps = {
      {{"a.txt", "3"}, {{"a.txt", NumberLines(Primes(2, top / 2))}}},
      {{"b.txt", "3"},
       {{"b.txt", NumberLines(second)}, {W::kSievedFile, kvtest::SievedFile<W>(sieved)}}},
      {{"", "4"},
       {{"_ContData.txt", "3,5,6,0\r\n3," + std::to_string(second.back()) + ",6,0\r\n"}}},
      {{"c.txt", "3"}, {{"c.txt", third}}},
  };
  sc.kept = NotWorkFile;
  // A checkpoint left beside the table (its final rename failed) is what the next run lays over
  // the table.
  sc.settle = [](Files& files) {
    const auto half = files.find(W::kHalfFile);
    if (half == files.end()) return;
    std::string& table = files[W::kTableFile];
    const size_t r = sizeof(TableRecord<W>);
    if (half->second.size() >= r && table.size() >= r &&
        half->second.compare(0, r, table, 0, r) == 0) {
      const std::string& over = half->second;
      const size_t n = over.size() / r * r;
      if (table.size() < n) table.resize(n);
      table.replace(0, n, over, 0, n);
      files.erase(half);
    }
  };
  return sc;
}

// kvimport: a new list, its extension, a range-only list of the other form and an input that
// adds nothing to it.
Scenario ImportScenario() {
  Scenario sc;
  sc.name = "kvimport";
  sc.program = [] { RunImportProgram(); };
  sc.start = {{"n.txt", "header\n5\n7\n11\n"}, {"m.txt", "h\r\n11\r\n13\r\n17\r\n"}};
  sc.steps = {
      {{"1", "n.txt", "", ""}, {}},
      {{"1", "m.txt", "100"}, {}},
      {{"2", "", "y", "10", "20"}, {}},
      {{"2", "m.txt", ""}, {}},
  };
  sc.kept = [](const std::string& name) { return name.rfind("__TEMP___", 0) != 0; };
  return sc;
}

// kvconvert: all three table files to the 32-bit form and back.
Scenario ConvertScenario() {
  using kvtest::FreshTable;
  Scenario sc;
  sc.name = "kvconvert";
  sc.program = [] { RunConvertProgram(); };
  const std::string table = FreshTable<Width64>(Primes(2, 300));
  sc.start = {{"_APData.dat", table},
              {"__OLD___APData.dat", FreshTable<Width64>(Primes(2, 100))},
              {"_HalfData.dat", table.substr(0, 16 * 20)}};
  sc.steps = {{{"2"}, {}}, {{"1"}, {}}};
  sc.kept = [](const std::string& name) { return name.rfind("__TEMP___", 0) != 0; };
  return sc;
}

int LongSweep() {
  const char* v = std::getenv("KV_FAULT_SWEEP");
  return v == nullptr ? 0 : std::atoi(v);
}

uint32_t FirstSeed() {
  const char* v = std::getenv("KV_FAULT_SEED");
  return v == nullptr ? 20261207u : static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
}

void Print(const std::string& name, const SweepFigures& fig) {
  std::printf("[ figures  ] %s: %lld faults injected, %lld runs checked\n", name.c_str(),
              static_cast<long long>(fig.faults), static_cast<long long>(fig.runs));
}

template <typename W>
class SearchFaults : public ::testing::Test {};
TYPED_TEST_SUITE(SearchFaults, kvtest::BothWidths);

TYPED_TEST(SearchFaults, EveryFaultInEveryRunIsReportedOrHarmlessAndTheNextRunRecovers) {
  const Scenario sc = SearchScenario<TypeParam>(LongSweep() > 0 ? 10 : 1);
  Print(sc.name, Sweep(sc));
}

// Failures and stops while worker threads search: the run still ends through its one way out.
TEST(SearchFaultsOnThreads, EveryFaultWithSeveralWorkerThreads) {
  Print("threads", Sweep(SearchScenario<Width64>(LongSweep() > 0 ? 10 : 1, 2)));
  Print("threads", Sweep(SearchScenario<Width32>(LongSweep() > 0 ? 10 : 1, 3)));
}

TYPED_TEST(SearchFaults, SeveralDisturbedRunsInARowLoseNothing) {
  const int extra = LongSweep();
  const Scenario sc = SearchScenario<TypeParam>(extra > 0 ? 20 : 1);
  const SweepFigures fig = RandomSweep(sc, FirstSeed(), extra > 0 ? extra : 5);
  Print(sc.name + " random", fig);
}

TEST(ToolFaults, ImportReportsOrKeepsEveryListEntry) {
  const Scenario sc = ImportScenario();
  Print(sc.name, Sweep(sc));
  const int extra = LongSweep();
  Print(sc.name + " random", RandomSweep(sc, FirstSeed(), extra > 0 ? extra : 5));
}

TEST(ToolFaults, ConvertReportsOrWritesEveryRecord) {
  const Scenario sc = ConvertScenario();
  Print(sc.name, Sweep(sc));
  const int extra = LongSweep();
  Print(sc.name + " random", RandomSweep(sc, FirstSeed(), extra > 0 ? extra : 5));
}

}  // namespace
}  // namespace kv
