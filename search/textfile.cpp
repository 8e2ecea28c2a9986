// Appending text to the system's text files (result files, inspection text, skipped numbers).
#include "console/console.h"
#include "platform/fileutil.h"
#include "search/phases.h"

namespace kv {

void AppendToTextFile(const std::string& name, std::string_view text, bool addLineEnd) {
  std::string content(text);
  if (addLineEnd) content += "\r\n";
  // A file that cannot be opened, or a write that does not complete, stops the run: the
  // search state on disk is still that of the last checkpoint.
  if (!AppendToFile(name, content)) {
    PrintLine(name + " : ファイル書き込みに失敗しました。");
    PrintLine("緊急停止します。");
    EndRun();
  }
}

}  // namespace kv
