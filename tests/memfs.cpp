// The fault double, on disk and over the in-memory working directory.
#include "tests/memfs.h"

#include <algorithm>
#include <cstring>

namespace kvtest {
namespace {

// A file of the fault double: its writes and syncs meet the faults first.
class FaultFile : public kv::FileHandle {
 public:
  FaultFile(FaultPlatform& owner, std::string name, std::unique_ptr<kv::FileHandle> inner)
      : owner_(owner), name_(std::move(name)), inner_(std::move(inner)) {}

  int64_t Size() override { return inner_->Size(); }
  bool SeekEnd() override { return inner_->SeekEnd(); }
  bool SeekTo(int64_t offset) override { return inner_->SeekTo(offset); }
  int64_t Read(void* buffer, int64_t count) override { return inner_->Read(buffer, count); }
  bool Write(const void* buffer, int64_t count) override {
    if (count < 0) return false;
    const int64_t allowed = owner_.AllowWrite(name_, count);
    const bool written = inner_->Write(buffer, std::clamp<int64_t>(allowed, 0, count));
    return written && allowed >= count;
  }
  bool Sync() override { return owner_.Allow(FaultOp::kWrite, name_) && inner_->Sync(); }
  bool Close() override { return inner_->Close(); }

 private:
  FaultPlatform& owner_;
  std::string name_;
  std::unique_ptr<kv::FileHandle> inner_;
};

class MemoryFile : public kv::FileHandle {
 public:
  MemoryFile(MemoryPlatform& owner, std::shared_ptr<std::string> content, bool writable)
      : owner_(owner), content_(std::move(content)), writable_(writable) {}

  int64_t Size() override { return static_cast<int64_t>(content_->size()); }
  bool SeekEnd() override {
    position_ = content_->size();
    return true;
  }
  bool SeekTo(int64_t offset) override {
    if (offset < 0) return false;
    position_ = static_cast<size_t>(offset);
    return true;
  }
  int64_t Read(void* buffer, int64_t count) override {
    if (count < 0) return -1;
    if (position_ >= content_->size()) return 0;
    const size_t n = std::min(static_cast<size_t>(count), content_->size() - position_);
    std::memcpy(buffer, content_->data() + position_, n);
    position_ += n;
    return static_cast<int64_t>(n);
  }
  bool Write(const void* buffer, int64_t count) override {
    if (!writable_ || count < 0) return false;
    const auto n = static_cast<size_t>(count);
    if (n > 0) owner_.Changing(content_);
    if (content_->size() < position_ + n) content_->resize(position_ + n, '\0');
    std::memcpy(content_->data() + position_, buffer, n);
    position_ += n;
    return true;
  }
  bool Sync() override {
    owner_.Synced(content_);
    return true;
  }
  bool Close() override { return true; }

 private:
  MemoryPlatform& owner_;
  std::shared_ptr<std::string> content_;
  bool writable_;
  size_t position_ = 0;
};

}  // namespace

std::unique_ptr<kv::FileHandle> FaultPlatform::Watched(const std::string& name,
                                                       std::unique_ptr<kv::FileHandle> file) {
  if (!file) return file;
  return std::make_unique<FaultFile>(*this, name, std::move(file));
}

std::unique_ptr<kv::FileHandle> FaultPlatform::OpenRead(const std::string& name) {
  if (!Allow(FaultOp::kOpen, name)) return nullptr;
  return Watched(name, FakePlatform::OpenRead(name));
}
std::unique_ptr<kv::FileHandle> FaultPlatform::Create(const std::string& name) {
  if (!Allow(FaultOp::kOpen, name)) return nullptr;
  return Watched(name, FakePlatform::Create(name));
}
std::unique_ptr<kv::FileHandle> FaultPlatform::OpenAppend(const std::string& name) {
  if (!Allow(FaultOp::kOpen, name)) return nullptr;
  return Watched(name, FakePlatform::OpenAppend(name));
}
bool FaultPlatform::Copy(const std::string& from, const std::string& to) {
  return Allow(FaultOp::kRename, from) && FakePlatform::Copy(from, to);
}
bool FaultPlatform::Rename(const std::string& from, const std::string& to) {
  return Allow(FaultOp::kRename, from) && FakePlatform::Rename(from, to);
}
bool FaultPlatform::Remove(const std::string& name) {
  return Allow(FaultOp::kRemove, name) && FakePlatform::Remove(name);
}
bool FaultPlatform::Truncate(const std::string& name, int64_t size) {
  return Allow(FaultOp::kWrite, name) && FakePlatform::Truncate(name, size);
}

std::optional<FaultKind> FaultPlatform::Hit(FaultOp o, const std::string& name) {
  FaultKind how = kind;
  kv::FileErrorKind reason = error;
  if (spared.count(name) == 0 && ++counts[static_cast<int>(o)] == k && o == op) {
    injected = true;
  } else {
    const auto standing = std::find_if(always.begin(), always.end(), [&](const FileFault& f) {
      return f.op == o && (f.file.empty() || f.file == name);
    });
    if (standing == always.end()) return std::nullopt;
    how = standing->kind;
    reason = standing->error;
  }
  if (how == FaultKind::kStop) throw Killed{};
  kv::NoteFileError({reason, ""});
  return how;
}

int64_t FaultPlatform::AllowWrite(const std::string& name, int64_t count) {
  const auto how = Hit(FaultOp::kWrite, name);
  if (!how) return count;
  return *how == FaultKind::kShort ? count / 2 : 0;
}

void MemoryPlatform::SetFiles(const Files& content) {
  files.clear();
  unsynced_.clear();
  for (const auto& [name, bytes] : content) files[name] = std::make_shared<std::string>(bytes);
}

Files MemoryPlatform::Snapshot() const {
  Files out;
  for (const auto& [name, bytes] : files) out[name] = *bytes;
  return out;
}

std::unique_ptr<kv::FileHandle> MemoryPlatform::Open(const std::string& name, bool create,
                                                     bool truncate, bool writable) {
  if (!Allow(FaultOp::kOpen, name)) return nullptr;
  auto it = files.find(name);
  if (it == files.end()) {
    if (!create) return nullptr;
    it = files.emplace(name, std::make_shared<std::string>()).first;
    unsynced_.emplace(it->second, std::string());
  }
  if (truncate && !it->second->empty()) {
    Changing(it->second);
    it->second->clear();
  }
  return Watched(name, std::make_unique<MemoryFile>(*this, it->second, writable));
}

std::unique_ptr<kv::FileHandle> MemoryPlatform::OpenRead(const std::string& name) {
  return Open(name, false, false, false);
}
std::unique_ptr<kv::FileHandle> MemoryPlatform::Create(const std::string& name) {
  return Open(name, true, true, true);
}
std::unique_ptr<kv::FileHandle> MemoryPlatform::OpenAppend(const std::string& name) {
  return Open(name, true, false, true);
}

bool MemoryPlatform::Copy(const std::string& from, const std::string& to) {
  if (!Allow(FaultOp::kRename, from)) return false;
  auto it = files.find(from);
  if (it == files.end()) return false;
  auto copy = std::make_shared<std::string>(*it->second);
  unsynced_.emplace(copy, std::string());
  files[to] = std::move(copy);
  return true;
}

bool MemoryPlatform::Truncate(const std::string& name, int64_t size) {
  auto it = files.find(name);
  if (it == files.end() || size < 0 || !Allow(FaultOp::kWrite, name)) return false;
  if (static_cast<size_t>(size) < it->second->size()) it->second->resize(static_cast<size_t>(size));
  Synced(it->second);
  return true;
}

void MemoryPlatform::Changing(const std::shared_ptr<std::string>& content) {
  unsynced_.emplace(content, *content);
}

void MemoryPlatform::DropUnsynced() {
  for (auto& [content, onDisk] : unsynced_) *content = onDisk;
  unsynced_.clear();
}

bool MemoryPlatform::Rename(const std::string& from, const std::string& to) {
  if (!Allow(FaultOp::kRename, from)) return false;
  auto it = files.find(from);
  if (it == files.end()) return false;
  if (from == to) return true;
  auto content = it->second;
  files.erase(it);
  files[to] = std::move(content);
  return true;
}

}  // namespace kvtest
