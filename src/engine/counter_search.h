// The residue search for common periods above 1024 (candidate files, up to
// 20,000,000) that the wide bitset search does not take: a counter per
// residue as in the literal search, inside the shared search of
// ResidueDfs. It visits exactly the nodes of the literal search, in the
// same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/residue_search.h"

namespace tilvane {

// The counters are one byte each, so the search takes at most this many
// moduli; no caller passes more than the 128 of a candidate file.
inline constexpr std::size_t kCounterModuliLimit = 254;

// The search proper, after the pre-tests: the first modulus is fixed at
// residue 0 and the depth-first search runs from there. period is the
// common period of the moduli, at most 20,000,000.
CoverSearch counter_search(std::span<const std::uint64_t> moduli, std::uint64_t period,
                           std::uint64_t max_nodes);

}  // namespace tilvane
