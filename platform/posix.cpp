// The platform layer on Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dirlock.h"
#include "platform/linereader.h"
#include "platform/platform.h"

namespace kv {
namespace {

// Notes the reason of the call that just failed; always false.
bool Failed() {
  const int e = errno;
  FileError error;
  switch (e) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      error.kind = FileErrorKind::kDiskFull;
      break;
    case EROFS:
      error.kind = FileErrorKind::kReadOnly;
      break;
    case EACCES:
    case EPERM:
      error.kind = FileErrorKind::kNoAccess;
      break;
    case EBUSY:
    case ETXTBSY:
      error.kind = FileErrorKind::kInUse;
      break;
    default:
      error.kind = FileErrorKind::kOther;
      error.text = std::strerror(e);
      break;
  }
  NoteFileError(std::move(error));
  return false;
}

// A call that worked leaves no reason of an earlier failure behind.
bool Succeeded() {
  NoteFileError({});
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed();
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

class PosixFile final : public FileHandle {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  int64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
  }
  bool SeekEnd() override { return ::lseek(fd_, 0, SEEK_END) >= 0; }
  bool SeekTo(int64_t offset) override {
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
  }
  int64_t Read(void* buffer, int64_t count) override {
    char* p = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const ssize_t n = ::read(fd_, p + done, static_cast<size_t>(count - done));
      if (n < 0) {
        if (errno == EINTR) continue;
        Failed();
        return done > 0 ? done : -1;
      }
      if (n == 0) break;
      done += n;
    }
    return done;
  }
  bool Write(const void* buffer, int64_t count) override {
    if (count < 0) return false;
    return WriteAll(fd_, static_cast<const char*>(buffer), static_cast<size_t>(count));
  }
  bool Sync() override { return ::fsync(fd_) == 0 || Failed(); }
  bool Close() override {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 || Failed();
  }

 private:
  int fd_;
};

// Forces the directory that holds `name` to disk, so that a rename in it outlives a power loss.
// A file system that cannot sync a directory (EINVAL), or a directory that this user may write
// but not read, keeps its renames as it does.
bool SyncDirectoryOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : name.substr(0, slash));
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || Failed();
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || Failed();
  ::close(fd);
  return ok;
}

// An flock lock: it belongs to the open file description, so no other open or close of the file
// in this process drops it, and the descriptor is not inherited by child processes.
class PosixLock final : public FileLock {
 public:
  explicit PosixLock(int fd) : fd_(fd) {}
  ~PosixLock() override { ::close(fd_); }

 private:
  int fd_;
};

// The lock file's text as it stands (at most a few kilobytes).
std::string ReadLockText(int fd) {
  char text[4096];
  const ssize_t n = ::pread(fd, text, sizeof text, 0);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

LockResult LockPosixFile(const std::string& name, const std::string& program, bool exclusive,
                         std::unique_ptr<FileLock>& lock, std::string& holder) {
  // Never a symlink followed, never a FIFO waited on.
  constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  bool writable = true;
  int fd = ::open(name.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    // A lock file that this user cannot write is still locked, read-only.
    writable = false;
    fd = ::open(name.c_str(), O_RDONLY | kFlags);
  }
  if (fd < 0) {
    Failed();
    return LockResult::kUnavailable;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    NoteFileError({FileErrorKind::kOther, "通常のファイルではありません。"});
    return LockResult::kUnavailable;
  }
  while (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      Failed();
      ::close(fd);
      return LockResult::kUnavailable;
    }
    // A holder that has only just taken the lock writes its text a moment later.
    holder = ReadLockText(fd);
    for (int wait = 0; holder.empty() && wait < 50; ++wait) {
      ::usleep(2000);
      holder = ReadLockText(fd);
    }
    ::close(fd);
    return LockResult::kBusy;
  }
  if (writable) {
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    const std::string text =
        LockFileText(ThisProcessAs(program, static_cast<uint64_t>(::getpid()), host));
    // Written over the old text before it is cut to length: a reader never finds it empty.
    if (::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
      [[maybe_unused]] const int cut = ::ftruncate(fd, static_cast<off_t>(text.size()));
    }
  }
  lock = std::make_unique<PosixLock>(fd);
  Succeeded();
  return LockResult::kTaken;
}

bool consoleAsFile = false;

class PosixPlatform final : public Platform {
 public:
  PosixPlatform() {
    terminal_ = !consoleAsFile && ::isatty(STDOUT_FILENO) == 1;
    typedLines_ = terminal_ && ::isatty(STDIN_FILENO) == 1;
    if (terminal_) {
      std::setlocale(LC_CTYPE, "");
      const char* codeset = nl_langinfo(CODESET);
      if (codeset != nullptr &&
          (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0)) {
        converter_ = iconv_open("UTF-8", "CP932");
      }
    }
  }

  void WriteOut(std::string_view bytes) override {
    for (char c : bytes) {
      if (c == '\n') ++row_;
    }
    if (converter_ != reinterpret_cast<iconv_t>(-1)) {
      WriteConverted(bytes);
    } else {
      WriteAll(STDOUT_FILENO, bytes.data(), bytes.size());
    }
  }

  bool ReadLine(std::string& line) override {
    const bool got = lines_.Next(line, [](std::string& chunk) {
      char bytes[4096];
      for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        chunk.assign(bytes, static_cast<size_t>(n));
        return true;
      }
    });
    // The terminal's echo of Enter has moved the cursor down one row.
    if (got && typedLines_) ++row_;
    return got;
  }

  void MoveCursor(int column, int row) override {
    if (!terminal_) return;
    std::string seq;
    if (row < row_) {
      seq += "\x1b[" + std::to_string(row_ - row) + "A";
    } else {
      // Line feeds scroll the terminal when the row lies below its last line.
      seq.append(static_cast<size_t>(row - row_), '\n');
    }
    seq += '\r';
    if (column > 0) seq += "\x1b[" + std::to_string(column) + "C";
    WriteAll(STDOUT_FILENO, seq.data(), seq.size());
    row_ = row;
  }

  std::unique_ptr<FileHandle> OpenRead(const std::string& name) override {
    return OpenOwn(name, O_RDONLY);
  }
  std::unique_ptr<FileHandle> Create(const std::string& name) override {
    // What a stopped run left under the name goes first: a link is removed, not followed.
    if (::unlink(name.c_str()) != 0 && errno != ENOENT) {
      RefuseOrFail(name);
      return nullptr;
    }
    return OpenOwn(name, O_WRONLY | O_CREAT | O_EXCL);
  }
  std::unique_ptr<FileHandle> OpenAppend(const std::string& name) override {
    return OpenOwn(name, O_WRONLY | O_CREAT);
  }
  std::unique_ptr<FileHandle> OpenUserFile(const std::string& name) override {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      Failed();
      return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      return nullptr;
    }
    Succeeded();
    return std::make_unique<PosixFile>(fd);
  }
  std::unique_ptr<FileHandle> CreateUserFile(const std::string& name) override {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      Failed();
      return nullptr;
    }
    Succeeded();
    return std::make_unique<PosixFile>(fd);
  }
  bool Exists(const std::string& name) override {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0;
  }
  bool IsSpecialFile(const std::string& name) override {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
  }
  bool Copy(const std::string& from, const std::string& to) override {
    auto source = OpenRead(from);
    if (!source) return false;
    auto target = Create(to);
    if (!target) return false;
    char chunk[1 << 16];
    for (;;) {
      const int64_t n = source->Read(chunk, sizeof chunk);
      if (n < 0) return false;
      if (n == 0) break;
      if (!target->Write(chunk, n)) return false;
    }
    return target->Close();
  }
  bool Rename(const std::string& from, const std::string& to) override {
    if (std::rename(from.c_str(), to.c_str()) != 0) return Failed();
    const auto parent = [](const std::string& name) {
      const size_t slash = name.rfind('/');
      return slash == std::string::npos ? std::string() : name.substr(0, slash);
    };
    return SyncDirectoryOf(to) && (parent(from) == parent(to) || SyncDirectoryOf(from)) &&
           Succeeded();
  }
  bool Remove(const std::string& name) override {
    return ::unlink(name.c_str()) == 0 ? Succeeded() : Failed();
  }
  bool Truncate(const std::string& name, int64_t size) override {
    const int fd = OpenOwnDescriptor(name, O_WRONLY);
    if (fd < 0) return false;
    const bool ok =
        (::ftruncate(fd, static_cast<off_t>(size)) == 0 && ::fsync(fd) == 0) || Failed();
    return (::close(fd) == 0 || Failed()) && ok && Succeeded();
  }
  LockResult LockFile(const std::string& name, const std::string& program, bool exclusive,
                      std::unique_ptr<FileLock>& lock, std::string& holder) override {
    return LockPosixFile(name, program, exclusive, lock, holder);
  }
  bool ListFiles(const std::string& directory, std::vector<FileEntry>& files) override {
    files.clear();
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
      struct stat st {};
      if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
      files.push_back({entry->d_name, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                                          static_cast<int64_t>(st.st_mtim.tv_nsec)});
    }
    ::closedir(dir);
    return true;
  }

  uint32_t TickCount() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }
  void SetIdlePriority() override {
#ifdef SCHED_IDLE
    sched_param param{};
    param.sched_priority = 0;
    if (sched_setscheduler(0, SCHED_IDLE, &param) == 0) return;
#endif
    setpriority(PRIO_PROCESS, 0, 19);
  }
  unsigned HardwareThreads() override {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
  }
  [[noreturn]] void Exit(int code) override {
    std::fflush(nullptr);
    std::exit(code);
  }

  void WriteError(std::string_view bytes) override {
    if (converter_ != reinterpret_cast<iconv_t>(-1) && ::isatty(STDERR_FILENO) == 1) {
      WriteConverted(bytes, STDERR_FILENO);
    } else {
      WriteAll(STDERR_FILENO, bytes.data(), bytes.size());
    }
  }

 private:
  // Notes why a state file could not be opened: something other than a regular file stands under
  // the name, or the system's own reason.
  static void RefuseOrFail(const std::string& name) {
    const int e = errno;
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      NoteFileError({FileErrorKind::kNotRegular, {}});
      return;
    }
    errno = e;
    Failed();
  }

  // Opens one of the programs' own files: a link is not followed, and a FIFO or a device is not
  // waited on (non-blocking open) but refused once it is seen not to be a regular file.
  static int OpenOwnDescriptor(const std::string& name, int flags) {
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
      RefuseOrFail(name);
      return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      NoteFileError({FileErrorKind::kNotRegular, {}});
      return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
      Failed();
      ::close(fd);
      return -1;
    }
    return fd;
  }

  static std::unique_ptr<FileHandle> OpenOwn(const std::string& name, int flags) {
    const int fd = OpenOwnDescriptor(name, flags);
    if (fd < 0) return nullptr;
    Succeeded();
    return std::make_unique<PosixFile>(fd);
  }

  void WriteConverted(std::string_view bytes, int fd = STDOUT_FILENO) {
    std::string out;
    out.resize(bytes.size() * 3 + 16);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* o = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
      if (iconv(converter_, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
        if (errno == E2BIG) break;
        // A byte that is not CP932 is shown as it is.
        *o++ = *in++;
        --inLeft;
        --outLeft;
      }
    }
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    WriteAll(fd, out.data(), static_cast<size_t>(o - out.data()));
  }

  bool terminal_ = false;
  bool typedLines_ = false;
  iconv_t converter_ = reinterpret_cast<iconv_t>(-1);
  int row_ = 0;
  LineReader lines_;
};

}  // namespace

// File names and answers are taken as the bytes they are.
std::vector<std::string> CommandArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

double ProcessorSeconds() {
  timespec ts{};
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void WriteConsoleAsFile() { consoleAsFile = true; }

Platform& NativePlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace kv
