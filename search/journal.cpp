// The journal of the appended files: recording resume points and mending the files after a stop.
#include "search/journal.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "search/filenames.h"

namespace kv {
namespace {

// Enough of a file's end to tell that nobody else has changed it: a result or inspection line.
constexpr int64_t kTailBytes = 32;
constexpr const char* kFirstLine = "KVJOURNAL 1";

struct FileMark {
  std::string name;
  int64_t size = -1;  // -1: the file does not exist
  std::string tail;   // its last bytes before `size`
};

struct Entry {
  RunPoint point;
  std::vector<FileMark> files;
};

struct Journal {
  bool open = false;
  bool mended = false;
  std::string tableFile;
  std::string halfFile;
  int64_t recordBytes = 0;
  Entry present;
  // The files appended to since they were last forced to disk.
  std::vector<std::string> unsynced;
};

Journal journal;

std::string Hex(std::string_view bytes) {
  if (bytes.empty()) return "-";
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

bool FromHex(std::string_view text, std::string& bytes) {
  bytes.clear();
  if (text == "-") return true;
  if (text.size() % 2 != 0) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

// The whole-number field at the front of `rest`, which then starts after it and one blank.
bool TakeNumber(std::string_view& rest, int64_t& value) {
  const size_t end = rest.find(' ');
  const std::string_view field = rest.substr(0, end);
  if (field.empty()) return false;
  bool negative = field[0] == '-';
  value = 0;
  for (size_t i = negative ? 1 : 0; i < field.size(); ++i) {
    if (field[i] < '0' || field[i] > '9' || value > (int64_t{1} << 56)) return false;
    value = value * 10 + (field[i] - '0');
  }
  if (negative) value = -value;
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return true;
}

bool TakeWord(std::string_view& rest, std::string_view& word) {
  const size_t end = rest.find(' ');
  word = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return !word.empty();
}

[[noreturn]] void Failed(const std::string& name, const char* what);

RunPoint PointOnDisk(const std::string& tableFile, const std::string& halfFile,
                     int64_t recordBytes) {
  RunPoint point;
  const auto bytes = static_cast<size_t>(recordBytes);
  auto table = Os().OpenRead(tableFile);
  // A table held by another program is not a missing one.
  if (!table && Os().Exists(tableFile)) {
    PrintLine(tableFile + " の読み込みに失敗しました。");
    PrintFileError(tableFile);
    EndRun(kFailed);
  }
  if (table) {
    point.tableSize = table->Size();
    std::string head(bytes, '\0');
    if (point.tableSize >= recordBytes && ReadExactly(*table, head.data(), recordBytes)) {
      point.tableHead = head;
    }
    table->Close();
  }
  if (!point.tableHead.empty()) {
    if (auto half = Os().OpenRead(halfFile)) {
      const int64_t size = half->Size();
      std::string head(bytes, '\0');
      if (size >= recordBytes && ReadExactly(*half, head.data(), recordBytes) &&
          head == point.tableHead) {
        point.halfSize = size;
      }
      half->Close();
    }
  }
  point.examining = Os().Exists(kExaminedStoreFile);
  point.converting = Os().Exists(kStoreTextFile) || Os().Exists(kSavedStoreTextFile);
  return point;
}

[[noreturn]] void Failed(const std::string& name, const char* what) {
  PrintLine(name + " : " + what);
  PrintLine("緊急停止します。");
  PrintFileError(name);
  EndRun(kFailed);
}

FileMark MarkOf(const std::string& name) {
  FileMark mark;
  mark.name = name;
  if (!ReadFileTail(name, mark.size, mark.tail, kTailBytes)) {
    Failed(name, "ファイル読み込みに失敗しました。");
  }
  return mark;
}

std::string Describe(const Entry& entry) {
  const RunPoint& p = entry.point;
  std::string text = "point " + Hex(p.tableHead) + " " + std::to_string(p.tableSize) + " " +
                     std::to_string(p.halfSize) + " " + (p.examining ? "1" : "0") + " " +
                     (p.converting ? "1" : "0") + "\n";
  for (const FileMark& mark : entry.files) {
    text += "file " + std::to_string(mark.size) + " " + Hex(mark.tail) + " " + mark.name + "\n";
  }
  return text;
}

void Write(const Entry* next, bool first) {
  std::string text = std::string(kFirstLine) + "\n";
  text += "table " + std::to_string(journal.recordBytes) + " " + journal.tableFile + "\n";
  text += "half " + journal.halfFile + "\n";
  text += Describe(journal.present);
  if (next != nullptr) text += Describe(*next);
  text += "end\n";
  if (ReplaceFileSafely(kJournalFile, kTempJournalFile, text)) return;
  if (first) {
    PrintLine("作業フォルダにファイルを書き込めません。");
    PrintLine("緊急停止します。");
    PrintFileError(kJournalFile);
    EndRun(kFailed);
  }
  Failed(kJournalFile, "ファイル書き込みに失敗しました。");
}

struct Parsed {
  std::string tableFile;
  std::string halfFile;
  int64_t recordBytes = 0;
  std::vector<Entry> entries;
};

bool Parse(const std::string& text, Parsed& out) {
  std::vector<std::string_view> lines;
  std::string_view rest(text);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    if (end == std::string_view::npos) return false;  // the last line is "end"
    lines.push_back(rest.substr(0, end));
    rest = rest.substr(end + 1);
  }
  if (lines.size() < 4 || lines.front() != kFirstLine || lines.back() != "end") return false;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    std::string_view word;
    if (!TakeWord(line, word)) return false;
    if (word == "table") {
      if (!TakeNumber(line, out.recordBytes) || out.recordBytes < 1) return false;
      out.tableFile = std::string(line);
    } else if (word == "half") {
      out.halfFile = std::string(line);
    } else if (word == "point") {
      Entry entry;
      std::string_view head;
      int64_t examining = 0;
      int64_t converting = 0;
      if (!TakeWord(line, head) || !FromHex(head, entry.point.tableHead) ||
          !TakeNumber(line, entry.point.tableSize) || !TakeNumber(line, entry.point.halfSize) ||
          !TakeNumber(line, examining) || !TakeNumber(line, converting)) {
        return false;
      }
      entry.point.examining = examining != 0;
      entry.point.converting = converting != 0;
      out.entries.push_back(entry);
    } else if (word == "file") {
      FileMark mark;
      std::string_view tail;
      if (out.entries.empty() || !TakeNumber(line, mark.size) || !TakeWord(line, tail) ||
          !FromHex(tail, mark.tail) || line.empty()) {
        return false;
      }
      mark.name = std::string(line);
      out.entries.back().files.push_back(mark);
    } else {
      return false;
    }
  }
  return !out.tableFile.empty() && !out.halfFile.empty() && !out.entries.empty() &&
         out.entries.size() <= 2;
}

// The entry of the point the files show. A checkpoint found between the two points is one whose
// last write was cut short: the files go back to the first point, the checkpoint with them.
const Entry* Match(const Parsed& parsed, const RunPoint& found) {
  const Entry& present = parsed.entries.front();
  const Entry* next = parsed.entries.size() > 1 ? &parsed.entries.back() : nullptr;
  if (next != nullptr && found == next->point) return next;
  RunPoint same = found;
  same.halfSize = present.point.halfSize;
  if (!(same == present.point)) return nullptr;
  if (found.halfSize == present.point.halfSize) return &present;
  if (next == nullptr) return nullptr;
  same.halfSize = next->point.halfSize;
  const bool between = same == next->point && present.point.halfSize >= 0 &&
                       found.halfSize > present.point.halfSize &&
                       found.halfSize < next->point.halfSize;
  return between ? &present : nullptr;
}

// True when the file holds `mark.tail` just before `mark.size`: it is the file the journal saw.
bool StillEndsAs(const FileMark& mark) {
  auto file = Os().OpenRead(mark.name);
  if (!file) return false;
  const auto count = static_cast<int64_t>(mark.tail.size());
  std::string bytes(mark.tail.size(), '\0');
  const bool same =
      ReadExactlyAt(*file, mark.size - count, bytes.data(), count) && bytes == mark.tail;
  file->Close();
  return same;
}

void Mend(const Parsed& parsed, const Entry& entry, const RunPoint& found) {
  if (found.halfSize > entry.point.halfSize && entry.point.halfSize >= 0 &&
      !Os().Truncate(parsed.halfFile, entry.point.halfSize)) {
    Failed(parsed.halfFile, "ファイル書き込みに失敗しました。");
  }
  for (const FileMark& mark : entry.files) {
    int64_t size = -1;
    std::string tail;
    if (!ReadFileTail(mark.name, size, tail, 0))
      Failed(mark.name, "ファイル読み込みに失敗しました。");
    if (mark.size < 0) {
      if (size >= 0 && !Os().Remove(mark.name)) {
        Failed(mark.name, "ファイル削除に失敗しました。");
      }
      continue;
    }
    // A file shorter than it was, or with other bytes there, has been changed by the user.
    if (size <= mark.size || !StillEndsAs(mark)) continue;
    if (!Os().Truncate(mark.name, mark.size)) Failed(mark.name, "ファイル書き込みに失敗しました。");
  }
}

void AddMark(const std::string& name) {
  for (const FileMark& mark : journal.present.files) {
    if (mark.name == name) return;
  }
  journal.present.files.push_back(MarkOf(name));
}

}  // namespace

void OpenJournal(const std::string& tableFile, const std::string& halfFile, int64_t recordBytes) {
  journal = Journal{};
  std::vector<std::string> carried;
  std::string text;
  Parsed parsed;
  if (ReadWholeFile(kJournalFile, text) && Parse(text, parsed)) {
    const RunPoint found = PointOnDisk(parsed.tableFile, parsed.halfFile, parsed.recordBytes);
    if (const Entry* entry = Match(parsed, found)) {
      Mend(parsed, *entry, found);
      journal.mended = true;
      for (const FileMark& mark : entry->files) carried.push_back(mark.name);
    }
  }
  journal.tableFile = tableFile;
  journal.halfFile = halfFile;
  journal.recordBytes = recordBytes;
  journal.present.point = PointOnDisk(tableFile, halfFile, recordBytes);
  for (const char* name : {kNotAddedFile, kStoreFile, kInspectionFile}) AddMark(name);
  for (const std::string& name : carried) AddMark(name);
  Write(nullptr, true);
  journal.open = true;
}

bool JournalOpen() { return journal.open; }

bool JournalMended() { return journal.open && journal.mended; }

void JournalTrack(const std::string& name) {
  if (!journal.open) return;
  if (std::find(journal.unsynced.begin(), journal.unsynced.end(), name) == journal.unsynced.end()) {
    journal.unsynced.push_back(name);
  }
  for (const FileMark& mark : journal.present.files) {
    if (mark.name == name) return;
  }
  journal.present.files.push_back(MarkOf(name));
  Write(nullptr, false);
}

void JournalSync() {
  if (!journal.open) return;
  while (!journal.unsynced.empty()) {
    const std::string name = journal.unsynced.back();
    if (Os().Exists(name)) {
      auto file = Os().OpenAppend(name);
      const bool synced = file && file->Sync();
      if (!(file && file->Close() && synced)) Failed(name, "ファイル書き込みに失敗しました。");
    }
    journal.unsynced.pop_back();
  }
}

RunPoint JournalPoint() { return journal.present.point; }

bool JournalAdvance(const RunPoint& next, std::initializer_list<const char*> gone,
                    const std::function<bool()>& move) {
  if (!journal.open) return move();
  // The lengths recorded for the next point must be on disk before the journal names them.
  JournalSync();
  Entry after;
  after.point = next;
  for (const FileMark& mark : journal.present.files) {
    FileMark now = MarkOf(mark.name);
    for (const char* name : gone) {
      if (mark.name == name) now = FileMark{mark.name, -1, ""};
    }
    after.files.push_back(now);
  }
  Write(&after, false);
  if (!move()) return false;
  journal.present = after;
  return true;
}

void LeaveJournal() { journal.open = false; }

void CloseJournal() {
  if (!journal.open) return;
  JournalSync();
  journal.open = false;
  Os().Remove(kJournalFile);
}

}  // namespace kv
