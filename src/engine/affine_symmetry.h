// The residues the decision search must try for its first three moduli.
//
// A map x -> u·x + t of Z/P, u a unit modulo the period P, is a bijection
// that takes the class r (mod m) of every modulus m | P to the class
// u·r + t (mod m); so it takes a covering choice of residues to a covering
// choice of the same moduli, and a set covers exactly when some covering
// choice lies in any chosen set of representatives of these maps' orbits.
//
// 1. The smallest modulus m1 is put at residue 0 (a translation).
// 2. The maps that keep it there are those with t ≡ 0 (mod m1). For a second
//    modulus s let g = gcd(m1, s) and c = r_s mod g. When c ≡ 0, u = 1 and
//    t with t ≡ 0 (mod m1), t ≡ -r_s (mod s) (solvable: -r_s ≡ 0 (mod g))
//    move s to residue 0. Otherwise let d = gcd(c, g), a proper divisor of
//    g; some unit u' (mod g) has u'·c ≡ d (mod g) (c/d is a unit modulo g/d
//    and every unit of Z/(g/d) lifts to one of Z/g, and every unit of Z/g to
//    one of Z/P), and then t ≡ 0 (mod m1), t ≡ d - u·r_s (mod s) is solvable
//    because d - u·r_s ≡ d - u·c ≡ 0 (mod g); the map puts s at residue d.
//    So s needs only residue 0 and the proper divisors of g: tau(g) choices.
//    The s with the largest s / tau(g) saves the most.
// 3. Translations by multiples t of L2 = lcm(m1, s) keep both classes; they
//    move a third modulus w by any multiple of gcd(L2, w) (mod w), so w
//    needs only the residues below gcd(L2, w). The w with the largest
//    w / gcd(L2, w) saves the most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tilvane {

struct SymmetryPlan {
  static constexpr std::size_t kNone = ~std::size_t{0};
  std::size_t second = kNone;                  // index of s, kNone when the set has one modulus
  std::vector<std::uint64_t> second_residues;  // 0, then the proper divisors of g ascending
  std::size_t third = kNone;                   // index of w, kNone when the set has two moduli
  std::uint64_t third_residues = 0;            // w takes the residues 0 .. this - 1
};

// The plan for the moduli (any order, each dividing the period) once
// moduli[first] is fixed at residue 0.
SymmetryPlan plan_symmetry(std::span<const std::uint64_t> moduli, std::size_t first);

}  // namespace tilvane
