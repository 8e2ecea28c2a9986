// The continuation store in both forms, loaded and re-examined by ContSearch against a small
// table: as "_ContData.dat" or as the work file an interrupted run left behind.
#include "fuzz/fuzz_support.h"

namespace {

template <typename W>
void Run(const kvfuzz::Input& in) {
  kvtest::MemoryPlatform platform;
  platform.SetFiles({{W::kTableFile, kvfuzz::TableFile<W>(kvfuzz::SmallPrimes())}});
  const char* store = (in.flags & 2) != 0 ? "__TEMP___ContData_txt.dat" : "_ContData.dat";
  platform.files[store] = std::make_shared<std::string>(in.parts[0]);
  if ((in.flags & 4) != 0) {
    // A sieved list just above the table rules out some of the next terms.
    platform.files[W::kSievedFile] =
        std::make_shared<std::string>(kvfuzz::SievedFile<W>({200, 260, 211, 223}));
  }
  kv::SearchState<W> s;
  kvfuzz::Guarded(platform, [&] {
    KV_FUZZ_CHECK(kv::ReadData(s) == 1);
    s.table.freeSlots = 1;
    s.sieved.entries.assign(1000 / sizeof(typename W::Value), 0);
    kv::ReadSievedData(s);
    s.minSaveLength = 3 + (in.flags >> 4) % 4;
    kv::ContSearch(s);
    kvfuzz::CheckStore(platform, s.table.DataCount());
  });
}

}  // namespace

KV_FUZZ_BOTH_WIDTHS(1)
