// Shared pieces of the fuzz targets: the input is cut into a flag byte and several parts (file
// contents, answers), and each program or phase runs on an in-memory working directory whose
// Exit throws, so that every way a run can end returns to the fuzzer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "format/storeform.h"
#include "platform/platform.h"
#include "search/phases.h"
#include "tests/memfs.h"

namespace kvfuzz {

// Parts of a fuzz input are separated by this marker; hand-made seeds use it too.
inline constexpr std::string_view kMarker = "#--#";

struct Input {
  uint8_t flags = 0;
  std::vector<std::string> parts;
};

// Flag byte first, then exactly `count` parts (missing ones are empty).
inline Input Split(const uint8_t* data, size_t size, size_t count) {
  Input in;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  if (!rest.empty()) {
    in.flags = static_cast<uint8_t>(rest[0]);
    rest.remove_prefix(1);
  }
  for (size_t i = 0; i < count; ++i) {
    const size_t at = i + 1 < count ? rest.find(kMarker) : std::string_view::npos;
    in.parts.emplace_back(rest.substr(0, at));
    rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + kMarker.size());
  }
  return in;
}

// Lines of a part, for the answers of the input statement.
inline std::vector<std::string> Answers(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Runs `body` with `platform` active; the end of the program (EndRun, ExitNow) comes back here.
template <typename F>
void Guarded(kvtest::MemoryPlatform& platform, F&& body) {
  kv::Platform* previous = kv::SetPlatform(&platform);
  try {
    body();
  } catch (const kvtest::ExitRequest&) {
  }
  kv::SetPlatform(previous);
}

// A property that every input must keep; a violation is a finding like a crash.
// The entry point of a target whose `Run<W>(input)` serves both widths: the first flag bit of
// the input chooses the 32-bit build.
#define KV_FUZZ_BOTH_WIDTHS(files)                                          \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    const kvfuzz::Input in = kvfuzz::Split(data, size, files);              \
    if ((in.flags & 1) != 0) {                                              \
      Run<kv::Width32>(in);                                                 \
    } else {                                                                \
      Run<kv::Width64>(in);                                                 \
    }                                                                       \
    return 0;                                                               \
  }

#define KV_FUZZ_CHECK(cond)                                                         \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// A table file of width W: header, then the values with the cursors of new records.
template <typename W>
std::string TableFile(const std::vector<uint64_t>& values) {
  const auto n = static_cast<int32_t>(values.size());
  std::vector<kv::TableRecord<W>> records;
  records.push_back({static_cast<typename W::Value>(values.empty() ? 0 : values.back()), n, 0});
  for (int32_t i = 1; i <= n; ++i) {
    records.push_back(
        {static_cast<typename W::Value>(values[static_cast<size_t>(i - 1)]), i - 1, i + 1});
  }
  return std::string(reinterpret_cast<const char*>(records.data()),
                     records.size() * sizeof(kv::TableRecord<W>));
}

// A sieved-list file of width W.
template <typename W>
std::string SievedFile(const std::vector<uint64_t>& entries) {
  std::vector<typename W::Value> values(entries.begin(), entries.end());
  return std::string(reinterpret_cast<const char*>(values.data()),
                     values.size() * sizeof(typename W::Value));
}

// The primes below 200: a table small enough for thousands of runs a second.
inline std::vector<uint64_t> SmallPrimes() {
  std::vector<uint64_t> primes;
  for (uint64_t n = 2; n < 200; ++n) {
    bool prime = true;
    for (uint64_t d = 2; d * d <= n; ++d) prime = prime && n % d != 0;
    if (prime) primes.push_back(n);
  }
  return primes;
}

// What the loader promises to every later phase: ascending values within the limit, cursors
// inside the table, a header that describes it.
template <typename W>
void CheckLoadedTable(const kv::NumberTable<W>& t) {
  KV_FUZZ_CHECK(t.recordCount >= 1);
  KV_FUZZ_CHECK(static_cast<size_t>(t.recordCount) <= t.records.size());
  const int32_t n = t.recordCount - 1;
  KV_FUZZ_CHECK(t.DataCount() == n);
  KV_FUZZ_CHECK(t.Largest() == (n == 0 ? 0 : t.ValueAt(n)));
  for (int32_t i = 1; i <= n; ++i) {
    const auto& r = t.records[static_cast<size_t>(i)];
    KV_FUZZ_CHECK(r.value <= W::kLimit);
    KV_FUZZ_CHECK(i == 1 || r.value > t.ValueAt(i - 1));
    KV_FUZZ_CHECK(r.lowerCursor >= 0 && r.lowerCursor <= n + 1);
    KV_FUZZ_CHECK(r.upperCursor >= 0 && r.upperCursor <= n + 1);
  }
}

// The store a run leaves behind is grouped, and every progression in it has a second index: an
// item under a marker of 0 would be lost to every later run. (Indices beyond this table are
// kept on purpose: the other build's table may be longer.)
inline void CheckStore(kvtest::MemoryPlatform& platform, int32_t dataCount) {
  const auto it = platform.files.find("_ContData.dat");
  if (it == platform.files.end()) return;
  const std::string& bytes = *it->second;
  const auto entry = [&](size_t i) {
    int32_t v = 0;
    std::memcpy(&v, bytes.data() + 4 * i, 4);
    return v;
  };
  const size_t n = bytes.size() / 4;
  if (std::getenv("KV_FUZZ_SHOW") != nullptr) {
    for (size_t i = 0; i < n; ++i) std::fprintf(stderr, "%d ", entry(i));
    std::fprintf(stderr, "(data count %d)\n", dataCount);
  }
  KV_FUZZ_CHECK(n >= 3 && entry(0) == kv::kStoreGroupedMark);
  const auto* head = reinterpret_cast<const unsigned char*>(bytes.data());
  const kv::StoreLayout layout = kv::StoreLayoutOf(static_cast<int64_t>(bytes.size()), head);
  kv::StoreEntries(head + layout.start, layout.items, true, 0)
      .Decode(
          0, layout.items,
          [](int64_t, const kv::StoreItem& item) { KV_FUZZ_CHECK(item.second >= 1); },
          [](int64_t) {});
}

}  // namespace kvfuzz
