#include "engine/period.h"

#include "engine/text_format.h"

namespace tilvane {

std::uint64_t gcd_u64(std::uint64_t a, std::uint64_t b) {
  while (b != 0) {
    std::uint64_t r = a % b;
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

Result<std::uint64_t> common_period(std::span<const std::uint64_t> moduli) {
  std::uint64_t period = 1;
  for (std::uint64_t m : moduli) {
    const std::uint64_t g = gcd_u64(period, m);
    const auto next = checked_mul(period / g, m);
    if (!next) return fail(cat("LCM overflow while combining ", period, " and ", m));
    if (*next > kPeriodLimit) {
      return fail(cat("common period ", *next, " exceeds checker limit ", kPeriodLimit));
    }
    period = *next;
  }
  return period;
}

}  // namespace tilvane
