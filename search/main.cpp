// Entry point of Kolvex and Kolvex32; KV_WIDTH selects the value width at build time.
#include "console/console.h"
#include "mpi/job.h"
#include "platform/platform.h"
#include "search/engine/team.h"
#include "search/phases.h"

#if KV_WIDTH == 32
using BuildWidth = kv::Width32;
#else
using BuildWidth = kv::Width64;
#endif

int main(int argc, char** argv) {
  // Under an MPI launcher only rank 0 runs the program; the others serve its searches.
  if (kv::job::Join(&argc, &argv)) kv::WriteConsoleAsFile();
  if (kv::job::Rank() != 0) return kv::ServeSearches();
  const auto arguments = kv::CommandArguments(argc, argv);
  const int code = kv::RunToEnd([&arguments] {
    static kv::SearchState<BuildWidth> state;
    kv::RunSearchCommand(state, arguments);
  });
  kv::EndHelpers();
  return code;
}
