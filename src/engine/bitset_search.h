// The residue search for common periods up to 1024 (every census set): the
// uncovered residues are a bitset of at most 16 words, each depth of the
// search keeps its own copy, and the class masks come from ClassPatterns.
// It visits exactly the nodes of the literal search, in the same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/class_patterns.h"
#include "engine/residue_search.h"
#include "engine/simd_level.h"

namespace tilvane {

inline constexpr std::uint64_t kBitsetPeriodLimit = 1024;
inline constexpr std::size_t kBitsetModuliLimit = 32;

// True when the bitset search takes a problem of this shape.
bool bitset_search_fits(std::size_t moduli_count, std::uint64_t period);

// The search proper, after the pre-tests: the first modulus is fixed at
// residue 0 and the depth-first search runs from there. period is the
// common period of the moduli; the level must be supported by the processor.
CoverSearch bitset_search(std::span<const std::uint64_t> moduli, std::uint64_t period,
                          std::uint64_t max_nodes, SimdLevel level);

// What the search compiled for one level returns: plain data only, so that
// no library code is instantiated inside the code built for wide vectors.
// residues[j] is the residue of modulus j on the successful path, 0 for a
// modulus that the path left unassigned; meaningful only for Found.
struct BitsetOutcome {
  SearchOutcome outcome = SearchOutcome::NotFound;
  std::uint64_t nodes = 0;
  std::uint32_t residues[kBitsetModuliLimit] = {};
};

// What the search compiled for one level is given: prepared patterns as plain
// pointers into a ClassPatterns that outlives the search.
struct BitsetInput {
  const ClassPatterns::Modulus* moduli = nullptr;
  std::uint32_t count = 0;
  std::uint32_t period = 0;
  std::uint32_t words = 0;
  const std::uint64_t* storage = nullptr;
};

// The search compiled for each level.
BitsetOutcome bitset_dfs_portable(const BitsetInput& input, std::uint64_t max_nodes);
BitsetOutcome bitset_dfs_avx2(const BitsetInput& input, std::uint64_t max_nodes);
BitsetOutcome bitset_dfs_avx512(const BitsetInput& input, std::uint64_t max_nodes);

}  // namespace tilvane
