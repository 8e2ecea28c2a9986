// Entry point of Kolvex and Kolvex32; KV_WIDTH selects the value width at build time.
#include "console/console.h"
#include "platform/platform.h"
#include "search/phases.h"

#if KV_WIDTH == 32
using BuildWidth = kv::Width32;
#else
using BuildWidth = kv::Width64;
#endif

int main(int argc, char** argv) {
  const auto arguments = kv::CommandArguments(argc, argv);
  return kv::RunToEnd([&arguments] {
    static kv::SearchState<BuildWidth> state;
    kv::RunSearchCommand(state, arguments);
  });
}
