// The texts of the system's result and inspection lines. The search writes them
// (AppendProgressionLine) and kvreport reads them back, both from these definitions.
#pragma once

#include <string_view>

namespace kv {

// The first line of every result file.
inline constexpr std::string_view kResultHeaderLine = "n=0,1, ... ,Len-1";

// A progression of k terms a, a + d, ..., a + (k - 1)d, in a result file and in the inspection
// text: "Len k, a + d *n", then CR LF. The numbers are plain decimals.
inline constexpr std::string_view kLineLengthLead = "Len ";
inline constexpr std::string_view kLineFirstLead = ", ";
inline constexpr std::string_view kLineDifferenceLead = " + ";
inline constexpr std::string_view kLineTail = " *n";

}  // namespace kv
