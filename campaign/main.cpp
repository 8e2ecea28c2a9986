// Entry point of kvcampaign.
#include "campaign/campaign.h"
#include "console/console.h"
#include "mpi/job.h"
#include "platform/platform.h"
#include "search/engine/team.h"
#include "search/phases.h"

int main(int argc, char** argv) {
  // Under an MPI launcher only rank 0 runs the campaign; the others serve its searches.
  if (kv::job::Join(&argc, &argv)) kv::WriteConsoleAsFile();
  if (kv::job::Rank() != 0) return kv::ServeSearches();
  const auto arguments = kv::CommandArguments(argc, argv);
  const int code = kv::RunToEnd([&arguments] { kv::RunCampaignCommand(arguments); });
  kv::EndHelpers();
  return code;
}
