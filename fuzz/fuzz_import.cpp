// kvimport end to end: an existing list file (when the flag says so), the input file and the
// typed answers to the range questions are fuzzed.
#include "fuzz/fuzz_support.h"
#include "import/import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const kvfuzz::Input in = kvfuzz::Split(data, size, 3);
  const bool narrow = (in.flags & 1) != 0;
  kvtest::MemoryPlatform platform;
  platform.SetFiles({{"in.txt", in.parts[1]}});
  if ((in.flags & 2) != 0) {
    platform.files[narrow ? "_SievedListData32.dat" : "_SievedListData.dat"] =
        std::make_shared<std::string>(in.parts[0]);
  }
  platform.input = {narrow ? "2" : "1", "in.txt"};
  for (auto& line : kvfuzz::Answers(in.parts[2])) platform.input.push_back(line);
  // A small entry limit lets the fuzzer reach the limit's path as well.
  kvfuzz::Guarded(platform, [] { kv::RunImportProgram({.entryLimit = 5000}); });
  return 0;
}
