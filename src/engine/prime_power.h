// The prime-power reductions of a moduli set. Let L be the common period,
// p^e the exact power of a prime p in L, and A the moduli divisible by p^e.
// Every other modulus divides L/p, so each of its classes is a union of whole
// fibres {y, y + L/p, ..., y + (p-1)·L/p}; a class of a modulus in A meets a
// fibre in at most one point (two points of a fibre differ by i·L/p with
// 0 < i < p, whose p-part is p^(e-1)). A fibre that the other moduli leave
// uncovered must therefore be covered point by point by A:
// - when |A| < p that is impossible, so the set covers exactly when the set
//   without A covers;
// - when |A| = p every member of A must hit a different point of the fibre.
//   A member a with class r (mod a) touches exactly the fibres y ≡ r
//   (mod a/p), at the point fixed by r (mod p^e); so the fibres A covers
//   whole are those in every class r_a (mod a/p), provided the residues
//   r_a (mod p^e) are the p lifts of one residue mod p^(e-1), and none
//   otherwise. Any class y (mod M), M = lcm of the a/p, is reached this way:
//   give the t-th member of A (t = 0, ..., p-1) the residue that is y mod a/p
//   and y mod p^(e-1) + t·p^(e-1) mod p^e (consistent, since a/p has p-part
//   exactly p^(e-1)). Hence the set covers exactly when
//   the set with A replaced by the one modulus M covers. M divides L/p, so
//   the period drops by a factor of at least p and the set loses p-1 moduli.
// Both steps are repeated until neither applies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tilvane {

// True when some prime p, with p^e the exact power of p in L = lcm(moduli),
// has 0 < |A| < p where A = the moduli divisible by p^e: then the set covers
// iff the set without A covers, so such a set is never an irreducible
// covering set. Sets whose common period exceeds kPeriodLimit (or overflows)
// are not examined and give false.
bool prime_power_reducible(std::span<const std::uint64_t> moduli);

// The primes dividing n with their exponents, n <= kPeriodLimit (trial
// division).
struct PrimeFactor {
  std::uint64_t prime;
  unsigned exponent;
};
std::vector<PrimeFactor> factor_small(std::uint64_t n);

// A moduli set after the reductions. The items are the input moduli (in
// input order) followed by the merged moduli M, in the order made; the
// active items are the set still to be searched, and period is their common
// period (1 when none is left).
struct PrimePowerReduction {
  struct Merge {
    std::size_t item;                // the merged modulus
    std::uint64_t prime;             // p
    std::vector<std::size_t> parts;  // the p items it replaced
  };
  std::vector<std::uint64_t> items;
  std::vector<std::uint8_t> active;
  std::vector<Merge> merges;
  std::uint64_t period = 1;
  std::size_t removed = 0;  // items dropped by the |A| < p step
};

// Reduces moduli of common period `period` (their LCM, at most kPeriodLimit).
// With merge false only the |A| < p step is applied.
PrimePowerReduction reduce_prime_powers(std::span<const std::uint64_t> moduli,
                                        std::uint64_t period, bool merge);

// Given residues for the active items (one per item, others ignored), sets
// the residues of the parts of every merge so that they cover what their
// merged modulus covered; dropped items keep what they hold. The first
// reduction.items.size() entries of residues are used.
void expand_merged_residues(const PrimePowerReduction& reduction,
                            std::vector<std::uint64_t>& residues);

}  // namespace tilvane
