// The job over MPI. Only one thread of a rank talks MPI at a time (the search's courier on rank
// 0, the main thread elsewhere), hence MPI_THREAD_SERIALIZED.
#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "mpi/job.h"

namespace kv::job {
namespace {

bool joined = false;
int rank = 0;
int size = 1;
uint64_t bytesSent = 0;

// MPI counts are ints: a longer message goes as parts of this size, then a shorter last part
// (empty when the length is a multiple of it).
constexpr size_t kPart = size_t{1} << 30;

// Open MPI, MPICH (and its PMI-based relatives) and MS-MPI set these for every process they
// start.
bool StartedByLauncher() {
  for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "PMI_RANK", "PMIX_RANK"}) {
    if (std::getenv(name) != nullptr) return true;
  }
  return false;
}

// A message's bytes are followed by their checksum: a rank that dies while another copies from
// its memory may leave the copy short or stale with no error from MPI (Open MPI's shared-memory
// transport only prints a note), and what rank 0 commits goes to the files for good.
uint64_t Checksum(const unsigned char* bytes, size_t count) {
  uint64_t h = 0x9E3779B97F4A7C15u ^ count;
  size_t k = 0;
  for (; k + 8 <= count; k += 8) {
    uint64_t w;
    std::memcpy(&w, bytes + k, 8);
    h = (h ^ w) * 0xFF51AFD7ED558CCDu;
    h ^= h >> 32;
  }
  for (; k < count; ++k) h = (h ^ bytes[k]) * 0x100000001B3u;
  return h ^ (h >> 29);
}

void Check(int code, const char* what) {
  if (code == MPI_SUCCESS) return;
  std::fprintf(stderr, "MPI: %s failed (%d)\n", what, code);
  Abort(1);
}

// Waits for a request with sleeps between looks instead of MPI's own spinning wait, which
// would take a core from the searching threads (of this rank, or of a rank on the same machine
// running at a lower priority) while the other side is slow to come.
void Await(MPI_Request& request) {
  auto pause = std::chrono::microseconds(10);
  for (;;) {
    int done = 0;
    Check(MPI_Test(&request, &done, MPI_STATUS_IGNORE), "MPI_Test");
    if (done != 0) return;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(500));
  }
}

}  // namespace

bool Join(int* argc, char*** argv) {
  if (!StartedByLauncher()) return false;
  int provided = 0;
  Check(MPI_Init_thread(argc, argv, MPI_THREAD_SERIALIZED, &provided), "MPI_Init_thread");
  joined = true;
  if (provided < MPI_THREAD_SERIALIZED) {
    std::fprintf(stderr, "MPI: this MPI library does not allow calls from more than one thread\n");
    Abort(1);
  }
  Check(MPI_Comm_rank(MPI_COMM_WORLD, &rank), "MPI_Comm_rank");
  Check(MPI_Comm_size(MPI_COMM_WORLD, &size), "MPI_Comm_size");
  if (std::getenv("KV_JOB_TRAFFIC") != nullptr)
    std::atexit([] {
      std::fprintf(stderr, "rank %d sent %llu bytes\n", rank,
                   static_cast<unsigned long long>(bytesSent));
    });
  return true;
}

void Leave() {
  if (!joined) return;
  joined = false;
  MPI_Finalize();
}

void Abort(int code) {
  if (joined) MPI_Abort(MPI_COMM_WORLD, code);
  std::exit(code);
}

int Rank() { return rank; }
int Size() { return size; }

void Send(int to, int tag, const std::vector<unsigned char>& bytes) {
  size_t at = 0;
  for (;;) {
    const size_t part = std::min(kPart, bytes.size() - at);
    // MPI_Isend takes a non-const buffer in MPI-2 headers.
    MPI_Request request;
    Check(MPI_Isend(const_cast<unsigned char*>(bytes.data() + at), static_cast<int>(part), MPI_BYTE,
                    to, tag, MPI_COMM_WORLD, &request),
          "MPI_Isend");
    Await(request);
    at += part;
    if (part < kPart) break;
  }
  uint64_t sum = Checksum(bytes.data(), bytes.size());
  MPI_Request request;
  Check(MPI_Isend(&sum, 8, MPI_BYTE, to, tag, MPI_COMM_WORLD, &request), "MPI_Isend");
  Await(request);
  bytesSent += bytes.size() + 8;
}

int Receive(int from, int tag, std::vector<unsigned char>& bytes) {
  bytes.clear();
  int source = from == kAnySource ? MPI_ANY_SOURCE : from;
  auto pause = std::chrono::microseconds(10);
  for (;;) {
    int arrived = 0;
    MPI_Status status;
    Check(MPI_Iprobe(source, tag, MPI_COMM_WORLD, &arrived, &status), "MPI_Iprobe");
    if (arrived == 0) {
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds(500));
      continue;
    }
    source = status.MPI_SOURCE;
    int count = 0;
    Check(MPI_Get_count(&status, MPI_BYTE, &count), "MPI_Get_count");
    const size_t at = bytes.size();
    bytes.resize(at + static_cast<size_t>(count));
    MPI_Request request;
    Check(MPI_Irecv(bytes.data() + at, count, MPI_BYTE, source, tag, MPI_COMM_WORLD, &request),
          "MPI_Irecv");
    Await(request);
    pause = std::chrono::microseconds(10);
    if (static_cast<size_t>(count) < kPart) break;
  }
  uint64_t sum = 0;
  MPI_Request request;
  Check(MPI_Irecv(&sum, 8, MPI_BYTE, source, tag, MPI_COMM_WORLD, &request), "MPI_Irecv");
  Await(request);
  if (sum != Checksum(bytes.data(), bytes.size())) {
    std::fprintf(stderr, "MPI: a message from rank %d arrived damaged\n", source);
    Abort(1);
  }
  return source;
}

uint64_t BytesSent() { return bytesSent; }

}  // namespace kv::job
