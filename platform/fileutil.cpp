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
  const bool closed = file->Close();
  return ok && closed;
}

bool ReplaceFileSafely(const std::string& name, const std::string& temp, std::string_view content) {
  auto file = Os().Create(temp);
  if (!file) return false;
  bool ok = file->Write(content.data(), static_cast<int64_t>(content.size()));
  ok = ok && file->Sync();
  ok = file->Close() && ok;
  ok = ok && Os().Rename(temp, name);
  if (!ok) Os().Remove(temp);
  return ok;
}

}  // namespace kv
