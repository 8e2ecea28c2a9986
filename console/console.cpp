// The console runtime: every byte the programs show and every answer they read passes here.
#include "console/console.h"

#include <map>
#include <new>
#include <utility>
#include <vector>

#include "console/numtext.h"
#include "platform/platform.h"

namespace kv {

void PrintText(std::string_view text) {
  if (!text.empty()) Os().WriteOut(text);
}

void PrintLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line += "\r\n";
  Os().WriteOut(line);
}

void Locate(int column, int row) { Os().MoveCursor(column, row); }

void InputTarget::Assign(std::string_view item) const {
  if (kind_ == Kind::kText) {
    *static_cast<std::string*>(target_) = std::string(item);
    return;
  }
  const double real = TextToReal(item);
  const int32_t narrow = TruncateToInt32(real);
  switch (kind_) {
    case Kind::kInt8:
      *static_cast<int8_t*>(target_) = static_cast<int8_t>(narrow);
      break;
    case Kind::kUInt8:
      *static_cast<uint8_t*>(target_) = static_cast<uint8_t>(narrow);
      break;
    case Kind::kInt16:
      *static_cast<int16_t*>(target_) = static_cast<int16_t>(narrow);
      break;
    case Kind::kUInt16:
      *static_cast<uint16_t*>(target_) = static_cast<uint16_t>(narrow);
      break;
    case Kind::kInt32:
      *static_cast<int32_t*>(target_) = narrow;
      break;
    case Kind::kUInt32:
      *static_cast<uint32_t*>(target_) = static_cast<uint32_t>(narrow);
      break;
    case Kind::kInt64:
      *static_cast<int64_t*>(target_) = TruncateToInt64(real);
      break;
    case Kind::kUInt64:
      *static_cast<uint64_t*>(target_) = static_cast<uint64_t>(TruncateToInt64(real));
      break;
    case Kind::kFloat:
      *static_cast<float*>(target_) = static_cast<float>(real);
      break;
    case Kind::kDouble:
      *static_cast<double*>(target_) = real;
      break;
    case Kind::kText:
      break;
  }
}

namespace {

std::map<std::string, std::string, std::less<>>& PresetAnswers() {
  static std::map<std::string, std::string, std::less<>> answers;
  return answers;
}

// Takes the preset answer to `prompt`, if there is one, or reads the next line.
bool ReadAnswer(std::string_view prompt, std::string& line) {
  auto& answers = PresetAnswers();
  const auto preset = answers.find(prompt);
  if (preset == answers.end()) return Os().ReadLine(line);
  line = std::move(preset->second);
  answers.erase(preset);
  return true;
}

}  // namespace

void PresetAnswer(std::string_view prompt, std::string answer) {
  PresetAnswers().insert_or_assign(std::string(prompt), std::move(answer));
}

void ClearPresetAnswers() { PresetAnswers().clear(); }

bool InputItems(std::string_view prompt, std::initializer_list<InputTarget> targets) {
  const std::vector<InputTarget> list(targets);
  for (;;) {
    PrintText(prompt);
    std::string line;
    const bool gotLine = ReadAnswer(prompt, line);
    size_t start = 0;
    size_t next = 0;
    bool retry = false;
    for (;;) {
      const size_t comma = line.find(',', start);
      const size_t end = comma == std::string::npos ? line.size() : comma;
      list[next].Assign(std::string_view(line).substr(start, end - start));
      ++next;
      const bool targetLeft = next < list.size();
      if (comma != std::string::npos) {
        if (!targetLeft) {
          PrintText("入力データの個数が多すぎます\n");
          retry = true;
          break;
        }
        start = comma + 1;
        continue;
      }
      if (targetLeft) {
        PrintText("入力データの個数が足りません\n");
        retry = true;
      }
      break;
    }
    if (!retry) return gotLine;
    // The input has ended and the answer can never be completed.
    if (!gotLine) EndRun(kNoWork);
  }
}

bool TextEquals(std::string_view a, std::string_view b) { return a == b; }

namespace {
std::string failureNote;

// The note belongs to one run, which ends here.
void PrintFailureNote(int code) {
  if (code == kFailed && !failureNote.empty()) PrintLine(failureNote);
  failureNote.clear();
}
}  // namespace

std::string FileErrorText() {
  const FileError error = LastFileError();
  std::string reason;
  switch (error.kind) {
    case FileErrorKind::kDiskFull:
      reason = "ディスクの空き容量が不足しています。";
      break;
    case FileErrorKind::kReadOnly:
      reason = "書き込み禁止(読み取り専用)になっています。";
      break;
    case FileErrorKind::kNoAccess:
      reason = "アクセス権がありません。";
      break;
    case FileErrorKind::kInUse:
      reason = "他のプログラムが使用中です。";
      break;
    case FileErrorKind::kNotRegular:
      reason = "通常のファイルではありません(リンク、フォルダ、パイプなど)。";
      break;
    case FileErrorKind::kOther:
      reason = error.text;
      break;
    default:
      break;
  }
  if (reason.empty()) reason = "原因は不明です。";
  return reason;
}

void PrintFileError(const std::string& name) { PrintLine(name + " : " + FileErrorText()); }

void RefuseSpecialFiles(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (!Os().IsSpecialFile(name)) continue;
    NoteFileError({FileErrorKind::kNotRegular, {}});
    PrintFileError(name);
    PrintLine("このファイルを移動するか削除してから実行してください。");
    EndRun(kFailed);
  }
}

void SetFailureNote(std::string note) { failureNote = std::move(note); }

void EndRun(int code) {
  PrintFailureNote(code);
  PrintLine("");
  int16_t dummy = 0;
  InputItems(kClosingPrompt, {&dummy});
  throw RunEnd{code};
}

void ExitNow(int code) {
  PrintFailureNote(code);
  throw RunEnd{code};
}

int RunToEnd(const std::function<void()>& program) {
  int code = 0;
  try {
    program();
  } catch (const RunEnd& end) {
    code = end.code;
  } catch (const std::bad_alloc&) {
    // The loads of the files check their sizes and name the file; this is what is left.
    PrintLine("メモリが不足しています。緊急停止します。");
    code = kFailed;
  }
  ClearPresetAnswers();
  return code;
}

}  // namespace kv
