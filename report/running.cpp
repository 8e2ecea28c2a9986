// The resume point of a running writer, read from its journal, and the view of the files as of
// that point: each appended file no longer than its recorded length, a file recorded as absent
// not there.
#include "report/running.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "console/worklock.h"
#include "format/filenames.h"
#include "platform/fileutil.h"
#include "platform/forwarding.h"
#include "report/model.h"

namespace kv {

// A file read no further than `limit` bytes.
class LimitedFile final : public FileHandle {
 public:
  LimitedFile(std::unique_ptr<FileHandle> inner, int64_t limit)
      : inner_(std::move(inner)), limit_(limit) {}
  int64_t Size() override {
    const int64_t size = inner_->Size();
    return size < 0 ? size : std::min(size, limit_);
  }
  bool SeekEnd() override {
    const int64_t size = Size();
    return size >= 0 && SeekTo(size);
  }
  bool SeekTo(int64_t offset) override {
    if (!inner_->SeekTo(offset)) return false;
    position_ = offset;
    return true;
  }
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = inner_->Read(buffer, std::clamp<int64_t>(limit_ - position_, 0, count));
    if (n > 0) position_ += n;
    return n;
  }
  bool Write(const void*, int64_t) override { return false; }
  bool Sync() override { return false; }
  bool Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<FileHandle> inner_;
  int64_t limit_;
  int64_t position_ = 0;
};

// The files as of a resume point: `limits` by the names the report opens them under (-1: absent).
class ResumePointPlatform final : public ForwardingPlatform {
 public:
  ResumePointPlatform(Platform& base, std::string directory, std::map<std::string, int64_t> limits)
      : ForwardingPlatform(base), directory_(std::move(directory)), limits_(std::move(limits)) {}

  std::unique_ptr<FileHandle> OpenRead(const std::string& name) override {
    const auto limit = limits_.find(name);
    if (limit == limits_.end()) return base().OpenRead(name);
    if (limit->second < 0) {
      NoteFileError({});
      return nullptr;
    }
    auto file = base().OpenRead(name);
    if (!file) return file;
    return std::make_unique<LimitedFile>(std::move(file), limit->second);
  }
  bool Exists(const std::string& name) override {
    const auto limit = limits_.find(name);
    return limit != limits_.end() && limit->second < 0 ? false : base().Exists(name);
  }
  bool ListFiles(const std::string& directory, std::vector<FileEntry>& files) override {
    if (!base().ListFiles(directory, files)) return false;
    std::erase_if(files, [&](const FileEntry& f) {
      const auto limit = limits_.find(PathIn(directory_, f.name));
      return directory == directory_ && limit != limits_.end() && limit->second < 0;
    });
    return true;
  }

 private:
  std::string directory_;
  std::map<std::string, int64_t> limits_;
};

namespace {

// A journal is a few lines per appended file; anything much larger is no journal.
constexpr int64_t kLargestJournal = int64_t{1} << 20;

struct Mark {
  std::string name;
  int64_t size = -1;
};

struct Point {
  std::string tableHead;
  int64_t tableSize = -1;
  int64_t halfSize = -1;
  bool examining = false;
  bool converting = false;
  std::vector<Mark> files;
  bool Same(const Point& other) const {
    return tableHead == other.tableHead && tableSize == other.tableSize &&
           halfSize == other.halfSize && examining == other.examining &&
           converting == other.converting;
  }
};

struct Journal {
  int64_t recordBytes = 0;
  std::string tableFile;
  std::string halfFile;
  std::vector<Point> points;
};

std::string_view Word(std::string_view& rest) {
  const size_t end = rest.find(' ');
  const std::string_view word = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return word;
}

bool Number(std::string_view text, int64_t& value) {
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  return true;
}

bool Bytes(std::string_view hex, std::string& bytes) {
  bytes.clear();
  if (hex == "-") return true;
  if (hex.size() % 2 != 0) return false;
  auto digit = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
  };
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

// The journal as doc/journal.md defines it; false for anything else.
bool Parse(std::string_view text, Journal& journal) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  if (lines.size() < 4 || lines.front() != "KVJOURNAL 1" || lines.back() != "end") return false;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::string_view rest = lines[i];
    const std::string_view key = Word(rest);
    if (key == "table") {
      if (!Number(Word(rest), journal.recordBytes) || journal.recordBytes < 1 ||
          journal.recordBytes > 64 || rest.empty()) {
        return false;
      }
      journal.tableFile = std::string(rest);
    } else if (key == "half") {
      journal.halfFile = std::string(rest);
    } else if (key == "point") {
      Point point;
      int64_t examining = 0;
      int64_t converting = 0;
      if (!Bytes(Word(rest), point.tableHead) || !Number(Word(rest), point.tableSize) ||
          !Number(Word(rest), point.halfSize) || !Number(Word(rest), examining) ||
          !Number(rest, converting)) {
        return false;
      }
      point.examining = examining != 0;
      point.converting = converting != 0;
      journal.points.push_back(std::move(point));
    } else if (key == "file") {
      Mark mark;
      std::string tail;
      if (journal.points.empty() || !Number(Word(rest), mark.size) || !Bytes(Word(rest), tail) ||
          rest.empty()) {
        return false;
      }
      mark.name = std::string(rest);
      journal.points.back().files.push_back(std::move(mark));
    } else {
      return false;
    }
  }
  return !journal.tableFile.empty() && !journal.halfFile.empty() && !journal.points.empty() &&
         journal.points.size() <= 2;
}

// The first `bytes` bytes of the file and its size (-1: it cannot be read).
int64_t Head(const std::string& name, int64_t bytes, std::string& head) {
  head.clear();
  auto file = Os().OpenRead(name);
  if (!file) return -1;
  const int64_t size = file->Size();
  std::string first(static_cast<size_t>(bytes), '\0');
  if (size >= bytes && ReadExactly(*file, first.data(), bytes)) head = first;
  file->Close();
  return size;
}

// The point that the files of `directory` show, as the search program finds it.
Point FoundPoint(const std::string& directory, const Journal& journal) {
  Point found;
  found.tableSize =
      Head(PathIn(directory, journal.tableFile), journal.recordBytes, found.tableHead);
  if (!found.tableHead.empty()) {
    std::string head;
    const int64_t size = Head(PathIn(directory, journal.halfFile), journal.recordBytes, head);
    if (head == found.tableHead) found.halfSize = size;
  }
  found.examining = Os().Exists(PathIn(directory, kExaminedStoreFile));
  found.converting = Os().Exists(PathIn(directory, kStoreTextFile)) ||
                     Os().Exists(PathIn(directory, kSavedStoreTextFile));
  return found;
}

// The recorded point that the files show (search/files/journal.cpp decides so too): the point after
// the step, the present one, or the present one with a checkpoint append cut short.
const Point* Match(const Journal& journal, const Point& found) {
  const Point& present = journal.points.front();
  const Point* next = journal.points.size() > 1 ? &journal.points.back() : nullptr;
  if (next != nullptr && found.Same(*next)) return next;
  Point same = found;
  same.halfSize = present.halfSize;
  if (!same.Same(present)) return nullptr;
  if (found.halfSize == present.halfSize) return &present;
  if (next == nullptr) return nullptr;
  same.halfSize = next->halfSize;
  const bool between = same.Same(*next) && present.halfSize >= 0 &&
                       found.halfSize > present.halfSize && found.halfSize < next->halfSize;
  return between ? &present : nullptr;
}

// The lengths of the files at the writer's resume point; false when its journal names none that
// the files show.
bool ResumeLimits(const std::string& directory, std::map<std::string, int64_t>& limits) {
  const std::string name = PathIn(directory, kJournalFile);
  auto file = Os().OpenRead(name);
  if (!file) return false;
  const int64_t size = file->Size();
  std::string text;
  const bool read = size >= 0 && size <= kLargestJournal && ReadWholeFile(*file, text);
  file->Close();
  Journal journal;
  if (!read || !Parse(text, journal)) return false;
  const Point* point = Match(journal, FoundPoint(directory, journal));
  if (point == nullptr) return false;
  for (const Mark& mark : point->files) limits[PathIn(directory, mark.name)] = mark.size;
  limits[PathIn(directory, journal.tableFile)] = point->tableSize;
  limits[PathIn(directory, journal.halfFile)] = point->halfSize;
  return true;
}

}  // namespace

ReportHold::ReportHold(const std::string& directory) {
  lock_ = std::make_unique<DirectoryLock>(directory, "kvreport", false);
  if (lock_->result() != LockResult::kBusy) return;
  const std::string holder = HolderText(lock_->holder());
  std::map<std::string, int64_t> limits;
  if (!ResumeLimits(directory, limits)) {
    note_ = holder + " が実行中です。書き込み途中のファイルをそのまま集計します。";
    return;
  }
  note_ = holder + " が実行中です。集計はその最後の再開点までです。";
  platform_ = std::make_unique<ResumePointPlatform>(Os(), directory, std::move(limits));
  previous_ = SetPlatform(platform_.get());
}

ReportHold::~ReportHold() {
  if (platform_) SetPlatform(previous_);
}

}  // namespace kv
