// Sets of moduli for the tests that compare searches: a deterministic
// generator, divisor pools and random picks from them, one-modulus deletions,
// the instruction-set levels to run on, and the check that residues cover.
#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "base/splitmix.h"
#include "engine/congruence.h"
#include "engine/cover_check.h"
#include "engine/period.h"
#include "engine/simd_level.h"

namespace tilvane::testing {

using Moduli = std::vector<std::uint64_t>;

// A small deterministic generator, the same on every platform.
using Random = SplitMix64;

inline Moduli divisors_from_two(std::uint64_t n) {
  Moduli out;
  for (std::uint64_t d = 2; d <= n; ++d) {
    if (n % d == 0) out.push_back(d);
  }
  return out;
}

// k distinct members of pool, in increasing order.
inline Moduli pick(const Moduli& pool, std::size_t k, Random& random) {
  Moduli chosen = pool;
  for (std::size_t i = 0; i < k; ++i) {
    std::swap(chosen[i], chosen[i + random.below(chosen.size() - i)]);
  }
  chosen.resize(k);
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

inline Moduli without(const Moduli& moduli, std::size_t skip) {
  Moduli out;
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    if (i != skip) out.push_back(moduli[i]);
  }
  return out;
}

// Each set followed by its one-modulus deletions.
inline std::vector<Moduli> with_deletions(const std::vector<Moduli>& sets) {
  std::vector<Moduli> out;
  for (const Moduli& set : sets) {
    out.push_back(set);
    for (std::size_t i = 0; i < set.size(); ++i) out.push_back(without(set, i));
  }
  return out;
}

inline std::uint64_t lcm_of(const Moduli& moduli) {
  return std::accumulate(moduli.begin(), moduli.end(), std::uint64_t{1},
                         [](std::uint64_t a, std::uint64_t b) { return std::lcm(a, b); });
}

inline bool sum_at_least_one(const Moduli& moduli) {
  const std::uint64_t lcm = lcm_of(moduli);
  std::uint64_t sum = 0;
  for (std::uint64_t m : moduli) sum += lcm / m;
  return sum >= lcm;
}

inline std::vector<SimdLevel> supported_levels() {
  std::vector<SimdLevel> levels;
  for (SimdLevel level : {SimdLevel::Portable, SimdLevel::Avx2, SimdLevel::Avx512}) {
    if (simd_level_supported(level)) levels.push_back(level);
  }
  return levels;
}

// True when the congruences residues[i] (mod moduli[i]) cover every integer.
inline bool covers(const Moduli& moduli, const Moduli& residues) {
  if (residues.size() != moduli.size()) return false;
  std::vector<Congruence> congruences;
  for (std::size_t i = 0; i < moduli.size(); ++i) congruences.push_back({moduli[i], residues[i]});
  auto period = common_period(moduli);
  return period && verify_displayed_cover(congruences, *period).ok();
}

}  // namespace tilvane::testing
