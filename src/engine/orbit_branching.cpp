#include "engine/orbit_branching.h"

#include "base/checked_math.h"

namespace tilvane {

std::vector<std::uint32_t> units_modulo(std::uint32_t period) {
  std::vector<std::uint32_t> units;
  for (std::uint32_t u = 1; u <= period; ++u) {
    if (gcd_u64(u, period) == 1) units.push_back(u % period);
  }
  return units;
}

std::vector<std::uint32_t> class_stabiliser(std::span<const std::uint32_t> group, std::uint32_t m,
                                            std::uint32_t c) {
  std::vector<std::uint32_t> kept;
  for (const std::uint32_t u : group) {
    if (std::uint64_t{u} * c % m == c) kept.push_back(u);
  }
  return kept;
}

std::vector<std::uint32_t> orbit_representatives(std::span<const std::uint32_t> group,
                                                 std::uint32_t m, std::vector<std::uint8_t>& seen) {
  seen.assign(m, 0);
  std::vector<std::uint32_t> reps;
  for (std::uint32_t c = 0; c < m; ++c) {
    if (seen[c] != 0) continue;
    reps.push_back(c);
    for (const std::uint32_t u : group) seen[std::uint64_t{u} * c % m] = 1;
  }
  return reps;
}

}  // namespace tilvane
