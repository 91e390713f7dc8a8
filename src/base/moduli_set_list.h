// The lists of moduli sets that the census generates, decides and compares.
// A moduli set is a strictly increasing list of moduli; every list of sets in
// the census is in strictly increasing lexicographic order, and two lists are
// equal only position by position.
#pragma once

#include <cstdint>
#include <vector>

namespace tilvane {

using ModuliSet = std::vector<std::uint64_t>;
using ModuliSetList = std::vector<ModuliSet>;

}  // namespace tilvane
