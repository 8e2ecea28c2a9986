// The log is code page 932 text with CR LF line ends; its header line must be the one the
// campaign writes. A last line without its line end may have been cut by a stop and is not
// trusted.
#include "report/campaignlog.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "console/numtext.h"
#include "platform/fileutil.h"

namespace kv {
namespace {

constexpr std::string_view kHeader = "ステップ,範囲開始,範囲終了,所要秒,CPU秒,発見,最長";
constexpr int64_t kLargestLog = int64_t{16} << 20;

bool Digits(std::string_view text, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 20 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      DigitsAbove(text, limit)) {
    return false;
  }
  value = TextToInteger(text);
  return true;
}

bool Count(std::string_view text, int64_t& value) {
  uint64_t v = 0;
  if (!Digits(text, static_cast<uint64_t>(std::numeric_limits<int64_t>::max()), v)) return false;
  value = static_cast<int64_t>(v);
  return true;
}

// Seconds with one decimal ("16.2"); digits before the point, at most one point.
bool Seconds(std::string_view text, double& value) {
  const size_t point = text.find('.');
  uint64_t whole = 0;
  uint64_t fraction = 0;
  if (!Digits(text.substr(0, point), 1000000000000ULL, whole)) return false;
  if (point != std::string_view::npos && !Digits(text.substr(point + 1), ~0ULL, fraction)) {
    return false;
  }
  value = TextToReal(text);
  return true;
}

// "L8:3206 L9:572", empty when none.
bool Finds(std::string_view text, std::map<int64_t, int64_t>& finds) {
  while (!text.empty()) {
    const size_t blank = text.find(' ');
    const std::string_view item = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    const size_t colon = item.find(':');
    int64_t length = 0;
    int64_t n = 0;
    if (item.size() < 4 || item[0] != 'L' || colon == std::string_view::npos ||
        !Count(item.substr(1, colon - 1), length) || length < 3 || length > 1000000 ||
        !Count(item.substr(colon + 1), n) || finds.count(length) != 0) {
      return false;
    }
    finds[length] = n;
  }
  return true;
}

bool ParseStep(std::string_view line, CampaignStep& step) {
  std::string_view fields[7];
  size_t count = 0;
  for (;;) {
    const size_t comma = line.find(',');
    if (count == 7) return false;
    fields[count++] = line.substr(0, comma);
    if (comma == std::string_view::npos) break;
    line.remove_prefix(comma + 1);
  }
  if (count != 7) return false;
  const bool untimed = fields[3].empty() && fields[4].empty();
  step.timed = !untimed;
  return Count(fields[0], step.step) && step.step >= 1 &&
         Digits(fields[1], ~0ULL, step.rangeStart) && Digits(fields[2], ~0ULL, step.rangeEnd) &&
         step.rangeStart <= step.rangeEnd &&
         (untimed || (Seconds(fields[3], step.seconds) && Seconds(fields[4], step.cpuSeconds))) &&
         Finds(fields[5], step.finds) && Count(fields[6], step.longest);
}

}  // namespace

double CampaignStep::Found() const {
  double total = 0;
  for (const auto& [length, n] : finds) total += static_cast<double>(n);
  return total;
}

void ParseCampaignLog(std::string_view text, CampaignLog& log) {
  int64_t number = 0;
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    const bool whole = lf != std::string_view::npos;
    text = whole ? text.substr(lf + 1) : std::string_view();
    ++number;
    if (whole && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (number == 1) {
      if (!whole || line != kHeader) log.unreadableLines.push_back(number);
      continue;
    }
    CampaignStep step;
    if (!whole || !ParseStep(line, step)) {
      log.unreadableLines.push_back(number);
      continue;
    }
    log.steps.push_back(step);
  }
}

ReadStatus ReadCampaignLog(const std::string& directory, CampaignLog& log) {
  const std::string name = PathIn(directory, kCampaignLogFile);
  auto file = Os().OpenRead(name);
  if (!file) return Os().Exists(name) ? ReadStatus::kFailed : ReadStatus::kMissing;
  const int64_t size = file->Size();
  if (size < 0 || size > kLargestLog) return ReadStatus::kFailed;
  std::string text;
  if (!ReadWholeFile(*file, text)) return ReadStatus::kFailed;
  ParseCampaignLog(text, log);
  return ReadStatus::kOk;
}

}  // namespace kv
