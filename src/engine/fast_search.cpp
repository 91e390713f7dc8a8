#include "engine/fast_search.h"

#include <optional>

#include "engine/bitset_search.h"
#include "engine/counter_search.h"
#include "engine/period.h"
#include "engine/uint128.h"
#include "engine/wide_bitset_search.h"

namespace tilvane {
namespace {

std::uint64_t binary_gcd(std::uint64_t a, std::uint64_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  const int shift = __builtin_ctzll(a | b);
  a >>= __builtin_ctzll(a);
  while (b != 0) {
    b >>= __builtin_ctzll(b);
    if (a > b) {
      const std::uint64_t t = a;
      a = b;
      b = t;
    }
    b -= a;
  }
  return a << shift;
}

// The least common multiple of the moduli, or nothing when it does not fit
// in 64 bits.
std::optional<std::uint64_t> lcm_if_small(std::span<const std::uint64_t> moduli) {
  std::uint64_t lcm = 1;
  for (std::uint64_t m : moduli) {
    if (m == 0) return std::nullopt;
    if (__builtin_mul_overflow(lcm / binary_gcd(lcm, m), m, &lcm)) return std::nullopt;
  }
  return lcm;
}

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

}  // namespace

Result<CoverSearch> find_cover_fast(std::span<const std::uint64_t> moduli,
                                    std::uint64_t max_nodes) {
  return find_cover_fast(moduli, max_nodes, detected_simd_level());
}

Result<CoverSearch> find_cover_fast(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                    SimdLevel level) {
  if (moduli.empty()) return CoverSearch{};
  const std::optional<std::uint64_t> lcm = lcm_if_small(moduli);
  if (sum_below_one(moduli, lcm)) return CoverSearch{};
  if (!lcm || *lcm > kPeriodLimit) {
    // The period fails; common_period names the step that fails.
    auto period = common_period(moduli);
    if (!period) return std::move(period).take_error();
    return find_cover_literal(moduli, max_nodes);
  }
  const std::uint64_t period = *lcm;
  if (bitset_search_fits(moduli.size(), period)) {
    return bitset_search(moduli, period, max_nodes, level);
  }
  if (wide_bitset_search_fits(moduli, period, level)) {
    return wide_bitset_search(moduli, period, max_nodes, level);
  }
  if (moduli.size() <= kCounterModuliLimit) return counter_search(moduli, period, max_nodes);
  return find_cover_literal(moduli, max_nodes);
}

}  // namespace tilvane
