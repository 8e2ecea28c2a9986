// ReadContText: the text form "_ContData.txt" (or its saved copy) converted into the store by
// ContSearch, beside an existing store when the flag says so.
#include "fuzz/fuzz_support.h"

namespace {

template <typename W>
void Run(const kvfuzz::Input& in) {
  kvtest::MemoryPlatform platform;
  platform.SetFiles({{W::kTableFile, kvfuzz::TableFile<W>(kvfuzz::SmallPrimes())}});
  const char* text = (in.flags & 2) != 0 ? "__OLD___ContData_txt.dat" : "_ContData.txt";
  platform.files[text] = std::make_shared<std::string>(in.parts[0]);
  if ((in.flags & 4) != 0)
    platform.files["_ContData.dat"] = std::make_shared<std::string>(in.parts[1]);
  kv::SearchState<W> s;
  kvfuzz::Guarded(platform, [&] {
    KV_FUZZ_CHECK(kv::ReadData(s) == 1);
    s.table.freeSlots = 1;
    s.sieved.entries.assign(1000 / sizeof(typename W::Value), 0);
    s.minSaveLength = 3;
    kv::ContSearch(s);
    kvfuzz::CheckStore(platform, s.table.DataCount());
  });
}

}  // namespace

KV_FUZZ_BOTH_WIDTHS(2)
