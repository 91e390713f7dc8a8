#include "base/checked_math.h"

#include <algorithm>

namespace tilvane {

// Euclid's algorithm: replace (a, b) by (b, a mod b) until b is zero.
std::uint64_t gcd_u64(std::uint64_t a, std::uint64_t b) {
  while (b != 0) {
    const std::uint64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

u128 gcd_u128(u128 a, u128 b) {
  while (b != 0) {
    const u128 r = a % b;
    a = b;
    b = r;
  }
  return a;
}

std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

std::optional<std::uint64_t> checked_lcm_of(std::span<const std::uint64_t> values) {
  std::uint64_t lcm = 1;
  for (std::uint64_t v : values) {
    const auto next = checked_lcm(lcm, v);
    if (!next) return std::nullopt;
    lcm = *next;
  }
  return lcm;
}

// Each partial product C(n - k + i, i) is an integer no larger than the
// result, so every division is exact and the product before it stays
// within 128 bits while the result fits in 64.
std::optional<std::uint64_t> checked_binomial(std::uint64_t n, std::uint64_t k) {
  if (k > n) return 0;
  k = std::min(k, n - k);
  u128 value = 1;
  for (std::uint64_t i = 1; i <= k; ++i) {
    value = value * (n - k + i) / i;
    if (value > UINT64_MAX) return std::nullopt;
  }
  return static_cast<std::uint64_t>(value);
}

}  // namespace tilvane
