// Result lines are kept as numbers (32 bytes each); sorting them by difference and first term
// brings repeats together and lets each line find the longer line it is the tail of.
#include "report/results.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <tuple>

#include "console/numtext.h"
#include "format/filenames.h"
#include "format/linetext.h"
#include "platform/workers.h"
#include "report/primality.h"

namespace kv {
namespace {

constexpr int64_t kReadBlock = 1 << 20;

struct Line {
  uint64_t first;
  uint64_t difference;
  int64_t length;
  uint32_t file;
  uint32_t number;
};

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Decimal digits to a number; false when empty, not digits or above 2^64 - 1.
bool ParseNumber(std::string_view text, uint64_t& value) {
  if (!AllDigits(text)) return false;
  value = 0;
  for (const char c : text) {
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// "Len k, a + d *n" exactly as the search writes it (format/linetext.h); k at least 3, d at least
// 1, and the term after the last still a 64-bit number.
bool ParseResultLine(std::string_view text, Line& line) {
  // The lead and the tail must not overlap ("Len *n" has both).
  if (text.size() < kLineLengthLead.size() + kLineTail.size() ||
      !text.starts_with(kLineLengthLead) || !text.ends_with(kLineTail)) {
    return false;
  }
  text.remove_prefix(kLineLengthLead.size());
  text.remove_suffix(kLineTail.size());
  const size_t comma = text.find(kLineFirstLead);
  const size_t plus = text.find(kLineDifferenceLead);
  if (comma == std::string_view::npos || plus == std::string_view::npos || plus < comma) {
    return false;
  }
  const size_t firstAt = comma + kLineFirstLead.size();
  const size_t differenceAt = plus + kLineDifferenceLead.size();
  uint64_t length = 0;
  if (!ParseNumber(text.substr(0, comma), length) ||
      !ParseNumber(text.substr(firstAt, plus - std::min(plus, firstAt)), line.first) ||
      !ParseNumber(text.substr(differenceAt), line.difference)) {
    return false;
  }
  if (length < 3 || length > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ||
      line.difference == 0 ||
      line.difference > (std::numeric_limits<uint64_t>::max() - line.first) / length) {
    return false;
  }
  line.length = static_cast<int64_t>(length);
  return true;
}

// The length named by a result file's name, 0 when the name is not one.
int64_t ResultFileLength(const std::string& name) {
  const std::string prefix = kResultFilePrefix;
  const std::string suffix = kResultFileSuffix;
  if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return 0;
  }
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  uint64_t length = 0;
  if (digits.size() > 9 || !ParseNumber(digits, length)) return 0;
  return static_cast<int64_t>(length);
}

std::string Where(const ResultSummary& s, const Line& line) {
  return s.files[line.file] + " " + IntegerToText(line.number) + "行目 (長さ " +
         IntegerToText(static_cast<uint64_t>(line.length)) + ", 初項 " + IntegerToText(line.first) +
         ", 公差 " + IntegerToText(line.difference) + ")";
}

// Reads one file in blocks and hands every line (without its line end) to `take`; a last line
// without a line end is handed with `complete` false.
template <typename Take>
bool ReadLines(const std::string& name, Take&& take) {
  auto file = Os().OpenRead(name);
  if (!file) return false;
  const int64_t size = file->Size();
  const int64_t blockSize = size > 0 && size < kReadBlock ? size : kReadBlock;
  std::string block(static_cast<size_t>(blockSize), '\0');
  std::string pending;
  for (;;) {
    const int64_t got = file->Read(block.data(), blockSize);
    if (got < 0) return false;
    if (got == 0) break;
    size_t at = 0;
    const std::string_view data(block.data(), static_cast<size_t>(got));
    for (size_t lf; (lf = data.find('\n', at)) != std::string_view::npos; at = lf + 1) {
      std::string_view text = data.substr(at, lf - at);
      if (!pending.empty()) {
        pending.append(text);
        text = pending;
      }
      if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
      take(text, true);
      pending.clear();
    }
    pending.append(data.substr(at));
  }
  if (!pending.empty()) take(std::string_view(pending), false);
  return true;
}

// What the check found on one maximal progression.
struct Finding {
  uint64_t composite = 0;  // the first term that is not prime
  uint64_t missing = 0;    // the first term in the table's range that is not in it
  bool hasComposite = false;
  bool hasMissing = false;
  bool beyond = false;  // a term above the table's largest value
  bool continues = false;
  bool unconfirmed = false;
  bool longerMissing = false;
  int64_t tested = 0;
};

Finding Check(const Line& p, const TableView& table) {
  Finding f;
  const bool testPrimes = !table.present || table.AllPrime();
  const uint64_t largest = table.Largest();
  // The walk stops once nothing more can be learned, so that a hand-made line of a billion terms
  // costs no more than a true one: at most the table's count of terms lie in it, and terms in
  // arithmetic progression are all prime for at most a few dozen (some prime below 60 divides
  // none of the 64-bit differences, and every such prime divides one of as many consecutive
  // terms).
  for (int64_t j = 0; j < p.length; ++j) {
    const uint64_t term = p.first + static_cast<uint64_t>(j) * p.difference;
    const bool inRange = table.present && term <= largest;
    const bool inTable = inRange && table.Contains(term);
    if (table.present && !inRange) f.beyond = true;
    if (inRange && !inTable && !f.hasMissing) {
      f.hasMissing = true;
      f.missing = term;
    }
    // A value of a table of primes has been tested with the table.
    if (testPrimes && !inTable && !f.hasComposite) {
      ++f.tested;
      if (!IsPrime(term)) {
        f.hasComposite = true;
        f.composite = term;
      }
    }
    const bool membershipKnown = !table.present || f.hasMissing || f.beyond;
    if (membershipKnown && (!testPrimes || f.hasComposite)) break;
  }
  if (!table.present) return f;
  const uint64_t next = p.first + static_cast<uint64_t>(p.length) * p.difference;
  if (next <= largest) {
    f.continues = table.Contains(next);
  } else {
    f.unconfirmed = !table.ruledOut(next) && !(table.AllPrime() && !IsPrime(next));
  }
  f.longerMissing = p.first >= p.difference && table.Contains(p.first - p.difference);
  return f;
}

void ReportFindings(const ResultSummary& s, const Line& p, const Finding& f, Problems& problems) {
  const std::string where = Where(s, p);
  if (f.hasComposite) {
    problems.Add(Problem::kComposite,
                 where + " : 項 " + IntegerToText(f.composite) + " は素数ではありません。");
  }
  if (f.hasMissing) {
    problems.Add(Problem::kNotInTable,
                 where + " : 項 " + IntegerToText(f.missing) + " がデータに有りません。");
  }
  const uint64_t next = p.first + static_cast<uint64_t>(p.length) * p.difference;
  if (f.continues) {
    problems.Add(Problem::kContinues,
                 where + " : 次の項 " + IntegerToText(next) + " がデータに有ります。");
  }
  if (f.unconfirmed) {
    problems.Add(Problem::kEndUnconfirmed, where + " : 次の項 " + IntegerToText(next) +
                                               " はデータの範囲外で、除外されていません。");
  }
  if (f.longerMissing) {
    problems.Add(Problem::kLongerMissing,
                 where + " : 前の項 " + IntegerToText(p.first - p.difference) +
                     " がデータに有りますが、長さ " +
                     IntegerToText(static_cast<uint64_t>(p.length + 1)) + " の行が有りません。");
  }
}

auto Key(const Line& l) { return std::make_tuple(l.difference, l.first, l.length); }

}  // namespace

bool ReadResultFiles(const std::string& directory, const std::vector<FileEntry>& files,
                     const TableView& table, ResultSummary& s, Problems& problems,
                     std::vector<std::string>& unreadable) {
  std::vector<std::pair<int64_t, std::string>> found;
  for (const FileEntry& f : files) {
    const int64_t length = ResultFileLength(f.name);
    if (length > 0) found.emplace_back(length, f.name);
  }
  std::sort(found.begin(), found.end());

  std::vector<Line> lines;
  bool allRead = true;
  for (const auto& file : found) {
    // Named copies: lambdas do not capture structured bindings on every compiler.
    const int64_t fileLength = file.first;
    const std::string& name = file.second;
    const auto fileIndex = static_cast<uint32_t>(s.files.size());
    s.files.push_back(name);
    int64_t& count = s.linesByLength[fileLength];
    uint32_t number = 0;
    const bool read = ReadLines(PathIn(directory, name), [&](std::string_view text, bool whole) {
      ++number;
      if (number == 1 && whole && text == kResultHeaderLine) return;
      Line line{0, 0, 0, fileIndex, number};
      if (!whole || !ParseResultLine(text, line)) {
        std::string shown(text.substr(0, 60));
        problems.Add(Problem::kUnreadable, name + " " + IntegerToText(number) + "行目 : " +
                                               (whole ? "" : "(途中で切れた行) ") + shown);
        return;
      }
      ++count;
      s.lineLengths.insert(line.length);
      if (line.length != fileLength) {
        problems.Add(Problem::kWrongFile, Where(s, line) + " : 長さ " +
                                              IntegerToText(static_cast<uint64_t>(fileLength)) +
                                              " のファイルに有ります。");
      }
      lines.push_back(line);
    });
    if (!read) {
      allRead = false;
      unreadable.push_back(name);
    }
  }

  std::sort(lines.begin(), lines.end(), [](const Line& x, const Line& y) {
    return std::tie(x.difference, x.first, x.length, x.file, x.number) <
           std::tie(y.difference, y.first, y.length, y.file, y.number);
  });
  std::vector<Line> unique;
  unique.reserve(lines.size());
  for (const Line& line : lines) {
    if (!unique.empty() && Key(unique.back()) == Key(line)) {
      const Line& earlier = unique.back();
      problems.Add(Problem::kRepeated, Where(s, line) + " : " + s.files[earlier.file] + " " +
                                           IntegerToText(earlier.number) + "行目と同じです。");
      continue;
    }
    unique.push_back(line);
  }
  lines.clear();
  lines.shrink_to_fit();

  // A line is the tail of the line one term longer that starts one difference earlier.
  std::vector<Line> maximal;
  for (const Line& line : unique) {
    if (line.first >= line.difference) {
      const Line longer{line.first - line.difference, line.difference, line.length + 1, 0, 0};
      if (std::binary_search(unique.begin(), unique.end(), longer,
                             [](const Line& x, const Line& y) { return Key(x) < Key(y); })) {
        continue;
      }
    }
    maximal.push_back(line);
  }
  unique.clear();
  unique.shrink_to_fit();
  std::sort(maximal.begin(), maximal.end(), [](const Line& x, const Line& y) {
    return std::tie(x.length, x.first, x.difference) < std::tie(y.length, y.first, y.difference);
  });

  std::vector<Finding> findings(maximal.size());
  ParallelFor(static_cast<int64_t>(maximal.size()), Os().HardwareThreads(),
              [&](int64_t begin, int64_t end) {
                for (int64_t i = begin; i < end; ++i) {
                  findings[static_cast<size_t>(i)] = Check(maximal[static_cast<size_t>(i)], table);
                }
              });
  s.progressions.reserve(maximal.size());
  for (size_t i = 0; i < maximal.size(); ++i) {
    const Line& p = maximal[i];
    const Finding& f = findings[i];
    ReportFindings(s, p, f, problems);
    s.termsTested += f.tested;
    ++s.progressionsByLength[p.length];
    s.progressions.push_back(
        {p.first, p.difference, p.length, !f.hasComposite && !f.hasMissing && !f.beyond});
  }
  return allRead;
}

std::vector<Progression> Longest(const ResultSummary& summary, size_t count) {
  std::vector<Progression> sound;
  for (const Progression& p : summary.progressions) {
    if (p.sound) sound.push_back(p);
  }
  const auto better = [](const Progression& x, const Progression& y) {
    return std::make_tuple(-x.length, x.Last(), x.first) <
           std::make_tuple(-y.length, y.Last(), y.first);
  };
  const size_t kept = std::min(count, sound.size());
  std::partial_sort(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(kept), sound.end(),
                    better);
  sound.resize(kept);
  return sound;
}

std::map<int64_t, Progression> SmallestLastTerms(const ResultSummary& summary) {
  std::map<int64_t, Progression> best;
  for (const Progression& p : summary.progressions) {
    if (!p.sound) continue;
    for (auto k = summary.lineLengths.begin(); k != summary.lineLengths.end() && *k <= p.length;
         ++k) {
      const Progression prefix{p.first, p.difference, *k, true};
      auto it = best.find(*k);
      if (it == best.end() || prefix.Last() < it->second.Last() ||
          (prefix.Last() == it->second.Last() && prefix.first < it->second.first)) {
        best[*k] = prefix;
      }
    }
  }
  return best;
}

}  // namespace kv
