// Census spaces: the families of candidate moduli sets that a census
// explores, for any size and bound. A space is checked and counted exactly
// before any of it is built, so a space too large for the machine, or beyond
// what the searches take, is refused before work starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/moduli_set_list.h"
#include "base/result.h"

namespace tilvane {

enum class SpaceKind {
  // Every k-element set of the integers from 2 to the bound (the small
  // census; the bound is on the largest modulus).
  Subsets,
  // Every k-element set of integers >= 2 whose least common multiple is at
  // most the bound.
  CommonMultiples,
  // Every k-element set whose least common multiple L is at most the bound
  // and has Simpson's n(L) < k (so that k congruences with that L could
  // cover).
  Simpson,
};

struct CensusSpace {
  SpaceKind kind = SpaceKind::Simpson;
  std::size_t k = 0;
  // The bound on the least common multiple (on the largest modulus for
  // Subsets).
  std::uint64_t bound = 0;
  friend bool operator==(const CensusSpace&, const CensusSpace&) = default;
};

// The largest size and bound a space may have: the searches take at most
// this many moduli, and the bound is the searches' period limit.
inline constexpr std::size_t kSpaceSizeLimit = 32;
std::uint64_t space_lcm_limit();

// "subsets", "simpson" or "common-multiples"; only the last two are read
// back, being the spaces offered for exploration.
std::string_view space_kind_name(SpaceKind kind);
std::optional<SpaceKind> parse_space_kind(std::string_view name);

// "simpson space, size 10, LCM <= 512".
std::string describe_space(const CensusSpace& space);

// The exact number of candidates in the space, without building it:
// C(k) counts k-sets of divisors >= 2 of d; Möbius inversion over the
// divisors of L turns those into the k-sets with least common multiple
// exactly L. Fails when the size or bound is out of range (k = 0, k above
// the limit, bound below 2 or above the limit) or the count overflows.
Result<std::uint64_t> count_space(const CensusSpace& space);

// The candidates of a space in lexicographic order, built without counting
// first (for the censuses, whose spaces are known to be small). Only the
// Simpson filter can fail, and the reduced build does not have it.
Result<ModuliSetList> space_candidates(const CensusSpace& space);

}  // namespace tilvane
