// Orbit branching: the symmetry of covers used below the root. Once the
// modulus equal to the period P holds class 0, the maps x -> u·x with u a
// unit modulo P are what is left of the affine maps x -> u·x + t that keep
// that class: they permute the residues modulo P, send each class of a
// modulus to a class of the same modulus, and so map covers to covers. At a
// node whose assigned classes c_j (mod M_j) all satisfy u·c_j = c_j (mod
// M_j) for every u of a group G of such units, G maps every cover that
// extends the node to a cover that extends it too. So a free modulus M may
// take one class from each orbit of G on the classes of M: if a cover gives
// M the class c, some g in G sends c to the chosen class of c's orbit, and
// the image cover extends the node with that class. The group is the
// stabiliser of every class assigned so far; it shrinks as classes are
// assigned, and the branching stops paying once it is trivial.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tilvane {

// Periods beyond this keep no unit group (it would hold up to P units).
inline constexpr std::uint32_t kOrbitPeriodLimit = std::uint32_t{1} << 20;

// The units modulo period, ascending.
std::vector<std::uint32_t> units_modulo(std::uint32_t period);

// The units of `group` that fix the class c modulo m: u·c = c (mod m).
std::vector<std::uint32_t> class_stabiliser(std::span<const std::uint32_t> group, std::uint32_t m,
                                            std::uint32_t c);

// Beyond this many steps (m times the group's distinct images modulo m)
// the orbits of a modulus are not worked out and every class is kept.
inline constexpr std::uint64_t kOrbitWorkLimit = std::uint64_t{1} << 22;

// The least class of each orbit of `group` on the classes modulo m,
// ascending, or every class when finding the orbits would cost more than
// kOrbitWorkLimit; seen is scratch space.
std::vector<std::uint32_t> orbit_representatives(std::span<const std::uint32_t> group,
                                                 std::uint32_t m, std::vector<std::uint8_t>& seen);

}  // namespace tilvane
