// File routines built on the platform interface: whole-file reads, appends and the safe
// replacement of a file whose new content must be complete on disk before the old one goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kv {

// Reads the whole file into `content`; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& name, std::string& content);

// Creates (or truncates) the file and writes `content`; false on any failure.
bool WriteWholeFile(const std::string& name, std::string_view content);

// Opens (or creates) the file, moves to its end, writes `content` and forces it to disk; false on
// any failure.
bool AppendToFile(const std::string& name, std::string_view content);

// Writes `content` completely to `temp`, forces it to disk and only then renames it over
// `name`. On failure `temp` is removed and `name` is left as it was.
bool ReplaceFileSafely(const std::string& name, const std::string& temp, std::string_view content);

// The same for a copy of the file `from`, streamed in pieces.
bool CopyFileSafely(const std::string& from, const std::string& to, const std::string& temp);

// Reads exactly `count` bytes at the current position; false when the file ends or fails first.
bool ReadExactly(FileHandle& file, void* buffer, int64_t count);

// The size of the file (-1 when it does not exist) and its last bytes, at most `most` of them.
// False when it exists but cannot be read.
bool ReadFileTail(const std::string& name, int64_t& size, std::string& tail, int64_t most);

// Little-endian field access for the flat record files.
template <typename T>
inline T LoadLE(const unsigned char* p) {
  T v = 0;
  for (unsigned i = 0; i < sizeof(T); ++i)
    v = static_cast<T>(v | (static_cast<T>(p[i]) << (8 * i)));
  return v;
}
template <typename T>
inline void StoreLE(unsigned char* p, T v) {
  for (unsigned i = 0; i < sizeof(T); ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

}  // namespace kv
