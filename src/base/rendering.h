// How report lines and error texts show lists of sets, optional values and
// fractions. A single set renders with render_set (engine/text_format.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/fraction.h"
#include "base/moduli_set_list.h"

namespace tilvane {

// "[[2, 3, 4, 6, 12]]"; an empty list is "[]".
std::string render_set_list(std::span<const ModuliSet> sets);

// "Some(24)" or "None".
std::string render_optional(const std::optional<std::uint64_t>& value);

// "(17, 12)".
std::string render_fraction(const Fraction& fraction);

}  // namespace tilvane
