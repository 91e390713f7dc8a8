// Exact non-negative fractions over unsigned 128-bit integers, for the sums
// of reciprocals of the census; every step is overflow-checked.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "base/uint128.h"

namespace tilvane {

// numerator / denominator; the values add_reciprocal produces are in lowest
// terms, and zero is 0/1. Equal when both fields are equal.
struct Fraction {
  u128 numerator = 0;
  u128 denominator = 1;
  friend bool operator==(const Fraction&, const Fraction&) = default;
};

// sum + 1/modulus in lowest terms, for sum in lowest terms with a nonzero
// denominator and modulus >= 1; nothing when a 128-bit step overflows (or
// either precondition fails).
std::optional<Fraction> add_reciprocal(const Fraction& sum, std::uint64_t modulus);

// The sum of 1/m over the moduli, added in order from 0/1; nothing on
// overflow.
std::optional<Fraction> reciprocal_sum(std::span<const std::uint64_t> moduli);

// Whether x > y, by comparing the cross products x.numerator * y.denominator
// and y.numerator * x.denominator; nothing when either product overflows.
std::optional<bool> fraction_greater(const Fraction& x, const Fraction& y);

}  // namespace tilvane
