// The arithmetic tables of every value up to a bound, from one
// smallest-prime-factor sieve: the least prime factor, the number of
// divisors, the Möbius function and Simpson's n (the sum of e * (p - 1) over
// the prime powers p^e exactly dividing the value). The space counts and the
// streamed spaces both read them.
#pragma once

#include <cstdint>
#include <vector>

namespace tilvane {

struct ValueSieve {
  // Indexed by value, 0 to bound; entries 0 and 1 are those of 1 (0 for the
  // least prime factors).
  std::vector<std::uint32_t> least_prime;
  std::vector<std::uint32_t> divisors;
  std::vector<std::int8_t> mobius;
  std::vector<std::uint32_t> simpson;

  explicit ValueSieve(std::uint64_t bound);
};

}  // namespace tilvane
