// The in-memory working directory and the fault double.
#include "tests/memfs.h"

#include <algorithm>
#include <cstring>

namespace kvtest {
namespace {

class MemoryFile : public kv::FileHandle {
 public:
  MemoryFile(MemoryPlatform& owner, std::string name, std::shared_ptr<std::string> content,
             bool writable)
      : owner_(owner), name_(std::move(name)), content_(std::move(content)), writable_(writable) {}

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
    const int64_t allowed = owner_.AllowWrite(name_, count);
    const auto n = static_cast<size_t>(std::clamp<int64_t>(allowed, 0, count));
    if (n > 0) owner_.Changing(content_);
    if (content_->size() < position_ + n) content_->resize(position_ + n, '\0');
    std::memcpy(content_->data() + position_, buffer, n);
    position_ += n;
    return allowed >= count;
  }
  bool Sync() override {
    if (!owner_.AllowSync(name_)) return false;
    owner_.Synced(content_);
    return true;
  }
  bool Close() override { return true; }

 private:
  MemoryPlatform& owner_;
  std::string name_;
  std::shared_ptr<std::string> content_;
  bool writable_;
  size_t position_ = 0;
};

}  // namespace

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
  if (!AllowOpen(name)) return nullptr;
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
  return std::make_unique<MemoryFile>(*this, name, it->second, writable);
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
  if (!AllowRename(from)) return false;
  auto it = files.find(from);
  if (it == files.end()) return false;
  auto copy = std::make_shared<std::string>(*it->second);
  unsynced_.emplace(copy, std::string());
  files[to] = std::move(copy);
  return true;
}

bool MemoryPlatform::Truncate(const std::string& name, int64_t size) {
  auto it = files.find(name);
  if (it == files.end() || size < 0 || AllowWrite(name, 1) < 1) return false;
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
  if (!AllowRename(from)) return false;
  auto it = files.find(from);
  if (it == files.end()) return false;
  if (from == to) return true;
  auto content = it->second;
  files.erase(it);
  files[to] = std::move(content);
  return true;
}

bool FaultPlatform::Hit(FaultOp o, const std::string& name) {
  if (spared.count(name) != 0) return true;
  const int64_t n = ++counts[static_cast<int>(o)];
  if (o != op || n != k) return true;
  injected = true;
  if (kind == FaultKind::kStop) throw Killed{};
  kv::NoteFileError({error, ""});
  return false;
}

int64_t FaultPlatform::AllowWrite(const std::string& name, int64_t count) {
  if (Hit(FaultOp::kWrite, name)) return count;
  return kind == FaultKind::kShort ? count / 2 : 0;
}

}  // namespace kvtest
