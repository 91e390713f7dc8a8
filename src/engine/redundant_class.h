// A redundant class of a cover. When the classes r_i (mod m_i) cover every
// integer and one of them lies inside the union of the others, the others
// alone cover: so the set without that modulus admits a cover, and the set
// is reducible with no deletion search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tilvane {

// The index of a class r_i (mod m_i) every residue of which (modulo the
// period, a common multiple of the moduli) some other class also holds;
// nothing when every class holds a residue of its own.
std::optional<std::size_t> redundant_class(std::span<const std::uint64_t> moduli,
                                           std::span<const std::uint64_t> residues,
                                           std::uint64_t period);

}  // namespace tilvane
