#include "engine/fast_search.h"

#include <optional>

#include "base/checked_math.h"
#include "base/uint128.h"
#include "engine/bitset_search.h"
#include "engine/counter_search.h"
#include "engine/period.h"
#include "engine/search_abort.h"
#include "engine/wide_bitset_search.h"

namespace tilvane {
namespace {

// The reciprocal-sum pre-test of the literal search, decided cheaply when the
// common multiple L fits in 64 bits: then the sum of 1/m is below 1 exactly
// when the sum of L/m is below L, and the literal's 128-bit fraction cannot
// overflow (its denominator divides L and its numerator stays below 128·L),
// so both answer alike. Otherwise the literal's own test decides.
bool sum_below_one(std::span<const std::uint64_t> moduli, const std::optional<std::uint64_t>& lcm) {
  if (!lcm) return reciprocal_sum_below_one(moduli);
  u128 sum = 0;
  for (std::uint64_t m : moduli) sum += *lcm / m;
  return sum < *lcm;
}

SearchChoice choose(std::span<const std::uint64_t> moduli, const std::optional<std::uint64_t>& lcm,
                    SimdLevel level) {
  if (moduli.empty() || sum_below_one(moduli, lcm)) return SearchChoice::PreTest;
  if (!lcm || *lcm > kPeriodLimit) return SearchChoice::PeriodFails;
  if (bitset_search_fits(moduli.size(), *lcm)) return SearchChoice::Bitset;
  if (wide_bitset_search_fits(moduli, *lcm, level)) return SearchChoice::WideBitset;
  return SearchChoice::Counter;
}

}  // namespace

SearchChoice choose_search(std::span<const std::uint64_t> moduli, SimdLevel level) {
  return choose(moduli, checked_lcm_of(moduli), level);
}

Result<CoverSearch> find_cover(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes) {
  return find_cover_fast(moduli, max_nodes, detected_simd_level());
}

Result<CoverSearch> find_cover_fast(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                    SimdLevel level) {
  const std::optional<std::uint64_t> lcm = checked_lcm_of(moduli);
  switch (choose(moduli, lcm, level)) {
    case SearchChoice::PreTest:
      return CoverSearch{};
    case SearchChoice::PeriodFails: {
      // common_period names the step that fails.
      auto period = common_period(moduli);
      if (period) search_abort("a period over its limit was accepted");
      return std::move(period).take_error();
    }
    case SearchChoice::Bitset:
      return bitset_search(moduli, *lcm, max_nodes, level);
    case SearchChoice::WideBitset:
      return wide_bitset_search(moduli, *lcm, max_nodes, level);
    case SearchChoice::Counter:
      return counter_search(moduli, *lcm, max_nodes);
  }
  search_abort("unknown search choice");
}

}  // namespace tilvane
