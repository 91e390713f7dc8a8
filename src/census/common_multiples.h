// The common-multiple candidates: every k-element set of integers of at least
// 2 whose least common multiple is at most a bound.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/moduli_set_list.h"

namespace tilvane {

// Every k-element set of integers >= 2 with least common multiple at most
// max_lcm, each once, in lexicographic order. (7, 64) gives 378 sets,
// (8, 128) 7443 and (9, 256) 159225.
ModuliSetList candidates_via_common_multiples(std::size_t k, std::uint64_t max_lcm);

}  // namespace tilvane
