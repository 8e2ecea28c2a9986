// A working directory kept in memory, and a platform double over it that can fail any chosen
// file operation. Used by the fault-injection sweep and by the fuzz targets, where thousands of
// runs must not touch the disk. It remembers what each file held when it was last forced to disk,
// so that a simulated stop can drop what a real machine would lose.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "tests/harness.h"

namespace kvtest {

// Files in memory. Open handles keep the content they were opened on, as on a real file system
// where a renamed or removed file stays readable through its open handle.
class MemoryPlatform : public FakePlatform {
 public:
  std::map<std::string, std::shared_ptr<std::string>> files;

  void SetFiles(const Files& content);
  Files Snapshot() const;

  std::unique_ptr<kv::FileHandle> OpenRead(const std::string& name) override;
  std::unique_ptr<kv::FileHandle> Create(const std::string& name) override;
  std::unique_ptr<kv::FileHandle> OpenAppend(const std::string& name) override;
  bool Exists(const std::string& name) override { return files.count(name) != 0; }
  bool Copy(const std::string& from, const std::string& to) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& name) override {
    return AllowRemove(name) && files.erase(name) != 0;
  }
  // Every file is in the working directory; all have the same time.
  bool ListFiles(const std::string& directory, std::vector<kv::FileEntry>& list) override {
    list.clear();
    if (!directory.empty()) return false;
    for (const auto& entry : files) list.push_back({entry.first, 0});
    return true;
  }
  bool Truncate(const std::string& name, int64_t size) override;

  // Called by the file handles: `content` is about to change, or has just been forced to disk.
  void Changing(const std::shared_ptr<std::string>& content);
  void Synced(const std::shared_ptr<std::string>& content) { unsynced_.erase(content); }
  // A stop of the machine: every file loses what was written since it was last forced to disk
  // (renames and deletions stay done).
  void DropUnsynced();

  // Hooks for fault doubles; the base class lets every operation through. The write hook returns
  // how many of the bytes reach the file; the write reports failure when that is fewer than all.
  virtual bool AllowOpen(const std::string&) { return true; }
  virtual bool AllowRename(const std::string&) { return true; }  // renames and copies, by source
  virtual bool AllowRemove(const std::string&) { return true; }
  virtual int64_t AllowWrite(const std::string&, int64_t count) { return count; }
  virtual bool AllowSync(const std::string&) { return true; }

 private:
  // The content on disk of each file changed since its last sync.
  std::map<std::shared_ptr<std::string>, std::string> unsynced_;
  std::unique_ptr<kv::FileHandle> Open(const std::string& name, bool create, bool truncate,
                                       bool writable);
};

// Thrown at the operation where a stop was planned: the process ends there, leaving every file
// as it stands, as when the machine loses power or the user closes the window.
struct Killed {};

// Which operation a fault hits: the k-th of its class, counted from 1 over one run. A copy counts
// with the renames; a sync and a truncation count with the writes.
enum class FaultOp { kOpen, kWrite, kRename, kRemove };
enum class FaultKind {
  kFail,   // the operation reports failure and does nothing
  kShort,  // (writes) half of the bytes reach the file and the write reports failure
  kStop,   // the process is stopped just before the operation; unsynced bytes are dropped
};

class FaultPlatform : public MemoryPlatform {
 public:
  FaultOp op = FaultOp::kOpen;
  FaultKind kind = FaultKind::kFail;
  int64_t k = 0;  // 0: no fault
  // Files whose operations are never disturbed (the user's own input files: failing to open one
  // is the user giving a wrong name).
  std::set<std::string> spared;
  // The reason a failing operation gives.
  kv::FileErrorKind error = kv::FileErrorKind::kDiskFull;
  bool injected = false;
  // Operations of each class seen so far in this run.
  int64_t counts[4] = {0, 0, 0, 0};

  void Arm(FaultOp o, FaultKind how, int64_t which) {
    op = o;
    kind = how;
    k = which;
    injected = false;
    for (auto& c : counts) c = 0;
  }

  bool AllowOpen(const std::string& name) override { return Hit(FaultOp::kOpen, name); }
  bool AllowRename(const std::string& name) override { return Hit(FaultOp::kRename, name); }
  bool AllowRemove(const std::string& name) override { return Hit(FaultOp::kRemove, name); }
  int64_t AllowWrite(const std::string& name, int64_t count) override;
  bool AllowSync(const std::string& name) override { return Hit(FaultOp::kWrite, name); }

 private:
  // Counts one operation of class `o`; false when it is the one that fails.
  bool Hit(FaultOp o, const std::string& name);
};

}  // namespace kvtest
