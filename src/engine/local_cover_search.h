// Local search for a cover: min-conflicts over the residues of a moduli set.
// It starts from a greedy choice (the moduli from the smallest, each at the
// class that covers most of what is still uncovered) and then, move after
// move, takes an uncovered residue x at random and moves one modulus m to
// the class x (mod m), the one whose move gains most (newly covered minus
// newly uncovered), with a short tabu list against undoing recent moves and
// a little noise against cycling.
//
// It is incomplete in one direction only: residues it returns cover (every
// residue of the common period is counted as held when it stops), but a
// miss after its moves proves nothing, so "does not cover" must still come
// from an exhaustive search. Its choices follow the seed alone, so the same
// set and seed give the same residues on every run.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tilvane {

// Periods beyond this are not searched (the search keeps a count per
// residue of the period).
inline constexpr std::uint64_t kLocalSearchPeriodLimit = std::uint64_t{1} << 20;

// One residue per modulus, in input order, that covers every integer; or
// nothing when max_moves moves found none (or the common period exceeds
// kLocalSearchPeriodLimit, or a modulus is 0).
std::optional<std::vector<std::uint64_t>> local_cover_search(std::span<const std::uint64_t> moduli,
                                                             std::uint64_t max_moves,
                                                             std::uint64_t seed);

// Restarts of local_cover_search: up to `tries` runs of moves_per_try moves
// each, the t-th seeded from the moduli and t alone, so that the same set
// gives the same residues on every run; the first covering found, or
// nothing. A few short runs from fresh starts find the covers of large
// divisor sets more often than one long run of the same moves, which tends
// to circle in one basin.
std::optional<std::vector<std::uint64_t>> local_cover_restarts(
    std::span<const std::uint64_t> moduli, std::uint64_t tries, std::uint64_t moves_per_try);

// A seed that depends on the moduli alone (in their order), so that a
// census gives the same covers whatever its threads or parts.
std::uint64_t local_search_seed(std::span<const std::uint64_t> moduli);

}  // namespace tilvane
