// The processes of one MPI job running one program. Rank 0 runs the program as it runs alone;
// the other ranks serve its searches. Without an MPI launcher, or in a build without MPI, there
// is one process and nothing here talks to anyone.
#pragma once

#include <cstdint>
#include <vector>

namespace kv::job {

// Joins the job when an MPI launcher started this process, told by the launcher's environment
// before any MPI call: a program started by hand never initialises MPI. True when it has joined.
bool Join(int* argc, char*** argv);
// Leaves the job; nothing is sent or received after it.
void Leave();
// Ends every process of the job at once, after a failure that leaves this one unable to go on.
[[noreturn]] void Abort(int code);

int Rank();  // 0 without a job
int Size();  // 1 without a job

// What rank 0 tells the others, and what they answer.
inline constexpr int kOrders = 1;
inline constexpr int kAnswers = 2;
inline constexpr int kAnySource = -1;

// Messages of any length, kept in order between two ranks.
void Send(int to, int tag, const std::vector<unsigned char>& bytes);
// Waits for a message with `tag` from `from` (kAnySource: any rank) and returns its sender. The
// wait sleeps between looks, so that a waiting rank leaves its cores to the searching threads.
int Receive(int from, int tag, std::vector<unsigned char>& bytes);

// Bytes this process has sent since it joined.
uint64_t BytesSent();

}  // namespace kv::job
