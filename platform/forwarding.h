// A platform that hands every call to another one. Programs that run another program's phases
// inside their own process, and the tests' doubles, override only the calls they change.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kv {

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& base) : base_(&base) {}

  void WriteOut(std::string_view bytes) override { base_->WriteOut(bytes); }
  bool ReadLine(std::string& line) override { return base_->ReadLine(line); }
  void MoveCursor(int column, int row) override { base_->MoveCursor(column, row); }
  void WriteError(std::string_view bytes) override { base_->WriteError(bytes); }

  std::unique_ptr<FileHandle> OpenRead(const std::string& name) override {
    return base_->OpenRead(name);
  }
  std::unique_ptr<FileHandle> Create(const std::string& name) override {
    return base_->Create(name);
  }
  std::unique_ptr<FileHandle> OpenAppend(const std::string& name) override {
    return base_->OpenAppend(name);
  }
  bool Exists(const std::string& name) override { return base_->Exists(name); }
  bool Copy(const std::string& from, const std::string& to) override {
    return base_->Copy(from, to);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    return base_->Rename(from, to);
  }
  bool Remove(const std::string& name) override { return base_->Remove(name); }
  bool ListFiles(const std::string& directory, std::vector<FileEntry>& files) override {
    return base_->ListFiles(directory, files);
  }
  bool Truncate(const std::string& name, int64_t size) override {
    return base_->Truncate(name, size);
  }
  std::unique_ptr<FileHandle> OpenUserFile(const std::string& name) override {
    return base_->OpenUserFile(name);
  }
  std::unique_ptr<FileHandle> CreateUserFile(const std::string& name) override {
    return base_->CreateUserFile(name);
  }
  bool IsSpecialFile(const std::string& name) override { return base_->IsSpecialFile(name); }
  LockResult LockFile(const std::string& name, const std::string& program, bool exclusive,
                      std::unique_ptr<FileLock>& lock, std::string& holder) override {
    return base_->LockFile(name, program, exclusive, lock, holder);
  }

  uint32_t TickCount() override { return base_->TickCount(); }
  void SetIdlePriority() override { base_->SetIdlePriority(); }
  unsigned HardwareThreads() override { return base_->HardwareThreads(); }
  [[noreturn]] void Exit(int code) override {
    base_->Exit(code);
    std::abort();  // the base's exit does not return
  }

 protected:
  Platform& base() { return *base_; }

 private:
  Platform* base_;
};

}  // namespace kv
