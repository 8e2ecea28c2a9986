// The refusal of a second writer in the working directory.
#include "console/worklock.h"

#include "console/console.h"

namespace kv {

std::string HolderText(const LockHolder& holder) {
  if (holder.program.empty()) return "他のプログラム";
  std::string text = holder.program;
  std::string details;
  if (!holder.pid.empty()) details += "プロセス " + holder.pid;
  if (!holder.host.empty()) details += (details.empty() ? "" : "、") + holder.host;
  if (!holder.start.empty()) details += (details.empty() ? "" : "、") + holder.start + " 開始";
  return details.empty() ? text : text + " (" + details + ")";
}

std::unique_ptr<DirectoryLock> HoldWorkingDirectory(const std::string& program,
                                                    bool closingPrompt) {
  auto hold = std::make_unique<DirectoryLock>("", program, true);
  switch (hold->result()) {
    case LockResult::kTaken:
      return hold;
    case LockResult::kBusy:
      PrintLine("作業フォルダは " + HolderText(hold->holder()) +
                " が使用中です。終了してから実行して下さい。");
      break;
    case LockResult::kUnavailable:
      PrintLine(std::string(kLockFile) + " を使用できないため、作業フォルダを確保できません。");
      PrintFileError(kLockFile);
      break;
  }
  hold.reset();
  if (closingPrompt) EndRun(kFailed);
  ExitNow(kFailed);
}

}  // namespace kv
