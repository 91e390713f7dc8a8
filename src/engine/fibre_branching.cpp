#include "engine/fibre_branching.h"

namespace tilvane {

std::optional<std::uint32_t> overfull_fibre_residue(const ClassCounts& counts, std::uint32_t p,
                                                    std::size_t full) {
  if (full >= p) return std::nullopt;
  const std::uint32_t step = counts.period() / p;
  for (std::uint32_t y = 0; y < step; ++y) {
    std::size_t open = 0;
    std::uint32_t first = 0;
    for (std::uint32_t i = 0; i < p; ++i) {
      if (!counts.is_uncovered(y + i * step)) continue;
      if (open++ == 0) first = y + i * step;
    }
    if (open > full) return first;
  }
  return std::nullopt;
}

}  // namespace tilvane
