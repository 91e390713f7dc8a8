// The bounded residue search: is there one residue per modulus such that the
// congruences cover every integer? The answer is a covering choice, a proof
// by exhaustion that none exists, or the news that the node budget ran out,
// always with the exact number of search nodes visited.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"

namespace tilvane {

enum class SearchOutcome { Found, NotFound, BudgetExceeded };

struct CoverSearch {
  SearchOutcome outcome = SearchOutcome::NotFound;
  // One residue per modulus, in the order of the moduli given; filled only
  // when the outcome is Found, and then the first residue is 0.
  std::vector<std::uint64_t> residues;
  // Search nodes visited; 0 when a pre-test decided without searching.
  std::uint64_t nodes = 0;

  friend bool operator==(const CoverSearch&, const CoverSearch&) = default;
};

// The plain depth-first search over residue choices, written as literally as
// possible. It defines the node counts that the program prints and serves as
// the oracle against which the fast search is tested.
Result<CoverSearch> find_cover_literal(std::span<const std::uint64_t> moduli,
                                       std::uint64_t max_nodes);

// True when the sum of 1/m over the moduli is known to be below 1. A sum whose
// exact fraction overflows 128 bits is not known to be below 1.
bool reciprocal_sum_below_one(std::span<const std::uint64_t> moduli);

}  // namespace tilvane
