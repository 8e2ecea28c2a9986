// The sieved-list loader, its query and its trim: the list file is fuzzed, and so is the largest
// table value that the trim moves the range above.
#include <cstring>

#include "fuzz/fuzz_support.h"

namespace {

template <typename W>
void Run(const kvfuzz::Input& in) {
  using Value = typename W::Value;
  kvtest::MemoryPlatform platform;
  platform.SetFiles({{W::kSievedFile, in.parts[0]}});
  kv::SearchState<W> s;
  Value largest = 0;
  std::memcpy(&largest, in.parts[1].data(), std::min(in.parts[1].size(), sizeof(Value)));
  largest &= W::kLimit;
  s.table.records.assign(2, kv::TableRecord<W>{largest, 1, 0});
  s.table.recordCount = 2;
  kvfuzz::Guarded(platform, [&] {
    s.sieved.entries.assign(1000 / sizeof(Value), 0);
    kv::ReadSievedData(s);
    const auto& list = s.sieved;
    for (uint32_t i = 0; i < list.count && i < 64; ++i) {
      const Value e = list.entries[i];
      (void)kv::isRuledOut(list, e);
      (void)kv::isRuledOut(list, static_cast<Value>(e + 1));
      (void)kv::isRuledOut(list, static_cast<Value>(e - 1));
    }
    (void)kv::isRuledOut(list, static_cast<Value>(largest + 1));
    if (list.count > 0 && list.entries[0] <= largest) {
      kv::SaveSievedData(s);
      // The rewritten list loads again with the count it was written with.
      kv::SearchState<W> again;
      again.sieved.entries.assign(1000 / sizeof(Value), 0);
      kv::ReadSievedData(again);
      KV_FUZZ_CHECK(again.sieved.count == s.sieved.count);
    }
  });
}

}  // namespace

KV_FUZZ_BOTH_WIDTHS(2)
