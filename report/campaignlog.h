// The campaign's log of its steps (_CampaignLog.csv), read for the page: one line per completed
// step with its range of table values, its times and its finds per length. Every line is checked
// in full; a line that does not read is skipped and counted.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "report/tableload.h"

namespace kv {

inline constexpr const char* kCampaignLogFile = "_CampaignLog.csv";

struct CampaignStep {
  int64_t step = 0;
  uint64_t rangeStart = 0;
  uint64_t rangeEnd = 0;
  bool timed = false;  // false: the times of the step are not known
  double seconds = 0;
  double cpuSeconds = 0;
  std::map<int64_t, int64_t> finds;  // by length
  int64_t longest = 0;
  // The finds of every length together (as a real number: a hand-edited log may hold counts whose
  // sum no integer holds).
  double Found() const;
};

struct CampaignLog {
  std::vector<CampaignStep> steps;
  std::vector<int64_t> unreadableLines;  // line numbers, from 1
};

// kMissing without the file; kFailed when it cannot be read (or is too large to be a log).
ReadStatus ReadCampaignLog(const std::string& directory, CampaignLog& log);

// The steps of the log's text, for the reader and its tests.
void ParseCampaignLog(std::string_view text, CampaignLog& log);

}  // namespace kv
