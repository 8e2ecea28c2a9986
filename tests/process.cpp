// Child processes: the start of a program with POSIX calls or with the Windows ones, and the
// runners over it.
#include "tests/process.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <fstream>
#include <sstream>

namespace kvtest {

namespace fs = std::filesystem;

#ifdef _WIN32

namespace {

// Converts code page 932 bytes to UTF-16; false when they are not valid code page 932.
bool ToWide(std::string_view bytes, std::wstring& wide, DWORD flags = MB_ERR_INVALID_CHARS) {
  constexpr UINT kCodePage = 932;
  wide.clear();
  if (bytes.empty()) return true;
  const int size = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(kCodePage, flags, bytes.data(), size, nullptr, 0);
  if (needed <= 0) return false;
  wide.resize(static_cast<size_t>(needed));
  return MultiByteToWideChar(kCodePage, flags, bytes.data(), size, wide.data(), needed) == needed;
}

// A name that cannot be converted names no file.
bool FileName(const std::string& name, std::wstring& wide) {
  return ToWide(name, wide) && !wide.empty();
}

// One argument of a command line as the C runtime and CommandLineToArgvW split it again.
std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

// Writes the input into the child's pipe; a child that stops reading early makes it fail.
void WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    constexpr size_t kMaxChunk = size_t{1} << 30;
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(bytes.size() < kMaxChunk ? bytes.size() : kMaxChunk);
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return;
    bytes.remove_prefix(written);
  }
}

}  // namespace

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& directory, std::string_view input, const std::string& outputFile,
               int timeLimit) {
  std::wstring programW;
  std::wstring directoryW;
  std::wstring outputW;
  if (!FileName(program, programW) || !FileName(directory, directoryW) ||
      !FileName(outputFile, outputW)) {
    return -1;
  }
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  // Only the child's end is inherited, or the child would never see the end of its input.
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE output = CreateFileW(outputW.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return -1;
  }
  HANDLE error = nullptr;
  const HANDLE ownError = GetStdHandle(STD_ERROR_HANDLE);
  if (ownError != nullptr && ownError != INVALID_HANDLE_VALUE) {
    DuplicateHandle(GetCurrentProcess(), ownError, GetCurrentProcess(), &error, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = readEnd;
  startup.hStdOutput = output;
  startup.hStdError = error;
  std::wstring commandLine = QuoteArgument(programW);
  for (const std::string& argument : arguments) {
    std::wstring wide;
    ToWide(argument, wide, 0);
    commandLine += L" " + QuoteArgument(wide);
  }
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(programW.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, directoryW.c_str(), &startup, &process);
  CloseHandle(readEnd);
  CloseHandle(output);
  if (error != nullptr) CloseHandle(error);
  if (!started) {
    CloseHandle(writeEnd);
    return -1;
  }
  // A child that stops reading early makes the write fail; its exit code still counts.
  WriteAll(writeEnd, input);
  CloseHandle(writeEnd);
  if (WaitForSingleObject(process.hProcess, timeLimit > 0 ? static_cast<DWORD>(timeLimit) * 1000
                                                          : INFINITE) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return kHang;
  }
  DWORD exitCode = 0;
  const BOOL known = GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return known ? static_cast<int>(exitCode) : -1;
}

#else

pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& directory, const std::string& outputFile, int& input,
                   const std::string& errorFile) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    ::dup2(fds[0], STDIN_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || ::chdir(directory.c_str()) != 0) ::_exit(127);
    ::dup2(out, STDOUT_FILENO);
    ::close(out);
    if (!errorFile.empty()) {
      const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err < 0) ::_exit(127);
      ::dup2(err, STDERR_FILENO);
      ::close(err);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[0]);
  input = fds[1];
  return pid;
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& directory, std::string_view input, const std::string& outputFile,
               int timeLimit) {
  int toChild = -1;
  const pid_t pid = StartProgram(program, arguments, directory, outputFile, toChild);
  if (pid < 0) return -1;
  // A child that stops reading early must not kill the caller.
  ::signal(SIGPIPE, SIG_IGN);
  while (!input.empty()) {
    const ssize_t n = ::write(toChild, input.data(), input.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    input.remove_prefix(static_cast<size_t>(n));
  }
  ::close(toChild);
  int status = 0;
  bool hung = false;
  for (int waited = 0;;) {
    const pid_t done = ::waitpid(pid, &status, timeLimit > 0 ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (done == 0 && ++waited > timeLimit * 100) {
      hung = true;
      ::kill(pid, SIGKILL);
      timeLimit = 0;
    } else if (done == 0) {
      ::usleep(10000);
    }
  }
  if (hung) return kHang;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunProgramWithin(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, const std::string& outputFile,
                     const std::string& errorFile, int seconds) {
  int toChild = -1;
  const pid_t pid = StartProgram(program, arguments, directory, outputFile, toChild, errorFile);
  if (pid < 0) return -1;
  ::close(toChild);
  // <chrono> does not build under the tests' execution character set; the wait is counted in
  // naps of 50 ms.
  int status = 0;
  for (int waited = 0;; waited += 50) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (waited > seconds * 1000) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    ::usleep(50000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

RunResult RunExecutableIn(const std::string& executable, std::string_view stdinBytes,
                          const fs::path& directory, const std::vector<std::string>& arguments) {
  RunResult result;
  TempDir outDir;
  const fs::path outFile = outDir.path() / "stdout.bin";
  result.exitCode = RunProgram(fs::absolute(executable).string(), arguments, directory.string(),
                               stdinBytes, outFile.string());
  std::ifstream in(outFile, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  result.output = content.str();
  result.files = ReadFiles(directory);
  return result;
}

RunResult RunExecutable(const std::string& executable, std::string_view stdinBytes,
                        const Files& files) {
  TempDir dir;
  WriteFiles(dir.path(), files);
  return RunExecutableIn(executable, stdinBytes, dir.path());
}

}  // namespace kvtest
