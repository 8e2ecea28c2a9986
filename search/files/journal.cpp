// The journal of the appended files: recording resume points and mending the files after a stop.
#include "search/files/journal.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "format/filenames.h"
#include "format/records.h"
#include "format/width.h"
#include "platform/fileutil.h"
#include "platform/platform.h"

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
  if (field.size() == (negative ? 1u : 0u)) return false;
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
  EmergencyStop(name + " : " + what, name);
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
  if (first) EmergencyStop("作業フォルダにファイルを書き込めません。", kJournalFile);
  Failed(kJournalFile, "ファイル書き込みに失敗しました。");
}

struct Parsed {
  std::string tableFile;
  std::string halfFile;
  int64_t recordBytes = 0;
  std::vector<Entry> entries;
  // Set when the points were written for the other build's table (named here) and have been
  // turned into those of this build's.
  bool translated = false;
  std::string writtenFor;
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
  if (lines.size() < 5 || lines.front() != kFirstLine || lines.back() != "end") return false;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    std::string_view word;
    if (!TakeWord(line, word)) return false;
    // The table line comes first, the checkpoint's second, then the points.
    if (word == "table" && i == 1) {
      if (!TakeNumber(line, out.recordBytes)) return false;
      out.tableFile = std::string(line);
    } else if (word == "half" && i == 2) {
      out.halfFile = std::string(line);
    } else if (word == "point" && i > 2) {
      Entry entry;
      std::string_view head;
      int64_t examining = 0;
      int64_t converting = 0;
      if (!TakeWord(line, head) || !FromHex(head, entry.point.tableHead) ||
          !TakeNumber(line, entry.point.tableSize) || !TakeNumber(line, entry.point.halfSize) ||
          !TakeNumber(line, examining) || !TakeNumber(line, converting) || !line.empty() ||
          entry.point.tableSize < -1 || entry.point.halfSize < -1 || (examining | 1) != 1 ||
          (converting | 1) != 1) {
        return false;
      }
      entry.point.examining = examining != 0;
      entry.point.converting = converting != 0;
      out.entries.push_back(entry);
    } else if (word == "file") {
      FileMark mark;
      std::string_view tail;
      if (out.entries.empty() || !TakeNumber(line, mark.size) || !TakeWord(line, tail) ||
          !FromHex(tail, mark.tail) || mark.size < -1 ||
          static_cast<int64_t>(mark.tail.size()) >
              std::min(kTailBytes, std::max<int64_t>(mark.size, 0)) ||
          line.empty()) {
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

// The table and checkpoint of each build, by the record size that the journal gives.
struct BuildFiles {
  int64_t recordBytes;
  const char* table;
  const char* half;
};
constexpr BuildFiles kBuilds[] = {
    {kRecordBytes<Width64>, Width64::kTableFile, Width64::kHalfFile},
    {kRecordBytes<Width32>, Width32::kTableFile, Width32::kHalfFile},
};

// The journal may name nothing but this directory's own files: the table and checkpoint of the
// build it gives and the appended files, by their exact names. A hand-made or foreign journal
// must not make the run cut back or delete anything else.
bool NamesOwnFiles(const Parsed& parsed) {
  bool build = false;
  for (const BuildFiles& b : kBuilds) {
    build = build || (parsed.recordBytes == b.recordBytes && parsed.tableFile == b.table &&
                      parsed.halfFile == b.half);
  }
  if (!build) return false;
  auto appended = [](std::string_view name) {
    if (name == kNotAddedFile || name == kStoreFile || name == kInspectionFile) return true;
    const std::string_view prefix = kResultFilePrefix;
    const std::string_view suffix = kResultFileSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix) {
      return false;
    }
    const std::string_view digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.size() > 9 || digits[0] == '0') return false;
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  for (const Entry& entry : parsed.entries) {
    for (const FileMark& mark : entry.files) {
      if (!appended(mark.name)) return false;
    }
  }
  return true;
}

// The header record of one build's table as that of the other's; false when its value does not
// fit (then no table of this build can be that one converted).
bool TranslateHead(std::string& head, int64_t from, int64_t to) {
  if (head.empty()) return true;
  if (static_cast<int64_t>(head.size()) != from) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(head.data());
  uint64_t value = 0;
  int32_t lower = 0;
  int32_t upper = 0;
  if (from == kRecordBytes<Width64>) {
    const auto r = DecodeRecord<Width64>(p);
    value = r.value;
    lower = r.lowerCursor;
    upper = r.upperCursor;
  } else {
    const auto r = DecodeRecord<Width32>(p);
    value = r.value;
    lower = r.lowerCursor;
    upper = r.upperCursor;
  }
  std::string out(static_cast<size_t>(to), '\0');
  auto* q = reinterpret_cast<unsigned char*>(out.data());
  if (to == kRecordBytes<Width64>) {
    EncodeRecord<Width64>(q, {value, lower, upper});
  } else {
    if (value > Width32::kLimit) return false;
    EncodeRecord<Width32>(q, {static_cast<uint32_t>(value), lower, upper});
  }
  head = out;
  return true;
}

// A size of a file of `from`-byte records as that of the same records of `to` bytes; -2, which
// no file has, when it holds a part of a record.
int64_t TranslateSize(int64_t size, int64_t from, int64_t to) {
  if (size < 0) return size;
  return size % from == 0 ? size / from * to : -2;
}

// Turns the points of a journal written for the other build's table into those that this
// build's files show when they are that table converted.
bool Translate(Parsed& parsed, const std::string& tableFile, const std::string& halfFile,
               int64_t recordBytes) {
  const int64_t from = parsed.recordBytes;
  for (Entry& entry : parsed.entries) {
    RunPoint& p = entry.point;
    if (!TranslateHead(p.tableHead, from, recordBytes)) return false;
    p.tableSize = TranslateSize(p.tableSize, from, recordBytes);
    p.halfSize = TranslateSize(p.halfSize, from, recordBytes);
  }
  parsed.writtenFor = parsed.tableFile;
  parsed.translated = true;
  parsed.tableFile = tableFile;
  parsed.halfFile = halfFile;
  parsed.recordBytes = recordBytes;
  return true;
}

// A journal that the run cannot follow stops it before anything is changed or asked: going on
// would write again what the stopped run had written. `what` says why (null: the journal was
// written for the table `table` of the other build, which this build's table is not converted
// from).
[[noreturn]] void RefuseJournal(const char* what, const std::string& table = {}) {
  if (what != nullptr) {
    PrintLine(std::string(kJournalFile) + " : " + what);
    PrintLine("中断した実行の続きが正しく分からないため、何も変更せずに終了します。");
    PrintLine(
        "このファイルは手で変更しないでください。元に戻せない場合は、結果ファイルを確認して"
        "からこのファイルを削除してください。");
  } else {
    const std::string program = table == Width32::kTableFile ? "Kolvex32" : "Kolvex";
    PrintLine(std::string(kJournalFile) + " : " + program + " (" + table +
              ") で中断した実行の記録です。");
    PrintLine("その実行を " + program +
              " で最後まで終えるか、kvconvert で数表を変換してから実行してください。");
  }
  EndRun(kFailed);
}

// A journal is bounded: two points, each with the appended files of one run.
constexpr int64_t kMostJournalBytes = int64_t{1} << 20;

// Reads and checks the journal; false when there is none. Any journal that cannot be followed
// ends the run.
bool ReadJournal(Parsed& parsed) {
  if (!Os().Exists(kJournalFile)) return false;
  std::string text;
  if (!ReadWholeFile(kJournalFile, text, kMostJournalBytes)) {
    const std::string reason = FileErrorText();
    RefuseJournal(reason.c_str());
  }
  if (!Parse(text, parsed)) RefuseJournal("形式が正しくありません。");
  if (!NamesOwnFiles(parsed)) {
    RefuseJournal("この作業フォルダのファイル以外の名前が書かれています。");
  }
  return true;
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
  Parsed parsed;
  if (ReadJournal(parsed)) {
    // A journal of the other build's table is followed only when this build's table is that
    // table converted: its points are then those of this build's files.
    if (parsed.recordBytes != recordBytes && !Translate(parsed, tableFile, halfFile, recordBytes)) {
      RefuseJournal(nullptr, parsed.tableFile);
    }
    const RunPoint found = PointOnDisk(parsed.tableFile, parsed.halfFile, parsed.recordBytes);
    const Entry* entry = Match(parsed, found);
    if (entry == nullptr && parsed.translated) RefuseJournal(nullptr, parsed.writtenFor);
    if (entry != nullptr) {
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

void EmergencyStop(const std::string& message, const std::string& file) {
  PrintLine(message);
  PrintLine("緊急停止します。");
  PrintFileError(file);
  EndRun(kFailed);
}

void CloseJournal() {
  if (!journal.open) return;
  JournalSync();
  journal.open = false;
  Os().Remove(kJournalFile);
}

}  // namespace kv
