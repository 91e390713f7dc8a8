// Over-full fibres. Let P be the period of a search node, p a prime with
// p^e exactly dividing P, and a the number of unassigned moduli whose
// p-part is p^e. A fibre is a set {y + i·P/p : 0 <= i < p}.
// - A modulus m with p-part p^e meets a fibre in at most one point: two
//   points of a fibre differ by i·P/p with 0 < i < p, whose p-part is
//   p^(e-1), so they are never congruent modulo m.
// - Every other modulus divides P/p, so each of its classes holds a fibre
//   whole or misses it.
// So the a moduli of full p-part cover at most a points of any fibre. When
// a fibre has more than a uncovered points, some modulus of smaller p-part
// must hold the whole fibre, and in particular each of its uncovered
// points: branching on such a point over those moduli alone loses no cover,
// and when there are none the node has no cover. (The |A| < p reduction is
// the case where every uncovered point lies in a fibre of this kind.)
#pragma once

#include <cstdint>
#include <vector>

namespace tilvane {

// Marks in overfull (words_for(period / p) words, cleared first) the fibres
// y, 0 <= y < period / p, that hold more than `a` of the residues set in
// bits (a bitset of period bits with a readable zero word after it).
// Returns whether any is marked. planes is scratch.
bool mark_overfull_fibres(const std::uint64_t* bits, std::uint64_t period, std::uint64_t p,
                          std::uint64_t a, std::vector<std::uint64_t>& planes,
                          std::uint64_t* overfull);

}  // namespace tilvane
