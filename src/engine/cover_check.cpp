#include "engine/cover_check.h"

#include <bit>
#include <vector>

#include "base/text_format.h"

namespace tilvane {

// Only the smallest uncovered residue is observable, so instead of testing
// every residue against every congruence (up to 20,000,000 x 128 remainders)
// the check sieves: each congruence marks its class in a bitset of the period,
// costing period / modulus steps, and the first clear bit is the answer. The
// total work is period times the reciprocal sum of the moduli.
Status verify_displayed_cover(std::span<const Congruence> congruences, std::uint64_t period) {
  const std::uint64_t words = (period + 63) / 64;
  std::vector<std::uint64_t> covered(words, 0);
  for (const Congruence& c : congruences) {
    if (c.residue >= c.modulus) continue;
    for (std::uint64_t i = c.residue; i < period; i += c.modulus) {
      covered[i / 64] |= std::uint64_t{1} << (i % 64);
    }
  }
  for (std::uint64_t w = 0; w < words; ++w) {
    std::uint64_t open = ~covered[w];
    if (w + 1 == words && period % 64 != 0) open &= (std::uint64_t{1} << (period % 64)) - 1;
    if (open != 0) {
      const std::uint64_t x = w * 64 + static_cast<std::uint64_t>(std::countr_zero(open));
      return fail(cat("the displayed congruences do not cover residue ", x, " modulo ", period));
    }
  }
  return {};
}

}  // namespace tilvane
