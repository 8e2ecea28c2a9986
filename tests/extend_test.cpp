// Following a progression to its end: result file or pending list, the sieved list's say on
// terms beyond the data, and the collected result lines.
#include <gtest/gtest.h>

#include "search/engine/follow.h"
#include "tests/search_testing.h"
#include "tests/table_files.h"

namespace kv {
namespace {

using kvtest::FakePlatform;

using Items = std::vector<std::tuple<int32_t, int32_t, int32_t>>;
const std::string kResultHeader = "n=0,1, ... ,Len-1\r\n";

template <typename W>
class Extend : public ::testing::Test {
 protected:
  using Value = typename W::Value;
  void Table(std::initializer_list<Value> values, int32_t minSave) {
    state = kvtest::MakeState<W>(values, minSave);
    state.pending.entries.assign(100000, PendingEntry{0, 0, 0});
    state.pending.pendingCapacity = 100000;
  }
  void Sieved(const std::vector<Value>& entries) {
    state.sieved.entries = entries;
    state.sieved.count = static_cast<uint32_t>(entries.size());
  }
  // Follows the progression whose first three terms are entries first, first + 1, first + 2
  // ... as the length-3 search hands it off, then writes the collected lines.
  kvtest::RunResult Follow(int32_t first, int32_t second, int32_t third,
                           const kvtest::Files& files = {}) {
    return kvtest::RunInProcess(
        [&] {
          const Value d = state.table.ValueAt(second) - state.table.ValueAt(first);
          ExtendProgression(state, static_cast<Value>(state.table.ValueAt(third) + d), first,
                            second, d, third + 1, 3);
          FlushResultLines(state);
        },
        fake, files);
  }
  // The pending items as (first, second, length).
  std::vector<std::tuple<int32_t, int32_t, int32_t>> Pending() const {
    std::vector<std::tuple<int32_t, int32_t, int32_t>> items;
    for (int32_t k = 0; k < state.pending.pendingCount; ++k) {
      const PendingEntry& e = state.pending.entries[static_cast<size_t>(k)];
      items.emplace_back(e.firstIndex, e.secondIndex, e.termCount);
    }
    return items;
  }
  SearchState<W> state;
  FakePlatform fake;
};
TYPED_TEST_SUITE(Extend, kvtest::BothWidths);

TYPED_TEST(Extend, EndsInsideTheDataOrGoesPending) {
  this->Table({3, 5, 7, 11}, 3);
  auto run = this->Follow(1, 2, 3);  // next term 9 is absent
  EXPECT_EQ(run.files.at("_L3_ResultData.txt"), kResultHeader + "Len 3, 3 + 2 *n\r\n");
  EXPECT_TRUE(this->Pending().empty());
  run = this->Follow(1, 3, 4);  // 3, 7, 11: 15 lies beyond the data
  EXPECT_TRUE(kvtest::ResultFiles(run.files).empty());
  EXPECT_EQ(this->Pending(), (Items{{1, 3, 3}}));

  this->Table({3, 5, 7, 11}, 4);
  run = this->Follow(1, 2, 3);  // too short to be written, and not pending
  EXPECT_TRUE(run.files.empty());
  EXPECT_TRUE(this->Pending().empty());
}

TYPED_TEST(Extend, LargestValueIsATermAndTheNextLiesBeyond) {
  this->Table({5, 11, 17, 23}, 3);
  const auto run = this->Follow(1, 2, 3);
  EXPECT_TRUE(run.files.empty());
  EXPECT_EQ(this->Pending(), (Items{{1, 2, 4}}));
}

TYPED_TEST(Extend, LongProgressionGoesToItsOwnFile) {
  this->Table({7, 10, 13, 16, 19, 22, 25, 28, 31, 34, 40}, 3);
  const auto run = this->Follow(1, 2, 3);
  EXPECT_EQ(run.files.at("_L10_ResultData.txt"), kResultHeader + "Len 10, 7 + 3 *n\r\n");
}

TYPED_TEST(Extend, SievedListDecidesTheTermBeyondTheData) {
  struct Case {
    std::vector<typename TypeParam::Value> sieved;
    bool finished;
  };
  const Case cases[] = {
      {{8, 100, 11, 13}, true},    // 9 lies in the range and is not a candidate
      {{8, 100, 9, 11}, false},    // 9 is a candidate
      {{10, 100, 11, 13}, false},  // 9 lies below the range
      {{8, 9, 8}, true},           // the range end is included
      {{}, false},                 // no list
  };
  for (const Case& c : cases) {
    this->Table({3, 5, 7}, 3);
    this->Sieved(c.sieved);
    const auto run = this->Follow(1, 2, 3);
    if (c.finished) {
      EXPECT_EQ(run.files.at("_L3_ResultData.txt"), kResultHeader + "Len 3, 3 + 2 *n\r\n");
      EXPECT_TRUE(this->Pending().empty());
    } else {
      EXPECT_TRUE(run.files.empty());
      EXPECT_EQ(this->Pending(), (Items{{1, 2, 3}}));
    }
  }
}

// Result lines wait in memory until they are flushed, then each file receives its lines in one
// append; an existing file, even an empty one, gets no second header.
class AppendCounter : public FakePlatform {
 public:
  std::map<std::string, int> appends;
  std::unique_ptr<FileHandle> OpenAppend(const std::string& name) override {
    ++appends[name];
    return FakePlatform::OpenAppend(name);
  }
};

TYPED_TEST(Extend, CollectedLinesAreWrittenTogetherAtTheFlush) {
  using Value = typename TypeParam::Value;
  this->Table({3, 5, 7, 9, 11, 13, 15, 17, 21, 23, 25, 27}, 3);
  AppendCounter counter;
  kvtest::Files before;
  const auto run = kvtest::RunInProcess(
      [&] {
        for (int32_t first = 1; first <= 6; ++first) {
          const Value d = static_cast<Value>(2 * (7 - first));
          WriteResultLine(this->state, 3 + first % 2, first, d);
        }
        before = kvtest::ReadFiles(std::filesystem::current_path());
        FlushResultLines(this->state);
      },
      counter,
      {{"_L3_ResultData.txt", "n=0,1, ... ,Len-1\r\n"},
       {"_L4_ResultData.txt", "Len 4, 1 + 1 *n\r\n"}});
  EXPECT_EQ(before.at("_L3_ResultData.txt"), "n=0,1, ... ,Len-1\r\n");
  EXPECT_EQ(run.files.at("_L3_ResultData.txt"),
            "n=0,1, ... ,Len-1\r\nLen 3, 5 + 10 *n\r\nLen 3, 9 + 6 *n\r\nLen 3, 13 + 2 *n\r\n");
  EXPECT_EQ(run.files.at("_L4_ResultData.txt"),
            "Len 4, 1 + 1 *n\r\nLen 4, 3 + 12 *n\r\nLen 4, 7 + 8 *n\r\nLen 4, 11 + 4 *n\r\n");
  EXPECT_EQ(counter.appends,
            (std::map<std::string, int>{{"_L3_ResultData.txt", 1}, {"_L4_ResultData.txt", 1}}));
  // Nothing is left to write a second time.
  kvtest::RunInProcess([&] { FlushResultLines(this->state); }, counter);
  EXPECT_EQ(counter.appends.size(), 2u);
}

// The continuation search flushes after blocks without growing the list; a caller that never
// grows it still cannot write past its end.
TYPED_TEST(Extend, PendingListNeverOverflows) {
  this->Table({3, 5, 7}, 3);
  this->state.pending = PendingList{};
  this->Follow(1, 2, 3);
  this->Follow(1, 2, 3);
  EXPECT_EQ(this->state.pending.pendingCount, 2);
  EXPECT_GE(this->state.pending.pendingCapacity, 2);
  EXPECT_GE(this->state.pending.entries.size(), 2u);
}

}  // namespace
}  // namespace kv
