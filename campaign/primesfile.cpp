// The primes of a range as a text file, made by the primesieve library while it is read.
#include "campaign/primesfile.h"

#include <algorithm>
#include <cstring>
#include <primesieve.hpp>

namespace kv {
namespace {

// Decimal digits of n, followed by LF.
size_t AppendLine(std::string& text, uint64_t n) {
  char digits[24];
  size_t length = 0;
  do {
    digits[length++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  std::reverse(digits, digits + length);
  digits[length++] = '\n';
  text.append(digits, length);
  return length;
}

class PrimesFile final : public FileHandle {
 public:
  PrimesFile(uint64_t from, uint64_t to, std::string header)
      : from_(from), to_(to), pending_(std::move(header)) {
    // The size is known before the first read: the readers size their buffers by it.
    size_ = static_cast<int64_t>(pending_.size());
    primesieve::iterator it(from_, to_);
    std::string scratch;
    for (uint64_t p = it.next_prime(); p <= to_ && from_ <= to_; p = it.next_prime()) {
      scratch.clear();
      size_ += static_cast<int64_t>(AppendLine(scratch, p));
    }
    primes_.jump_to(from_, to_);
  }

  int64_t Size() override { return size_; }
  bool SeekEnd() override { return false; }
  bool SeekTo(int64_t offset) override { return offset == 0 && served_ == 0; }
  int64_t Read(void* buffer, int64_t count) override {
    char* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
      if (offset_ == pending_.size()) {
        if (!Refill()) break;
      }
      const auto take =
          std::min<size_t>(pending_.size() - offset_, static_cast<size_t>(count - done));
      std::memcpy(out + done, pending_.data() + offset_, take);
      offset_ += take;
      done += static_cast<int64_t>(take);
    }
    served_ += done;
    return done;
  }
  bool Write(const void*, int64_t) override { return false; }
  bool Sync() override { return false; }
  bool Close() override { return true; }

 private:
  // The next lines, some 64 KB of them; false at the end of the range.
  bool Refill() {
    pending_.clear();
    offset_ = 0;
    while (!finished_ && pending_.size() < 65536) {
      const uint64_t p = primes_.next_prime();
      if (p > to_ || from_ > to_) {
        finished_ = true;
        break;
      }
      AppendLine(pending_, p);
    }
    return !pending_.empty();
  }

  uint64_t from_;
  uint64_t to_;
  primesieve::iterator primes_;
  std::string pending_;
  size_t offset_ = 0;
  int64_t size_ = 0;
  int64_t served_ = 0;
  bool finished_ = false;
};

}  // namespace

std::unique_ptr<FileHandle> OpenPrimesFile(uint64_t from, uint64_t to, std::string header) {
  return std::make_unique<PrimesFile>(from, to, std::move(header));
}

std::vector<uint64_t> PrimesBetween(uint64_t from, uint64_t to) {
  std::vector<uint64_t> primes;
  if (from <= to) primesieve::generate_primes(from, to, &primes);
  return primes;
}

uint64_t PrimeAbove(uint64_t n) {
  primesieve::iterator it(n + 1);
  return it.next_prime();
}

}  // namespace kv
