// The program of the ranks other than 0, and the end of the job.
#include "search/team.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "mpi/job.h"
#include "platform/platform.h"

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

void ServeOrders(std::vector<unsigned char>& answer, const std::function<void(Unpacker&)>& work) {
  std::vector<unsigned char> order;
  for (;;) {
    job::Receive(0, job::kOrders, order);
    Unpacker o(order);
    const auto kind = o.Get<Order>();
    if (kind == Order::kEnd) return;
    if (kind == Order::kQuit) {
      job::Leave();
      std::exit(0);
    }
    if (kind != Order::kWork) continue;
    work(o);
    job::Send(0, job::kAnswers, answer);
  }
}

int JobHelpers() { return job::Size() - 1; }

std::vector<uint32_t> SendSearchBegin(const std::vector<unsigned char>& order) {
  const int helpers = JobHelpers();
  for (int r = 1; r <= helpers; ++r) job::Send(r, job::kOrders, order);
  std::vector<uint32_t> threads;
  std::vector<unsigned char> answer;
  for (int r = 1; r <= helpers; ++r) {
    job::Receive(r, job::kAnswers, answer);
    Unpacker u(answer);
    threads.push_back(std::clamp(u.Get<uint32_t>(), 1u, 1024u));
  }
  return threads;
}

void EndHelpers() {
  const std::vector<unsigned char> quit{static_cast<unsigned char>(Order::kQuit)};
  for (int r = 1; r < job::Size(); ++r) job::Send(r, job::kOrders, quit);
  job::Leave();
}

}  // namespace kv
