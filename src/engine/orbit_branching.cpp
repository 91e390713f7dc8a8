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

// The group acts on the classes modulo m through its distinct images
// modulo m, usually far fewer than its members; marking the orbits costs m
// times their number.
std::vector<std::uint32_t> orbit_representatives(std::span<const std::uint32_t> group,
                                                 std::uint32_t m, std::vector<std::uint8_t>& seen) {
  seen.assign(m, 0);
  std::vector<std::uint32_t> images;
  for (const std::uint32_t u : group) {
    if (seen[u % m] == 0) images.push_back(u % m);
    seen[u % m] = 1;
  }
  std::vector<std::uint32_t> reps;
  if (std::uint64_t{m} * images.size() > kOrbitWorkLimit) {
    reps.resize(m);
    for (std::uint32_t c = 0; c < m; ++c) reps[c] = c;
    return reps;
  }
  seen.assign(m, 0);
  for (std::uint32_t c = 0; c < m; ++c) {
    if (seen[c] != 0) continue;
    reps.push_back(c);
    for (const std::uint32_t u : images) seen[std::uint64_t{u} * c % m] = 1;
  }
  return reps;
}

}  // namespace tilvane
