// Entry point of kvreport.
#include <new>
#include <string>
#include <vector>

#include "console/console.h"
#include "report/report.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  try {
    return kv::RunReportProgram(args);
  } catch (const std::bad_alloc&) {
    // The loads check the sizes of the files and name them; this is what is left.
    kv::PrintLine("メモリが不足しています。");
    return kv::kFailed;
  }
}
