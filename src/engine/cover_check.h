// The direct check that displayed congruences cover every residue modulo
// their common period.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "engine/congruence.h"

namespace tilvane {

// Succeeds when every x in [0, period) lies in some congruence; otherwise
// fails with "the displayed congruences do not cover residue {} modulo {}"
// naming the smallest uncovered residue. A congruence whose residue is not
// below its modulus matches nothing.
Status verify_displayed_cover(std::span<const Congruence> congruences, std::uint64_t period);

}  // namespace tilvane
