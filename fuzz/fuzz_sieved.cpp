// The sieved-list loader, its query and its trim: the list file is fuzzed, and so is the largest
// table value that the trim moves the range above.
#include <cstring>
#include <vector>

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
  // The list's form, judged here on the file's bytes: every candidate above the one before it
  // and inside the range of entries 0 and 1.
  const std::string& bytes = in.parts[0];
  std::vector<Value> raw(bytes.size() / sizeof(Value));
  if (!raw.empty()) std::memcpy(raw.data(), bytes.data(), raw.size() * sizeof(Value));
  bool sound = true;
  for (size_t i = 2; i < raw.size(); ++i) {
    sound = sound && raw[i] >= raw[0] && raw[i] <= raw[1] && (i == 2 || raw[i] > raw[i - 1]);
  }
  bool loaded = false;
  kvfuzz::Guarded(platform, [&] {
    s.sieved.entries.assign(1000 / sizeof(Value), 0);
    kv::ReadSievedData(s);
    loaded = true;
    const auto& list = s.sieved;
    KV_FUZZ_CHECK(sound && list.count == raw.size());
    // A candidate is never ruled out; a value of the range between two candidates always is.
    for (uint32_t i = 2; i + 1 < list.count && i < 64; ++i) {
      KV_FUZZ_CHECK(!kv::isRuledOut(list, list.entries[i]));
      if (list.entries[i + 1] - list.entries[i] > 1) {
        KV_FUZZ_CHECK(kv::isRuledOut(list, static_cast<Value>(list.entries[i] + 1)));
      }
    }
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
      // The trimmed list is still sound: it loads again, with the count it was written with.
      kv::SearchState<W> again;
      again.sieved.entries.assign(1000 / sizeof(Value), 0);
      loaded = false;
      kv::ReadSievedData(again);
      loaded = true;
      KV_FUZZ_CHECK(again.sieved.count == s.sieved.count);
    }
  });
  // Only a list out of form is refused (the memory files are always readable).
  KV_FUZZ_CHECK(loaded || !sound);
}

}  // namespace

KV_FUZZ_BOTH_WIDTHS(2)
