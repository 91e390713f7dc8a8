// Subset enumeration: every k-element set drawn in increasing order from a
// range of integers or from a given sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/moduli_set_list.h"

namespace tilvane {

// Every k-element set of the integers 2 through largest, in lexicographic
// order; empty when fewer than k such integers exist (and the single empty
// set for k = 0).
ModuliSetList combinations(std::size_t k, std::uint64_t largest);

// Every k-element selection from pool, each keeping the pool's order, listed
// lexicographically by position; empty when the pool is shorter than k.
ModuliSetList combinations_from(std::span<const std::uint64_t> pool, std::size_t k);

}  // namespace tilvane
