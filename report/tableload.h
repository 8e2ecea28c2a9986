// Reading the table, its checkpoint and the sieved list of the build whose files are there.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "report/model.h"

namespace kv {

enum class ReadStatus { kOk, kMissing, kFailed };

// Chooses the build (the 64-bit one, the 32-bit one when only its table is there, the table
// written last when both are), reads its table in blocks and its sieved list, and tests the
// table's values for primality on every core. `lines` receives what is to be shown.
ReadStatus LoadReportTable(const std::string& directory, const std::vector<FileEntry>& files,
                           TableView& view, std::vector<std::string>& lines);

}  // namespace kv
