// The fast residue search behind find_cover. It returns exactly what
// find_cover_literal returns (outcome, node count, residues) for every
// moduli sequence and every budget, by visiting the same search tree in the
// same order with cheaper bookkeeping:
// - periods up to 1024 (every census set): the bitset search, compiled for
//   AVX-512, AVX2 and baseline x86-64, chosen at run time;
// - larger periods: the wide bitset search while the moduli are few and
//   small enough for it to be the faster, else the counter search;
// - more than 254 moduli (no caller passes so many): the literal search.
//
// One difference is deliberate: when a covering choice is found before every
// modulus has been given a residue, the moduli left unassigned are reported
// with residue 0 (any residue keeps the cover).
#pragma once

#include <cstdint>
#include <span>

#include "engine/residue_search.h"
#include "engine/result.h"
#include "engine/simd_level.h"

namespace tilvane {

// The fast search with the widest instruction set this processor offers.
Result<CoverSearch> find_cover_fast(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes);

// The same with a chosen level, which must be supported here (tests and
// benchmarks compare the levels).
Result<CoverSearch> find_cover_fast(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                    SimdLevel level);

}  // namespace tilvane
