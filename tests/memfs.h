// The tests' fault layer: a platform double whose file operations can fail, either the k-th of a
// class or every one on a named file, and the same double over a working directory kept in
// memory. The memory one serves the fault-injection sweep and the fuzz targets, where thousands of
// runs must not touch the disk; it remembers what each file held when it was last forced to disk,
// so that a simulated stop can drop what a real machine would lose.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/harness.h"

namespace kvtest {

// Thrown at the operation where a stop was planned: the process ends there, leaving every file
// as it stands, as when the machine loses power or the user closes the window.
struct Killed {};

// Which operation a fault hits. A copy counts with the renames; a sync and a truncation count
// with the writes.
enum class FaultOp { kOpen, kWrite, kRename, kRemove };
enum class FaultKind {
  kFail,   // the operation reports failure and does nothing
  kShort,  // (writes) half of the bytes reach the file and the write reports failure
  kStop,   // the process is stopped just before the operation; unsynced bytes are dropped
};

// A standing fault: every operation of its class on one file fails, for the given reason.
struct FileFault {
  FaultOp op;
  std::string file;  // "" for every file
  kv::FileErrorKind error;
  FaultKind kind = FaultKind::kFail;
};

// A full disk for one file: every write to it gets half of its bytes in and fails.
inline FileFault FullDisk(std::string file) {
  return {FaultOp::kWrite, std::move(file), kv::FileErrorKind::kDiskFull, FaultKind::kShort};
}

// The console double of the harness whose file operations first meet the faults; its files are
// those of the working directory on disk.
class FaultPlatform : public FakePlatform {
 public:
  explicit FaultPlatform(std::vector<FileFault> faults = {}) : always(std::move(faults)) {}

  // The armed fault: the k-th operation of class `op`, counted from 1 over one run.
  FaultOp op = FaultOp::kOpen;
  FaultKind kind = FaultKind::kFail;
  int64_t k = 0;  // 0: no fault
  // Files whose operations the armed fault never counts (the user's own input files: failing to
  // open one is the user giving a wrong name).
  std::set<std::string> spared;
  // The reason the armed fault gives.
  kv::FileErrorKind error = kv::FileErrorKind::kDiskFull;
  bool injected = false;
  // Operations of each class seen so far in this run.
  int64_t counts[4] = {0, 0, 0, 0};
  // Faults that hit every time, besides the armed one.
  std::vector<FileFault> always;

  void Arm(FaultOp o, FaultKind how, int64_t which) {
    op = o;
    kind = how;
    k = which;
    injected = false;
    for (auto& c : counts) c = 0;
  }

  std::unique_ptr<kv::FileHandle> OpenRead(const std::string& name) override;
  std::unique_ptr<kv::FileHandle> Create(const std::string& name) override;
  std::unique_ptr<kv::FileHandle> OpenAppend(const std::string& name) override;
  bool Copy(const std::string& from, const std::string& to) override;
  bool Rename(const std::string& from, const std::string& to) override;
  // The user's files go through the same faults (and the memory files) as the state files.
  std::unique_ptr<kv::FileHandle> OpenUserFile(const std::string& name) override {
    return OpenRead(name);
  }
  std::unique_ptr<kv::FileHandle> CreateUserFile(const std::string& name) override {
    return Create(name);
  }
  bool Remove(const std::string& name) override;
  bool Truncate(const std::string& name, int64_t size) override;

  // Counts one operation of class `o` on `name`; false when it is one that fails (its reason is
  // noted). A rename or a copy is counted by its source.
  bool Allow(FaultOp o, const std::string& name) { return !Hit(o, name); }
  // The same for a write of `count` bytes: how many of them reach the file (the write reports
  // failure when that is fewer than all).
  int64_t AllowWrite(const std::string& name, int64_t count);

 protected:
  // `file`, opened under `name`, with its writes and syncs meeting the faults.
  std::unique_ptr<kv::FileHandle> Watched(const std::string& name,
                                          std::unique_ptr<kv::FileHandle> file);

 private:
  // Counts one operation of class `o`; the kind of the fault that hits it, if one does.
  std::optional<FaultKind> Hit(FaultOp o, const std::string& name);
};

// The fault double over files in memory. Open handles keep the content they were opened on, as
// on a real file system where a renamed or removed file stays readable through its open handle.
class MemoryPlatform : public FaultPlatform {
 public:
  std::map<std::string, std::shared_ptr<std::string>> files;

  void SetFiles(const Files& content);
  Files Snapshot() const;

  std::unique_ptr<kv::FileHandle> OpenRead(const std::string& name) override;
  std::unique_ptr<kv::FileHandle> Create(const std::string& name) override;
  std::unique_ptr<kv::FileHandle> OpenAppend(const std::string& name) override;
  bool Exists(const std::string& name) override { return files.count(name) != 0; }
  bool IsSpecialFile(const std::string&) override { return false; }
  bool Copy(const std::string& from, const std::string& to) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& name) override {
    return Allow(FaultOp::kRemove, name) && files.erase(name) != 0;
  }
  // Every file is in the working directory; all have the same time.
  bool ListFiles(const std::string& directory, std::vector<kv::FileEntry>& list) override {
    list.clear();
    if (!directory.empty()) return false;
    for (const auto& entry : files) list.push_back({entry.first, 0});
    return true;
  }
  bool Truncate(const std::string& name, int64_t size) override;
  // One program works in the memory directory at a time: its lock is always had, and no lock
  // file is made.
  kv::LockResult LockFile(const std::string&, const std::string&, bool,
                          std::unique_ptr<kv::FileLock>& lock, std::string&) override {
    lock = std::make_unique<kv::FileLock>();
    return kv::LockResult::kTaken;
  }

  // Called by the file handles: `content` is about to change, or has just been forced to disk.
  void Changing(const std::shared_ptr<std::string>& content);
  void Synced(const std::shared_ptr<std::string>& content) { unsynced_.erase(content); }
  // A stop of the machine: every file loses what was written since it was last forced to disk
  // (renames and deletions stay done).
  void DropUnsynced();

 private:
  // The content on disk of each file changed since its last sync.
  std::map<std::shared_ptr<std::string>, std::string> unsynced_;
  std::unique_ptr<kv::FileHandle> Open(const std::string& name, bool create, bool truncate,
                                       bool writable);
};

}  // namespace kvtest
