// Symmetry of covers. A translate x -> x + t of a cover is a cover, so any
// one modulus M0 may take class 0. The maps x -> u·x + t·M0, u a unit
// modulo the period, permute the residues, send classes to classes of the
// same modulus and keep M0's class 0, so a second modulus M1 may take one
// class from each orbit of its classes under c -> u·c + t·g, g = gcd(M0, M1).
// Those orbits are the classes c with one value of gcd(c, g): units modulo
// M1 act on c mod g through all units modulo g, whose orbits on Z/g are the
// divisors of g.
#pragma once

#include <cstdint>
#include <vector>

namespace tilvane {

// One class per orbit, ascending: the divisors d of gcd(m0, m1), as d mod m1.
std::vector<std::uint64_t> unit_orbit_classes(std::uint64_t m0, std::uint64_t m1);

}  // namespace tilvane
