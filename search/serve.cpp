// The program of the ranks other than 0: rank 0's searches, one after another, until it quits.
#include <cstdio>
#include <exception>
#include <vector>

#include "mpi/job.h"
#include "platform/platform.h"
#include "search/engine/team.h"
#include "search/phases.h"

namespace kv {

int ServeSearches() {
  // As rank 0 does: the search gives way to everything else on its machine.
  Os().SetIdlePriority();
  try {
    std::vector<unsigned char> order;
    for (;;) {
      job::Receive(0, job::kOrders, order);
      if (order.empty()) continue;
      switch (static_cast<Order>(order[0])) {
        case Order::kQuit:
          job::Leave();
          return 0;
        case Order::kLen3Begin:
          if (order.size() > 1 && order[1] == 32) {
            ServeLen3<Width32>(order);
          } else {
            ServeLen3<Width64>(order);
          }
          break;
        case Order::kContBegin:
          if (order.size() > 1 && order[1] == 32) {
            ServeContSearch<Width32>(order);
          } else {
            ServeContSearch<Width64>(order);
          }
          break;
        default:
          break;
      }
    }
  } catch (const std::exception& e) {
    // Rank 0 waits for this rank's answers: the whole job ends.
    std::fprintf(stderr, "rank %d: %s\n", job::Rank(), e.what());
    job::Abort(1);
  }
}

}  // namespace kv
