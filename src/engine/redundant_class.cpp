#include "engine/redundant_class.h"

#include <vector>

namespace tilvane {

// How many classes hold each residue, saturated at 2.
std::optional<std::size_t> redundant_class(std::span<const std::uint64_t> moduli,
                                           std::span<const std::uint64_t> residues,
                                           std::uint64_t period) {
  std::vector<std::uint8_t> holders(static_cast<std::size_t>(period), 0);
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    for (std::uint64_t x = residues[i] % moduli[i]; x < period; x += moduli[i]) {
      std::uint8_t& h = holders[static_cast<std::size_t>(x)];
      if (h < 2) ++h;
    }
  }
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    bool shared = true;
    for (std::uint64_t x = residues[i] % moduli[i]; x < period && shared; x += moduli[i]) {
      shared = holders[static_cast<std::size_t>(x)] == 2;
    }
    if (shared) return i;
  }
  return std::nullopt;
}

}  // namespace tilvane
