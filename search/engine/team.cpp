// The loop of a helper rank over one search's orders, rank 0's side of a search's beginning, and
// the end of the job.
#include "search/engine/team.h"

#include <algorithm>
#include <cstdlib>

#include "mpi/job.h"

namespace kv {

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
