#include "engine/fibre_rule.h"

#include <algorithm>
#include <bit>

#include "engine/bit_rows.h"

namespace tilvane {

// The p rows of P/p bits are added into bit-sliced column counters (plane b
// holds bit b of every fibre's count); the columns whose count reaches
// a + 1 are then found bit-serially from the top plane.
bool mark_overfull_fibres(const std::uint64_t* bits, std::uint64_t period, std::uint64_t p,
                          std::uint64_t a, std::vector<std::uint64_t>& planes,
                          std::uint64_t* overfull) {
  const std::uint64_t step = period / p;
  const std::size_t words = words_for(step);
  const auto count_planes = static_cast<unsigned>(std::bit_width(p));
  planes.assign(count_planes * words, 0);
  const std::uint64_t last = low_mask(step);
  for (std::uint64_t i = 0; i < p; ++i) {
    for (std::size_t w = 0; w < words; ++w) {
      std::uint64_t carry = read_bits(bits, i * step + 64 * w);
      if (w + 1 == words) carry &= last;
      for (unsigned b = 0; carry != 0 && b < count_planes; ++b) {
        std::uint64_t& plane = planes[b * words + w];
        const std::uint64_t next = plane & carry;
        plane ^= carry;
        carry = next;
      }
    }
  }
  const std::uint64_t need = a + 1;
  bool any = false;
  for (std::size_t w = 0; w < words; ++w) {
    std::uint64_t greater = 0;
    std::uint64_t equal = ~std::uint64_t{0};
    for (unsigned b = count_planes; b-- > 0;) {
      const std::uint64_t plane = planes[b * words + w];
      if ((need >> b) & 1) {
        equal &= plane;
      } else {
        greater |= equal & plane;
        equal &= ~plane;
      }
    }
    // need fits in the planes (need <= p), so no higher bit of it is lost.
    overfull[w] = greater | equal;
    if (w + 1 == words) overfull[w] &= last;
    any = any || overfull[w] != 0;
  }
  return any;
}

}  // namespace tilvane
