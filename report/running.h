// kvreport beside a program that writes in the same directory. kvreport never waits and is never
// refused: it takes the directory's lock shared (a writer started meanwhile is refused); when a
// writer holds it, the report reads the files that the writer only ever appends to just up to
// their lengths at the writer's last resume point, as its journal records them
// (doc/journal.md), so that it sees the files as the writer would resume from them. In a
// directory that it cannot write, kvreport runs without the lock.
#pragma once

#include <memory>
#include <string>

#include "platform/dirlock.h"
#include "platform/platform.h"

namespace kv {

class ResumePointPlatform;

// For the life of this object: the lock, or the files as of the running writer's resume point
// (through the active platform).
class ReportHold {
 public:
  explicit ReportHold(const std::string& directory);
  ~ReportHold();
  ReportHold(const ReportHold&) = delete;
  ReportHold& operator=(const ReportHold&) = delete;

  // The line that says a run is in progress; empty when none is.
  const std::string& note() const { return note_; }

 private:
  std::unique_ptr<DirectoryLock> lock_;
  std::unique_ptr<ResumePointPlatform> platform_;
  Platform* previous_ = nullptr;
  std::string note_;
};

}  // namespace kv
