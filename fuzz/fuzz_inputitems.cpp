// The input statement with every kind of target: each line of the input is one typed answer.
#include "console/console.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const kvfuzz::Input in = kvfuzz::Split(data, size, 1);
  kvtest::MemoryPlatform platform;
  for (auto& line : kvfuzz::Answers(in.parts[0])) platform.input.push_back(line);
  kvfuzz::Guarded(platform, [&] {
    int8_t i8 = 0;
    uint8_t u8 = 0;
    int16_t i16 = 0;
    uint16_t u16 = 0;
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    float f = 0;
    double d = 0;
    std::string text;
    // One target of the kind that the flag byte names, as every caller passes; then all kinds
    // at once, which exercises the item splitting and the retries.
    switch (in.flags % 11) {
      case 0:
        kv::InputItems("?", {&i8});
        break;
      case 1:
        kv::InputItems("?", {&u8});
        break;
      case 2:
        kv::InputItems("?", {&i16});
        break;
      case 3:
        kv::InputItems("?", {&u16});
        break;
      case 4:
        kv::InputItems("?", {&i32});
        break;
      case 5:
        kv::InputItems("?", {&u32});
        break;
      case 6:
        kv::InputItems("?", {&i64});
        break;
      case 7:
        kv::InputItems("?", {&u64});
        break;
      case 8:
        kv::InputItems("?", {&f});
        break;
      case 9:
        kv::InputItems("?", {&d});
        break;
      default:
        kv::InputItems("?", {&text});
        break;
    }
    kv::InputItems("?", {&i8, &u8, &i16, &u16, &i32, &u32, &i64, &u64, &f, &d, &text});
    kv::EndRun();
  });
  return 0;
}
