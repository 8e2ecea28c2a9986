// Entry point of kvimport.
#include "console/console.h"
#include "import/import.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const auto arguments = kv::CommandArguments(argc, argv);
  return kv::RunToEnd([&arguments] { kv::RunImportCommand(arguments); });
}
