// Entry point of kvconvert.
#include "console/console.h"
#include "convert/convert.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const auto arguments = kv::CommandArguments(argc, argv);
  return kv::RunToEnd([&arguments] { kv::RunConvertCommand(arguments); });
}
