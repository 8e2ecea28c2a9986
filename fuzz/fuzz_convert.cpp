// kvconvert's reader: the three source files of the chosen direction are fuzzed. A conversion
// from the 32-bit form and back must give the source again, whole records only.
#include "convert/convert.h"
#include "fuzz/fuzz_support.h"

namespace {

const char* const kNormal[] = {"_APData.dat", "__OLD___APData.dat", "_HalfData.dat"};
const char* const kNarrow[] = {"_APData32.dat", "__OLD___APData32.dat", "_HalfData32.dat"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const kvfuzz::Input in = kvfuzz::Split(data, size, 3);
  const bool fromNarrow = (in.flags & 1) != 0;
  kvtest::MemoryPlatform platform;
  for (size_t i = 0; i < 3; ++i) {
    if ((in.flags & (2u << i)) == 0) continue;
    platform.files[fromNarrow ? kNarrow[i] : kNormal[i]] =
        std::make_shared<std::string>(in.parts[i]);
  }
  platform.input = {fromNarrow ? "1" : "2"};
  kvfuzz::Guarded(platform, [] { kv::RunConvertProgram(); });
  if (!fromNarrow) return 0;
  // Back again: every 32-bit source with whole records comes out as it went in.
  kvtest::MemoryPlatform back;
  for (size_t i = 0; i < 3; ++i) {
    if (platform.files.count(kNormal[i]) != 0) back.files[kNormal[i]] = platform.files[kNormal[i]];
  }
  back.input = {"2"};
  kvfuzz::Guarded(back, [] { kv::RunConvertProgram(); });
  // Values above the 32-bit limit are refused on the way back, and the conversion stops there.
  for (size_t i = 0; i < 3; ++i) {
    if ((in.flags & (2u << i)) == 0) continue;
    const std::string& source = in.parts[i];
    for (size_t r = 0; r + 12 <= source.size(); r += 12) {
      if (static_cast<unsigned char>(source[r + 3]) >= 0x80) return 0;
    }
  }
  for (size_t i = 0; i < 3; ++i) {
    if ((in.flags & (2u << i)) == 0 || in.parts[i].size() < 12) continue;
    const std::string& source = in.parts[i];
    KV_FUZZ_CHECK(back.files.count(kNarrow[i]) != 0);
    KV_FUZZ_CHECK(*back.files[kNarrow[i]] == source.substr(0, source.size() / 12 * 12));
  }
  return 0;
}
