// A small deterministic pseudo-random generator (splitmix64): the same
// sequence on every platform and compiler, full period, and well-mixed
// outputs even from neighbouring seeds. Randomised techniques seed it from
// their input, so runs stay reproducible.
#pragma once

#include <cstdint>

namespace tilvane {

class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // A value below n (n > 0), with the slight bias of a remainder.
  std::uint64_t below(std::uint64_t n) { return next() % n; }

 private:
  std::uint64_t state_;
};

}  // namespace tilvane
