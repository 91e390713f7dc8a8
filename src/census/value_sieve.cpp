#include "census/value_sieve.h"

namespace tilvane {

// Each value takes its tables from the value with its least prime power
// divided out.
ValueSieve::ValueSieve(std::uint64_t bound) {
  const auto size = static_cast<std::size_t>(bound + 1);
  least_prime.assign(size, 0);
  divisors.assign(size, 1);
  mobius.assign(size, 1);
  simpson.assign(size, 0);
  for (std::size_t p = 2; p < size; ++p) {
    if (least_prime[p] != 0) continue;
    for (std::size_t m = p; m < size; m += p) {
      if (least_prime[m] == 0) least_prime[m] = static_cast<std::uint32_t>(p);
    }
  }
  for (std::size_t v = 2; v < size; ++v) {
    const std::size_t p = least_prime[v];
    std::size_t rest = v;
    std::uint32_t e = 0;
    while (rest % p == 0) {
      rest /= p;
      ++e;
    }
    divisors[v] = divisors[rest] * (e + 1);
    mobius[v] = e > 1 ? std::int8_t{0} : static_cast<std::int8_t>(-mobius[rest]);
    simpson[v] = simpson[rest] + e * static_cast<std::uint32_t>(p - 1);
  }
}

}  // namespace tilvane
