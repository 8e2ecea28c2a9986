// File routines built on the platform interface: whole-file reads, appends, the safe
// replacement of a file whose new content must be complete on disk before the old one goes, and
// the little-endian items of the flat binary files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kv {

// Reads the whole file into `content`; false when it cannot be opened or read, or holds more than
// `most` bytes or than memory can take (the reason is noted as for a failed file operation).
inline constexpr int64_t kAnySize = INT64_MAX;
bool ReadWholeFile(const std::string& name, std::string& content, int64_t most = kAnySize);
// The same for a file just opened (its `Size()` bytes from where it stands); it stays open.
bool ReadWholeFile(FileHandle& file, std::string& content, int64_t most = kAnySize);

// Notes, as the reason of a failed file operation, that a file holds more than its form allows,
// or more than the memory can take; false.
bool NoteTooLarge();
bool NoteNoMemory();
// Resizes `items` to `count` (the new ones set to `fill`); false, with the reason noted, when the
// memory cannot be had. Sizes taken from a file go through here, never straight to `resize`.
template <typename Vector>
bool ResizeFromFile(Vector& items, int64_t count, typename Vector::value_type fill = {}) {
  if (count < 0 || static_cast<uint64_t>(count) > items.max_size()) return NoteTooLarge();
  try {
    items.resize(static_cast<size_t>(count), fill);
  } catch (const std::bad_alloc&) {
    return NoteNoMemory();
  }
  return true;
}

// Creates (or truncates) the file and writes `content`; false on any failure.
bool WriteWholeFile(const std::string& name, std::string_view content);

// Opens (or creates) the file, moves to its end, writes `content` and, when `sync` is set, forces
// it to disk; false on any failure.
bool AppendToFile(const std::string& name, std::string_view content, bool sync = true);

// The new content of the file `name`, written in pieces under the name `temp` and put in the
// place of `name` only once it is complete on disk. At any failure `temp` is closed and removed
// on the spot (the reason of the failure stays the one reported) and `name` is left as it was;
// so it is when the replacement is dropped without a commit, except while an exception passes
// through (the end of a run, or a stop in the tests): nothing is removed on that way out, and the
// next replacement writes over what is left.
class ReplacementFile {
 public:
  // Creates `temp`; a failure shows in `ok()` and in every later call.
  ReplacementFile(std::string name, std::string temp);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // False once anything has failed.
  bool ok() const { return state_ != State::kFailed; }
  // Writes the next piece.
  bool Write(const void* data, int64_t count);
  bool Write(std::string_view bytes) {
    return Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  // Forces the content to disk and closes `temp`: it is complete, `name` is not yet replaced.
  bool Finish();
  // Finishes (when not yet done) and renames `temp` over `name`.
  bool Commit();

 private:
  enum class State { kOpen, kFinished, kCommitted, kFailed };
  bool Fail();

  std::string name_;
  std::string temp_;
  std::unique_ptr<FileHandle> file_;
  State state_ = State::kOpen;
};

// Writes `content` completely to `temp`, forces it to disk and only then renames it over
// `name`. On failure `temp` is removed and `name` is left as it was.
bool ReplaceFileSafely(const std::string& name, const std::string& temp, std::string_view content);

// The same for a copy of the file `from`, streamed in pieces.
bool CopyFileSafely(const std::string& from, const std::string& to, const std::string& temp);

// Reads exactly `count` bytes at the current position; false when the file ends or fails first.
bool ReadExactly(FileHandle& file, void* buffer, int64_t count);
// The same at `offset` (nothing to read is no seek).
bool ReadExactlyAt(FileHandle& file, int64_t offset, void* buffer, int64_t count);

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

// The flat files are arrays of items of a fixed size, read and written through a buffer of about
// this many bytes at a time: one platform call per piece, not per item.
inline constexpr int64_t kItemPieceBytes = int64_t{1} << 20;

// Reads `count` items of `size` bytes each from the current position, a piece at a time, and
// hands each to `take(bytes, index)`. False when the file ends or fails first.
template <typename Take>
bool ReadItems(FileHandle& file, int64_t count, int64_t size, Take&& take) {
  const int64_t perPiece = std::max<int64_t>(1, kItemPieceBytes / size);
  std::vector<unsigned char> piece(
      static_cast<size_t>(std::clamp<int64_t>(count, 0, perPiece) * size));
  for (int64_t first = 0; first < count; first += perPiece) {
    const int64_t n = std::min(perPiece, count - first);
    if (!ReadExactly(file, piece.data(), n * size)) return false;
    for (int64_t i = 0; i < n; ++i) take(piece.data() + i * size, first + i);
  }
  return true;
}

// Writes `count` items of `size` bytes each, made by `make(bytes, index)`, a piece at a time to
// `sink` (a FileHandle or a ReplacementFile). Nothing to write is still one (empty) write, as a
// write of the whole would be.
template <typename Sink, typename Make>
bool WriteItems(Sink& sink, int64_t count, int64_t size, Make&& make) {
  const int64_t perPiece = std::max<int64_t>(1, kItemPieceBytes / size);
  std::vector<unsigned char> piece(
      static_cast<size_t>(std::clamp<int64_t>(count, 1, perPiece) * size));
  int64_t first = 0;
  do {
    const int64_t n = std::min(perPiece, count - first);
    for (int64_t i = 0; i < n; ++i) make(piece.data() + i * size, first + i);
    if (!sink.Write(piece.data(), n * size)) return false;
    first += n;
  } while (first < count);
  return true;
}

}  // namespace kv
