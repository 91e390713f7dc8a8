// The Simpson-filtered candidates of the census for k = 10 and 11: every
// k-element moduli set whose least common multiple L is at most a bound and
// small enough in Simpson's sense that k congruences with that L could cover.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/moduli_set_list.h"
#include "base/result.h"

namespace tilvane {

// n(L) = the sum of e * (p - 1) over the prime powers p^e exactly dividing L.
// A covering system with least common multiple L has at least n(L) + 1
// congruences. n(1) = 0, n(12) = 4, n(576) = 10.
std::uint64_t simpson_sum(std::uint64_t lcm);

// Every k-element set of moduli of at least 2 whose least common multiple L
// satisfies L <= max_lcm and n(L) < k, each once, in lexicographic order.
// (10, 512) gives 28457 sets, (11, 1024) 343875. Fails with "LCM overflow
// while combining {} and {}" or "internal duplicate in exact-LCM candidate
// enumeration", neither of which correct arithmetic can reach.
Result<ModuliSetList> candidates_via_simpson(std::size_t k, std::uint64_t max_lcm);

}  // namespace tilvane
