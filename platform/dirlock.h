// One owner of a working directory at a time: the lock file that every program locks before it
// reads a state file. The writers (Kolvex, Kolvex32, kvimport, kvconvert, kvcampaign) take it
// exclusively, kvreport shared; the system releases it when the process ends, so a crash leaves
// no stale lock. The file stays in the directory and names its last holder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kv {

inline constexpr const char* kLockFile = "__LOCK___Kolvex.dat";

// What the lock file says of its holder, one "key value" line each.
struct LockHolder {
  std::string program;
  std::string pid;
  std::string host;
  std::string start;  // local time, "YYYY-MM-DD hh:mm:ss"
};
std::string LockFileText(const LockHolder& holder);
// Fields that the text lacks stay empty.
LockHolder ParseLockFile(std::string_view text);
// This process as the holder for `program` (the native platforms write it).
LockHolder ThisProcessAs(const std::string& program, uint64_t pid, std::string host);

// The lock of `directory` ("": the working directory) for the life of this object, or no lock
// when this process already holds it there (kvcampaign's inner runs of kvimport and the search
// program): such a hold counts as taken and leaves the lock to the outer one.
class DirectoryLock {
 public:
  DirectoryLock(const std::string& directory, const std::string& program, bool exclusive);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  LockResult result() const { return result_; }
  // The holder that excludes this one (kBusy).
  const LockHolder& holder() const { return holder_; }
  const std::string& file() const { return file_; }

 private:
  std::string file_;
  std::unique_ptr<FileLock> lock_;
  LockResult result_ = LockResult::kUnavailable;
  LockHolder holder_;
  bool counted_ = false;
};

}  // namespace kv
