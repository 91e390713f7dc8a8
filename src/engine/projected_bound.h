// The projected bound. Let Q be the least common multiple of the moduli
// still unassigned at a node (a divisor of the period P). Their classes are
// unions of classes modulo Q, so a residue y modulo Q with some uncovered
// lift modulo P must lie in one of their classes: the set U' of such y must
// be covered by the unassigned moduli acting on Z/Q alone. Each covers at
// most its best class count on U', so when those counts add up to less
// than |U'| the node has no cover. Counting each y once, instead of once
// per uncovered lift, is what makes this bound stronger than the class-gain
// bound on Z/P whenever the lifts are unevenly uncovered.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/class_gain_bound.h"

namespace tilvane {

// Whether the bound closes the node: classes[j] == unassigned marks the
// unassigned moduli, whose LCM is q. scratch is reused between calls.
bool projected_gain_shortfall(const ClassCounts& counts, std::span<const std::uint32_t> moduli,
                              std::span<const std::uint32_t> classes, std::uint32_t unassigned,
                              std::uint32_t q, std::vector<std::uint8_t>& scratch);

}  // namespace tilvane
