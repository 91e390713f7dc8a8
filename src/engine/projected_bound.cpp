#include "engine/projected_bound.h"

#include <algorithm>

namespace tilvane {

bool projected_gain_shortfall(const ClassCounts& counts, std::span<const std::uint32_t> moduli,
                              std::span<const std::uint32_t> classes, std::uint32_t unassigned,
                              std::uint32_t q, std::vector<std::uint8_t>& scratch) {
  scratch.assign(q, 0);
  for (std::uint32_t x = 0; x < counts.period(); ++x) {
    if (counts.is_uncovered(x)) scratch[x % q] = 1;
  }
  std::vector<std::uint32_t> projected;
  for (std::uint32_t y = 0; y < q; ++y) {
    if (scratch[y] != 0) projected.push_back(y);
  }
  std::uint64_t sum = 0;
  std::vector<std::uint32_t> in_class;
  for (std::size_t j = 0; j < moduli.size(); ++j) {
    if (classes[j] != unassigned) continue;
    in_class.assign(moduli[j], 0);
    for (const std::uint32_t y : projected) ++in_class[y % moduli[j]];
    sum += *std::max_element(in_class.begin(), in_class.end());
    if (sum >= projected.size()) return false;
  }
  return sum < projected.size();
}

}  // namespace tilvane
