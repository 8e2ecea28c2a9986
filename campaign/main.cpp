// Entry point of kvcampaign.
#include "campaign/campaign.h"
#include "console/console.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const auto arguments = kv::CommandArguments(argc, argv);
  return kv::RunToEnd([&arguments] { kv::RunCampaignCommand(arguments); });
}
