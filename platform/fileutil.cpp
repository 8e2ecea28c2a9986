// File routines shared by all programs, built only on the platform interface.
#include "platform/fileutil.h"

#include <exception>
#include <utility>

#include "platform/platform.h"

namespace kv {

bool ReadWholeFile(const std::string& name, std::string& content, int64_t most) {
  content.clear();
  auto file = Os().OpenRead(name);
  if (!file) return false;
  const bool read = ReadWholeFile(*file, content, most);
  file->Close();
  return read;
}

bool ReadWholeFile(FileHandle& file, std::string& content, int64_t most) {
  content.clear();
  const int64_t size = file.Size();
  if (size < 0) return false;
  if (size > most) return NoteTooLarge();
  if (!ResizeFromFile(content, size)) return false;
  return ReadExactly(file, content.data(), size);
}

bool NoteTooLarge() {
  NoteFileError({FileErrorKind::kOther, "ファイルが大きすぎます。"});
  return false;
}

bool NoteNoMemory() {
  NoteFileError({FileErrorKind::kOther, "メモリが不足しています。"});
  return false;
}

bool WriteWholeFile(const std::string& name, std::string_view content) {
  auto file = Os().Create(name);
  if (!file) return false;
  const bool written = file->Write(content.data(), static_cast<int64_t>(content.size()));
  const bool closed = file->Close();
  return written && closed;
}

bool AppendToFile(const std::string& name, std::string_view content, bool sync) {
  auto file = Os().OpenAppend(name);
  if (!file) return false;
  bool ok = file->SeekEnd();
  ok = ok && file->Write(content.data(), static_cast<int64_t>(content.size()));
  ok = ok && (!sync || file->Sync());
  const bool closed = file->Close();
  return ok && closed;
}

namespace {

// Removes the work file of a failed replacement, keeping the reason of the failure.
void Abandon(const std::string& temp) {
  const FileError reason = LastFileError();
  Os().Remove(temp);
  NoteFileError(reason);
}

}  // namespace

ReplacementFile::ReplacementFile(std::string name, std::string temp)
    : name_(std::move(name)), temp_(std::move(temp)), file_(Os().Create(temp_)) {
  // Nothing was made that would have to be removed.
  if (!file_) state_ = State::kFailed;
}

ReplacementFile::~ReplacementFile() {
  if (state_ == State::kCommitted || state_ == State::kFailed) return;
  if (std::uncaught_exceptions() > 0) return;
  if (file_) file_->Close();
  Abandon(temp_);
}

bool ReplacementFile::Fail() {
  if (file_) file_->Close();
  file_.reset();
  Abandon(temp_);
  state_ = State::kFailed;
  return false;
}

bool ReplacementFile::Write(const void* data, int64_t count) {
  if (state_ != State::kOpen) return false;
  return file_->Write(data, count) || Fail();
}

bool ReplacementFile::Finish() {
  if (state_ == State::kFinished) return true;
  if (state_ != State::kOpen) return false;
  if (!file_->Sync()) return Fail();
  const bool closed = file_->Close();
  file_.reset();
  if (!closed) return Fail();
  state_ = State::kFinished;
  return true;
}

bool ReplacementFile::Commit() {
  if (!Finish()) return false;
  if (!Os().Rename(temp_, name_)) return Fail();
  state_ = State::kCommitted;
  return true;
}

bool ReplaceFileSafely(const std::string& name, const std::string& temp, std::string_view content) {
  ReplacementFile file(name, temp);
  return file.Write(content) && file.Commit();
}

bool CopyFileSafely(const std::string& from, const std::string& to, const std::string& temp) {
  auto source = Os().OpenRead(from);
  if (!source) return false;
  ReplacementFile target(to, temp);
  std::string piece(size_t{1} << 20, '\0');
  bool ok = target.ok();
  while (ok) {
    const int64_t got = source->Read(piece.data(), static_cast<int64_t>(piece.size()));
    ok = got >= 0;
    if (got <= 0) break;
    ok = target.Write(piece.data(), got);
  }
  source->Close();
  // A failed read leaves the work file to the replacement, which removes it.
  return ok && target.Commit();
}

bool ReadExactly(FileHandle& file, void* buffer, int64_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t got = file.Read(bytes + done, count - done);
    if (got <= 0) return false;
    done += got;
  }
  return true;
}

bool ReadExactlyAt(FileHandle& file, int64_t offset, void* buffer, int64_t count) {
  return count == 0 || (file.SeekTo(offset) && ReadExactly(file, buffer, count));
}

bool ReadFileTail(const std::string& name, int64_t& size, std::string& tail, int64_t most) {
  tail.clear();
  size = -1;
  auto file = Os().OpenRead(name);
  if (!file) return !Os().Exists(name);
  size = file->Size();
  const int64_t take = size < most ? size : most;
  tail.resize(static_cast<size_t>(take < 0 ? 0 : take));
  const bool ok = size >= 0 && ReadExactlyAt(*file, size - take, tail.data(), take);
  file->Close();
  return ok;
}

}  // namespace kv
