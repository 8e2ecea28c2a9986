// The table loader: a table file and, when the flag says so, a checkpoint laid over it. Whatever
// it accepts must be a table that the searches can index safely; then it is saved again.
#include "fuzz/fuzz_support.h"

namespace {

template <typename W>
void Run(const kvfuzz::Input& in) {
  kvtest::MemoryPlatform platform;
  platform.SetFiles({{W::kTableFile, in.parts[0]}});
  if ((in.flags & 2) != 0)
    platform.files[W::kHalfFile] = std::make_shared<std::string>(in.parts[1]);
  kv::SearchState<W> s;
  kvfuzz::Guarded(platform, [&] {
    if (kv::ReadData(s) == 0) return;
    kvfuzz::CheckLoadedTable(s.table);
    s.table.freeSlots = 1;
    kv::SaveData(s);
    // What was saved loads again to the same table.
    kv::SearchState<W> again;
    KV_FUZZ_CHECK(kv::ReadData(again) == 1);
    KV_FUZZ_CHECK(again.table.recordCount == s.table.recordCount);
  });
}

}  // namespace

KV_FUZZ_BOTH_WIDTHS(2)
