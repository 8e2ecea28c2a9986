// The lock file's text and the process-wide record of the directories this process holds.
#include "platform/dirlock.h"

#include <ctime>
#include <map>
#include <utility>

namespace kv {
namespace {

// The lock files held by this process, with the count of holds on each.
std::map<std::string, int>& Held() {
  static std::map<std::string, int> held;
  return held;
}

std::string LockPath(const std::string& directory) {
  if (directory.empty()) return kLockFile;
  const char last = directory.back();
  return last == '/' || last == '\\' ? directory + kLockFile : directory + "/" + kLockFile;
}

}  // namespace

std::string LockFileText(const LockHolder& holder) {
  return "program " + holder.program + "\npid " + holder.pid + "\nhost " + holder.host +
         "\nstart " + holder.start + "\n";
}

LockHolder ParseLockFile(std::string_view text) {
  LockHolder holder;
  std::string* fields[] = {&holder.program, &holder.pid, &holder.host, &holder.start};
  const std::string_view keys[] = {"program ", "pid ", "host ", "start "};
  // The first line of each key counts: a longer old text may still follow a new one for a moment.
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    for (size_t k = 0; k < 4; ++k) {
      if (fields[k]->empty() && line.starts_with(keys[k])) {
        *fields[k] = std::string(line.substr(keys[k].size()));
      }
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return holder;
}

LockHolder ThisProcessAs(const std::string& program, uint64_t pid, std::string host) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char start[32] = "";
  std::strftime(start, sizeof start, "%Y-%m-%d %H:%M:%S", &local);
  return {program, std::to_string(pid), std::move(host), start};
}

DirectoryLock::DirectoryLock(const std::string& directory, const std::string& program,
                             bool exclusive)
    : file_(LockPath(directory)) {
  auto& held = Held();
  const auto it = held.find(file_);
  if (it != held.end() && it->second > 0) {
    ++it->second;
    counted_ = true;
    result_ = LockResult::kTaken;
    return;
  }
  std::string text;
  result_ = Os().LockFile(file_, program, exclusive, lock_, text);
  if (result_ == LockResult::kTaken) {
    ++held[file_];
    counted_ = true;
  } else if (result_ == LockResult::kBusy) {
    holder_ = ParseLockFile(text);
  }
}

DirectoryLock::~DirectoryLock() {
  if (counted_) {
    auto& held = Held();
    if (--held[file_] == 0) held.erase(file_);
  }
  lock_.reset();
}

}  // namespace kv
