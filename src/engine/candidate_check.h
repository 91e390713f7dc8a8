// The candidate check as one computation: the common period of the
// congruences, the direct check that they cover it, and the proof that no
// one-modulus deletion admits a covering choice of residues.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/result.h"
#include "engine/congruence.h"

namespace tilvane {

// What a passing candidate check reports.
struct CandidateFigures {
  std::size_t count = 0;     // the number of congruences
  std::uint64_t period = 0;  // their common period
  std::uint64_t nodes = 0;   // search nodes over all deletions
  friend bool operator==(const CandidateFigures&, const CandidateFigures&) = default;
};

// Checks congruences with moduli at least 2, canonical residues and strictly
// increasing moduli (as a parsed candidate holds them). The deletion searches
// share one budget of max_nodes nodes. The first failure in the order period,
// cover, deletions is returned as its error text.
Result<CandidateFigures> check_congruences(std::span<const Congruence> congruences,
                                           std::uint64_t max_nodes);

}  // namespace tilvane
