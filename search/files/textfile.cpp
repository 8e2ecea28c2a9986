// Appending text to the system's text files (result files, inspection text, skipped numbers).
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "search/files/files.h"
#include "search/files/journal.h"

namespace kv {
namespace {

// Every append ends with a line end, so a file whose last line lacks one was cut short by a stop
// of the program in the middle of a write. The run that follows writes that line again: the
// fragment goes first, or the next line would be glued to it. False when the file could not be
// mended.
bool DropTornLine(const std::string& name) {
  auto file = Os().OpenRead(name);
  if (!file) return true;  // nothing written yet
  const int64_t size = file->Size();
  char last = '\n';
  const bool read = size == 0 || ReadExactlyAt(*file, size - 1, &last, 1);
  file->Close();
  if (!read) return false;
  if (last == '\n') return true;
  std::string content;
  if (!ReadWholeFile(name, content)) return false;
  const size_t end = content.rfind('\n');
  content.resize(end == std::string::npos ? 0 : end + 1);
  return ReplaceFileSafely(name, TempFileName(name), content);
}

}  // namespace

void AppendToTextFile(const std::string& name, std::string_view text, bool addLineEnd) {
  std::string content(text);
  if (addLineEnd) content += "\r\n";
  // A file that cannot be opened, or a write that does not complete, stops the run: the
  // search state on disk is still that of the last checkpoint. The journal forces the file to
  // disk before the run moves on from that point.
  JournalTrack(name);
  if (!DropTornLine(name) || !AppendToFile(name, content, !JournalOpen())) {
    EmergencyStop(name + " : ファイル書き込みに失敗しました。", name);
  }
}

}  // namespace kv
