// The residue search for common periods above 1024 with few moduli (the
// larger census sets of the small census, most candidate files): the
// uncovered residues are a bitset of any length, each depth keeps its own
// copy, and the mask of a class is read out of one pattern per modulus at a
// bit offset. The counts of a node touch P/64 words per modulus instead of
// P/m counters, so it wins while the moduli are few and small; the counter
// search keeps the rest. It visits exactly the nodes of the literal search,
// in the same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/residue_search.h"
#include "engine/simd_level.h"

namespace tilvane {

inline constexpr std::size_t kWideBitsetModuliLimit = 64;

// The most memory the bitsets and patterns of one search may take; larger
// problems go to the counter search, whose memory is one byte per residue.
inline constexpr std::uint64_t kWideBitsetMemoryLimit = std::uint64_t{64} << 20;

// The bytes the search needs for these moduli and period.
std::uint64_t wide_bitset_memory(std::span<const std::uint64_t> moduli, std::uint64_t period);

// True when the wide search takes these moduli and is expected to be the
// faster of it and the counter search at this level: few enough moduli,
// memory within the limit, and reciprocals large enough that a pass over
// the words per modulus costs less than visiting each residue of the class.
bool wide_bitset_search_fits(std::span<const std::uint64_t> moduli, std::uint64_t period,
                             SimdLevel level);

// The search proper, after the pre-tests: the first modulus is fixed at
// residue 0 and the depth-first search runs from there. period is the common
// period of the moduli, at most 20,000,000; at most kWideBitsetModuliLimit
// moduli; the level must be supported by the processor (it picks the
// population count).
CoverSearch wide_bitset_search(std::span<const std::uint64_t> moduli, std::uint64_t period,
                               std::uint64_t max_nodes, SimdLevel level);

}  // namespace tilvane
