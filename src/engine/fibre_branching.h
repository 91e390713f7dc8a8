// Branching on over-full fibres. Let P be the period, p a prime with p^e
// exactly dividing P, and a the number of unassigned moduli whose p-part is
// p^e. A fibre is a set {y + i·P/p : 0 <= i < p}.
// - A modulus with p-part p^e meets a fibre in at most one point: two
//   points of a fibre differ by i·P/p with 0 < i < p, whose p-part is
//   p^(e-1), so they are never congruent modulo it.
// - Every other modulus divides P/p, so each of its classes holds a fibre
//   whole or misses it.
// So the a moduli of full p-part cover at most a points of any fibre. When
// a fibre has more than a uncovered points, a modulus of smaller p-part
// must hold the whole fibre, in particular any one uncovered point x of it:
// branching on x over those moduli alone loses no cover.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/class_gain_bound.h"

namespace tilvane {

// An uncovered residue of the first fibre of p (p divides the period) that
// has more than `full` uncovered points, or nothing.
std::optional<std::uint32_t> overfull_fibre_residue(const ClassCounts& counts, std::uint32_t p,
                                                    std::size_t full);

}  // namespace tilvane
