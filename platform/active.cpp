// Which platform the programs talk to: the native one, or one that a test has installed.
#include "platform/platform.h"

namespace kv {
namespace {
Platform* active = nullptr;
}  // namespace

Platform& Os() { return active != nullptr ? *active : NativePlatform(); }

Platform* SetPlatform(Platform* platform) {
  Platform* previous = active;
  active = platform;
  return previous;
}

}  // namespace kv
