// find_cover, the residue search used everywhere in the program, and the
// choice of the search that serves a set of moduli. Every search it may
// choose returns exactly what find_cover_literal returns (outcome, node
// count, residues) for every moduli sequence and every budget, by visiting
// the same search tree in the same order with cheaper bookkeeping:
// - periods up to 1024 (every census set of tilvane): the bitset search;
// - larger periods: the wide bitset search while the moduli are few and
//   small enough for it to be the faster, else the counter search.
//
// One difference is deliberate: when a covering choice is found before every
// modulus has been given a residue, the moduli left unassigned are reported
// with residue 0 (any residue keeps the cover).
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "engine/residue_search.h"
#include "engine/simd_level.h"

namespace tilvane {

// The search with the widest instruction set this processor offers.
Result<CoverSearch> find_cover(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes);

// The same with a chosen level, which must be supported here (tests and
// benchmarks compare the levels).
Result<CoverSearch> find_cover_fast(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                    SimdLevel level);

// What find_cover_fast does with a set of moduli at a level.
enum class SearchChoice {
  PreTest,      // decided without a search: no moduli, or reciprocals below 1
  PeriodFails,  // the common period overflows or exceeds its limit
  Bitset,
  WideBitset,
  Counter,
};

SearchChoice choose_search(std::span<const std::uint64_t> moduli, SimdLevel level);

}  // namespace tilvane
