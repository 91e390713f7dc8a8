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
      std::uint64_t row = read_bits(bits, i * step + 64 * w);
      if (w + 1 == words) row &= last;
      add_to_planes(planes.data() + w, words, count_planes, row);
    }
  }
  // a + 1 <= p fits in the planes.
  bool any = false;
  for (std::size_t w = 0; w < words; ++w) {
    overfull[w] = planes_at_least(planes.data() + w, words, count_planes, a + 1);
    if (w + 1 == words) overfull[w] &= last;
    any = any || overfull[w] != 0;
  }
  return any;
}

}  // namespace tilvane
