#include "engine/cover_store.h"

#include <vector>

namespace tilvane {

std::optional<std::size_t> CoverStore::covering_deletion(std::span<const std::uint64_t> set) const {
  if (sets_.entries() == 0) return std::nullopt;
  std::vector<std::uint64_t> deletion(set.begin() + 1, set.end());
  // deletion holds the set less set[i]: going from i to i + 1 puts set[i]
  // back where set[i + 1] was.
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (i > 0) deletion[i - 1] = set[i - 1];
    if (sets_.contains(deletion)) return i;
  }
  return std::nullopt;
}

}  // namespace tilvane
