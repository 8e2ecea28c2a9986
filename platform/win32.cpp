// The platform layer on Windows.
//
// Names and console text are code page 932 bytes inside the programs. File names are converted to
// UTF-16 and opened with the wide calls, so they mean the same on every Windows whatever its ANSI
// code page. Console text is converted only when a handle really is a console: redirected output
// and input carry the bytes unchanged, exactly as on Linux.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Needs windows.h before it.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dirlock.h"
#include "platform/linereader.h"
#include "platform/platform.h"

namespace kv {
namespace {

constexpr UINT kCodePage = 932;
// The most that one ReadFile or WriteFile call is given.
constexpr int64_t kMaxChunk = int64_t{1} << 30;

// Converts code page 932 bytes to UTF-16; false when they are not valid code page 932.
bool ToWide(std::string_view bytes, std::wstring& wide, DWORD flags = MB_ERR_INVALID_CHARS) {
  wide.clear();
  if (bytes.empty()) return true;
  if (bytes.size() > static_cast<size_t>(kMaxChunk)) return false;
  const int size = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(kCodePage, flags, bytes.data(), size, nullptr, 0);
  if (needed <= 0) return false;
  wide.resize(static_cast<size_t>(needed));
  return MultiByteToWideChar(kCodePage, flags, bytes.data(), size, wide.data(), needed) == needed;
}

std::string ToCodePage(std::wstring_view wide) {
  std::string bytes;
  if (wide.empty()) return bytes;
  const int size = static_cast<int>(wide.size());
  const int needed =
      WideCharToMultiByte(kCodePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return bytes;
  bytes.resize(static_cast<size_t>(needed));
  const int done =
      WideCharToMultiByte(kCodePage, 0, wide.data(), size, bytes.data(), needed, nullptr, nullptr);
  bytes.resize(done > 0 ? static_cast<size_t>(done) : 0);
  return bytes;
}

// A name that cannot be converted names no file; the calls then fail as for a missing one.
bool FileName(const std::string& name, std::wstring& wide) {
  return ToWide(name, wide) && !wide.empty();
}

// Notes the reason of the call that just failed; always false.
bool Failed() {
  const DWORD code = GetLastError();
  FileError error;
  switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      error.kind = FileErrorKind::kDiskFull;
      break;
    case ERROR_WRITE_PROTECT:
      error.kind = FileErrorKind::kReadOnly;
      break;
    case ERROR_ACCESS_DENIED:
      error.kind = FileErrorKind::kNoAccess;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      error.kind = FileErrorKind::kInUse;
      break;
    default: {
      error.kind = FileErrorKind::kOther;
      char* text = nullptr;
      const DWORD length =
          FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                             FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
      if (length > 0 && text != nullptr) {
        error.text.assign(text, length);
        while (!error.text.empty() && (error.text.back() == '\n' || error.text.back() == '\r'))
          error.text.pop_back();
      }
      if (text != nullptr) LocalFree(text);
      if (error.text.empty()) error.text = "error " + std::to_string(code);
      break;
    }
  }
  NoteFileError(std::move(error));
  return false;
}

// A call that worked leaves no reason of an earlier failure behind.
bool Succeeded() {
  NoteFileError({});
  return true;
}

bool WriteAll(HANDLE handle, const char* data, int64_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr)) return Failed();
    if (written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

int CountLineFeeds(std::string_view bytes) {
  int count = 0;
  for (const char c : bytes) count += c == '\n' ? 1 : 0;
  return count;
}

bool consoleAsFile = false;

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

class Win32File final : public FileHandle {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  int64_t Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size)) return -1;
    return static_cast<int64_t>(size.QuadPart);
  }
  bool SeekEnd() override {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(handle_, zero, nullptr, FILE_END) != 0;
  }
  bool SeekTo(int64_t offset) override {
    if (offset < 0) return false;
    LARGE_INTEGER target{};
    target.QuadPart = offset;
    return SetFilePointerEx(handle_, target, nullptr, FILE_BEGIN) != 0;
  }
  int64_t Read(void* buffer, int64_t count) override {
    char* p = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const int64_t left = count - done;
      const DWORD chunk = static_cast<DWORD>(left < kMaxChunk ? left : kMaxChunk);
      DWORD got = 0;
      if (!ReadFile(handle_, p + done, chunk, &got, nullptr)) {
        Failed();
        return done > 0 ? done : -1;
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }
  bool Write(const void* buffer, int64_t count) override {
    if (count < 0) return false;
    return WriteAll(handle_, static_cast<const char*>(buffer), count);
  }
  bool Sync() override { return FlushFileBuffers(handle_) != 0 || Failed(); }
  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const BOOL ok = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok != 0 || Failed();
  }

 private:
  HANDLE handle_;
};

// A LockFileEx lock on one byte at 4 GiB, past the holder's text: Windows locks are mandatory, and
// the text must stay readable while the lock is held. It belongs to this handle, which is not
// inherited by child processes.
constexpr DWORD kLockOffsetHigh = 1;

class Win32Lock final : public FileLock {
 public:
  explicit Win32Lock(HANDLE handle) : handle_(handle) {}
  ~Win32Lock() override {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(handle_, 0, 1, 0, &at);
    CloseHandle(handle_);
  }

 private:
  HANDLE handle_;
};

std::string ReadLockText(HANDLE handle) {
  char text[4096];
  DWORD got = 0;
  OVERLAPPED at{};
  if (!ReadFile(handle, text, sizeof text, &got, &at)) return std::string();
  return std::string(text, got);
}

LockResult LockWin32File(const std::string& name, const std::string& program, bool exclusive,
                         std::unique_ptr<FileLock>& lock, std::string& holder) {
  std::wstring wide;
  if (!FileName(name, wide)) return LockResult::kUnavailable;
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // A reparse point is opened as itself and refused below, never followed.
  constexpr DWORD kAttributes = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  bool writable = true;
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                              OPEN_ALWAYS, kAttributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // A lock file that this user cannot write is still locked, read-only.
    writable = false;
    handle = CreateFileW(wide.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kAttributes,
                         nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    Failed();
    return LockResult::kUnavailable;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    CloseHandle(handle);
    NoteFileError({FileErrorKind::kOther, "通常のファイルではありません。"});
    return LockResult::kUnavailable;
  }
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (!LockFileEx(handle, flags, 0, 1, 0, &at)) {
    const DWORD code = GetLastError();
    if (code != ERROR_LOCK_VIOLATION && code != ERROR_SHARING_VIOLATION &&
        code != ERROR_IO_PENDING) {
      Failed();
      CloseHandle(handle);
      return LockResult::kUnavailable;
    }
    // A holder that has only just taken the lock writes its text a moment later.
    holder = ReadLockText(handle);
    for (int wait = 0; holder.empty() && wait < 50; ++wait) {
      Sleep(2);
      holder = ReadLockText(handle);
    }
    CloseHandle(handle);
    return LockResult::kBusy;
  }
  if (writable) {
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD hostLength = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(host, &hostLength)) hostLength = 0;
    const std::string text = LockFileText(ThisProcessAs(
        program, GetCurrentProcessId(), ToCodePage(std::wstring_view(host, hostLength))));
    // Written over the old text before it is cut to length: a reader never finds it empty.
    DWORD written = 0;
    OVERLAPPED start{};
    if (WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, &start) &&
        written == text.size()) {
      LARGE_INTEGER end{};
      end.QuadPart = static_cast<LONGLONG>(text.size());
      if (SetFilePointerEx(handle, end, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
    }
  }
  lock = std::make_unique<Win32Lock>(handle);
  Succeeded();
  return LockResult::kTaken;
}

class Win32Platform final : public Platform {
 public:
  Win32Platform() {
    out_ = GetStdHandle(STD_OUTPUT_HANDLE);
    in_ = GetStdHandle(STD_INPUT_HANDLE);
    outConsole_ = !consoleAsFile && IsConsole(out_);
    inConsole_ = IsConsole(in_);
  }

  void WriteOut(std::string_view bytes) override {
    if (bytes.empty() || out_ == nullptr || out_ == INVALID_HANDLE_VALUE) return;
    if (!outConsole_) {
      WriteAll(out_, bytes.data(), static_cast<int64_t>(bytes.size()));
      return;
    }
    row_ += CountLineFeeds(bytes);
    // A byte that is not code page 932 is shown as the console's replacement character.
    std::wstring wide;
    ToWide(bytes, wide, 0);
    const wchar_t* p = wide.data();
    size_t left = wide.size();
    while (left > 0) {
      const DWORD chunk = static_cast<DWORD>(left < 16384 ? left : 16384);
      DWORD written = 0;
      if (!WriteConsoleW(out_, p, chunk, &written, nullptr) || written == 0) return;
      p += written;
      left -= written;
    }
  }

  bool ReadLine(std::string& line) override {
    return lines_.Next(line, [this](std::string& chunk) { return ReadChunk(chunk); });
  }

  // The cursor is moved relative to the row on which it stands, which is known as the number of
  // lines printed and typed since the start. Absolute buffer rows would go wrong as soon as the
  // buffer scrolls: in a window whose buffer is full, or in a terminal whose console buffer is
  // just the visible window.
  void MoveCursor(int column, int row) override {
    if (!outConsole_ || column < 0 || row < 0) return;
    if (row > row_) {
      // Line feeds scroll the buffer when the row lies below its last line.
      const std::wstring feeds(static_cast<size_t>(row - row_), L'\n');
      DWORD written = 0;
      WriteConsoleW(out_, feeds.data(), static_cast<DWORD>(feeds.size()), &written, nullptr);
      row_ = row;
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out_, &info)) return;
    int y = info.dwCursorPosition.Y - (row_ - row);
    if (y < 0) y = 0;
    const int x = column < info.dwSize.X ? column : info.dwSize.X - 1;
    COORD position{};
    position.X = static_cast<SHORT>(x);
    position.Y = static_cast<SHORT>(y);
    SetConsoleCursorPosition(out_, position);
    row_ = row;
  }

  std::unique_ptr<FileHandle> OpenRead(const std::string& name) override {
    return Open(name, GENERIC_READ, OPEN_EXISTING, true);
  }
  std::unique_ptr<FileHandle> Create(const std::string& name) override {
    // What a stopped run left under the name goes first: a link is removed, not followed.
    std::wstring wide;
    if (!FileName(name, wide)) return nullptr;
    if (DeleteFileW(wide.c_str()) == 0 && GetLastError() != ERROR_FILE_NOT_FOUND) {
      if (SpecialEntry(wide)) {
        NoteFileError({FileErrorKind::kNotRegular, {}});
      } else {
        Failed();
      }
      return nullptr;
    }
    return Open(name, GENERIC_WRITE, CREATE_NEW, true);
  }
  std::unique_ptr<FileHandle> OpenAppend(const std::string& name) override {
    return Open(name, GENERIC_WRITE, OPEN_ALWAYS, true);
  }
  std::unique_ptr<FileHandle> OpenUserFile(const std::string& name) override {
    return Open(name, GENERIC_READ, OPEN_EXISTING, false);
  }
  std::unique_ptr<FileHandle> CreateUserFile(const std::string& name) override {
    return Open(name, GENERIC_WRITE, CREATE_ALWAYS, false);
  }
  bool Exists(const std::string& name) override {
    std::wstring wide;
    return FileName(name, wide) && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  bool IsSpecialFile(const std::string& name) override {
    std::wstring wide;
    return FileName(name, wide) && SpecialEntry(wide);
  }
  bool Copy(const std::string& from, const std::string& to) override {
    std::wstring source;
    std::wstring target;
    return FileName(from, source) && FileName(to, target) &&
           (CopyFileW(source.c_str(), target.c_str(), FALSE) != 0 ? Succeeded() : Failed());
  }
  bool Rename(const std::string& from, const std::string& to) override {
    std::wstring source;
    std::wstring target;
    // Write-through: the rename that commits a replaced file must not outrun its content, and
    // is on disk (the directory with it) before the call returns.
    return FileName(from, source) && FileName(to, target) &&
           (MoveFileExW(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0
                ? Succeeded()
                : Failed());
  }
  bool Remove(const std::string& name) override {
    std::wstring wide;
    return FileName(name, wide) && (DeleteFileW(wide.c_str()) != 0 ? Succeeded() : Failed());
  }
  bool Truncate(const std::string& name, int64_t size) override {
    std::wstring wide;
    if (!FileName(name, wide) || size < 0) return false;
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, kOwnFileFlags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Failed();
    if (!IsPlainFile(handle)) {
      CloseHandle(handle);
      NoteFileError({FileErrorKind::kNotRegular, {}});
      return false;
    }
    LARGE_INTEGER target{};
    target.QuadPart = size;
    const bool ok = (SetFilePointerEx(handle, target, nullptr, FILE_BEGIN) != 0 &&
                     SetEndOfFile(handle) != 0 && FlushFileBuffers(handle) != 0) ||
                    Failed();
    return (CloseHandle(handle) != 0 || Failed()) && ok && Succeeded();
  }
  LockResult LockFile(const std::string& name, const std::string& program, bool exclusive,
                      std::unique_ptr<FileLock>& lock, std::string& holder) override {
    return LockWin32File(name, program, exclusive, lock, holder);
  }
  bool ListFiles(const std::string& directory, std::vector<FileEntry>& files) override {
    files.clear();
    std::wstring pattern;
    if (!ToWide(directory, pattern)) return false;
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
      const int64_t modified =
          static_cast<int64_t>((static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                               found.ftLastWriteTime.dwLowDateTime);
      files.push_back({ToCodePage(found.cFileName), modified});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
  }

  uint32_t TickCount() override { return static_cast<uint32_t>(GetTickCount()); }
  void SetIdlePriority() override { SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS); }
  unsigned HardwareThreads() override {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
  }
  [[noreturn]] void Exit(int code) override {
    std::fflush(nullptr);
    std::exit(code);
  }

  void WriteError(std::string_view bytes) override {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (bytes.empty() || err == nullptr || err == INVALID_HANDLE_VALUE) return;
    if (!IsConsole(err)) {
      WriteAll(err, bytes.data(), static_cast<int64_t>(bytes.size()));
      return;
    }
    std::wstring wide;
    ToWide(bytes, wide, 0);
    DWORD written = 0;
    WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  }

 private:
  // The programs' own files are opened as the reparse point itself, never what it points to.
  static constexpr DWORD kOwnFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

  // A link, a folder or a device stands under the name.
  static bool SpecialEntry(const std::wstring& wide) {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0;
  }

  // A regular file on a disk: no link, folder, device or pipe.
  static bool IsPlainFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, &info) != 0 &&
           (info.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
  }

  static std::unique_ptr<FileHandle> Open(const std::string& name, DWORD access, DWORD disposition,
                                          bool own) {
    std::wstring wide;
    if (!FileName(name, wide)) return nullptr;
    // A reader (kvreport beside a running writer) never stands in a writer's way: it lets the
    // file be written, renamed and replaced while it reads, as on POSIX.
    const DWORD share = access == GENERIC_READ
                            ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                            : FILE_SHARE_READ;
    const HANDLE handle = CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                                      own ? kOwnFileFlags : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (own && SpecialEntry(wide)) {
        NoteFileError({FileErrorKind::kNotRegular, {}});
      } else {
        Failed();
      }
      return nullptr;
    }
    if (own && !IsPlainFile(handle)) {
      CloseHandle(handle);
      NoteFileError({FileErrorKind::kNotRegular, {}});
      return nullptr;
    }
    Succeeded();
    return std::make_unique<Win32File>(handle);
  }

  // Reads the next piece of standard input into `chunk`; false at the end of input.
  bool ReadChunk(std::string& chunk) {
    if (in_ == nullptr || in_ == INVALID_HANDLE_VALUE) return false;
    if (inConsole_) {
      // A console delivers one typed line per read, in UTF-16.
      wchar_t typedChars[1024];
      DWORD got = 0;
      if (!ReadConsoleW(in_, typedChars, 1024, &got, nullptr) || got == 0) return false;
      std::wstring_view typed(typedChars, got);
      // Ctrl+Z at the start of a line ends the console input, as for the other console programs.
      if (typed.front() == L'\x1A') return false;
      chunk = ToCodePage(typed);
      // The console echoes the typed line end: the cursor is on the next row.
      if (outConsole_) row_ += CountLineFeeds(chunk);
      return true;
    }
    char bytes[4096];
    DWORD got = 0;
    // A closed pipe reports an error rather than zero bytes; both mean the end.
    if (!ReadFile(in_, bytes, sizeof bytes, &got, nullptr) || got == 0) return false;
    chunk.assign(bytes, got);
    return true;
  }

  HANDLE out_ = nullptr;
  HANDLE in_ = nullptr;
  bool outConsole_ = false;
  bool inConsole_ = false;
  int row_ = 0;  // the cursor's row, counted from the row on which the program started
  LineReader lines_;
};

}  // namespace

// The wide command line in code page 932, whatever the system's ANSI code page.
std::vector<std::string> CommandArguments(int, char**) {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(ToCodePage(wide[i]));
  LocalFree(wide);
  return arguments;
}

double ProcessorSeconds() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  // FILETIME counts hundreds of nanoseconds.
  return (ticks(kernel) + ticks(user)) / 1e7;
}

void WriteConsoleAsFile() { consoleAsFile = true; }

Platform& NativePlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace kv
