// The working directory held by one writing program at a time (platform/dirlock.h).
#pragma once

#include <memory>
#include <string>

#include "platform/dirlock.h"

namespace kv {

// Takes the working directory's lock for `program` and returns the hold, which the run keeps
// until it ends; when this process holds it already (kvcampaign's inner runs) nothing more is
// taken. When another program holds it, or the lock file cannot be used, the run ends at once
// with status 2 after one line that says so (and the closing prompt when `closingPrompt`):
// nothing has been read or written.
[[nodiscard]] std::unique_ptr<DirectoryLock> HoldWorkingDirectory(const std::string& program,
                                                                  bool closingPrompt = true);

// The holder as a reader is shown it: "Kolvex (プロセス 123、host、2025-01-02 03:04:05 開始)".
std::string HolderText(const LockHolder& holder);

}  // namespace kv
