#include "base/fraction.h"

#include "base/checked_math.h"

namespace tilvane {
// a/b + 1/m over the smallest common denominator: with g = gcd(b, m) and
// q = m / g, the sum is (a*q + b/g) / (b*q). Reducing by the gcd of the two
// results keeps the fraction in lowest terms, so equal values have equal
// fields.
std::optional<Fraction> add_reciprocal(const Fraction& sum, std::uint64_t modulus) {
  if (modulus == 0 || sum.denominator == 0) return std::nullopt;
  const u128 g = gcd_u128(sum.denominator, modulus);
  const u128 q = modulus / g;
  u128 scaled = 0;
  u128 numerator = 0;
  u128 denominator = 0;
  if (__builtin_mul_overflow(sum.numerator, q, &scaled) ||
      __builtin_add_overflow(scaled, sum.denominator / g, &numerator) ||
      __builtin_mul_overflow(sum.denominator, q, &denominator)) {
    return std::nullopt;
  }
  const u128 h = gcd_u128(numerator, denominator);
  return Fraction{numerator / h, denominator / h};
}

std::optional<Fraction> reciprocal_sum(std::span<const std::uint64_t> moduli) {
  Fraction sum;
  for (std::uint64_t m : moduli) {
    auto next = add_reciprocal(sum, m);
    if (!next) return std::nullopt;
    sum = *next;
  }
  return sum;
}

std::optional<bool> fraction_greater(const Fraction& x, const Fraction& y) {
  u128 left = 0;
  u128 right = 0;
  if (__builtin_mul_overflow(x.numerator, y.denominator, &left) ||
      __builtin_mul_overflow(y.numerator, x.denominator, &right)) {
    return std::nullopt;
  }
  return left > right;
}

}  // namespace tilvane
