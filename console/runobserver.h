// What a run tells a program that starts it in its own process: how it ended and how far its
// searches have come. A program's own entry point passes no observer.
#pragma once

#include "console/console.h"

namespace kv {

enum class RunOutcome { kCompleted, kNoWork, kFailed };
enum class RunPhase { kContinuation, kLength3 };

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The share of one search done so far, in percent.
  virtual void Progress(RunPhase phase, double percent) = 0;
  // Once, as the run ends, with the exit status it ends with.
  virtual void Ended(RunOutcome outcome, int status) = 0;
};

// Runs `run`, a whole run that ends by EndRun or ExitNow, and tells `observer` (if any) how it
// ended: completed only when `completed` was set on the way.
template <typename Run>
[[noreturn]] void ObservedRun(RunObserver* observer, const bool& completed, Run&& run) {
  try {
    run();
    ExitNow(kDone);
  } catch (const RunEnd& end) {
    if (observer != nullptr) {
      const RunOutcome outcome = completed && end.code == kDone ? RunOutcome::kCompleted
                                 : end.code == kNoWork          ? RunOutcome::kNoWork
                                                                : RunOutcome::kFailed;
      observer->Ended(outcome, end.code);
    }
    throw;
  }
}

}  // namespace kv
