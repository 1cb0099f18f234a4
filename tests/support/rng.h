// splitmix64: a small, fast generator that gives the same numbers on every platform (the standard
// distributions do not), shared by drawgen, the benchmarks and the tests' seeded pages.
#pragma once

#include <cstdint>

namespace vantrel {

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  int32_t below(int64_t n) { return n <= 1 ? 0 : static_cast<int32_t>(next() % static_cast<uint64_t>(n)); }
  int32_t between(int32_t lo, int32_t hi) { return lo + below(int64_t{hi} - lo + 1); }
  bool chance(double p) { return uniform() < p; }          // with probability p
  bool chance(int percent) { return below(100) < percent; }  // in `percent` cases of 100

 private:
  uint64_t state_;
};

}  // namespace vantrel
