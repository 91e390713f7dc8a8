// Checked integer arithmetic shared by every layer: the greatest common
// divisor, products and least common multiples that report overflow instead
// of wrapping.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "base/uint128.h"

namespace tilvane {

// gcd(a, 0) = a; gcd(0, 0) = 0.
std::uint64_t gcd_u64(std::uint64_t a, std::uint64_t b);
u128 gcd_u128(u128 a, u128 b);

// a * b, or nothing when the product does not fit in 64 bits.
std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b);

// lcm(a, b) for a, b >= 1, or nothing when it does not fit in 64 bits.
inline std::optional<std::uint64_t> checked_lcm(std::uint64_t a, std::uint64_t b) {
  return checked_mul(a / gcd_u64(a, b), b);
}

// The least common multiple of values >= 1 (1 for none), folded from the
// left; nothing when a step overflows 64 bits.
std::optional<std::uint64_t> checked_lcm_of(std::span<const std::uint64_t> values);

// C(n, k), or nothing when it does not fit in 64 bits.
std::optional<std::uint64_t> checked_binomial(std::uint64_t n, std::uint64_t k);

}  // namespace tilvane
