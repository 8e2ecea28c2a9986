// File routines shared by all programs, built only on the platform interface.
#include "platform/fileutil.h"

#include "platform/platform.h"

namespace kv {

bool ReadWholeFile(const std::string& name, std::string& content) {
  content.clear();
  auto file = Os().OpenRead(name);
  if (!file) return false;
  const int64_t size = file->Size();
  if (size < 0) {
    file->Close();
    return false;
  }
  content.resize(static_cast<size_t>(size));
  int64_t done = 0;
  while (done < size) {
    const int64_t got = file->Read(content.data() + done, size - done);
    if (got <= 0) break;
    done += got;
  }
  content.resize(static_cast<size_t>(done));
  file->Close();
  return done == size;
}

bool WriteWholeFile(const std::string& name, std::string_view content) {
  auto file = Os().Create(name);
  if (!file) return false;
  const bool written = file->Write(content.data(), static_cast<int64_t>(content.size()));
  const bool closed = file->Close();
  return written && closed;
}

bool AppendToFile(const std::string& name, std::string_view content) {
  auto file = Os().OpenAppend(name);
  if (!file) return false;
  bool ok = file->SeekEnd();
  ok = ok && file->Write(content.data(), static_cast<int64_t>(content.size()));
  ok = ok && file->Sync();
  const bool closed = file->Close();
  return ok && closed;
}

namespace {

// Removes the work file of a failed replacement, keeping the reason of the failure.
bool Abandon(const std::string& temp) {
  const FileError reason = LastFileError();
  Os().Remove(temp);
  NoteFileError(reason);
  return false;
}

}  // namespace

bool ReplaceFileSafely(const std::string& name, const std::string& temp, std::string_view content) {
  auto file = Os().Create(temp);
  if (!file) return false;
  bool ok = file->Write(content.data(), static_cast<int64_t>(content.size()));
  ok = ok && file->Sync();
  ok = file->Close() && ok;
  ok = ok && Os().Rename(temp, name);
  return ok || Abandon(temp);
}

bool CopyFileSafely(const std::string& from, const std::string& to, const std::string& temp) {
  auto source = Os().OpenRead(from);
  if (!source) return false;
  auto target = Os().Create(temp);
  if (!target) return false;
  std::string piece(size_t{1} << 20, '\0');
  bool ok = true;
  for (;;) {
    const int64_t got = source->Read(piece.data(), static_cast<int64_t>(piece.size()));
    ok = got >= 0;
    if (got <= 0) break;
    ok = target->Write(piece.data(), got);
    if (!ok) break;
  }
  source->Close();
  ok = ok && target->Sync();
  ok = target->Close() && ok;
  ok = ok && Os().Rename(temp, to);
  return ok || Abandon(temp);
}

bool ReadExactly(FileHandle& file, void* buffer, int64_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t got = file.Read(bytes + done, count - done);
    if (got <= 0) return false;
    done += got;
  }
  return true;
}

bool ReadFileTail(const std::string& name, int64_t& size, std::string& tail, int64_t most) {
  tail.clear();
  size = -1;
  auto file = Os().OpenRead(name);
  if (!file) return !Os().Exists(name);
  size = file->Size();
  const int64_t take = size < most ? size : most;
  tail.resize(static_cast<size_t>(take < 0 ? 0 : take));
  const bool ok = size >= 0 && file->SeekTo(size - take) && ReadExactly(*file, tail.data(), take);
  file->Close();
  return ok;
}

}  // namespace kv
