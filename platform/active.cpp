// Which platform the programs talk to: the native one, or one that a test has installed.
#include <utility>

#include "platform/platform.h"

namespace kv {
namespace {
Platform* active = nullptr;
thread_local FileError lastError;
}  // namespace

void NoteFileError(FileError error) { lastError = std::move(error); }
FileError LastFileError() { return lastError; }

Platform& Os() { return active != nullptr ? *active : NativePlatform(); }

Platform* SetPlatform(Platform* platform) {
  Platform* previous = active;
  active = platform;
  return previous;
}

}  // namespace kv
