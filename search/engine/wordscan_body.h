// The loop of wordscan.h, included once for every instruction set it is compiled for. It calls
// no inline function of another header: a copy compiled for wider instructions must not be
// the one that the rest of the program links to.
namespace {

template <size_t kStreams>
uint64_t Combine(const WordStream* streams, uint64_t from, uint64_t count, uint64_t* hits) {
  const uint64_t* words[kStreams];
  unsigned shifts[kStreams];
  for (size_t s = 0; s < kStreams; ++s) {
    words[s] = streams[s].words + from;
    shifts[s] = streams[s].shift;
  }
  uint64_t any = 0;
  for (uint64_t j = 0; j < count; ++j) {
    uint64_t h = ~uint64_t{0};
    for (size_t s = 0; s < kStreams; ++s) {
      h &= (words[s][j] >> shifts[s]) | ((words[s][j + 1] << 1) << (63 - shifts[s]));
    }
    hits[j] = h;
    any |= h;
  }
  return any;
}

constexpr CombineWords kCombiners[kMaxCombinedStreams] = {
    Combine<1>, Combine<2>, Combine<3>, Combine<4>, Combine<5>, Combine<6>, Combine<7>};

}  // namespace
