// kvcampaign: grows a table of the primes range by range, each step as a user would do it by hand
// (the sieved list of the range after it made with kvimport, then a run of the search program
// adding the step's primes), with the primes made by the primesieve library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

struct CampaignPlan {
  uint64_t limit = 0;           // --to
  uint64_t step = 0;            // --step; 0: steps that grow with the table
  uint64_t unit = 10000000;     // the growing steps' least size, of which they are multiples
  int32_t minLength = 0;        // --min-length
  bool narrow = false;          // --32
  uint64_t factorMilli = 3000;  // --sieve-factor, in thousandths
  bool prune = true;            // --no-prune turns it off
  unsigned threads = 0;         // --threads; 0: every hardware thread
};

// The step that holds `firstPrime`, the smallest prime above the table, adds the primes above the
// table up to its end; the last step ends at the limit. Fixed steps end at the multiples of the
// step size. Growing steps start at a multiple S of the unit and end at S plus a tenth of S
// rounded down to a multiple of the unit, at least one unit: their ends depend on the table's
// largest value and the limit only.
uint64_t StepNumber(const CampaignPlan& plan, uint64_t firstPrime);
uint64_t StepEnd(const CampaignPlan& plan, uint64_t firstPrime);
// The first value of the step's range (the table's own values below it apart).
uint64_t StepStart(const CampaignPlan& plan, uint64_t firstPrime);
// The end of the sieved list made before the step that ends at `stepEnd`: ⌊F·stepEnd⌋, at most
// `formLimit`.
uint64_t ListEnd(const CampaignPlan& plan, uint64_t stepEnd, uint64_t formLimit);

// The whole program: reads the command line, then runs (or resumes) the campaign in the working
// directory. Ends the run.
[[noreturn]] void RunCampaignCommand(const std::vector<std::string>& arguments);

// The campaign itself, after its plan has been checked.
[[noreturn]] void RunCampaign(const CampaignPlan& plan);

}  // namespace kv
