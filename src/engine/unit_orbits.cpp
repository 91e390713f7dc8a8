#include "engine/unit_orbits.h"

#include <algorithm>

#include "base/checked_math.h"

namespace tilvane {

std::vector<std::uint64_t> unit_orbit_classes(std::uint64_t m0, std::uint64_t m1) {
  const std::uint64_t g = gcd_u64(m0, m1);
  std::vector<std::uint64_t> classes;
  for (std::uint64_t d = 1; d <= g; ++d) {
    if (g % d == 0) classes.push_back(d % m1);
  }
  std::sort(classes.begin(), classes.end());
  return classes;
}

}  // namespace tilvane
