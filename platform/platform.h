// The one interface between the programs and the operating system.
//
// Every console write and read, every file operation, the tick counter, the process priority and
// the process exit go through the active `Platform`. The native implementation is chosen by CMake
// (posix.cpp or win32.cpp); tests install their own to capture the console, feed answers, inject
// faults or catch the exit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// A regular file of a directory: its name (code page 932 bytes) and its last write time, a count
// that only serves to order the times of files on the same system.
struct FileEntry {
  std::string name;
  int64_t modified;
};

// An open file. Sizes and offsets are 64-bit.
class FileHandle {
 public:
  virtual ~FileHandle() = default;
  virtual int64_t Size() = 0;  // -1 when unknown
  virtual bool SeekEnd() = 0;
  virtual bool SeekTo(int64_t offset) = 0;
  // Reads up to `count` bytes; returns the number read (0 at the end, -1 on error).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes all `count` bytes; false when any of them could not be written.
  virtual bool Write(const void* buffer, int64_t count) = 0;
  // Forces the written bytes to the disk.
  virtual bool Sync() = 0;
  // Closes the file; false when the close reported an error (the handle is closed anyway).
  virtual bool Close() = 0;
};

// Why a file operation failed, in the few kinds the programs name; any other reason keeps the
// system's own words (code page 932).
// kNotRegular: a symbolic link, a FIFO, a folder or a device stands where a program's own file is
// expected.
enum class FileErrorKind { kNone, kDiskFull, kReadOnly, kNoAccess, kInUse, kNotRegular, kOther };
struct FileError {
  FileErrorKind kind = FileErrorKind::kNone;
  std::string text;
};
// The platform notes the reason of every failed file operation at the failure; the programs read
// the latest one when they report it. One per thread.
void NoteFileError(FileError error);
FileError LastFileError();

// A lock taken by Platform::LockFile, held until this object is destroyed or the process ends.
class FileLock {
 public:
  virtual ~FileLock() = default;
};
enum class LockResult { kTaken, kBusy, kUnavailable };

class Platform {
 public:
  virtual ~Platform() = default;

  // Console. WriteOut writes the bytes (code page 932) in one write. ReadLine reads one input
  // line: the bytes up to the next LF, without the LF and one CR before it; false, with an empty
  // line, at the end of input. MoveCursor moves the console cursor to a column and a row counted
  // from the row on which the program started; nothing when the output is not a console.
  virtual void WriteOut(std::string_view bytes) = 0;
  virtual bool ReadLine(std::string& line) = 0;
  virtual void MoveCursor(int column, int row) = 0;
  // Messages about the command line go to the standard error (code page 932); by default to the
  // standard output.
  virtual void WriteError(std::string_view bytes) { WriteOut(bytes); }

  // Files, by name (code page 932 bytes), relative to the working directory. Every open shares
  // read access with other programs. Each returns null when the file cannot be opened. Rename
  // forces the directories concerned to disk before it returns: the new name outlives a power
  // loss as surely as the content forced to disk before the rename.
  virtual std::unique_ptr<FileHandle> OpenRead(const std::string& name) = 0;    // existing only
  virtual std::unique_ptr<FileHandle> Create(const std::string& name) = 0;      // create always
  virtual std::unique_ptr<FileHandle> OpenAppend(const std::string& name) = 0;  // open always
  virtual bool Exists(const std::string& name) = 0;
  virtual bool Copy(const std::string& from, const std::string& to) = 0;    // overwrites
  virtual bool Rename(const std::string& from, const std::string& to) = 0;  // replaces
  virtual bool Remove(const std::string& name) = 0;
  // The regular files of `directory` ("" is the working directory), in no particular order;
  // false when the directory cannot be read.
  virtual bool ListFiles(const std::string& directory, std::vector<FileEntry>& files) = 0;
  // Cuts an existing file back to `size` bytes, on disk before it returns.
  virtual bool Truncate(const std::string& name, int64_t size) = 0;
  // Takes the lock of the file `name` (created when missing) without waiting: `exclusive`, or
  // shared with other shared holders; an open-file lock (flock, LockFileEx), never one that
  // another open or close in this process could drop. kTaken: `lock` holds it, and the file, when
  // it can be written, names this process as `program` (platform/dirlock.h). kBusy: another
  // holder excludes this one; `holder` receives the file's text. kUnavailable: the file cannot be
  // opened or locked (the reason is noted).
  virtual LockResult LockFile(const std::string& name, const std::string& program, bool exclusive,
                              std::unique_ptr<FileLock>& lock, std::string& holder) = 0;

  // The calls above serve the programs' own files in the working directory. They never follow a
  // symbolic link (on Windows they refuse a reparse point) and refuse anything but a regular file,
  // without waiting on it (the reason is then kNotRegular). Create makes its file exclusively,
  // after removing what stood under the name (never what that points to); Exists counts a link or
  // any other entry under the name.
  //
  // A file that the user named (the input file of new numbers, the list kvimport reads, a folder
  // given to kvreport, kvreport's CSV file) is opened or created here instead, following links,
  // whatever it is; an existing one is written over in place.
  virtual std::unique_ptr<FileHandle> OpenUserFile(const std::string& name) {
    return OpenRead(name);
  }
  virtual std::unique_ptr<FileHandle> CreateUserFile(const std::string& name) {
    return Create(name);
  }
  // True when something other than a regular file stands under `name`; never waits on it.
  virtual bool IsSpecialFile(const std::string& /*name*/) { return false; }

  // Process.
  virtual uint32_t TickCount() = 0;  // milliseconds, wraps around
  virtual void SetIdlePriority() = 0;
  virtual unsigned HardwareThreads() = 0;
  [[noreturn]] virtual void Exit(int code) = 0;
};

// The command line's arguments after the program name, in code page 932.
std::vector<std::string> CommandArguments(int argc, char** argv);

// The processor time used so far by this process, all its threads together, in seconds.
double ProcessorSeconds();

// The platform of this operating system.
Platform& NativePlatform();
// The output of a process that an MPI launcher started goes where the launcher's goes, which the
// process cannot see (Open MPI hands it a terminal of its own): it is written as to a file, with
// no cursor moves and no conversion. Called before the first use of the native platform.
void WriteConsoleAsFile();

// The active platform: the native one unless a test has installed another.
Platform& Os();
// Installs `platform` as the active one (null restores the native one); returns the previous.
Platform* SetPlatform(Platform* platform);

}  // namespace kv
