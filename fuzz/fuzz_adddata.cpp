// AddData's number scan: the user's file is the fuzz input, merged into an empty table or into a
// small loaded one, in either width.
#include "fuzz/fuzz_support.h"

namespace {

template <typename W>
void Run(const kvfuzz::Input& in) {
  kvtest::MemoryPlatform platform;
  platform.SetFiles({{"in.txt", in.parts[0]}});
  const bool loaded = (in.flags & 2) != 0;
  if (loaded)
    platform.files[W::kTableFile] =
        std::make_shared<std::string>(kvfuzz::TableFile<W>({2, 3, 5, 7, 11}));
  platform.input = {"in.txt"};
  kv::SearchState<W> s;
  kvfuzz::Guarded(platform, [&] {
    if (loaded) {
      KV_FUZZ_CHECK(kv::ReadData(s) == 1);
    } else {
      s.table.records.assign(1, kv::TableRecord<W>{0, 0, 0});
      s.table.recordCount = 1;
    }
    // Room for every number an input can hold, so that the step of 50000 records (tested
    // elsewhere) does not cost each run a fresh megabyte.
    s.table.freeSlots = (in.flags & 4) != 0 ? 1 : 2100;
    s.table.records.resize(static_cast<size_t>(s.table.recordCount + s.table.freeSlots));
    kv::AddData(s);
    kvfuzz::CheckLoadedTable(s.table);
  });
}

}  // namespace

KV_FUZZ_BOTH_WIDTHS(1)
