// The console runtime shared by all programs: print, cursor positioning, the input statement,
// answer comparison and the closing prompt. Texts are code page 932 bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Writes the bytes in one write, nothing added.
void PrintText(std::string_view text);
// Writes the bytes followed by CR LF, in one write.
void PrintLine(std::string_view text);
// Moves the cursor to a column and row of the console; nothing when the output is not one.
void Locate(int column, int row);

// One destination of the input statement.
class InputTarget {
 public:
  enum class Kind {
    kInt8,
    kUInt8,
    kInt16,
    kUInt16,
    kInt32,
    kUInt32,
    kInt64,
    kUInt64,
    kFloat,
    kDouble,
    kText
  };
  InputTarget(int8_t* p) : kind_(Kind::kInt8), target_(p) {}
  InputTarget(uint8_t* p) : kind_(Kind::kUInt8), target_(p) {}
  InputTarget(int16_t* p) : kind_(Kind::kInt16), target_(p) {}
  InputTarget(uint16_t* p) : kind_(Kind::kUInt16), target_(p) {}
  InputTarget(int32_t* p) : kind_(Kind::kInt32), target_(p) {}
  InputTarget(uint32_t* p) : kind_(Kind::kUInt32), target_(p) {}
  InputTarget(int64_t* p) : kind_(Kind::kInt64), target_(p) {}
  InputTarget(uint64_t* p) : kind_(Kind::kUInt64), target_(p) {}
  InputTarget(float* p) : kind_(Kind::kFloat), target_(p) {}
  InputTarget(double* p) : kind_(Kind::kDouble), target_(p) {}
  InputTarget(std::string* p) : kind_(Kind::kText), target_(p) {}

  // Stores one item with the conversion of this target's kind.
  void Assign(std::string_view item) const;

 private:
  Kind kind_;
  void* target_;
};

// Prints the prompt, reads one line and fills the targets from its comma-separated items,
// asking again when the count of items does not match. Returns false when the input had
// already ended (the targets then received the empty line).
bool InputItems(std::string_view prompt, std::initializer_list<InputTarget> targets);

// Answers the next question asked with exactly this prompt by `answer`, as if it had been typed:
// nothing is read then. Each preset answers once; the other questions still read the input.
void PresetAnswer(std::string_view prompt, std::string answer);
void ClearPresetAnswers();
// The prompt of the closing question, for a preset answer.
inline constexpr std::string_view kClosingPrompt = "終了します。Press Enter Key. ";

// True when the two answers hold the same characters.
bool TextEquals(std::string_view a, std::string_view b);

// The system's reason for the latest failed file operation, in a sentence.
std::string FileErrorText();
// Prints the name of a file whose operation has just failed and the system's reason for it.
void PrintFileError(const std::string& name);

// Ends the run, before it reads or asks anything, when one of the program's own files is not a
// regular file (a symbolic link, a FIFO, a folder, a device): naming it, with status kFailed.
void RefuseSpecialFiles(const std::vector<std::string>& names);
// A line that every run ending on a failure prints from now on (an empty text: none).
void SetFailureNote(std::string note);

// Exit statuses: the run did its work; it ended without work because of the answers or the input
// given; it stopped on a failure (a file that cannot be read or written, damaged data, a limit).
constexpr int kDone = 0;
constexpr int kNoWork = 1;
constexpr int kFailed = 2;

// The end of a run. Every way a program ends (the closing prompt, an emergency stop, the end of
// the input) throws this to the program's entry point, which returns `code` as the process's
// exit status once everything on the way has been unwound: worker threads joined, files closed.
struct RunEnd {
  int code;
};

// Prints an empty line, waits for Enter at the closing prompt and ends the run.
[[noreturn]] void EndRun(int code = 0);
// Ends the run at once.
[[noreturn]] void ExitNow(int code = 0);

// Runs a whole program; returns its exit status (0 when it returns without ending the run).
int RunToEnd(const std::function<void()>& program);

}  // namespace kv
