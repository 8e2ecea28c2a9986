// The page of `kvreport --html`: one self-contained file (inline SVG charts, no script, nothing
// fetched) in code page 932, for a browser to show and a person to refresh while a campaign runs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "report/campaignlog.h"
#include "report/literature.h"

namespace kv {

struct PageFacts {
  std::string table;    // the table's file, width, count and largest value, as one line
  std::string verdict;  // the check's last line
  std::map<int64_t, int64_t> finished;  // maximal progressions of the result files, by length
  std::map<int64_t, int64_t> open;      // those of the store that may continue, by length
  LiteratureView literature;
  bool hasLog = false;
  CampaignLog log;
};

std::string PageText(const PageFacts& facts);

}  // namespace kv
