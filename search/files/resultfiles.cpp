// The result files: a finished progression's line is collected, then appended to the file of its
// length with the next checkpoint.
#include <algorithm>
#include <string>

#include "console/numtext.h"
#include "format/instantiate.h"
#include "format/linetext.h"
#include "platform/platform.h"
#include "search/files/files.h"

namespace kv {
namespace {

// True when the result file holds no whole line yet: absent, or left empty or with a fragment by
// a first append that failed (the fragment is dropped before the next append). The header line
// then goes first.
bool NeedsHeaderLine(const std::string& name) {
  auto file = Os().OpenRead(name);
  if (!file) return !Os().Exists(name);
  char head[4096];
  const int64_t got = file->Read(head, sizeof head);
  file->Close();
  return got >= 0 && std::find(head, head + got, '\n') == head + got;
}

}  // namespace

template <typename W>
void WriteResultLine(SearchState<W>& s, int32_t termCount, int32_t firstIndex,
                     typename W::Value difference) {
  // Collected, not written: the line reaches its file with the next checkpoint.
  const auto length = static_cast<size_t>(termCount);
  if (s.resultLines.size() <= length) s.resultLines.resize(length + 1);
  AppendProgressionLine<W>(s.resultLines[length], termCount, s.table.ValueAt(firstIndex),
                           difference);
}

template <typename W>
void AppendProgressionLine(std::string& text, int32_t termCount, typename W::Value first,
                           typename W::Value difference) {
  text += kLineLengthLead;
  text += RealToText(static_cast<double>(termCount));
  text += kLineFirstLead;
  text += IntegerToText(first);
  text += kLineDifferenceLead;
  text += IntegerToText(difference);
  text += kLineTail;
  text += "\r\n";
}

template <typename W>
void FlushResultLines(SearchState<W>& s) {
  for (size_t length = 0; length < s.resultLines.size(); ++length) {
    std::string& lines = s.resultLines[length];
    if (lines.empty()) continue;
    const std::string name = ResultFileName(length);
    // A new file begins with its header line, written in the same append as its first lines.
    if (NeedsHeaderLine(name)) lines.insert(0, std::string(kResultHeaderLine) + "\r\n");
    AppendToTextFile(name, lines, false);
    lines.clear();
  }
}

#define KV_INSTANTIATE(W)                                                                 \
  template void WriteResultLine<W>(SearchState<W>&, int32_t, int32_t, typename W::Value); \
  template void FlushResultLines<W>(SearchState<W>&);                                     \
  template void AppendProgressionLine<W>(std::string&, int32_t, typename W::Value,        \
                                         typename W::Value);
KV_FOR_BOTH_WIDTHS(KV_INSTANTIATE)

}  // namespace kv
